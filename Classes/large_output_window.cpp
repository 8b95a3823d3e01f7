#include "large_output_window.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScopedValueRollback>
#include <QScreen>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

#include "run_loop.h"

namespace duo {

namespace {

// Layout and interaction constants.
constexpr double kInitialScreenFraction = 0.8;  // of the available screen, before the first show
const QSize kMinimumSize(200, 150);
const QSize kSizeWithoutOutput(800, 600);
constexpr double kWheelZoomPerNotch = 1.25;  // one 15-degree wheel notch
const double kKeyZoomStep = std::sqrt(2.0);  // two presses double the scale
// Zoom limits, relative to whichever of fit and actual size is smaller (larger for the maximum).
constexpr double kMinimumZoom = 1.0 / 16;
constexpr double kMaximumZoom = 32;
// From this many device pixels per output pixel on, a zoom the user chose shows the pixels as
// sharp squares: the point of zooming that far is to look at them. Fit mode stays smooth.
constexpr double kPixelPeepScale = 4;
constexpr int kArrowStepPoints = 40;

}  // namespace

LargeOutputWindow::LargeOutputWindow(QWidget* parent) : QAbstractScrollArea(parent) {
  // Its own top-level window even when owned by the main window.
  setWindowFlag(Qt::Window);
  setFrameShape(QFrame::NoFrame);
  setFocusPolicy(Qt::StrongFocus);
  setMinimumSize(kMinimumSize);
  resize(kSizeWithoutOutput);
  // Every paint covers the whole exposed area in black first.
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
  horizontalScrollBar()->setSingleStep(kArrowStepPoints);
  verticalScrollBar()->setSingleStep(kArrowStepPoints);
}

LargeOutputWindow::~LargeOutputWindow() { stopAnimation(); }

void LargeOutputWindow::setOutput(const QString& title, std::vector<QImage> frames,
                                  double cycleSeconds) {
  stopAnimation();
  setWindowTitle(title);
  m_frames.clear();
  m_size = {};
  for (QImage& frame : frames) {
    if (frame.isNull()) continue;
    if (m_frames.empty())
      m_size = frame.size();
    else if (frame.size() != m_size)
      frame = frame.scaled(m_size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    // The renderer hands over RGBX; the 32-bit native formats are the ones Qt draws and
    // smooth-scales without a conversion on every use.
    const QImage::Format native =
        frame.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32;
    if (frame.format() != native) frame = std::move(frame).convertToFormat(native);
    // Sizes here are in output pixels; a ratio meant for the phone screen must not shrink it.
    frame.setDevicePixelRatio(1);
    m_frames.push_back(std::move(frame));
  }
  m_cycle = std::isfinite(cycleSeconds) && cycleSeconds > 0 ? cycleSeconds : 0;
  m_frame = 0;
  m_scaled.clear();
  m_scaledSize = {};
  m_fit = true;
  if (!isVisible()) applyInitialSize();
  relayout();
  if (isVisible()) startAnimation();
}

void LargeOutputWindow::applyInitialSize() {
  QScreen* screen = parentWidget() ? parentWidget()->screen() : this->screen();
  if (!screen || m_size.isEmpty()) return;
  const QRect available = screen->availableGeometry();
  const QSize size =
      QSizeF(m_size)
          .scaled(QSizeF(available.size()) * kInitialScreenFraction, Qt::KeepAspectRatio)
          .toSize()
          .expandedTo(kMinimumSize);
  resize(size);
  move(available.center() - QPoint(size.width() / 2, size.height() / 2));
}

double LargeOutputWindow::pointsPerPixel() const { return m_scale / devicePixelRatioF(); }

QSizeF LargeOutputWindow::contentSize() const { return QSizeF(m_size) * pointsPerPixel(); }

double LargeOutputWindow::fitScale() const {
  if (m_size.isEmpty()) return 1;
  // The whole output fits, so no scroll bar takes room from it.
  const QSizeF room = maximumViewportSize();
  return std::min(room.width() / m_size.width(), room.height() / m_size.height()) *
         devicePixelRatioF();
}

QRectF LargeOutputWindow::imageRect() const {
  if (m_size.isEmpty()) return {};
  const QSizeF content = contentSize();
  const QSizeF view = viewport()->size();
  // Centred along a side where the output is smaller than the window, scrolled along the others.
  const double x =
      content.width() <= view.width() ? (view.width() - content.width()) / 2 : -m_offset.x();
  const double y =
      content.height() <= view.height() ? (view.height() - content.height()) / 2 : -m_offset.y();
  return QRectF(QPointF(x, y), content);
}

void LargeOutputWindow::fitToWindow() {
  m_fit = true;
  relayout();
}

void LargeOutputWindow::showActualSize() { setScale(1.0, QRectF(viewport()->rect()).center()); }

void LargeOutputWindow::zoomBy(double factor, QPointF anchor) {
  if (factor > 0 && std::isfinite(factor)) setScale(m_scale * factor, anchor);
}

void LargeOutputWindow::setScale(double scale, QPointF anchor) {
  if (m_size.isEmpty()) return;
  const double fit = fitScale();
  const double lowest = std::min(fit, 1.0) * kMinimumZoom;
  const double highest = std::max(fit, 1.0) * kMaximumZoom;
  const QPointF pixel = (anchor - imageRect().topLeft()) / pointsPerPixel();
  m_scale = std::clamp(scale, lowest, highest);
  m_fit = false;
  // Put the same output pixel back under the anchor; relayout() clamps at the edges.
  m_offset = pixel * pointsPerPixel() - anchor;
  relayout();
}

void LargeOutputWindow::relayout() {
  // Setting a scroll bar's range can show or hide it, at once or from the event loop; either way
  // the viewport's new size comes back here through resizeEvent().
  if (m_inRelayout) return;
  QScopedValueRollback guard(m_inRelayout, true);
  // A fitted output never needs scrolling; without this a bar left from a smaller window could
  // stay up beside it.
  const Qt::ScrollBarPolicy policy = m_fit ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAsNeeded;
  setHorizontalScrollBarPolicy(policy);
  setVerticalScrollBarPolicy(policy);
  for (int pass = 0; pass < 3; ++pass) {
    const QSize view = viewport()->size();
    if (m_fit) {
      m_scale = fitScale();
      m_offset = {};
    }
    const QSizeF content = contentSize();
    const QPointF most(std::max(0.0, content.width() - view.width()),
                       std::max(0.0, content.height() - view.height()));
    m_offset =
        QPointF(std::clamp(m_offset.x(), 0.0, most.x()), std::clamp(m_offset.y(), 0.0, most.y()));
    // A bar for less than half a point of overhang would only flicker in and out.
    horizontalScrollBar()->setRange(0, qRound(most.x()));
    horizontalScrollBar()->setPageStep(view.width());
    horizontalScrollBar()->setValue(qRound(m_offset.x()));
    verticalScrollBar()->setRange(0, qRound(most.y()));
    verticalScrollBar()->setPageStep(view.height());
    verticalScrollBar()->setValue(qRound(m_offset.y()));
    if (viewport()->size() == view) break;
  }
  updateCursor();
  viewport()->update();
}

void LargeOutputWindow::scrollContentsBy(int dx, int dy) {
  if (m_inRelayout) return;
  // Only the axis that moved takes the bar's whole-point value, so the other keeps its fraction.
  const QSizeF content = contentSize();
  const QSizeF view = viewport()->size();
  if (dx != 0)
    m_offset.setX(std::clamp(double(horizontalScrollBar()->value()), 0.0,
                             std::max(0.0, content.width() - view.width())));
  if (dy != 0)
    m_offset.setY(std::clamp(double(verticalScrollBar()->value()), 0.0,
                             std::max(0.0, content.height() - view.height())));
  viewport()->update();
}

void LargeOutputWindow::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  relayout();
}

void LargeOutputWindow::showEvent(QShowEvent* event) {
  QAbstractScrollArea::showEvent(event);
  relayout();
  startAnimation();
}

void LargeOutputWindow::hideEvent(QHideEvent* event) {
  QAbstractScrollArea::hideEvent(event);
  // Nobody sees a closed or minimised window; it should not wake the machine ten times a second.
  stopAnimation();
}

void LargeOutputWindow::startAnimation() {
  if (m_timer || m_frames.size() < 2 || m_cycle <= 0) return;
  m_timer = QSTimer::scheduledTimer(m_cycle / double(m_frames.size()), true, [this](QSTimer&) {
    m_frame = (m_frame + 1) % int(m_frames.size());
    viewport()->update();
  });
}

void LargeOutputWindow::stopAnimation() {
  if (!m_timer) return;
  m_timer->invalidate();
  m_timer.reset();
}

const QImage& LargeOutputWindow::scaledFrame(double dpr) {
  const QSize size(std::max(1, qRound(m_size.width() * m_scale)),
                   std::max(1, qRound(m_size.height() * m_scale)));
  if (size != m_scaledSize || dpr != m_scaledDpr || m_scaled.size() != m_frames.size()) {
    m_scaled.assign(m_frames.size(), QImage());
    m_scaledSize = size;
    m_scaledDpr = dpr;
  }
  // Each frame of an animation is reduced the first time it comes round, not all at once.
  QImage& scaled = m_scaled[m_frame];
  if (scaled.isNull()) {
    scaled = m_frames[m_frame].scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    scaled.setDevicePixelRatio(dpr);
  }
  return scaled;
}

void LargeOutputWindow::paintEvent(QPaintEvent* event) {
  QPainter painter(viewport());
  painter.fillRect(event->rect(), Qt::black);
  if (m_frames.empty()) return;
  const double dpr = viewport()->devicePixelRatioF();
  QRectF target = imageRect();
  // On a device pixel boundary, so that at actual size and with the reduced copies every output
  // pixel lands on exactly one device pixel instead of being resampled.
  target.moveTopLeft(
      QPointF(std::round(target.x() * dpr) / dpr, std::round(target.y() * dpr) / dpr));
  const QRectF visible = target.intersected(QRectF(event->rect()));
  if (visible.isEmpty()) return;

  if (m_scale < 1) {
    painter.drawImage(target.topLeft(), scaledFrame(dpr));
    return;
  }
  // Enlarged or at actual size: only the output pixels in sight, plus one around them so that
  // smooth sampling at the edges of the piece sees the same neighbours as for the whole output.
  const double perPixel = pointsPerPixel();
  const QRectF source((visible.topLeft() - target.topLeft()) / perPixel, visible.size() / perPixel);
  const QRect pixels =
      source.toAlignedRect().adjusted(-1, -1, 1, 1).intersected(QRect(QPoint(), m_size));
  const QRectF drawn(target.topLeft() + QPointF(pixels.topLeft()) * perPixel,
                     QSizeF(pixels.size()) * perPixel);
  painter.setRenderHint(QPainter::SmoothPixmapTransform,
                        m_scale != 1 && (m_fit || m_scale < kPixelPeepScale));
  painter.drawImage(drawn, m_frames[m_frame], pixels);
}

void LargeOutputWindow::updateCursor() {
  const QSizeF content = contentSize();
  const QSizeF view = viewport()->size();
  const bool pannable = content.width() > view.width() || content.height() > view.height();
  if (m_dragging)
    viewport()->setCursor(Qt::ClosedHandCursor);
  else if (pannable)
    viewport()->setCursor(Qt::OpenHandCursor);
  else
    viewport()->unsetCursor();
}

void LargeOutputWindow::toggleFullScreen() { setWindowState(windowState() ^ Qt::WindowFullScreen); }

void LargeOutputWindow::keyPressEvent(QKeyEvent* event) {
  const QPointF middle = QRectF(viewport()->rect()).center();
  // Shift is part of typing `+` on many layouts, and the keypad's keys count as the same keys.
  const Qt::KeyboardModifiers modifiers =
      event->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier);
  const bool plainOrControl = modifiers == Qt::NoModifier || modifiers == Qt::ControlModifier;
  bool handled = true;
  switch (event->key()) {
    case Qt::Key_0:
      if (plainOrControl) fitToWindow();
      handled = plainOrControl;
      break;
    case Qt::Key_1:
      if (plainOrControl) showActualSize();
      handled = plainOrControl;
      break;
    case Qt::Key_Plus:
    case Qt::Key_Equal:
      if (plainOrControl) zoomBy(kKeyZoomStep, middle);
      handled = plainOrControl;
      break;
    case Qt::Key_Minus:
      if (plainOrControl) zoomBy(1 / kKeyZoomStep, middle);
      handled = plainOrControl;
      break;
    case Qt::Key_F:
      if (modifiers == Qt::NoModifier) toggleFullScreen();
      handled = modifiers == Qt::NoModifier;
      break;
    case Qt::Key_F11:
      toggleFullScreen();
      break;
    case Qt::Key_Escape:
      close();
      break;
    default:
      handled = false;
  }
  // Arrows and page keys move the scroll bars, which pan.
  if (!handled) QAbstractScrollArea::keyPressEvent(event);
}

