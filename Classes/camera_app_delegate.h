#pragma once

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QString>

#include "app_window.h"
#include "image_view.h"

namespace duo {

class AppWindow;
class SettingsStore;
class ViewController;

/// Starts the application and owns its window and root screen for the whole run. Also offers
/// the screen-wide busy overlay (a dimmed window, a spinner and a one-line message) that long
/// exports show while they prepare an image.
class CameraAppDelegate : public QObject {
  Q_OBJECT

 public:
  static constexpr double kSplashSeconds = 0.75;
  static constexpr double kSplashFadeSeconds = 0.4;
  static constexpr double kDimSeconds = 0.3;
  static constexpr double kDimOpacity = 0.8;

  /// `store` receives the defaults (not owned); `now` is the start time for the first-start date.
  explicit CameraAppDelegate(SettingsStore& store, QObject* parent = nullptr);
  ~CameraAppDelegate() override;

  /// The running application's delegate, or nullptr before start-up.
  static CameraAppDelegate* shared();

  /// Registers the defaults, shows the window with the splash, and fades to `root` (owned from
  /// now on) once the splash has been up for kSplashSeconds. Returns true.
  bool applicationDidFinishLaunching(ViewController* root, const QDateTime& now = QDateTime::currentDateTimeUtc());
  void applicationDidBecomeActive();
  void applicationWillResignActive() {}
  void applicationDidEnterBackground() {}
  void applicationWillEnterForeground() {}
  void applicationWillTerminate() {}

  void registerSettings(const QDateTime& now);

  /// Dims the window and shows the spinner and `message`; each call is paired with one
  /// unDimScreen(). A second dimScreen() while one is shown replaces the message only.
  void dimScreen(const QString& message);
  /// Takes the spinner and the message away at once and fades the dimming out.
  void unDimScreen();

  AppWindow* window() const { return m_window; }
  ViewController* viewController() const { return m_viewController; }
  ImageView* splashScreen() const { return m_splashScreen; }
  QWidget* dimView() const { return m_dimView; }
  ActivityIndicatorView* activityIndicatorView() const { return m_activityIndicatorView; }
  QWidget* messageLabel() const { return m_messageLabel; }

  /// "Default-Portrait.png" on a tablet; on a phone "Default-568h.png" when the screen is taller
  /// than 480 points, else "Default.png".
  static QString splashImageName();

 private:
  void startSplashFade();
  void splashAnimationStopped(bool finished);
  void unDimScreenAnimationComplete();

  SettingsStore& m_store;
  AppWindow* m_window = nullptr;  // owned; deleted with the delegate
  QPointer<ViewController> m_viewController;
  QPointer<ImageView> m_splashScreen;
  QPointer<QWidget> m_dimView;
  QPointer<ActivityIndicatorView> m_activityIndicatorView;
  QPointer<QWidget> m_messageLabel;
};

}  // namespace duo
