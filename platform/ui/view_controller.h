#pragma once

#include <QObject>
#include <QPointer>
#include <QPushButton>
#include <QRect>
#include <QWidget>

#include <functional>
#include <vector>

namespace duo {

/// Puts `child` on top of `parent`'s subviews and shows it.
void addSubview(QWidget* parent, QWidget* child);
/// Puts `view` (a child of `sibling`'s parent) directly above `sibling` in the stacking order.
void insertSubviewAbove(QWidget* view, QWidget* sibling);
/// Takes `view` out of its parent (hidden, parentless); its owner keeps it.
void removeFromSuperview(QWidget* view);

class NavigationController;
class ViewController;

/// A system-style button: its title in the tint colour, no bezel, dimmed while pressed or
/// disabled.
class SystemButton : public QPushButton {
  Q_OBJECT
 public:
  explicit SystemButton(const QString& title = {}, QWidget* parent = nullptr);
  void setTitleColor(const QColor& colour);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QColor m_colour;
};

/// A button of a navigation bar or toolbar: a system item, a title or an image, and an action.
class BarButtonItem : public QObject {
  Q_OBJECT
 public:
  enum class SystemItem { None, Done, Cancel, Action, Camera, FlexibleSpace };
  BarButtonItem(SystemItem item, std::function<void()> action, QObject* parent = nullptr);
  BarButtonItem(const QString& title, std::function<void()> action, QObject* parent = nullptr);
  BarButtonItem(const QImage& image, std::function<void()> action, QObject* parent = nullptr);

  SystemItem systemItem() const { return m_item; }
  QString title() const { return m_title; }
  const QImage& image() const { return m_image; }
  bool isEnabled() const { return m_enabled; }
  void setEnabled(bool enabled);
  /// The button that shows the item, once a bar has placed it (nullptr before).
  QAbstractButton* button() const { return m_button; }
  /// Presses the item, as a click on its button does.
  void trigger();

 signals:
  void changed();

 private:
  friend class NavigationBar;
  friend class Toolbar;
  QAbstractButton* makeButton(QWidget* parent);
  SystemItem m_item = SystemItem::None;
  QString m_title;
  QImage m_image;
  bool m_enabled = true;
  std::function<void()> m_action;
  QPointer<QAbstractButton> m_button;
};

/// What a screen shows in the navigation bar above it.
struct NavigationItem {
  QPointer<BarButtonItem> leftBarButtonItem;
  QPointer<BarButtonItem> rightBarButtonItem;
};

/// The dark navigation bar: 44 points of title and buttons below a 20-point status area.
class NavigationBar : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kHeight = 64;
  static constexpr int kStatusHeight = 20;
  explicit NavigationBar(QWidget* parent = nullptr);
  void setTitle(const QString& title);
  QString title() const { return m_title; }
  void setItems(BarButtonItem* left, BarButtonItem* right);
  /// With a status area (full screen) or without one (a sheet): 64 or 44 points high.
  void setShowsStatusArea(bool shows);
  int barHeight() const { return m_statusArea ? kHeight : kHeight - kStatusHeight; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void layoutItems();
  QString m_title;
  QPointer<BarButtonItem> m_left, m_right;
  QPointer<QAbstractButton> m_leftButton, m_rightButton;
  bool m_statusArea = true;
};

/// A dark toolbar along the bottom edge; items are spread with flexible spaces.
class Toolbar : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kHeight = 44;
  explicit Toolbar(QWidget* parent = nullptr);
  /// Items and plain widgets (a segmented control) in order; nullptr entries are not allowed.
  void setItems(std::vector<QObject*> items);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::vector<QPointer<QObject>> m_items;
  std::vector<QPointer<QWidget>> m_widgets;
};

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

/// A custom push or pop animation for a navigation container.
class AnimatedTransitioning {
 public:
  virtual ~AnimatedTransitioning() = default;
  virtual double transitionDuration(TransitionContext& context) const = 0;
  virtual void animateTransition(TransitionContext& context) = 0;
};

