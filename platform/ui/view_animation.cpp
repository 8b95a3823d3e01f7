#include "view_animation.h"

#include <QPainter>

#include <algorithm>
#include <cmath>
#include <list>
#include <memory>

#include "run_loop.h"

namespace duo {

namespace {

constexpr char kDrawsOwnLayer[] = "duoDrawsOwnLayer";

ViewLayer* layerOf(const QWidget* view) { return qobject_cast<ViewLayer*>(view->graphicsEffect()); }

ViewLayer* ensureLayer(QWidget* view) {
  if (ViewLayer* layer = layerOf(view)) return layer;
  auto* layer = new ViewLayer(view);
  view->setGraphicsEffect(layer);  // the widget owns it
  return layer;
}

/// Views at opacity below 0.01 miss the mouse, as hidden views do. Only a transparency this code
/// set is taken back, so widgets made transparent on purpose stay so.
void applyAlphaHitTesting(QWidget* view, double alpha) {
  static const char* const kMarker = "duoHiddenByAlpha";
  if (alpha < 0.01) {
    if (!view->testAttribute(Qt::WA_TransparentForMouseEvents)) {
      view->setAttribute(Qt::WA_TransparentForMouseEvents, true);
      view->setProperty(kMarker, true);
    }
  } else if (view->property(kMarker).toBool()) {
    view->setAttribute(Qt::WA_TransparentForMouseEvents, false);
    view->setProperty(kMarker, QVariant());
  }
}

double ease(AnimationCurve curve, double t) {
  switch (curve) {
    case AnimationCurve::Linear:
      return t;
    case AnimationCurve::EaseIn:
      return t * t * t;
    case AnimationCurve::EaseOut:
      return 1 - std::pow(1 - t, 3);
    case AnimationCurve::EaseInOut:
      return t < 0.5 ? 4 * t * t * t : 1 - std::pow(-2 * t + 2, 3) / 2;
  }
  return t;
}

enum class Property { Alpha, Frame, Transform };

struct Track {
  QPointer<QWidget> view;
  Property property;
  double fromAlpha = 0, toAlpha = 0;
  QRect fromFrame, toFrame;
  QTransform fromTransform, toTransform;

