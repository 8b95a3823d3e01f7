#pragma once

#include <QAbstractButton>
#include <QPointer>
#include <QString>
#include <QWidget>

#include "bar_button_item.h"

namespace duo {

/// The dark navigation bar: 44 points of title and buttons below a 20-point status area.
class NavigationBar : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kHeight = 64;
  static constexpr int kStatusHeight = 20;
  explicit NavigationBar(QWidget* parent = nullptr);
  void setTitle(const QString& title);
  QString title() const { return m_title; }
  void setItems(BarButtonItem* left, BarButtonItem* right);
  /// With a status area (full screen) or without one (a sheet): 64 or 44 points high.
  void setShowsStatusArea(bool shows);
  int barHeight() const { return m_statusArea ? kHeight : kHeight - kStatusHeight; }
  /// A clear bar draws no background and no hairline, and its title in black: for a bar over
  /// a light frosted panel. `buttonColour` is the colour of its buttons' titles.
  void setClearStyle(bool clear, const QColor& buttonColour = {});
  bool hasClearStyle() const { return m_clear; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void layoutItems();
  QString m_title;
  QPointer<BarButtonItem> m_left, m_right;
  QPointer<QAbstractButton> m_leftButton, m_rightButton;
  bool m_statusArea = true;
  bool m_clear = false;
  QColor m_buttonColour;
};

}  // namespace duo
