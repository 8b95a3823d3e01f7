#include "system_button.h"

#include <QPainter>

#include "screen.h"
#include "theme.h"

namespace duo {

SystemButton::SystemButton(const QString& title, QWidget* parent)
    : QPushButton(title, parent), m_colour(theme::tint()) {
  setFont(theme::systemFont(17));
  setFlat(true);
  setCursor(Qt::PointingHandCursor);
  setFocusPolicy(Qt::NoFocus);
  setAttribute(Qt::WA_TranslucentBackground);
}

void SystemButton::setTitleColor(const QColor& colour) {
  m_colour = colour;
  update();
}

void SystemButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  QColor colour = m_colour;
  if (!isEnabled()) colour = theme::secondaryText(), colour.setAlphaF(0.45);
  else if (isDown()) colour.setAlphaF(0.3);
  painter.setOpacity(colour.alphaF());
  colour.setAlphaF(1);
  if (!icon().isNull()) {
    const QSize size = iconSize();
    const QRect target(QPoint((width() - size.width()) / 2, (height() - size.height()) / 2), size);
    // Icons are drawn as templates in the title colour.
    QImage tinted = icon().pixmap(size, devicePixelRatioF()).toImage();
    QPainter tint(&tinted);
    tint.setCompositionMode(QPainter::CompositionMode_SourceIn);
    tint.fillRect(tinted.rect(), colour);
    tint.end();
    painter.drawImage(target, tinted);
  }
  if (!text().isEmpty()) {
    painter.setPen(colour);
    painter.setFont(font());
    painter.drawText(rect(), Qt::AlignCenter, text());
  }
}

}  // namespace duo
