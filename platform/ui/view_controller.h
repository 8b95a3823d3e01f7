#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>

#include "bar_button_item.h"
#include "navigation_bar.h"
#include "system_button.h"
#include "toolbar.h"
#include "view_hierarchy.h"

namespace duo {

class NavigationController;

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

  /// The size the screen would like in a container that can grow with it; empty (invalid)
  /// until set. preferredContentSizeChanged() tells the container when it changes.
  QSize preferredContentSize() const { return m_preferredContentSize; }
  void setPreferredContentSize(const QSize& size);

 signals:
  void preferredContentSizeChanged(const QSize& size);

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
  QSize m_preferredContentSize;
};

}  // namespace duo
