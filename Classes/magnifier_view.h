#pragma once

#include <QImage>
#include <QPointF>
#include <QPointer>
#include <QWidget>

namespace duo {

/// The round loupe shown above the finger while the user drags the overlay into register: it
/// shows the 50 x 50-point square of another view centred on the finger, magnified twice, inside
/// a 100-point circle with a white rim.
///
/// Add the loupe to a widget that is NOT inside the magnified view (its parent, say), so the
/// loupe never shows itself. It ignores mouse events, so the drag below it carries on.
class MagnifierView : public QWidget {
  Q_OBJECT

 public:
  /// Side of the loupe in points, its magnification and how far above the finger its centre sits.
  static constexpr int kSize = 100;
  static constexpr double kMagnification = 2.0;
  static constexpr double kLiftAboveFinger = 80.0;
  static constexpr double kBorderWidth = 3.0;

  explicit MagnifierView(QWidget* parent = nullptr);
  /// The frame is ignored: a loupe always starts as the 100 x 100-point square at (0, 0).
  explicit MagnifierView(const QRect& frame, QWidget* parent = nullptr);

  QWidget* viewToMagnify() const { return m_viewToMagnify; }
  /// The view whose picture is shown; a view that goes away leaves an empty (black) loupe.
  void setViewToMagnify(QWidget* view);

  QPointF touchPoint() const { return m_touchPoint; }
  /// Stores the finger position (in the magnified view's coordinates), moves the loupe so its
  /// centre is 80 points above it and schedules a redraw. The loupe is not kept on screen:
  /// near the top edge part of it lies outside.
  void setTouchPoint(QPointF point);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void place();
  void renderMagnified(QPainter* painter, double dpr);

  QPointer<QWidget> m_viewToMagnify;
  QPointF m_touchPoint;
  QImage m_source;    // the square around the finger, drawn at magnified resolution
  QImage m_composed;  // the round loupe before it goes on screen
  bool m_rendering = false;
};

}  // namespace duo