void LargeOutputWindow::wheelEvent(QWheelEvent* event) {
  const int delta = event->angleDelta().y();
  if (delta == 0 || m_frames.empty()) {
    event->ignore();
    return;
  }
  // Fine-grained wheels and touchpads send fractions of a notch; the power keeps them smooth.
  zoomBy(std::pow(kWheelZoomPerNotch, delta / 120.0), event->position());
  event->accept();
}

void LargeOutputWindow::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QAbstractScrollArea::mousePressEvent(event);
  m_dragging = true;
  m_dragStart = event->position();
  m_dragStartOffset = m_offset;
  updateCursor();
  event->accept();
}

void LargeOutputWindow::mouseMoveEvent(QMouseEvent* event) {
  if (!m_dragging) return QAbstractScrollArea::mouseMoveEvent(event);
  // The output follows the hand: dragging right shows what lies to the left.
  m_offset = m_dragStartOffset - (event->position() - m_dragStart);
  relayout();
  event->accept();
}

void LargeOutputWindow::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !m_dragging)
    return QAbstractScrollArea::mouseReleaseEvent(event);
  m_dragging = false;
  updateCursor();
  event->accept();
}

void LargeOutputWindow::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QAbstractScrollArea::mouseDoubleClickEvent(event);
  toggleFullScreen();
  event->accept();
}

}  // namespace duo
