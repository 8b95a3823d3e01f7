#include "segmented_control.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace duo {

SegmentedControl::SegmentedControl(std::vector<QImage> images, QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_TranslucentBackground);
  for (QImage& image : images) m_segments.push_back({std::move(image), true});
  resize(sizeHint());
}

QSize SegmentedControl::sizeHint() const { return {44 * std::max(1, numberOfSegments()), 29}; }

void SegmentedControl::setSelectedSegmentIndex(int index) {
  if (index < -1 || index >= numberOfSegments() || index == m_selected) return;
  m_selected = index;
  update();
}

bool SegmentedControl::isEnabledForSegment(int index) const {
  return index >= 0 && index < numberOfSegments() && m_segments[index].enabled;
}

void SegmentedControl::setEnabledForSegment(bool enabled, int index) {
  if (index < 0 || index >= numberOfSegments() || m_segments[index].enabled == enabled) return;
  m_segments[index].enabled = enabled;
  update();
}

int SegmentedControl::segmentWidth() const {
  return numberOfSegments() ? width() / numberOfSegments() : 0;
}

QRect SegmentedControl::segmentRect(int index) const {
  return QRect(index * segmentWidth(), 0, segmentWidth(), height());
}

void SegmentedControl::setTintColor(const QColor& colour) {
  m_tint = colour;
  update();
}

int SegmentedControl::segmentAt(QPointF point) const {
  if (!rect().contains(point.toPoint()) || segmentWidth() <= 0) return -1;
  const int index = int(point.x()) / segmentWidth();
  return index < numberOfSegments() ? index : -1;
}

void SegmentedControl::mousePressEvent(QMouseEvent* event) {
  m_pressed = segmentAt(event->position());
  if (!isEnabledForSegment(m_pressed)) m_pressed = -1;
  update();
}

void SegmentedControl::mouseReleaseEvent(QMouseEvent* event) {
  const int pressed = std::exchange(m_pressed, -1);
  update();
  if (pressed < 0 || segmentAt(event->position()) != pressed) return;
  // Picking the selected segment again is no change.
  if (pressed == m_selected) return;
  m_selected = pressed;
  emit valueChanged();
}

void SegmentedControl::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  const int n = numberOfSegments();
  if (!n) return;
  const QRectF frame(0.5, 0.5, segmentWidth() * n - 1.0, height() - 1.0);
  QPainterPath outline;
  outline.addRoundedRect(frame, 6, 6);
  painter.fillPath(outline, QColor(255, 255, 255, 14));
  for (int i = 0; i < n; ++i) {
    const QRectF cell = QRectF(segmentRect(i)).intersected(frame);
    painter.save();
    painter.setClipPath(outline);
    if (i == m_selected) painter.fillRect(cell, QColor(255, 255, 255, 46));
    else if (i == m_pressed) painter.fillRect(cell, QColor(255, 255, 255, 24));
    painter.restore();
    if (i > 0) {
      painter.setPen(QPen(m_tint.lighter(150), 1));
      painter.drawLine(QPointF(cell.left(), 4), QPointF(cell.left(), height() - 4));
    }
    const QImage& image = m_segments[i].image;
    if (image.isNull()) continue;
    const QSizeF size = QSizeF(image.size()) / image.devicePixelRatio();
    const QRectF target(cell.center() - QPointF(size.width() / 2, size.height() / 2), size);
    painter.setOpacity(m_segments[i].enabled ? 1.0 : 0.35);
    painter.drawImage(target, image);
    painter.setOpacity(1.0);
  }
  painter.setPen(QPen(m_tint.lighter(170), 1));
  painter.drawPath(outline);
}

}  // namespace duo
