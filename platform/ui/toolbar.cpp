#include "toolbar.h"

#include <QHBoxLayout>
#include <QPainter>

#include "screen.h"
#include "theme.h"
#include "view_hierarchy.h"

namespace duo {

Toolbar::Toolbar(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_TranslucentBackground);
  resize(MainScreen::bounds().width(), kHeight);
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(8, 0, 8, 0);
  layout->setSpacing(8);
}

void Toolbar::setItems(std::vector<QObject*> items) {
  auto* layout = static_cast<QHBoxLayout*>(this->layout());
  while (QLayoutItem* item = layout->takeAt(0)) delete item;
  for (auto& widget : m_widgets) delete widget;  // only buttons this bar made
  m_widgets.clear();
  // Widgets of the last list that the new one leaves out are handed back, hidden.
  for (const QPointer<QObject>& old : m_items) {
    auto* widget = qobject_cast<QWidget*>(old.data());
    if (widget && std::find(items.begin(), items.end(), old.data()) == items.end())
      removeFromSuperview(widget);
  }
  m_items.clear();
  for (QObject* object : items) {
    m_items.emplace_back(object);
    if (auto* item = qobject_cast<BarButtonItem*>(object)) {
      if (item->systemItem() == BarButtonItem::SystemItem::FlexibleSpace) {
        layout->addStretch(1);
        continue;
      }
      QAbstractButton* button = item->makeButton(this);
      m_widgets.emplace_back(button);
      layout->addWidget(button);
    } else if (auto* widget = qobject_cast<QWidget*>(object)) {
      widget->setParent(this);
      layout->addWidget(widget, 0, Qt::AlignVCenter);
      widget->show();
    }
  }
}

void Toolbar::setBarColor(const QColor& colour) {
  m_colour = colour;
  update();
}

void Toolbar::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), m_colour.isValid() ? m_colour : theme::barBackground());
  painter.fillRect(QRectF(0, 0, width(), 0.5), theme::barHairline());
}

}  // namespace duo
