#pragma once

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QVariant>

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

  /// A sign-in callback URL handed over by the desktop (from `duoscope URL`, or a loopback
  /// redirect): offered to the Dropbox session first, then routed by its scheme to the Facebook
  /// or the Flickr client. True when one of them took it.
  bool applicationOpenURL(const QUrl& url, const QString& sourceApplication = {},
                          const QVariant& annotation = {});
  /// The routing of a URL the Dropbox session did not take: "fb…" to Facebook, "flickr…" to
  /// Flickr; any other scheme is not handled.
  bool processIncomingURL(const QUrl& url);

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
  void resumeDropboxExport();
  void stopWaitingForDropboxLink();

  SettingsStore& m_store;
  AppWindow* m_window = nullptr;  // owned; deleted with the delegate
  QPointer<ViewController> m_viewController;
  QPointer<ImageView> m_splashScreen;
  QPointer<QWidget> m_dimView;
  QPointer<ActivityIndicatorView> m_activityIndicatorView;
  QPointer<QWidget> m_messageLabel;
  // A Dropbox callback was taken and its token is on its way: the export resumes once linked.
  QMetaObject::Connection m_dropboxLinked;
  QMetaObject::Connection m_dropboxLinkFailed;
};

}  // namespace duo
