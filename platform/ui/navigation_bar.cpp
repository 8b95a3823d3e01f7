#include "navigation_bar.h"

#include <QPainter>

#include "bar_button_item.h"
#include "screen.h"
#include "system_button.h"
#include "theme.h"

namespace duo {

NavigationBar::NavigationBar(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_TranslucentBackground);
  resize(MainScreen::bounds().width(), kHeight);
}

void NavigationBar::setTitle(const QString& title) {
  m_title = title;
  update();
}

void NavigationBar::setItems(BarButtonItem* left, BarButtonItem* right) {
  if (left != m_left || !m_leftButton) {
    delete m_leftButton;
    m_left = left;
    if (left) m_leftButton = left->makeButton(this), m_leftButton->show();
  }
  if (right != m_right || !m_rightButton) {
    delete m_rightButton;
    m_right = right;
    if (right) m_rightButton = right->makeButton(this), m_rightButton->show();
  }
  for (QAbstractButton* button : {m_leftButton.data(), m_rightButton.data()})
    if (auto* system = qobject_cast<SystemButton*>(button); system && m_buttonColour.isValid())
      system->setTitleColor(m_buttonColour);
  layoutItems();
}

void NavigationBar::setClearStyle(bool clear, const QColor& buttonColour) {
  m_clear = clear;
  m_buttonColour = buttonColour;
  setItems(nullptr, nullptr);  // the buttons are made again in the new colours
  update();
}

void NavigationBar::setShowsStatusArea(bool shows) {
  m_statusArea = shows;
  resize(width(), barHeight());
  layoutItems();
  update();
}

void NavigationBar::resizeEvent(QResizeEvent*) { layoutItems(); }

void NavigationBar::layoutItems() {
  const int top = m_statusArea ? kStatusHeight : 0;
  if (m_leftButton)
    m_leftButton->move(4 + (m_left ? m_left->titlePositionAdjustment() : 0), top);
  if (m_rightButton)
    m_rightButton->move(width() - 4 - m_rightButton->width() +
                            (m_right ? m_right->titlePositionAdjustment() : 0),
                        top);
}

void NavigationBar::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (!m_clear) {
    painter.fillRect(rect(), theme::barBackground());
    painter.fillRect(QRectF(0, height() - 0.5, width(), 0.5), theme::barHairline());
  }
  painter.setPen(m_clear ? QColor(Qt::black) : theme::primaryText());
  painter.setFont(theme::boldSystemFont(17));
  const int top = m_statusArea ? kStatusHeight : 0;
  const int side = std::max(m_leftButton ? m_leftButton->geometry().right() : 0,
                            m_rightButton ? width() - m_rightButton->x() : 0) + 8;
  const QRect titleRect(side, top, width() - 2 * side, height() - top);
  painter.drawText(titleRect, Qt::AlignCenter,
                   painter.fontMetrics().elidedText(m_title, Qt::ElideRight, titleRect.width()));
}

}  // namespace duo
