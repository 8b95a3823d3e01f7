#pragma once

#include <QPointer>
#include <QRect>

#include <functional>
#include <vector>

#include "animated_transitioning.h"
#include "navigation_bar.h"
#include "transition_context.h"
#include "view_controller.h"

namespace duo {

/// A stack of screens under one navigation bar.
class NavigationController : public ViewController {
  Q_OBJECT
 public:
  explicit NavigationController(ViewController* root, QObject* parent = nullptr);

  const std::vector<QPointer<ViewController>>& viewControllers() const { return m_stack; }
  ViewController* topViewController() const;
  NavigationBar* navigationBar();

  /// Pushes (taking ownership) or pops; animated with the transition the provider gives, or a
  /// plain slide.
  virtual void pushViewController(ViewController* controller, bool animated);
  void popViewController(bool animated);

  enum class Operation { Push, Pop };
  using TransitionProvider =
      std::function<AnimatedTransitioning*(Operation, ViewController* from, ViewController* to)>;
  /// The provider's object is owned by the container for the transition's length.
  void setTransitionProvider(TransitionProvider provider) { m_provider = std::move(provider); }
  bool isTransitioning() const { return m_transitioning; }

 protected:
  void loadView() override;
  void viewDidLoad() override;
  // A container's appearance is its top screen's appearance.
  void viewWillAppear(bool animated) override;
  void viewDidAppear(bool animated) override;
  void viewWillDisappear(bool animated) override;
  void viewDidDisappear(bool animated) override;

  /// Lays the bar and the top screen out over the container's present size.
  void layoutContent();

 private:
  friend class ViewController;
  QRect contentFrame() const;
  void updateBar();
  void transition(Operation op, ViewController* from, ViewController* to, bool animated);

  std::vector<QPointer<ViewController>> m_stack;
  QPointer<NavigationBar> m_bar;
  QPointer<QWidget> m_content;
  TransitionProvider m_provider;
  bool m_transitioning = false;
};

}  // namespace duo
