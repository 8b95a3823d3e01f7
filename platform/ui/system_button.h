#pragma once

#include <QColor>
#include <QPushButton>

namespace duo {

/// A system-style button: its title in the tint colour, no bezel, dimmed while pressed or
/// disabled.
class SystemButton : public QPushButton {
  Q_OBJECT
 public:
  explicit SystemButton(const QString& title = {}, QWidget* parent = nullptr);
  void setTitleColor(const QColor& colour);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QColor m_colour;
};

}  // namespace duo
