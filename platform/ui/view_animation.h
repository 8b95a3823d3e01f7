#pragma once

#include <QGraphicsEffect>
#include <QPointer>
#include <QRect>
#include <QTransform>
#include <QWidget>

#include <functional>
#include <optional>
#include <vector>

namespace duo {

/// Opacity and an affine transform (about the view's centre) for any widget, the two layer
/// properties Qt widgets lack. A view at opacity below 0.01 ignores the mouse, as hidden views do.
double viewAlpha(const QWidget* view);
/// The opacity the view is set to or heading for: the end value of a running opacity animation
/// (what the view will be), where viewAlpha() is what is drawn now.
double viewTargetAlpha(const QWidget* view);
void setViewAlpha(QWidget* view, double alpha);
QTransform viewTransform(const QWidget* view);
void setViewTransform(QWidget* view, const QTransform& transform);

enum class AnimationCurve { EaseInOut, EaseIn, EaseOut, Linear };

/// What one view should end at; unset members are left alone.
struct ViewTarget {
  QPointer<QWidget> view;
  std::optional<double> alpha;
  std::optional<QRect> frame;
  std::optional<QTransform> transform;
};

/// Animates the views from their present values to the targets over `duration` seconds, on the
/// run loop's clock (tests drive it with a ManualClock). The completion runs once on the main
/// loop: finished is true when the animation ran to its end, false when a later animation of
/// the same property of the same view, or stopViewAnimations(), took over. Duration 0 sets the
/// targets at once and completes on the next turn of the loop.
void animateViews(double duration, AnimationCurve curve, std::vector<ViewTarget> targets,
                  std::function<void(bool finished)> completion = {}, double delay = 0);

/// Stops the view's running animations where they are; their completions get finished = false.
void stopViewAnimations(QWidget* view);
/// Number of animations still running (for tests).
int runningViewAnimations();

/// Marks `view` as drawing its own opacity and transform (from viewAlpha() and viewTransform()
/// in its paintEvent), clipped to its own bounds. Such a view is never drawn through a pixmap,
/// which matters for large views whose transform changes often (a picture dragged under the
/// finger).
void setViewDrawsOwnLayer(QWidget* view);
/// The painter state a view that draws its own layer applies before painting its content.
void applyViewLayer(const QWidget* view, QPainter& painter);

/// The graphics effect behind viewAlpha() and viewTransform(). Draws its widget through a
/// pixmap only when it is neither opaque nor untransformed, and never for a widget that draws
/// its own layer.
class ViewLayer : public QGraphicsEffect {
  Q_OBJECT
 public:
  explicit ViewLayer(QWidget* owner) : m_owner(owner) {}
  double alpha() const { return m_alpha; }
  void setAlpha(double alpha);
  double targetAlpha() const { return m_targetAlpha; }
  void setTargetAlpha(double alpha) { m_targetAlpha = alpha; }
  const QTransform& transform() const { return m_transform; }
  void setTransform(const QTransform& transform);
  QRectF boundingRectFor(const QRectF& rect) const override;

 protected:
  void draw(QPainter* painter) override;

 private:
  QTransform aboutCentre(const QRectF& rect) const;
  void changed();
  QPointer<QWidget> m_owner;
  double m_alpha = 1;
  double m_targetAlpha = 1;
  QTransform m_transform;
};

}  // namespace duo
