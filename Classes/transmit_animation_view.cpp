#include "transmit_animation_view.h"

#include <QPainter>
#include <QPainterPath>
#include <QPointer>

#include <algorithm>
#include <cmath>
#include <numbers>

#include "run_loop.h"

namespace duo {

TransmitAnimationView::TransmitAnimationView(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_TranslucentBackground);
}

TransmitAnimationView::~TransmitAnimationView() {
  if (m_timer) m_timer->invalidate();
}

bool TransmitAnimationView::isAnimating() const { return m_timer && m_timer->isValid(); }

void TransmitAnimationView::startAnimation(int direction) {
  if (m_timer) stopAnimation();
  m_direction = direction < 0 ? -1.0f : 1.0f;
  m_radius = 0;
  m_timer = QSTimer::scheduledTimer(kFrameInterval, true,
                                    [guard = QPointer<TransmitAnimationView>(this)](QSTimer& timer) {
                                      if (guard) guard->nextFrame();
                                      else timer.invalidate();
                                    });
}

void TransmitAnimationView::stopAnimation() {
  if (m_timer) m_timer->invalidate();
  m_timer.reset();
  update();
}

void TransmitAnimationView::nextFrame() {
  m_radius += m_direction;
  if (std::abs(static_cast<int>(m_radius)) > width()) m_radius -= kArcSpacing * m_direction;
  update();
}

void TransmitAnimationView::paintEvent(QPaintEvent*) {
  if (!isAnimating()) return;
  const double w = width();
  const double h = height();
  if (w <= 0) return;
  const double d = m_direction;
  const QPointF centre(d > 0 ? 0.0 : w, h / 2);
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  QPen pen;
  pen.setWidthF(kLineWidth);
  pen.setCapStyle(Qt::RoundCap);
  // The quarter circle that faces into the view: right of the left edge, left of the right edge.
  // Qt counts angles anticlockwise from three o'clock.
  const double startDegrees = d > 0 ? -45.0 : 135.0;
  for (double r = m_radius; d * r > 0; r -= kArcSpacing * d) {
    const double a = std::abs(r);
    pen.setColor(QColor::fromRgbF(kGreyLevel, kGreyLevel, kGreyLevel,
                                  std::clamp(std::sin(std::numbers::pi * d * r / w), 0.0, 1.0)));
    painter.setPen(pen);
    QPainterPath arc;
    const QRectF circle(centre.x() - a, centre.y() - a, 2 * a, 2 * a);
    arc.arcMoveTo(circle, startDegrees);
    arc.arcTo(circle, startDegrees, 90.0);
    painter.drawPath(arc);
  }
}

}  // namespace duo
