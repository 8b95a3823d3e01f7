#include "vignette_view.h"

#include <QPainter>

#include <cmath>

namespace duo {

VignetteView::VignetteView(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_TranslucentBackground);
  setAttribute(Qt::WA_NoSystemBackground);
  setAutoFillBackground(false);
  m_vignette.setType(0);  // equal to the current type: a new view draws nothing visible
}

void VignetteView::setType(int type) {
  if (type == m_vignette.type()) return;
  m_vignette.setType(type);
  invalidate();
}

void VignetteView::setInnerOpacity(float value) {
  m_vignette.setInnerOpacity(value);
  invalidate();
}

void VignetteView::setOuterOpacity(float value) {
  m_vignette.setOuterOpacity(value);
  invalidate();
}

void VignetteView::invalidate() {
  m_overlay = QImage();
  update();
}

void VignetteView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  m_overlay = QImage();
}

void VignetteView::paintEvent(QPaintEvent*) {
  if (width() <= 0 || height() <= 0) return;
  const qreal ratio = devicePixelRatioF();
  const int w = static_cast<int>(std::lround(width() * ratio));
  const int h = static_cast<int>(std::lround(height() * ratio));
  if (m_overlay.size() != QSize(w, h)) {
    // Sampled at device pixels so the ramp stays smooth on high-density screens.
    const std::vector<float> alpha = m_vignette.alphaMap(w, h);
    m_overlay = QImage(w, h, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < h; ++y) {
      auto* line = reinterpret_cast<QRgb*>(m_overlay.scanLine(y));
      for (int x = 0; x < w; ++x) {
        const int a = static_cast<int>(std::lround(alpha[std::size_t(y) * w + x] * 255.0f));
        line[x] = qRgba(0, 0, 0, std::clamp(a, 0, 255));  // black, so premultiplied is the same
      }
    }
    m_overlay.setDevicePixelRatio(ratio);
  }
  QPainter painter(this);
  painter.drawImage(QPointF(0, 0), m_overlay);
}

}  // namespace duo
