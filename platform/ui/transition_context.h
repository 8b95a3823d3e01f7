#pragma once

#include <QRect>
#include <QWidget>

namespace duo {

class ViewController;

/// The context a custom screen transition animates in: the container, the two screens and their
/// frames. The transition calls completeTransition() exactly once when its animation has ended.
class TransitionContext {
 public:
  enum class Key { From, To };
  virtual ~TransitionContext() = default;
  virtual QWidget* containerView() const = 0;
  virtual ViewController* viewControllerForKey(Key key) const = 0;
  virtual QRect initialFrameForViewController(ViewController* controller) const = 0;
  virtual QRect finalFrameForViewController(ViewController* controller) const = 0;
  virtual void completeTransition(bool didComplete) = 0;
};

}  // namespace duo
