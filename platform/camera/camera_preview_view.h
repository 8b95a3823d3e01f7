#pragma once

#include <QImage>
#include <QPixmap>
#include <QPointer>
#include <QRectF>
#include <QTransform>
#include <QWidget>

#include <optional>

#include "camera_device.h"

namespace duo {

/// Shows a camera's live preview on black. The frame is brought upright by its orientation tag
/// and scaled to fill its place keeping its aspect ratio, centred; what does not fit is cut off.
///
/// Its place is the whole view, or a placement: a rectangle whose picture is then turned about
/// the rectangle's centre (how the capture screen shows a camera that records device turns, the
/// way a phone held sideways would).
class CameraPreviewView : public QWidget {
  Q_OBJECT
 public:
  explicit CameraPreviewView(QWidget* parent = nullptr);

  /// The camera to follow (not owned; nullptr shows black). Its frames appear as they come.
  void setCamera(CameraDevice* camera);
  CameraDevice* camera() const { return m_camera; }

  /// Fills `frame` (view coordinates) with the picture, clipped to it, turned by
  /// `turnAboutCentre` about the centre of `frame`.
  void setPlacement(const QRectF& frame, const QTransform& turnAboutCentre);
  /// Back to filling the whole view upright.
  void clearPlacement();

  /// `stored` turned or mirrored upright by an orientation tag (0 Up … 7 RightMirrored); an
  /// invalid tag leaves it as stored.
  static QImage uprightImage(const QImage& stored, int orientationTag);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  struct Placement {
    QRectF frame;
    QTransform turn;
  };

  void takeFrame();
  /// The cached picture for a target of `size` view points, cut and scaled to fill it.
  const QPixmap& fillingPixmap(const QSizeF& size);

  QPointer<CameraDevice> m_camera;
  QImage m_upright;
  std::optional<Placement> m_placement;

  QPixmap m_pixmap;
  QSize m_pixmapSize;  ///< device pixels the cached pixmap was made for
  bool m_pixmapStale = true;
};

}  // namespace duo
