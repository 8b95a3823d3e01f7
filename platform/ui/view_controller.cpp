#include "view_controller.h"

#include <QPainter>

#include "app_window.h"
#include "navigation_controller.h"
#include "run_loop.h"
#include "screen.h"
#include "theme.h"
#include "view_animation.h"

namespace duo {

ViewController::ViewController(QObject* parent) : QObject(parent) {}

ViewController::~ViewController() {
  // A screen that goes without being dismissed takes its presentation layer along, so no
  // empty full-window layer is left catching the clicks; what it presented goes with it.
  if (m_presented) delete m_presented.data();
  if (m_presenting && m_presenting->m_presented == this) m_presenting->m_presented = nullptr;
  delete m_presentationHost.data();
  delete m_view.data();
}

QWidget* ViewController::view() {
  if (!m_view) {
    loadView();
    if (!m_view) ViewController::loadView();
    viewDidLoad();
  }
  return m_view;
}

void ViewController::loadView() {
  auto* view = new QWidget;
  view->resize(MainScreen::bounds());
  view->setAutoFillBackground(true);
  QPalette palette = view->palette();
  palette.setColor(QPalette::Window, theme::background());
  view->setPalette(palette);
  setView(view);
}

void ViewController::setView(QWidget* view) { m_view = view; }

void ViewController::setPreferredContentSize(const QSize& size) {
  if (size == m_preferredContentSize) return;
  m_preferredContentSize = size;
  emit preferredContentSizeChanged(size);
}

void ViewController::setTitle(const QString& title) {
  m_title = title;
  navigationItemChanged();
}

void ViewController::navigationItemChanged() {
  if (NavigationController* navigation = navigationController()) navigation->updateBar();
}

NavigationController* ViewController::navigationController() const {
  auto* navigation = qobject_cast<NavigationController*>(parent());
  return navigation && navigation != this ? navigation : nullptr;
}

QWidget* ViewController::windowView() const {
  return m_view ? AppWindow::windowOf(m_view) : nullptr;
}

namespace {

/// The frame a presented screen takes in a window of `bounds`.
QRect presentedFrame(ViewController::ModalPresentationStyle style, const QRect& bounds) {
  if (style == ViewController::ModalPresentationStyle::FormSheet && MainScreen::isTablet()) {
    const QSize sheet(std::min(540, bounds.width()), std::min(620, bounds.height()));
    return QRect(QPoint((bounds.width() - sheet.width()) / 2, (bounds.height() - sheet.height()) / 2),
                 sheet);
  }
  return bounds;
}

constexpr double kPresentDuration = 0.35;

}  // namespace

bool ViewController::presentViewController(ViewController* controller, bool animated,
                                           std::function<void()> completion) {
  QWidget* window = windowView();
  if (!controller || m_presented || !window) {
    // Refused: the caller handed the screen over, so it goes rather than leaking.
    if (controller && controller != m_presented && !controller->parent()) controller->deleteLater();
    return false;
  }
  controller->setParent(this);
  m_presented = controller;
  controller->m_presenting = this;

  // A full-screen layer holds the presented screen; for a sheet it also dims what lies below.
  auto* host = new QWidget(window);
  host->setGeometry(window->rect());
  const QRect frame = presentedFrame(controller->m_presentationStyle, window->rect());
  const bool sheet = frame != window->rect();
  if (sheet) {
    host->setAutoFillBackground(true);
    QPalette palette = host->palette();
    palette.setColor(QPalette::Window, QColor(0, 0, 0, 102));
    host->setPalette(palette);
    if (auto* navigation = qobject_cast<NavigationController*>(controller))
      navigation->navigationBar()->setShowsStatusArea(false);
  }
  controller->m_presentationHost = host;
  QWidget* view = controller->view();
  view->setParent(host);
  view->setGeometry(frame);
  if (auto* navigation = qobject_cast<NavigationController*>(controller)) navigation->layoutContent();
  host->show();
  view->show();
  host->raise();

  controller->viewWillAppear(animated);
  auto done = [controller = QPointer<ViewController>(controller), completion, animated](bool) {
    if (controller) controller->viewDidAppear(animated);
    if (completion) completion();
  };
  if (!animated) {
    done(true);
    return true;
  }
  view->move(frame.x(), window->height());
  if (sheet) setViewAlpha(host, 0);
  std::vector<ViewTarget> targets{{view, std::nullopt, frame, std::nullopt}};
  if (sheet) targets.push_back({host, 1.0, std::nullopt, std::nullopt});
  animateViews(kPresentDuration, AnimationCurve::EaseOut, targets, done);
  return true;
}

void ViewController::dismissViewController(bool animated, std::function<void()> completion) {
  ViewController* target = m_presented ? m_presented.data() : (m_presenting ? this : nullptr);
  if (!target || target->m_beingDismissed) return;
  ViewController* presenter = target->m_presenting;
  if (target->m_presented) target->dismissViewController(false);
  target->m_beingDismissed = true;
  target->viewWillDisappear(animated);

  QWidget* view = target->m_view;
  QWidget* host = target->m_presentationHost;
  // The screen below shows again once a full-screen screen over it goes; a sheet never hid it.
  const bool coveredPresenter = host && !host->autoFillBackground();
  if (coveredPresenter && presenter) presenter->viewWillAppear(animated);
  std::function<void(bool)> done = [target = QPointer<ViewController>(target),
                                    presenter = QPointer<ViewController>(presenter), completion,
                                    animated, coveredPresenter](bool) {
    if (target) {
      removeFromSuperview(target->m_view);
      delete target->m_presentationHost.data();
      target->viewDidDisappear(animated);
      target->m_presenting = nullptr;
      target->deleteLater();
    }
    if (presenter) {
      presenter->m_presented = nullptr;
      if (coveredPresenter) presenter->viewDidAppear(animated);
    }
    if (completion) completion();
  };
  if (!animated || !view || !host) {
    done(true);
    return;
  }
  QRect away = view->geometry();
  away.moveTop(host->height());
  std::vector<ViewTarget> targets{{view, std::nullopt, away, std::nullopt}};
  if (host->autoFillBackground()) targets.push_back({host, 0.0, std::nullopt, std::nullopt});
  animateViews(kPresentDuration, AnimationCurve::EaseIn, targets, done);
}

}  // namespace duo
