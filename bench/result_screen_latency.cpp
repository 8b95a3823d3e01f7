// How the result screen keeps the window answering while a 4000 × 3000 pair is decoded and
// rendered at full size: an event-loop latency probe (a 1 ms timer whose late firings are the
// main thread's stalls), the time from a mode click to the new title being drawn, and the peak
// memory of the whole process.
//
//   build-bench/bench/result_screen_latency [--size WxH]
#include <QApplication>
#include <QElapsedTimer>
#include <QFutureWatcher>
#include <QTemporaryDir>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <functional>

#include "blend_view_controller.h"
#include "camera_image.h"
#include "io/file_io.h"
#include "plain_root_view_controller.h"
#include "screen.h"
#include "settings_keys.h"
#include "settings_store.h"
#include "stereo/pair_loader.h"
#include "app_window.h"
#include "bench_support.h"
#include "view_controller.h"

using namespace duo;
using duo::bench::spinUntil;

namespace {

/// The longest gap between two firings of a 1 ms timer, less the 1 ms: how long the main thread
/// was kept from its events.
class StallProbe : public QObject {
 public:
  StallProbe() {
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(1);
    connect(&m_timer, &QTimer::timeout, this, [this] {
      const double now = double(m_clock.nsecsElapsed()) / 1e6;
      m_worst = std::max(m_worst, now - m_last - 1.0);
      m_last = now;
    });
    m_clock.start();
    m_last = 0;
    m_timer.start();
  }
  double takeWorst() {
    const double worst = m_worst;
    m_worst = 0;
    return worst;
  }

 private:
  QTimer m_timer;
  QElapsedTimer m_clock;
  double m_last = 0;
  double m_worst = 0;
};

void spinFor(int ms) {
  QElapsedTimer t;
  t.start();
  spinUntil([&] { return t.elapsed() >= ms; });
}

/// Notes when a widget has been painted after a mark.
class PaintWatch : public QObject {
 public:
  double paintedAt = -1;
  QElapsedTimer* clock = nullptr;
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint && paintedAt < 0) paintedAt = double(clock->nsecsElapsed()) / 1e6;
    return false;
  }
};

double peakMegabytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_maxrss) / 1024.0;
}

}  // namespace

int main(int argc, char** argv) {
  int width = 4000, height = 3000;
  for (int i = 1; i + 1 < argc; ++i)
    if (QByteArray(argv[i]) == "--size") std::sscanf(argv[i + 1], "%dx%d", &width, &height);
  qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
  QApplication app(argc, argv);

  QTemporaryDir dir;
  const std::string left = (dir.path() + "/L.jpg").toStdString();
  const std::string right = (dir.path() + "/R.jpg").toStdString();
  if (!writeFileAtomically(left, bench::cameraJpeg(width, height, 1, 0)) ||
      !writeFileAtomically(right, bench::cameraJpeg(width, height, 61, 60)))
    return 1;
  SettingsStore store(dir.filePath("settings.json"));
  registerSettings(store, QDateTime::currentDateTimeUtc());
  std::printf("pair %dx%d at 100 %%, peak before the window %.0f MB\n", width, height, peakMegabytes());

  AppWindow window;
  auto* root = new PlainRootViewController(&window);
  window.setRootViewController(root);
  window.makeKeyAndVisible();
  StallProbe probe;

  // Decoding, as duoscope does at start-up with a pair on the command line.
  QElapsedTimer clock;
  clock.start();
  QFutureWatcher<Result<StereoPair>> watcher;
  watcher.setFuture(QtConcurrent::run(&loadStereoPairFiles, left, right, 100.0f));
  spinUntil([&] { return watcher.isFinished(); });
  spinFor(50);
  auto pair = watcher.result();
  if (!pair) {
    std::fprintf(stderr, "%s\n", pair.error().message.c_str());
    return 1;
  }
  std::printf("%-26s %8.1f ms   worst stall %6.1f ms   peak %5.0f MB\n", "decode",
              clock.nsecsElapsed() / 1e6, probe.takeWorst(), peakMegabytes());

  auto* screen = new BlendViewController(store, dir.path());
  screen->setPair(std::move(*pair));
  screen->setPhotoMethod(1);
  clock.restart();
  root->presentViewController(screen, false);
  spinUntil([&] { return !screen->isRendering() && screen->alignImageView(); });
  spinFor(300);
  std::printf("%-26s %8.1f ms   worst stall %6.1f ms   peak %4.0f MB\n", "alignment view", clock.nsecsElapsed() / 1e6,
              probe.takeWorst(), peakMegabytes());

  const char* names[] = {"alignment view", "colour anaglyph", "grey anaglyph", "stereogram",
                         "wigglegram"};
  double worstStall = 0, worstTitle = 0;
  PaintWatch watch;
  watch.clock = &clock;
  screen->navigationBar()->installEventFilter(&watch);
  for (int pass = 0; pass < 2; ++pass) {
    for (int mode : {1, 2, 3, 4, 0}) {
      watch.paintedAt = -1;
      clock.restart();
      screen->segmentedControl()->setSelectedSegmentIndex(mode);
      screen->viewModeClick();
      spinUntil([&] { return watch.paintedAt >= 0; });
      const double title = watch.paintedAt;
      spinUntil([&] { return !screen->isRendering(); });
      const double done = clock.nsecsElapsed() / 1e6;
      spinUntil([&] { return !screen->vignetteView(); });
      spinFor(250);  // the fades and the spinner go on meanwhile
      const double stall = probe.takeWorst();
      worstStall = std::max(worstStall, stall);
      worstTitle = std::max(worstTitle, title);
      std::printf("%-18s %-7s %8.1f ms   title drawn %5.1f ms   worst stall %6.1f ms   peak %4.0f MB\n", names[mode],
                  pass ? "again" : "first", done, title, stall, peakMegabytes());
    }
  }
  std::printf("worst stall %.1f ms, slowest title %.1f ms, peak memory %.0f MB\n", worstStall,
              worstTitle, peakMegabytes());
  return 0;
}
