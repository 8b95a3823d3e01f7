#pragma once

#include <QPointer>
#include <QWidget>

#include "view_controller.h"

namespace duo {

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
