#include "navigation_controller.h"

#include "run_loop.h"
#include "view_animation.h"

namespace duo {

NavigationController::NavigationController(ViewController* root, QObject* parent)
    : ViewController(parent) {
  if (root) {
    root->setParent(this);
    m_stack.emplace_back(root);
  }
}

ViewController* NavigationController::topViewController() const {
  return m_stack.empty() ? nullptr : m_stack.back().data();
}

NavigationBar* NavigationController::navigationBar() {
  view();
  return m_bar;
}

void NavigationController::loadView() {
  ViewController::loadView();
  m_content = new QWidget(view());
  m_bar = new NavigationBar(view());
}

void NavigationController::viewDidLoad() {
  if (ViewController* top = topViewController()) {
    QWidget* child = top->view();
    child->setParent(m_content);
    child->show();
  }
  layoutContent();
  updateBar();
}

void NavigationController::viewWillAppear(bool animated) {
  if (ViewController* top = topViewController()) top->viewWillAppear(animated);
}
void NavigationController::viewDidAppear(bool animated) {
  if (ViewController* top = topViewController()) top->viewDidAppear(animated);
}
void NavigationController::viewWillDisappear(bool animated) {
  if (ViewController* top = topViewController()) top->viewWillDisappear(animated);
}
void NavigationController::viewDidDisappear(bool animated) {
  if (ViewController* top = topViewController()) top->viewDidDisappear(animated);
}

QRect NavigationController::contentFrame() const {
  // Full-screen content runs under the translucent bar; a sheet's content starts below it.
  return m_content ? m_content->rect() : QRect();
}

void NavigationController::layoutContent() {
  QWidget* root = view();
  m_bar->setGeometry(0, 0, root->width(), m_bar->barHeight());
  const int top = m_bar->barHeight() == NavigationBar::kHeight ? 0 : m_bar->barHeight();
  m_content->setGeometry(0, top, root->width(), root->height() - top);
  for (auto& controller : m_stack)
    if (controller && controller->isViewLoaded() && controller->view()->parentWidget() == m_content)
      controller->view()->setGeometry(contentFrame());
  m_bar->raise();
}

void NavigationController::updateBar() {
  if (!m_bar) return;
  ViewController* top = topViewController();
  m_bar->setTitle(top ? top->title() : QString());
  m_bar->setItems(top ? top->navigationItem().leftBarButtonItem.data() : nullptr,
                  top ? top->navigationItem().rightBarButtonItem.data() : nullptr);
}

void NavigationController::pushViewController(ViewController* controller, bool animated) {
  if (!controller || m_transitioning) return;
  view();
  ViewController* from = topViewController();
  controller->setParent(this);
  m_stack.emplace_back(controller);
  transition(Operation::Push, from, controller, animated);
}

void NavigationController::popViewController(bool animated) {
  if (m_stack.size() < 2 || m_transitioning) return;
  ViewController* from = m_stack.back();
  ViewController* to = m_stack[m_stack.size() - 2];
  transition(Operation::Pop, from, to, animated);
}

namespace {

class Context : public TransitionContext {
 public:
  Context(QWidget* container, ViewController* from, ViewController* to, QRect frame,
          std::function<void(bool)> done)
      : m_container(container), m_from(from), m_to(to), m_frame(frame), m_done(std::move(done)) {}
  QWidget* containerView() const override { return m_container; }
  ViewController* viewControllerForKey(Key key) const override {
    return key == Key::From ? m_from.data() : m_to.data();
  }
  QRect initialFrameForViewController(ViewController* controller) const override {
    return controller == m_from ? m_frame : QRect();
  }
  QRect finalFrameForViewController(ViewController*) const override { return m_frame; }
  void setDone(std::function<void(bool)> done) { m_done = std::move(done); }
  void completeTransition(bool didComplete) override {
    if (auto done = std::exchange(m_done, {})) done(didComplete);
  }

 private:
  QPointer<QWidget> m_container;
  QPointer<ViewController> m_from, m_to;
  QRect m_frame;
  std::function<void(bool)> m_done;
};

/// The container's own slide, used when no custom transition is given.
class PlainSlide : public AnimatedTransitioning {
 public:
  explicit PlainSlide(bool push) : m_push(push) {}
  double transitionDuration(TransitionContext&) const override { return 0.35; }
  void animateTransition(TransitionContext& context) override {
    ViewController* from = context.viewControllerForKey(TransitionContext::Key::From);
    ViewController* to = context.viewControllerForKey(TransitionContext::Key::To);
    const QRect frame = context.finalFrameForViewController(to);
    const int w = frame.width();
    addSubview(context.containerView(), to->view());
    to->view()->setGeometry(frame.translated(m_push ? w : -w / 3, 0));
    if (!m_push) from->view()->raise();
    TransitionContext* ctx = &context;
    animateViews(transitionDuration(context), AnimationCurve::EaseInOut,
                 {{to->view(), std::nullopt, frame, std::nullopt},
                  {from->view(), std::nullopt, frame.translated(m_push ? -w / 3 : w, 0), std::nullopt}},
                 [ctx, from = QPointer<ViewController>(from)](bool finished) {
                   if (from) removeFromSuperview(from->view());
                   ctx->completeTransition(finished);
                 });
  }

 private:
  bool m_push;
};

}  // namespace

void NavigationController::transition(Operation op, ViewController* from, ViewController* to,
                                      bool animated) {
  QWidget* toView = to->view();
  auto finish = [self = QPointer<NavigationController>(this), op,
                 from = QPointer<ViewController>(from), to = QPointer<ViewController>(to),
                 animated](bool) {
    if (!self) return;  // the container went while its views slid
    NavigationController* const nav = self;
    nav->m_transitioning = false;
    if (op == Operation::Pop && from) {
      nav->m_stack.pop_back();
      from->viewDidDisappear(animated);
      from->deleteLater();
    } else if (from) {
      from->viewDidDisappear(animated);
    }
    if (to) {
      to->view()->setGeometry(nav->contentFrame());
      to->viewDidAppear(animated);
    }
    nav->updateBar();
  };
  if (from) from->viewWillDisappear(animated);
  to->viewWillAppear(animated);
  if (!animated || !from) {
    if (from) removeFromSuperview(from->view());
    addSubview(m_content, toView);
    toView->setGeometry(contentFrame());
    m_bar->raise();
    finish(true);
    return;
  }
  m_transitioning = true;
  std::shared_ptr<AnimatedTransitioning> animator(m_provider ? m_provider(op, from, to) : nullptr);
  if (!animator) animator = std::make_shared<PlainSlide>(op == Operation::Push);
  auto context = std::make_shared<Context>(m_content, from, to, contentFrame(), nullptr);
  // The context and the animator live until the transition reports completion.
  context->setDone([finish, animator, context](bool done) {
    finish(done);
    performAfterDelay(0, [animator, context] {});
  });
  updateBar();
  animator->animateTransition(*context);
  m_bar->raise();
}

}  // namespace duo
