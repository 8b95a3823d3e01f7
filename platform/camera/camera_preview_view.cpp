#include "camera_preview_view.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

#include "image/orientation.h"
#include "qt_image.h"
#include "transform/resample.h"

namespace duo {

CameraPreviewView::CameraPreviewView(QWidget* parent) : QWidget(parent) {
  // Every pixel is painted (black where there is no picture).
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void CameraPreviewView::setCamera(CameraDevice* camera) {
  if (camera == m_camera) return;
  if (m_camera) m_camera->disconnect(this);
  m_camera = camera;
  if (m_camera)
    connect(m_camera, &CameraDevice::previewChanged, this, &CameraPreviewView::takeFrame);
  takeFrame();
}

void CameraPreviewView::setPlacement(const QRectF& frame, const QTransform& turnAboutCentre) {
  m_placement = Placement{frame, turnAboutCentre};
  update();
}

void CameraPreviewView::clearPlacement() {
  if (!m_placement) return;
  m_placement.reset();
  update();
}

QImage CameraPreviewView::uprightImage(const QImage& stored, int orientationTag) {
  if (stored.isNull() || orientationTag == 0 || !isValidOrientationTag(orientationTag))
    return stored;
  // The engine's own turn, so the preview and the shots can never disagree on what a tag means.
  const Image grid = fromQImage(stored);
  if (grid.isNull()) return stored;
  const auto orientation = static_cast<Orientation>(orientationTag);
  const bool swap = swapsSides(orientation);
  const std::optional<Image> upright = drawOriented(
      grid, orientation, swap ? grid.height() : grid.width(), swap ? grid.width() : grid.height());
  return upright ? toQImage(*upright) : stored;
}

void CameraPreviewView::takeFrame() {
  m_upright = m_camera ? uprightImage(m_camera->previewFrame(), m_camera->previewOrientationTag())
                       : QImage();
  m_pixmapStale = true;
  update();
}

const QPixmap& CameraPreviewView::fillingPixmap(const QSizeF& size) {
  const qreal ratio = devicePixelRatioF();
  const QSize pixels(std::max(1, int(std::ceil(size.width() * ratio))),
                     std::max(1, int(std::ceil(size.height() * ratio))));
  if (!m_pixmapStale && pixels == m_pixmapSize) return m_pixmap;
  // Cut the picture to the target's aspect ratio first, so only what shows is scaled.
  const qreal targetAspect = qreal(pixels.width()) / pixels.height();
  const qreal width = m_upright.width(), height = m_upright.height();
  QRectF source(0, 0, width, height);
  if (width / height > targetAspect)
    source.setWidth(height * targetAspect);
  else
    source.setHeight(width / targetAspect);
  source.moveCenter(QPointF(width / 2, height / 2));
  const QRect cut = source.toAlignedRect() & m_upright.rect();
  m_pixmap = QPixmap::fromImage(
      m_upright.copy(cut).scaled(pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
  m_pixmapSize = pixels;
  m_pixmapStale = false;
  return m_pixmap;
}

void CameraPreviewView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), Qt::black);
  if (m_upright.isNull()) return;
  const QRectF target = m_placement ? m_placement->frame : QRectF(rect());
  if (target.isEmpty()) return;
  const QPixmap& pixmap = fillingPixmap(target.size());
  if (m_placement) {
    const QPointF centre = target.center();
    painter.setTransform(QTransform::fromTranslate(-centre.x(), -centre.y()) * m_placement->turn *
                             QTransform::fromTranslate(centre.x(), centre.y()),
                         true);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, !m_placement->turn.isIdentity());
  }
  painter.drawPixmap(target, pixmap, QRectF(pixmap.rect()));
}

}  // namespace duo
