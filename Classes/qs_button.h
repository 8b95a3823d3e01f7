#pragma once

#include <QColor>

#include "view_controller.h"

namespace duo {

/// The application's bordered text button: a system-style button (tinted title, dimmed while
/// pressed) inside a thin grey rounded frame. Make one with newButton().
class QSButton : public SystemButton {
  Q_OBJECT
 public:
  /// The platform's button kinds; only here so that buttonWithType() can refuse them all.
  enum class ButtonType { Custom, System };

  static constexpr double kBorderWidth = 1.0;
  static constexpr double kCornerRadius = 4.0;
  static constexpr double kTitleSize = 17.0;
  /// The frame's colour: grey of level 0.4, opaque.
  static QColor borderColor() { return QColor::fromRgbF(0.4, 0.4, 0.4, 1.0); }

  /// A new bordered button with `title`, owned by `parent` (or by the caller when none).
  static QSButton* newButton(const QString& title = {}, QWidget* parent = nullptr);

  /// Always a programming error: bordered buttons come from newButton(). Throws
  /// std::logic_error("Use newButton").
  [[noreturn]] static QSButton* buttonWithType(ButtonType type);

  double borderWidth() const { return kBorderWidth; }
  double cornerRadius() const { return kCornerRadius; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  explicit QSButton(const QString& title, QWidget* parent);
};

}  // namespace duo