  void apply(double f) const {
    if (!view) return;
    auto mix = [f](double a, double b) { return a + (b - a) * f; };
    switch (property) {
      case Property::Alpha:
        // What is drawn moves gradually; whether the view takes the mouse follows the target.
        ensureLayer(view)->setAlpha(std::clamp(mix(fromAlpha, toAlpha), 0.0, 1.0));
        break;
      case Property::Frame:
        view->setGeometry(QRect(qRound(mix(fromFrame.x(), toFrame.x())),
                                qRound(mix(fromFrame.y(), toFrame.y())),
                                qRound(mix(fromFrame.width(), toFrame.width())),
                                qRound(mix(fromFrame.height(), toFrame.height()))));
        break;
      case Property::Transform: {
        const QTransform& a = fromTransform;
        const QTransform& b = toTransform;
        setViewTransform(view, QTransform(mix(a.m11(), b.m11()), mix(a.m12(), b.m12()),
                                          mix(a.m21(), b.m21()), mix(a.m22(), b.m22()),
                                          mix(a.dx(), b.dx()), mix(a.dy(), b.dy())));
        break;
      }
    }
  }
};

struct Animation {
  double start = 0;
  double duration = 0;
  AnimationCurve curve = AnimationCurve::EaseInOut;
  std::vector<ViewTarget> targets;  // captured into tracks when the delay has passed
  std::vector<Track> tracks;
  std::function<void(bool)> completion;
  bool started = false;
};

constexpr double kFrameInterval = 1.0 / 60.0;

std::list<std::shared_ptr<Animation>> g_animations;
std::uint64_t g_tick = 0;

void finish(const std::shared_ptr<Animation>& animation, bool finished) {
  g_animations.remove(animation);
  if (animation->completion) {
    auto completion = std::move(animation->completion);
    performAfterDelay(0, [completion, finished] { completion(finished); });
  }
}

/// A newer animation of the same property of the same view takes over from older ones.
void takeOver(const Track& track, const Animation* owner) {
  std::vector<std::shared_ptr<Animation>> emptied;
  for (auto& other : g_animations) {
    if (other.get() == owner || !other->started) continue;
    auto& tracks = other->tracks;
    const auto before = tracks.size();
    tracks.erase(std::remove_if(tracks.begin(), tracks.end(),
                                [&](const Track& t) {
                                  return t.view == track.view && t.property == track.property;
                                }),
                 tracks.end());
    if (tracks.empty() && before > 0) emptied.push_back(other);
  }
  for (auto& other : emptied) finish(other, false);
}

void begin(const std::shared_ptr<Animation>& animation) {
  animation->started = true;
  for (const ViewTarget& target : animation->targets) {
    if (!target.view) continue;
    QWidget* view = target.view;
    if (target.alpha) {
      Track t{target.view, Property::Alpha};
      t.fromAlpha = viewAlpha(view);
      t.toAlpha = *target.alpha;
      ensureLayer(view)->setTargetAlpha(std::clamp(t.toAlpha, 0.0, 1.0));
      applyAlphaHitTesting(view, t.toAlpha);
      animation->tracks.push_back(t);
    }
    if (target.frame) {
      Track t{target.view, Property::Frame};
      t.fromFrame = view->geometry();
      t.toFrame = *target.frame;
      animation->tracks.push_back(t);
    }
    if (target.transform) {
      Track t{target.view, Property::Transform};
      t.fromTransform = viewTransform(view);
      t.toTransform = *target.transform;
      animation->tracks.push_back(t);
    }
  }
  animation->targets.clear();
  for (const Track& t : animation->tracks) takeOver(t, animation.get());
}

void tick();

RunLoopClock* g_tickClock = nullptr;  // the clock g_tick was scheduled on

void scheduleTick() {
  RunLoopClock& clock = RunLoopClock::current();
  // A frame pending on a clock that has since been replaced would never come.
  if (g_tick && g_tickClock == &clock) return;
  g_tickClock = &clock;
  g_tick = clock.schedule(clock.now() + kFrameInterval, [] {
    g_tick = 0;
    tick();
  });
}

void tick() {
  const double now = RunLoopClock::current().now();
  const auto running = g_animations;  // completions and new animations may change the list
  for (const auto& animation : running) {
    if (std::find(g_animations.begin(), g_animations.end(), animation) == g_animations.end())
      continue;
    if (now < animation->start) continue;
    if (!animation->started) begin(animation);
    const double t =
        animation->duration <= 0 ? 1.0 : std::clamp((now - animation->start) / animation->duration, 0.0, 1.0);
    const double f = t >= 1 ? 1.0 : ease(animation->curve, t);
    for (const Track& track : animation->tracks) track.apply(f);
    if (t >= 1) finish(animation, true);
  }
  if (!g_animations.empty()) scheduleTick();
}

}  // namespace

double viewAlpha(const QWidget* view) {
  const ViewLayer* layer = layerOf(view);
  return layer ? layer->alpha() : 1.0;
}

void setViewDrawsOwnLayer(QWidget* view) {
  view->setProperty(kDrawsOwnLayer, true);
  if (ViewLayer* layer = layerOf(view)) layer->setEnabled(false);
}

void applyViewLayer(const QWidget* view, QPainter& painter) {
  const ViewLayer* layer = layerOf(view);
  if (!layer) return;
  painter.setOpacity(painter.opacity() * layer->alpha());
  if (!layer->transform().isIdentity()) {
    const QPointF c = QRectF(view->rect()).center();
    painter.setTransform(QTransform::fromTranslate(-c.x(), -c.y()) * layer->transform() *
                             QTransform::fromTranslate(c.x(), c.y()),
                         true);
  }
}

double viewTargetAlpha(const QWidget* view) {
  const ViewLayer* layer = layerOf(view);
  return layer ? layer->targetAlpha() : 1.0;
}

void setViewAlpha(QWidget* view, double alpha) {
  alpha = std::clamp(alpha, 0.0, 1.0);
  if (alpha == 1.0 && !layerOf(view)) return;
  ViewLayer* layer = ensureLayer(view);
  layer->setAlpha(alpha);
  layer->setTargetAlpha(alpha);
  applyAlphaHitTesting(view, alpha);
}

QTransform viewTransform(const QWidget* view) {
  const ViewLayer* layer = layerOf(view);
  return layer ? layer->transform() : QTransform();
}

void setViewTransform(QWidget* view, const QTransform& transform) {
  if (transform.isIdentity() && !layerOf(view)) return;
  ensureLayer(view)->setTransform(transform);
}

void animateViews(double duration, AnimationCurve curve, std::vector<ViewTarget> targets,
                  std::function<void(bool finished)> completion, double delay) {
  auto animation = std::make_shared<Animation>();
  animation->start = RunLoopClock::current().now() + std::max(0.0, delay);
  animation->duration = std::max(0.0, duration);
  animation->curve = curve;
  animation->targets = std::move(targets);
  animation->completion = std::move(completion);
  g_animations.push_back(animation);
  if (delay <= 0) {
    begin(animation);
    if (animation->duration <= 0) {
      for (const Track& track : animation->tracks) track.apply(1.0);
      finish(animation, true);
      return;
    }
  }
  scheduleTick();
}

void stopViewAnimations(QWidget* view) {
  if (ViewLayer* layer = layerOf(view)) layer->setTargetAlpha(layer->alpha());  // stays where it is
  std::vector<std::shared_ptr<Animation>> emptied;
  for (auto& animation : g_animations) {
    auto& tracks = animation->tracks;
    const auto before = tracks.size();
    tracks.erase(std::remove_if(tracks.begin(), tracks.end(),
                                [&](const Track& t) { return t.view == view; }),
                 tracks.end());
    auto& targets = animation->targets;
    const auto targetsBefore = targets.size();
    targets.erase(std::remove_if(targets.begin(), targets.end(),
                                 [&](const ViewTarget& t) { return t.view == view; }),
                  targets.end());
    const bool touched = tracks.size() != before || targets.size() != targetsBefore;
    if (touched && tracks.empty() && targets.empty()) emptied.push_back(animation);
  }
  for (auto& animation : emptied) finish(animation, false);
}

int runningViewAnimations() { return int(g_animations.size()); }

void ViewLayer::changed() {
  if (m_owner && m_owner->property(kDrawsOwnLayer).toBool()) {
    setEnabled(false);
    m_owner->update();
    return;
  }
  // An opaque, untransformed view is drawn directly: cheaper, and QWidget::render() of a
  // parent would otherwise place a pass-through effect's drawing at twice its offset.
  setEnabled(m_alpha < 1 || !m_transform.isIdentity());
  update();
}

void ViewLayer::setAlpha(double alpha) {
  if (alpha == m_alpha) return;
  m_alpha = alpha;
  changed();
}

void ViewLayer::setTransform(const QTransform& transform) {
  if (transform == m_transform) return;
  m_transform = transform;
  updateBoundingRect();
  changed();
}

QTransform ViewLayer::aboutCentre(const QRectF& rect) const {
  const QPointF c = rect.center();
  return QTransform::fromTranslate(-c.x(), -c.y()) * m_transform *
         QTransform::fromTranslate(c.x(), c.y());
}

QRectF ViewLayer::boundingRectFor(const QRectF& rect) const {
  if (m_transform.isIdentity()) return rect;
  return aboutCentre(rect).mapRect(rect);
}

void ViewLayer::draw(QPainter* painter) {
  if (m_alpha <= 0) return;
  // As Qt's own effects do for widgets: take the picture in device pixels and draw it with the
  // world transform reset, which places it right both on screen and in QWidget::render().
  const QTransform world = painter->worldTransform();
  QPoint offset;
  const QPixmap pixmap = sourcePixmap(Qt::DeviceCoordinates, &offset, QGraphicsEffect::NoPad);
  if (pixmap.isNull()) return;
  painter->save();
  painter->setOpacity(painter->opacity() * m_alpha);
  painter->setRenderHint(QPainter::SmoothPixmapTransform);
  QTransform device;
  if (!m_transform.isIdentity()) {
    // The transform about the view's centre, carried from the view's coordinates into the
    // device's.
    device = world.inverted() * aboutCentre(sourceBoundingRect(Qt::LogicalCoordinates)) * world;
  }
  painter->setWorldTransform(device);
  painter->drawPixmap(offset, pixmap);
  painter->restore();
}

}  // namespace duo
