#pragma once

#include <QColor>
#include <QObject>
#include <QPointer>
#include <QWidget>

#include <vector>

#include "bar_button_item.h"

namespace duo {

/// A dark toolbar along the bottom edge; items are spread with flexible spaces.
class Toolbar : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kHeight = 44;
  explicit Toolbar(QWidget* parent = nullptr);
  /// Items and plain widgets (a segmented control) in order; nullptr entries are not allowed.
  void setItems(std::vector<QObject*> items);
  /// The bar's fill; the toolkit's bar colour unless set (a camera's toolbar is black).
  void setBarColor(const QColor& colour);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::vector<QPointer<QObject>> m_items;
  std::vector<QPointer<QWidget>> m_widgets;
  QColor m_colour;
};

}  // namespace duo
