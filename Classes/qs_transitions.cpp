#include "qs_transitions.h"

#include <QPointer>

#include "view_animation.h"

namespace duo {

namespace {

/// Ends a transition once its slide is over: the view that went away leaves the container and
/// the context hears that the transition is complete. The context outlives the animation (the
/// container keeps it until completeTransition()).
std::function<void(bool)> finishBy(TransitionContext& context, QWidget* goneView) {
  return [context = &context, gone = QPointer<QWidget>(goneView)](bool) {
    if (gone) removeFromSuperview(gone);
    context->completeTransition(true);
  };
}

/// With only one of the two screens there is nothing to slide against: put the incoming one in
/// place and end at once.
void placeWithoutSliding(TransitionContext& context, ViewController* to) {
  if (to) {
    addSubview(context.containerView(), to->view());
    to->view()->setGeometry(context.finalFrameForViewController(to));
  }
  context.completeTransition(true);
}

}  // namespace

double QSViewControllerPushTransition::transitionDuration(TransitionContext&) const {
  return kDuration;
}

void QSViewControllerPushTransition::animateTransition(TransitionContext& context) {
  ViewController* from = context.viewControllerForKey(TransitionContext::Key::From);
  ViewController* to = context.viewControllerForKey(TransitionContext::Key::To);
  if (!from || !to) return placeWithoutSliding(context, to);
  QWidget* toView = to->view();
  QWidget* fromView = from->view();

  const QRect toFinal = context.finalFrameForViewController(to);
  addSubview(context.containerView(), toView);
  toView->setGeometry(toFinal.translated(toFinal.width(), 0));

  const QRect fromAway =
      context.initialFrameForViewController(from).translated(-fromView->width(), 0);
  animateViews(transitionDuration(context), AnimationCurve::EaseInOut,
               {{toView, std::nullopt, toFinal, std::nullopt},
                {fromView, std::nullopt, fromAway, std::nullopt}},
               finishBy(context, fromView));
}

double QSViewControllerPopTransition::transitionDuration(TransitionContext&) const {
  return kDuration;
}

void QSViewControllerPopTransition::animateTransition(TransitionContext& context) {
  ViewController* leaving = context.viewControllerForKey(TransitionContext::Key::From);
  ViewController* returning = context.viewControllerForKey(TransitionContext::Key::To);
  if (!leaving || !returning) return placeWithoutSliding(context, returning);
  QWidget* leavingView = leaving->view();
  QWidget* returningView = returning->view();

  const QRect leavingFrame = leavingView->geometry();
  addSubview(context.containerView(), returningView);
  // The returning view starts one leaving-width to the left of the place it returns to. Its own
  // geometry still holds wherever the push left it (a full width off to the left), and starting
  // from there would keep it out of sight for half of the slide.
  const QRect home = context.finalFrameForViewController(returning);
  returningView->setGeometry(home.translated(-leavingView->width(), 0));

  animateViews(
      transitionDuration(context), AnimationCurve::EaseInOut,
      {{returningView, std::nullopt, leavingFrame, std::nullopt},
       {leavingView, std::nullopt, leavingFrame.translated(leavingView->width(), 0), std::nullopt}},
      finishBy(context, leavingView));
}

}  // namespace duo
