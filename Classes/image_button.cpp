#include "image_button.h"

#include <QPainter>

#include "theme.h"

namespace duo {

ImageButton::ImageButton(const QImage& image, QWidget* parent)
    : QAbstractButton(parent), m_image(image) {
  setAttribute(Qt::WA_TranslucentBackground);
  setFocusPolicy(Qt::NoFocus);
}

void ImageButton::setImage(const QImage& image) {
  m_image = image;
  update();
}

void ImageButton::setSelectedImage(const QImage& image) {
  m_selectedImage = image;
  setCheckable(!image.isNull());
  update();
}

QSizeF ImageButton::imagePointSize() const {
  return m_image.isNull() ? QSizeF() : QSizeF(m_image.size()) / m_image.devicePixelRatio();
}

void ImageButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  if (isDown()) painter.setOpacity(0.5);
  const QImage& image = isChecked() && !m_selectedImage.isNull() ? m_selectedImage : m_image;
  if (!image.isNull()) {
    const QSizeF size = QSizeF(image.size()) / image.devicePixelRatio();
    painter.drawImage(QRectF(QPointF((width() - size.width()) / 2, (height() - size.height()) / 2), size),
                      image);
  }
  if (!text().isEmpty()) {
    painter.setPen(Qt::white);
    painter.setFont(theme::systemFont(15, QFont::DemiBold));
    painter.drawText(rect(), Qt::AlignCenter, text());
  }
}

}  // namespace duo
