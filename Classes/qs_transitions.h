#pragma once

#include "navigation_controller.h"
#include "view_controller.h"

namespace duo {

/// The slide of an upload screen pushing a picker: the incoming screen comes in from the right
/// while the outgoing one leaves to the left, side by side, over 0.3 s.
class QSViewControllerPushTransition : public AnimatedTransitioning {
 public:
  static constexpr double kDuration = 0.3;
  double transitionDuration(TransitionContext& context) const override;
  void animateTransition(TransitionContext& context) override;
};

/// The slide back: the screen returned to comes in from the left while the one being left goes
/// out to the right, side by side, over 0.5 s.
class QSViewControllerPopTransition : public AnimatedTransitioning {
 public:
  static constexpr double kDuration = 0.5;
  double transitionDuration(TransitionContext& context) const override;
  void animateTransition(TransitionContext& context) override;
};

}  // namespace duo
