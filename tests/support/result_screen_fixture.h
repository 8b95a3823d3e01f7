#pragma once

#include <QApplication>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>

#include <memory>

#include "app_window.h"
#include "blend_view_controller.h"
#include "plain_root_view_controller.h"
#include "qs_alert_view.h"
#include "run_loop.h"
#include "segmented_control.h"
#include "settings_keys.h"
#include "settings_store.h"
#include "stereo/pair_loader.h"

namespace duo::test {

/// A result screen on a pair of files, presented over a plain root screen in a shown window,
/// driven by a manual clock; renders run on their worker and are waited for in real time.
class ResultScreenFixture {
 public:
  ManualClock clock;
  QTemporaryDir dir;
  std::unique_ptr<SettingsStore> store;
  std::unique_ptr<AppWindow> window;
  QPointer<PlainRootViewController> root;
  QPointer<BlendViewController> screen;

  ResultScreenFixture() {
    RunLoopClock::install(&clock);
    store = std::make_unique<SettingsStore>(dir.filePath(QStringLiteral("settings.json")));
    registerSettings(*store, QDateTime::currentDateTimeUtc());
  }
  ~ResultScreenFixture() {
    close();
    RunLoopClock::install(nullptr);
  }

  /// The repository's sample pair.
  static QString samplePairDir() {
    return QFileInfo(QStringLiteral(__FILE__)).absolutePath() + QStringLiteral("/../../resources/sample");
  }

  bool open(const QString& pairDir = samplePairDir(), float imageSize = 50) {
    auto pair = loadStereoPairFiles((pairDir + "/left.jpg").toStdString(),
                                    (pairDir + "/right.jpg").toStdString(), imageSize);
    if (!pair.ok()) return false;
    window = std::make_unique<AppWindow>();
    root = new PlainRootViewController(window.get());
    window->setRootViewController(root);
    window->makeKeyAndVisible();
    screen = new BlendViewController(*store, dir.filePath(QStringLiteral("caches")));
    QDir().mkpath(dir.filePath(QStringLiteral("caches")));
    screen->setPair(std::move(*pair));
    screen->setPhotoMethod(1);
    root->presentViewController(screen, false);
    clock.advance(0);
    return settle();
  }
  void close() {
    for (QSAlertView* alert = shownAlert(); alert; alert = shownAlert())
      alert->dismissWithClickedButtonIndex(0, false);
    clock.advance(5);
    window.reset();
  }

  /// Waits until every render the screen started has been shown or dropped; false after 20 s.
  bool settle() {
    bool timedOut = false;
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, [&timedOut] { timedOut = true; });
    limit.start(20000);
    while (screen && screen->isRendering() && !timedOut)
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return !timedOut;
  }
  /// A press on a view-mode segment, then its deferred render.
  bool select(int mode) {
    screen->segmentedControl()->setSelectedSegmentIndex(mode);
    screen->viewModeClick();
    clock.advance(0);
    return settle();
  }

  QSAlertView* shownAlert() const {
    for (QWidget* widget : QApplication::allWidgets())
      if (auto* alert = qobject_cast<QSAlertView*>(widget); alert && alert->isShowing()) return alert;
    return nullptr;
  }
  QSActionSheet* shownSheet() const {
    for (QWidget* widget : QApplication::allWidgets())
      if (auto* sheet = qobject_cast<QSActionSheet*>(widget); sheet && sheet->isShowing()) return sheet;
    return nullptr;
  }
};

}  // namespace duo::test
