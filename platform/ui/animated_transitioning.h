#pragma once

#include "transition_context.h"

namespace duo {

/// A custom push or pop animation for a navigation container.
class AnimatedTransitioning {
 public:
  virtual ~AnimatedTransitioning() = default;
  virtual double transitionDuration(TransitionContext& context) const = 0;
  virtual void animateTransition(TransitionContext& context) = 0;
};

}  // namespace duo