/// A screen: it makes its view on first use and can present another screen modally over itself.
/// A presented screen becomes the presenter's child object and is deleted (later) after it has
/// been dismissed, so callers keep a QPointer to it.
class ViewController : public QObject {
  Q_OBJECT
 public:
  enum class ModalPresentationStyle { FullScreen, FormSheet };

  explicit ViewController(QObject* parent = nullptr);
  ~ViewController() override;

  QWidget* view();
  bool isViewLoaded() const { return bool(m_view); }

  QString title() const { return m_title; }
  void setTitle(const QString& title);
  NavigationItem& navigationItem() { return m_navigationItem; }
  /// Tells the bar above this screen that its items changed.
  void navigationItemChanged();
  NavigationController* navigationController() const;

  ModalPresentationStyle modalPresentationStyle() const { return m_presentationStyle; }
  void setModalPresentationStyle(ModalPresentationStyle style) { m_presentationStyle = style; }

  /// Shows `controller` over this screen (sliding up when animated) and calls `completion` when it
  /// is in place. Refused (false, and a parentless `controller` is deleted) while something is
  /// presented already or this screen is not in a window.
  bool presentViewController(ViewController* controller, bool animated,
                             std::function<void()> completion = {});
  /// Dismisses what this screen presents, or this screen when it is the presented one.
  void dismissViewController(bool animated, std::function<void()> completion = {});
  ViewController* presentedViewController() const { return m_presented; }
  ViewController* presentingViewController() const { return m_presenting; }
  bool isBeingDismissed() const { return m_beingDismissed; }

  /// The whole screen (window content) this screen's view lives in; nullptr when not shown.
  QWidget* windowView() const;

  virtual bool prefersStatusBarHidden() const { return false; }

 protected:
  friend class NavigationController;
  /// Makes the view; the default is an empty dark view of the screen's size.
  virtual void loadView();
  void setView(QWidget* view);
  virtual void viewDidLoad() {}
  virtual void viewWillAppear(bool /*animated*/) {}
  virtual void viewDidAppear(bool /*animated*/) {}
  virtual void viewWillDisappear(bool /*animated*/) {}
  virtual void viewDidDisappear(bool /*animated*/) {}

 private:
  friend class NavigationController;
  friend class AppWindow;
  QPointer<QWidget> m_view;
  QString m_title;
  NavigationItem m_navigationItem;
  ModalPresentationStyle m_presentationStyle = ModalPresentationStyle::FullScreen;
  QPointer<ViewController> m_presented;
  QPointer<ViewController> m_presenting;
  QPointer<QWidget> m_presentationHost;  // the full-screen layer a presented screen sits in
  bool m_beingDismissed = false;
};

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
  void pushViewController(ViewController* controller, bool animated);
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

 private:
  friend class ViewController;
  QRect contentFrame() const;
  void layoutContent();
  void updateBar();
  void transition(Operation op, ViewController* from, ViewController* to, bool animated);

  std::vector<QPointer<ViewController>> m_stack;
  QPointer<NavigationBar> m_bar;
  QPointer<QWidget> m_content;
  TransitionProvider m_provider;
  bool m_transitioning = false;
};

/// The application window: a phone-shaped top-level widget of the main screen's size in points,
/// holding the root screen. Overlays (the busy overlay, the splash) are added to windowView().
class AppWindow : public QWidget {
  Q_OBJECT
 public:
  explicit AppWindow(QWidget* parent = nullptr);
  ViewController* rootViewController() const { return m_root; }
  void setRootViewController(ViewController* controller);
  /// Makes the window visible and active.
  void makeKeyAndVisible();

  /// The window that contains `widget`, or nullptr.
  static AppWindow* windowOf(const QWidget* widget);
  /// The window last made key and visible (alerts and sheets appear over it), or nullptr.
  static AppWindow* keyWindow();

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  QPointer<ViewController> m_root;
  static QPointer<AppWindow> s_key;
};

}  // namespace duo
