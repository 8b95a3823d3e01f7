#include "qs_button.h"

#include <QPainter>

#include <stdexcept>

#include "theme.h"

namespace duo {

QSButton::QSButton(const QString& title, QWidget* parent) : SystemButton(title, parent) {
  setFont(theme::systemFont(kTitleSize));
}

QSButton* QSButton::newButton(const QString& title, QWidget* parent) {
  return new QSButton(title, parent);
}

QSButton* QSButton::buttonWithType(ButtonType) { throw std::logic_error("Use newButton"); }

void QSButton::paintEvent(QPaintEvent* event) {
  {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // A hairline pen straddles the edge; inset by half its width so the whole point shows.
    const double inset = kBorderWidth / 2;
    const QRectF frame = QRectF(rect()).adjusted(inset, inset, -inset, -inset);
    if (isDown() && isEnabled()) {
      painter.setPen(Qt::NoPen);
      painter.setBrush(QColor(255, 255, 255, 20));
      painter.drawRoundedRect(frame, kCornerRadius, kCornerRadius);
    }
    QColor border = borderColor();
    if (!isEnabled()) border.setAlphaF(0.5);
    painter.setPen(QPen(border, kBorderWidth));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(frame, kCornerRadius, kCornerRadius);
  }
  SystemButton::paintEvent(event);
}

}  // namespace duo
