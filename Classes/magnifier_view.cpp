#include "magnifier_view.h"

#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace duo {

namespace {

// The picture left inside the ring where nothing is drawn: beyond the magnified view's edges,
// and the whole loupe when there is no view to show.
const QColor kEmptyColor(0, 0, 0);
const QColor kBorderColor(255, 255, 255);

QSize pixelSize(QSizeF points, double scale) {
  return QSize(int(std::ceil(points.width() * scale - 1e-6)),
               int(std::ceil(points.height() * scale - 1e-6)));
}

}  // namespace

MagnifierView::MagnifierView(QWidget* parent) : MagnifierView(QRect(), parent) {}

MagnifierView::MagnifierView(const QRect& /*frame*/, QWidget* parent) : QWidget(parent) {
  setGeometry(0, 0, kSize, kSize);
  // The finger stays on the view below: presses, moves and releases pass straight through.
  setAttribute(Qt::WA_TransparentForMouseEvents);
  // Outside the circle the loupe paints nothing, so whatever lies below shows there.
  setAttribute(Qt::WA_NoSystemBackground);
  setAutoFillBackground(false);
  setFocusPolicy(Qt::NoFocus);
}

void MagnifierView::setViewToMagnify(QWidget* view) {
  if (m_viewToMagnify == view) return;
  m_viewToMagnify = view;
  place();
  update();
}

void MagnifierView::setTouchPoint(QPointF point) {
  m_touchPoint = point;
  place();
  update();
}

void MagnifierView::place() {
  // The touch point is in the magnified view's coordinates. Usually the loupe's parent is that
  // view's parent and the two agree; when the view sits at an offset inside the loupe's parent
  // the point is carried over so the loupe still hovers above the finger.
  QPointF centre = m_touchPoint;
  QWidget* parent = parentWidget();
  QWidget* view = m_viewToMagnify;
  if (parent && view && view != parent && parent->isAncestorOf(view))
    centre = view->mapTo(parent, m_touchPoint);
  centre.ry() -= kLiftAboveFinger;
  move(qRound(centre.x() - width() / 2.0), qRound(centre.y() - height() / 2.0));
}

void MagnifierView::paintEvent(QPaintEvent*) {
  // A loupe placed inside the view it magnifies is asked to paint again while that view is
  // rendered for it; drawing nothing the second time keeps the picture from recursing forever.
  if (m_rendering) return;

  QPainter painter(this);
  // The density of whatever is painted on (the screen, or an image the loupe is rendered into)
  // decides how finely the picture is drawn.
  const double dpr = std::clamp(std::abs(painter.deviceTransform().m11()), 1.0, 8.0);
  const QSizeF frame = size();
  const QSize pixels = pixelSize(frame, dpr);
  if (pixels.isEmpty()) return;
  if (m_composed.size() != pixels) m_composed = QImage(pixels, QImage::Format_ARGB32_Premultiplied);
  m_composed.setDevicePixelRatio(dpr);
  m_composed.fill(Qt::transparent);

  // The circle is drawn as an antialiased disc and the magnified picture is painted only where
  // the disc is (SourceAtop), which gives a smooth edge that a clip path would not.
  QPainter composer(&m_composed);
  composer.setRenderHint(QPainter::Antialiasing);
  composer.setPen(Qt::NoPen);
  composer.setBrush(kEmptyColor);
  const QRectF bounds(QPointF(0, 0), frame);
  composer.drawEllipse(bounds);
  composer.setCompositionMode(QPainter::CompositionMode_SourceAtop);
  renderMagnified(&composer, dpr);
  composer.setCompositionMode(QPainter::CompositionMode_SourceOver);
  composer.setPen(QPen(kBorderColor, kBorderWidth));
  composer.setBrush(Qt::NoBrush);
  const double inset = kBorderWidth / 2;
  composer.drawEllipse(bounds.adjusted(inset, inset, -inset, -inset));
  composer.end();

  painter.drawImage(bounds, m_composed);
}

void MagnifierView::renderMagnified(QPainter* painter, double dpr) {
  QWidget* view = m_viewToMagnify;
  if (!view) return;

  // Only the square under the loupe is rendered, widened to whole points and kept inside the
  // view; it is drawn at the magnified pixel density so text and edges stay sharp.
  const QSizeF shown(width() / kMagnification, height() / kMagnification);
  const QRectF wanted(m_touchPoint - QPointF(shown.width() / 2, shown.height() / 2), shown);
  const QRect source = wanted.toAlignedRect() & view->rect();
  if (source.isEmpty()) return;

  const double scale = kMagnification * dpr;
  const QSize pixels = pixelSize(source.size(), scale);
  if (m_source.size() != pixels) m_source = QImage(pixels, QImage::Format_ARGB32_Premultiplied);
  m_source.setDevicePixelRatio(scale);
  m_source.fill(Qt::transparent);
  m_rendering = true;
  view->render(&m_source, QPoint(0, 0), QRegion(source),
               QWidget::DrawWindowBackground | QWidget::DrawChildren);
  m_rendering = false;

  painter->save();
  painter->translate(width() / 2.0, height() / 2.0);
  painter->scale(kMagnification, kMagnification);
  painter->translate(-m_touchPoint);
  // Whole-point touch points map the buffer onto device pixels one to one; smoothing only
  // matters for the fractional ones a touch screen reports.
  painter->setRenderHint(QPainter::SmoothPixmapTransform);
  painter->drawImage(QRectF(source), m_source);
  painter->restore();
}

}  // namespace duo
