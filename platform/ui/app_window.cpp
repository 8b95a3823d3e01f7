#include "app_window.h"

#include "screen.h"

namespace duo {

AppWindow::AppWindow(QWidget* parent) : QWidget(parent) {
  setFixedSize(MainScreen::bounds());
  setAutoFillBackground(true);
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, Qt::black);
  setPalette(palette);
  setWindowTitle(QStringLiteral("Duoscope"));
}

void AppWindow::setRootViewController(ViewController* controller) {
  if (m_root && m_root != controller) removeFromSuperview(m_root->view());
  m_root = controller;
  if (!controller) return;
  QWidget* view = controller->view();
  view->setParent(this);
  view->setGeometry(rect());
  view->lower();
  view->show();
  if (isVisible()) {
    controller->viewWillAppear(false);
    controller->viewDidAppear(false);
  }
}

QPointer<AppWindow> AppWindow::s_key;

AppWindow* AppWindow::keyWindow() { return s_key; }

void AppWindow::makeKeyAndVisible() {
  s_key = this;
  const bool appearing = !isVisible();
  show();
  // The root screen appears with the window, as any screen does when it comes into view.
  if (appearing && m_root) {
    m_root->viewWillAppear(false);
    m_root->viewDidAppear(false);
  }
  activateWindow();
}

AppWindow* AppWindow::windowOf(const QWidget* widget) {
  for (QWidget* w = const_cast<QWidget*>(widget); w; w = w->parentWidget())
    if (auto* window = qobject_cast<AppWindow*>(w)) return window;
  return nullptr;
}

void AppWindow::resizeEvent(QResizeEvent*) {
  if (m_root && m_root->isViewLoaded()) m_root->view()->setGeometry(rect());
}

}  // namespace duo
