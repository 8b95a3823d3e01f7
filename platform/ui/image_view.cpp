#include "image_view.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>

#include "run_loop.h"
#include "view_animation.h"

namespace duo {

ImageView::ImageView(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_TranslucentBackground);
  // Pictures are large and their overlays move under the finger: draw opacity and transform
  // here rather than through a full-size pixmap.
  setViewDrawsOwnLayer(this);
}

ImageView::ImageView(const QImage& image, QWidget* parent) : ImageView(parent) {
  setImage(image);
  resize(imagePointSize().toSize());
}

ImageView::~ImageView() { stopAnimating(); }

void ImageView::setImage(const QImage& image) {
  m_image = image;
  update();
}

void ImageView::setContentMode(ContentMode mode) {
  m_mode = mode;
  update();
}



namespace {

QRectF fitRect(QSizeF image, QRectF bounds, ContentMode mode) {
  if (image.isEmpty()) return {};
  switch (mode) {
    case ContentMode::ScaleToFill:
      return bounds;
    case ContentMode::AspectFit:
    case ContentMode::AspectFill: {
      const double sx = bounds.width() / image.width();
      const double sy = bounds.height() / image.height();
      const double s = mode == ContentMode::AspectFit ? std::min(sx, sy) : std::max(sx, sy);
      image *= s;
      break;
    }
    case ContentMode::Center:
      break;
    case ContentMode::TopLeft:
      return QRectF(bounds.topLeft(), image);
  }
  return QRectF(QPointF(bounds.x() + (bounds.width() - image.width()) / 2,
                        bounds.y() + (bounds.height() - image.height()) / 2),
                image);
}

QSizeF pointSize(const QImage& image) {
  return image.isNull() ? QSizeF() : QSizeF(image.size()) / image.devicePixelRatio();
}

}  // namespace

QSizeF ImageView::imagePointSize() const { return pointSize(m_image); }
QSize ImageView::sizeHint() const { return imagePointSize().toSize(); }
QRectF ImageView::imageRect() const { return fitRect(imagePointSize(), rect(), m_mode); }

void ImageView::paintEvent(QPaintEvent*) {
  const QImage& shown = m_frames.empty() || !isAnimating() ? m_image : m_frames[m_frame];
  if (shown.isNull()) return;
  QPainter painter(this);
  applyViewLayer(this, painter);
  if (painter.opacity() <= 0) return;
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  if (m_mode == ContentMode::AspectFill || m_mode == ContentMode::Center ||
      m_mode == ContentMode::TopLeft)
    painter.setClipRect(rect());
  painter.drawImage(fitRect(pointSize(shown), rect(), m_mode), shown);
}

void ImageView::setAnimationImages(std::vector<QImage> images, double duration) {
  m_frames = std::move(images);
  m_duration = duration;
  m_frame = 0;
  if (isAnimating()) {
    stopAnimating();
    startAnimating();
  }
}

void ImageView::startAnimating() {
  if (m_frames.empty() || isAnimating()) return;
  const double interval = m_duration > 0 ? m_duration / double(m_frames.size()) : 1.0 / 30.0;
  m_frame = 0;
  m_timer = QSTimer::scheduledTimer(interval, true, [this](QSTimer&) {
    m_frame = (m_frame + 1) % int(m_frames.size());
    update();
  });
  update();
}

void ImageView::stopAnimating() {
  if (!m_timer) return;
  m_timer->invalidate();
  m_timer.reset();
  update();
}

ActivityIndicatorView::ActivityIndicatorView(Style style, QWidget* parent)
    : QWidget(parent), m_style(style) {
  setAttribute(Qt::WA_TranslucentBackground);
  setAttribute(Qt::WA_TransparentForMouseEvents);
  resize(sizeHint());
  hide();
}

ActivityIndicatorView::~ActivityIndicatorView() { stopAnimating(); }

QSize ActivityIndicatorView::sizeHint() const {
  return m_style == Style::WhiteLarge ? QSize(37, 37) : QSize(20, 20);
}

void ActivityIndicatorView::startAnimating() {
  if (m_timer) return;
  show();
  m_timer = QSTimer::scheduledTimer(1.0 / 12.0, true, [this](QSTimer&) {
    m_step = (m_step + 1) % 12;
    update();
  });
}

void ActivityIndicatorView::stopAnimating() {
  if (!m_timer) return;
  m_timer->invalidate();
  m_timer.reset();
  hide();
}

void ActivityIndicatorView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QColor base = m_style == Style::Gray ? QColor(0x8e, 0x8e, 0x93) : QColor(Qt::white);
  const double side = std::min(width(), height());
  const double outer = side / 2, inner = outer * 0.45, thickness = side * 0.085;
  painter.translate(width() / 2.0, height() / 2.0);
  for (int i = 0; i < 12; ++i) {
    // The spoke just passed is brightest; the rest trail off.
    const int age = (m_step - i + 12) % 12;
    QColor colour = base;
    colour.setAlphaF(1.0 - 0.07 * age);
    QPen pen(colour, thickness, Qt::SolidLine, Qt::RoundCap);
    painter.setPen(pen);
    painter.save();
    painter.rotate(i * 30.0);
    painter.drawLine(QPointF(0, -inner), QPointF(0, -outer + thickness / 2));
    painter.restore();
  }
}

}  // namespace duo
