#pragma once

#include <QAbstractScrollArea>
#include <QImage>
#include <QPointF>
#include <QRectF>
#include <QString>

#include <memory>
#include <vector>

namespace duo {

class QSTimer;

/// A separate, resizable top-level window that shows an output that has already been rendered
/// (an anaglyph, a stereogram or the frames of a wigglegram) as large as the screen allows. It
/// never renders anything itself. Closing it only hides it; the owner decides when it goes.
///
/// Keys:
///   `0`, `Ctrl+0`            fit the whole output into the window (the default)
///   `1`, `Ctrl+1`            actual size: one output pixel per device pixel
///   `+`, `=`, `Ctrl++`       zoom in around the middle of the window
///   `-`, `Ctrl+-`            zoom out around the middle of the window
///   arrows, Page Up/Down     pan, when the output is larger than the window
///   `F`, `F11`               toggle full screen
///   `Escape`                 close the window, full screen or not
/// Mouse: the wheel zooms around the pointer (no modifier needed), a left drag pans when the
/// output is larger than the window, a double click toggles full screen.
class LargeOutputWindow : public QAbstractScrollArea {
  Q_OBJECT

 public:
  explicit LargeOutputWindow(QWidget* parent = nullptr);
  ~LargeOutputWindow() override;

  /// Shows `frames` under the window title `title`. One frame is a still; two or more are an
  /// endless animation whose whole cycle lasts `cycleSeconds`, each frame standing for
  /// cycleSeconds / frames.size() (a cycle that is not positive shows the first frame still).
  /// Frames are shown in the first frame's pixel size; null frames are dropped, and no frames
  /// leave the window black. Goes back to fit mode; a window that is not on screen also takes
  /// its initial size, 80 % of the available screen with the output's aspect ratio.
  void setOutput(const QString& title, std::vector<QImage> frames, double cycleSeconds);

  /// Device pixels per output pixel: 1.0 is actual size, whatever the screen's pixel ratio.
  double scale() const { return m_scale; }
  /// True while the output follows the window's size (until the user zooms).
  bool isFitMode() const { return m_fit; }
  /// The frame on screen, 0 for a still or when there are no frames.
  int currentFrame() const { return m_frame; }
  int frameCount() const { return int(m_frames.size()); }
  /// Where the whole output lies in the viewport, in points (partly outside it when zoomed in);
  /// empty without frames.
  QRectF imageRect() const;

  /// Scales the whole output to the window, keeping its aspect ratio.
  void fitToWindow();
  /// One output pixel per device pixel, keeping the output point at the window's middle there.
  void showActualSize();
  /// Multiplies the scale by `factor` (within limits), keeping the output point under `anchor`
  /// (viewport points) where it is whenever the output still covers that spot.
  void zoomBy(double factor, QPointF anchor);
  void toggleFullScreen();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  QSizeF contentSize() const;  // the output at the current scale, in points
  double fitScale() const;
  double pointsPerPixel() const;
  void setScale(double scale, QPointF anchor);
  void relayout();
  void updateCursor();
  void applyInitialSize();
  void startAnimation();
  void stopAnimation();
  const QImage& scaledFrame(double dpr);

  std::vector<QImage> m_frames;
  QSize m_size;  // pixel size of every frame
  double m_cycle = 0;
  int m_frame = 0;
  std::shared_ptr<QSTimer> m_timer;

  double m_scale = 1;
  bool m_fit = true;
  QPointF m_offset;  // how far the output is scrolled past the viewport's top-left, in points
  bool m_inRelayout = false;
  bool m_dragging = false;
  QPointF m_dragStart;
  QPointF m_dragStartOffset;

  // Shrunk frames are made once per scale and pixel ratio, not on every paint: a smooth
  // reduction of a 4000 x 3000 output takes tens of milliseconds.
  std::vector<QImage> m_scaled;
  QSize m_scaledSize;
  double m_scaledDpr = 0;
};

}  // namespace duo
