// Saving the colour anaglyph of a 4000 × 3000 camera pair at the 50 % working size (a
// 2000 × 1500 output) to the album: the time from the export's dispatch to its "Save Complete"
// alert, and how much of it the PNG encoding of the still takes.
//
//   build-bench/bench/album_export_bench [--runs N]
#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

#include "app_window.h"
#include "bench_support.h"
#include "blend_view_controller.h"
#include "camera_image.h"
#include "io/file_io.h"
#include "io/image_codec.h"
#include "photo_library.h"
#include "plain_root_view_controller.h"
#include "qs_alert_view.h"
#include "settings_keys.h"
#include "settings_store.h"
#include "stereo/pair_loader.h"

using namespace duo;
using duo::bench::spinUntil;

namespace {

QSAlertView* shownAlert() {
  for (QWidget* widget : QApplication::allWidgets())
    if (auto* alert = qobject_cast<QSAlertView*>(widget); alert && alert->isShowing()) return alert;
  return nullptr;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 7;
  for (int i = 1; i + 1 < argc; ++i)
    if (QByteArray(argv[i]) == "--runs") runs = std::max(1, QByteArray(argv[i + 1]).toInt());
  qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
  QApplication app(argc, argv);
  QTemporaryDir dir;
  const std::string left = (dir.path() + "/L.jpg").toStdString();
  const std::string right = (dir.path() + "/R.jpg").toStdString();
  if (!writeFileAtomically(left, bench::cameraJpeg(4000, 3000, 1, 0)) ||
      !writeFileAtomically(right, bench::cameraJpeg(4000, 3000, 61, 60)))
    return 1;
  PhotoLibrary::setPicturesFolderForTesting(dir.filePath("Pictures"));
  SettingsStore store(dir.filePath("settings.json"));
  registerSettings(store, QDateTime::currentDateTimeUtc());
  auto pair = loadStereoPairFiles(left, right, 50);
  if (!pair) return 1;

  AppWindow window;
  auto* root = new PlainRootViewController(&window);
  window.setRootViewController(root);
  window.makeKeyAndVisible();
  QDir().mkpath(dir.filePath("caches"));
  auto* screen = new BlendViewController(store, dir.filePath("caches"));
  screen->setPair(std::move(*pair));
  root->presentViewController(screen, false);
  spinUntil([&] { return !screen->isRendering(); });
  screen->segmentedControl()->setSelectedSegmentIndex(1);
  screen->viewModeClick();
  QElapsedTimer settle;
  settle.start();
  spinUntil([&] { return settle.elapsed() > 100 && !screen->isRendering(); });
  const auto still = screen->getImageToSend();
  if (!still) return 1;

  std::vector<double> total, encode;
  for (int run = 0; run < runs; ++run) {
    QElapsedTimer clock;
    clock.start();
    screen->executeShareBarButtonIndex(0);
    spinUntil([] { return shownAlert() != nullptr; });
    total.push_back(double(clock.nsecsElapsed()) / 1e6);
    shownAlert()->dismissWithClickedButtonIndex(0, false);
    spinUntil([] { return shownAlert() == nullptr; });

    clock.restart();
    if (!encodePng(*still)) return 1;
    encode.push_back(double(clock.nsecsElapsed()) / 1e6);
  }
  std::printf("still %dx%d, %d saves\n", still->width(), still->height(), runs);
  std::printf("dispatch to alert   median %6.1f ms   worst %6.1f ms   (goal at most 250 ms)\n",
              median(total), *std::max_element(total.begin(), total.end()));
  std::printf("PNG encoding alone  median %6.1f ms   (%.0f %% of the save)\n", median(encode),
              100.0 * median(encode) / median(total));
  return median(total) <= 250 ? 0 : 1;
}
