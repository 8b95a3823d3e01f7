// How soon the library picker's grid shows its first screen of thumbnails: the time from
// creating and showing a PhotoGridView (offscreen) to firstScreenReady() and to the first paint
// after it, over a folder of camera-like JPEGs, with the desktop thumbnail cache warm (every
// thumbnail made beforehand; the goal is 300 ms) and, for information, cold (the cache folder
// removed before each run; the pictures themselves stay in the page cache). Also the longest
// stall of the main thread while the grid loads, seen by a 1 ms timer.
//
//   build/bench/library_grid_bench [--count N] [--size WxH] [--runs N]
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <QtConcurrent/QtConcurrentMap>

#include <sys/stat.h>
#include <utime.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

#include "bench_support.h"
#include "camera_image.h"
#include "io/file_io.h"
#include "photo_grid_view.h"
#include "photo_library.h"
#include "thumbnail_cache.h"

using namespace duo;
using duo::bench::spinUntil;

namespace {

constexpr double kGoalMs = 300;
constexpr int kDistinctPictures = 10;  // encoded once, each written count / 10 times
constexpr int kSubfolders = 5;
const QSize kWindow(320, 568);

void spinFor(int ms) {
  QElapsedTimer t;
  t.start();
  QTimer tick;
  tick.start(5);
  spinUntil([&] { return t.elapsed() >= ms; });
}

/// The longest gap between firings of a 1 ms timer, less the 1 ms.
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
  }
  void start() {
    m_clock.start();
    m_last = 0;
    m_worst = 0;
    m_timer.start();
  }
  double stop() {
    m_timer.stop();
    return m_worst;
  }

 private:
  QTimer m_timer;
  QElapsedTimer m_clock;
  double m_last = 0;
  double m_worst = 0;
};

/// Notes the first paint of a widget after arm().
class PaintWatch : public QObject {
 public:
  bool painted = false;
  void arm() { painted = false; }
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) painted = true;
    return false;
  }
};

struct Run {
  double readyMs = 0;
  double paintedMs = 0;
  double stallMs = 0;
};

Run measureOnce() {
  StallProbe probe;
  PaintWatch watch;
  QElapsedTimer clock;
  probe.start();
  clock.start();
  auto* grid = new PhotoGridView;
  bool ready = false;
  QObject::connect(grid, &PhotoGridView::firstScreenReady, [&] { ready = true; });
  grid->viewport()->installEventFilter(&watch);
  grid->resize(kWindow);
  grid->show();
  spinUntil([&] { return ready; });
  Run run;
  run.readyMs = double(clock.nsecsElapsed()) / 1e6;
  watch.arm();
  spinUntil([&] { return watch.painted; });
  run.paintedMs = double(clock.nsecsElapsed()) / 1e6;
  run.stallMs = probe.stop();
  delete grid;
  spinFor(20);
  return run;
}

void report(const char* label, std::vector<Run> runs) {
  auto column = [&](double Run::*field, double& median, double& worst) {
    std::vector<double> values;
    for (const Run& r : runs) values.push_back(r.*field);
    std::sort(values.begin(), values.end());
    median = values[values.size() / 2];
    worst = values.back();
  };
  double readyMedian, readyWorst, paintMedian, paintWorst, stallMedian, stallWorst;
  column(&Run::readyMs, readyMedian, readyWorst);
  column(&Run::paintedMs, paintMedian, paintWorst);
  column(&Run::stallMs, stallMedian, stallWorst);
  std::printf(
      "%-6s %2zu runs   ready median %6.1f ms  worst %6.1f ms   painted median %6.1f ms  "
      "worst %6.1f ms   main-thread stall worst %5.1f ms\n",
      label, runs.size(), readyMedian, readyWorst, paintMedian, paintWorst, stallWorst);
}

}  // namespace

int main(int argc, char** argv) {
  int count = 500, width = 1600, height = 1200, runs = 10;
  for (int i = 1; i + 1 < argc; ++i) {
    const QByteArray option(argv[i]);
    if (option == "--count") count = std::max(1, std::atoi(argv[i + 1]));
    if (option == "--size") std::sscanf(argv[i + 1], "%dx%d", &width, &height);
    if (option == "--runs") runs = std::max(1, std::atoi(argv[i + 1]));
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);

  QTemporaryDir dir;
  const QString pictures = dir.filePath("Pictures");
  const QString cacheHome = dir.filePath("cache");
  PhotoLibrary::setPicturesFolderForTesting(pictures);
  ThumbnailCache::setCacheHomeForTesting(cacheHome);

  QElapsedTimer clock;
  clock.start();
  std::vector<std::vector<std::uint8_t>> jpegs;
  for (int i = 0; i < kDistinctPictures; ++i)
    jpegs.push_back(bench::cameraJpeg(width, height, std::uint32_t(i + 1), i * 37));
  QStringList paths;
  std::size_t totalBytes = 0;
  const qint64 newest = QDateTime::currentSecsSinceEpoch();
  for (int i = 0; i < count; ++i) {
    const QString folder = pictures + QStringLiteral("/Camera %1").arg(i % kSubfolders);
    QDir().mkpath(folder);
    const QString path = folder + QStringLiteral("/IMG_%1.jpg").arg(i, 4, 10, QChar('0'));
    if (!writeFileAtomically(QFile::encodeName(path).toStdString(), jpegs[i % kDistinctPictures])) {
      std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
      return 1;
    }
    const utimbuf times{newest - i * 60, newest - i * 60};
    ::utime(QFile::encodeName(path).constData(), &times);
    paths << path;
    totalBytes += jpegs[i % kDistinctPictures].size();
  }
  std::printf(
      "%d JPEGs of %d x %d (%zu kB on average, %d distinct) in %d folders, made in %.1f s\n", count,
      width, height, totalBytes / 1024 / std::size_t(count), kDistinctPictures, kSubfolders,
      double(clock.elapsed()) / 1000);

  // Cold: no thumbnails at all; every visible one is decoded and stored during the run.
  std::vector<Run> cold;
  for (int i = 0; i < std::max(3, runs / 3); ++i) {
    QDir(cacheHome).removeRecursively();
    cold.push_back(measureOnce());
  }

  clock.restart();
  QtConcurrent::blockingMap(paths,
                            [](const QString& path) { (void)ThumbnailCache::thumbnail(path); });
  std::printf("cache filled with %d thumbnails in %.2f s\n", count, double(clock.elapsed()) / 1000);

  std::vector<Run> warm;
  (void)measureOnce();  // first use of fonts, pool threads and the like
  for (int i = 0; i < runs; ++i) warm.push_back(measureOnce());

  report("warm", warm);
  report("cold", cold);
  std::vector<double> ready;
  for (const Run& r : warm) ready.push_back(r.readyMs);
  std::sort(ready.begin(), ready.end());
  const double median = ready[ready.size() / 2];
  std::printf("goal: warm median at most %.0f ms: %s\n", kGoalMs,
              median <= kGoalMs ? "met" : "NOT met");
  PhotoLibrary::setPicturesFolderForTesting({});
  ThumbnailCache::setCacheHomeForTesting({});
  return median <= kGoalMs ? 0 : 2;
}
