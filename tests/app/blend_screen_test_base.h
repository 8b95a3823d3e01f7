#pragma once

// The result screen over a plain root screen on a manual clock, with its settings and caches in a
// temporary folder: what the result screen's suites share.
#include <QAbstractButton>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMouseEvent>
#include <QScopeGuard>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QVector3D>
#include <QtTest>

#include <atomic>
#include <cmath>
#include <memory>
#include <vector>

#include "blend_view_controller.h"
#include "cache/render_cache.h"
#include "large_output_window.h"
#include "plain_root_view_controller.h"
#include "qs_alert_view.h"
#include "qs_share_view_controller.h"
#include "qt_image.h"
#include "reachability.h"
#include "render_job.h"
#include "run_loop.h"
#include "screen.h"
#include "settings_keys.h"
#include "settings_store.h"
#include "settings_view_controller.h"
#include "stereo/pair_loader.h"
#include "url_opener.h"
#include "view_animation.h"
#include "app_window.h"
#include "navigation_controller.h"
#include "view_controller.h"

using namespace duo;

namespace blend_test {

/// Animations end on the first animation frame at or after their duration.
constexpr double kFrame = 1.0 / 60.0;

const char* const kColorFile = "Color Anaglyph.png";
const char* const kGreyFile = "Grey Anaglyph.png";
const char* const kStereogramFile = "Stereogram.png";
const char* const kWiggleFile = "Wigglegram.gif";

inline QString sourceDir() { return QFileInfo(QStringLiteral(__FILE__)).absolutePath(); }
inline QString samplePairDir() { return sourceDir() + QStringLiteral("/../../resources/sample"); }
/// Real camera pairs live beside the repository, not in it.
inline QString testdataDir() { return sourceDir() + QStringLiteral("/../../../shared/testdata"); }

inline void flushDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

inline QImage render2x(QWidget* widget) {
  QImage image(widget->size() * 2, QImage::Format_ARGB32_Premultiplied);
  image.setDevicePixelRatio(2);
  image.fill(Qt::black);
  widget->render(&image);
  return image;
}

/// Pearson correlation of one channel of `a` with the luminance of `b` (same sizes).
inline double correlation(const QImage& a, int channel, const QImage& b) {
  double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
  const int w = a.width(), h = a.height();
  for (int y = 0; y < h; y += 2) {
    const QRgb* ra = reinterpret_cast<const QRgb*>(a.constScanLine(y));
    const QRgb* rb = reinterpret_cast<const QRgb*>(b.constScanLine(y));
    for (int x = 0; x < w; x += 2) {
      const QRgb pa = ra[x];
      const double va = channel == 0 ? qRed(pa) : channel == 1 ? qGreen(pa) : qBlue(pa);
      const double vb = qGray(rb[x]);
      sa += va, sb += vb, saa += va * va, sbb += vb * vb, sab += va * vb;
    }
  }
  const double n = double((w + 1) / 2) * ((h + 1) / 2);
  const double cov = sab / n - (sa / n) * (sb / n);
  const double da = saa / n - (sa / n) * (sa / n);
  const double db = sbb / n - (sb / n) * (sb / n);
  return cov / std::sqrt(da * db);
}

/// Mean red, green and blue of an image's pixels as stored (the fourth byte of a byte-ordered
/// RGBX image is not looked at).
inline QVector3D storedMean(const QImage& image) {
  const QImage rgbx =
      image.format() == QImage::Format_RGBX8888 || image.format() == QImage::Format_RGBA8888
          ? image
          : image.convertToFormat(QImage::Format_RGBX8888);
  double r = 0, g = 0, b = 0;
  for (int y = 0; y < rgbx.height(); ++y) {
    const uchar* p = rgbx.constScanLine(y);
    for (int x = 0; x < rgbx.width(); ++x, p += 4) r += p[0], g += p[1], b += p[2];
  }
  const double n = double(rgbx.width()) * rgbx.height();
  return QVector3D(r / n, g / n, b / n);
}

/// Mean colour of what an image view puts on a 2x screen inside its picture's rectangle.
inline QVector3D shownMean(ImageView* view) {
  const QImage screen = render2x(view).convertToFormat(QImage::Format_RGBX8888);
  const QRect points = view->imageRect().toAlignedRect().adjusted(2, 2, -2, -2) & view->rect();
  return storedMean(screen.copy(QRect(points.topLeft() * 2, points.size() * 2)));
}

}  // namespace blend_test

using namespace blend_test;

/// State and helpers of the result screen's suites; each suite's init() and cleanup() call
/// setUp() and tearDown().
class BlendScreenTestBase : public QObject {
 protected:
  ManualClock m_clock;
  std::unique_ptr<QTemporaryDir> m_dir;
  std::unique_ptr<SettingsStore> m_store;
  std::unique_ptr<AppWindow> m_window;
  QPointer<PlainRootViewController> m_root;
  QPointer<BlendViewController> m_screen;
  QList<QUrl> m_opened;
  QStringList m_openableSchemes;

  QString cachesDir() const { return m_dir->filePath(QStringLiteral("caches")); }
  QString cacheFile(const char* name) const {
    return cachesDir() + QStringLiteral("/QSDuoscopeCache/") + QLatin1String(name);
  }
  /// Whether the kind's file is on disk once every queued write has landed.
  bool cached(const char* name) const {
    m_screen->renderCache()->waitForPendingWrites();
    return QFileInfo::exists(cacheFile(name));
  }

  /// The result screen on a pair from `dir`, presented over a plain root screen as the capture
  /// screen would, with its first (deferred) render done.
  bool open(const QString& dir = samplePairDir(), int photoMethod = 1, float imageSize = 50) {
    auto pair = loadStereoPairFiles((dir + "/left.jpg").toStdString(),
                                    (dir + "/right.jpg").toStdString(), imageSize);
    if (!pair.ok()) {
      qWarning("%s", pair.error().message.c_str());
      return false;
    }
    m_window = std::make_unique<AppWindow>();
    m_root = new PlainRootViewController(m_window.get());
    m_window->setRootViewController(m_root);
    m_window->makeKeyAndVisible();
    m_screen = new BlendViewController(*m_store, cachesDir());
    m_screen->setPair(std::move(*pair));
    m_screen->setPhotoMethod(photoMethod);
    m_root->presentViewController(m_screen, false);
    m_clock.advance(0);
    return settle();
  }
  /// Waits (in real time; renders run on worker threads) until the screen has shown or dropped
  /// every render it started. False after 20 s.
  bool settle() {
    bool timedOut = false;
    QTimer limit;
    limit.setSingleShot(true);
    connect(&limit, &QTimer::timeout, [&timedOut] { timedOut = true; });
    limit.start(20000);
    while (m_screen && m_screen->isRendering() && !timedOut)
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return !timedOut;
  }
  /// What a press on a segment does, then the deferred render.
  void select(int mode) {
    m_screen->segmentedControl()->setSelectedSegmentIndex(mode);
    m_screen->viewModeClick();
    m_clock.advance(0);
    QVERIFY(settle());
  }
  double navAlpha() const { return viewAlpha(m_screen->navigationBar()); }
  double toolbarAlpha() const { return viewAlpha(m_screen->toolbar()); }
  bool barsShown() const { return navAlpha() == 1.0 && toolbarAlpha() == 1.0; }
  bool barsHidden() const { return navAlpha() == 0.0 && toolbarAlpha() == 0.0; }

  QSActionSheet* shownSheet() const {
    for (QSActionSheet* sheet : m_window->findChildren<QSActionSheet*>())
      if (sheet->isShowing()) return sheet;
    return nullptr;
  }
  QSAlertView* shownAlert() const {
    for (QSAlertView* alert : m_window->findChildren<QSAlertView*>())
      if (alert->isShowing()) return alert;
    return nullptr;
  }
  /// Opens the action menu and presses the button titled `title`.
  void chooseFromActionMenu(const QString& title) {
    m_screen->actionButtonClick();
    QSActionSheet* sheet = shownSheet();
    QVERIFY(sheet);
    for (int i = 0; i < sheet->numberOfButtons(); ++i) {
      if (sheet->buttonTitleAtIndex(i) != title) continue;
      QVERIFY(sheet->buttonAtIndex(i));
      sheet->buttonAtIndex(i)->click();
      return;
    }
    QFAIL(qPrintable("no button " + title));
  }
  /// The share picker presented by the screen, in place.
  QSShareViewController* openSharePicker() {
    chooseFromActionMenu(QStringLiteral("Share"));
    m_clock.advance(0);  // share() runs one turn later
    m_clock.advance(0.35);
    auto* navigation = qobject_cast<NavigationController*>(m_screen->presentedViewController());
    return navigation ? qobject_cast<QSShareViewController*>(navigation->topViewController())
                      : nullptr;
  }
  SettingsViewController* openSettings() {
    chooseFromActionMenu(QStringLiteral("Settings"));
    m_clock.advance(0);
    m_clock.advance(0.35);
    auto* navigation = qobject_cast<NavigationController*>(m_screen->presentedViewController());
    return navigation ? qobject_cast<SettingsViewController*>(navigation->topViewController())
                      : nullptr;
  }
  /// Working-copy pixels per point of the picture, which the overlay shows at its size.
  float overlayScale() const {
    const ImageView* view = m_screen->imageView();
    const QImage overlay = m_screen->alignImageView()->image();
    return scaleForImageView(ImageViewGeometry{float(view->width()), float(view->height()), true},
                             overlay.width(), overlay.height());
  }
  void saveScreenshot(QWidget* widget, const QString& name) {
    const QImage image = render2x(widget);
    QVERIFY(image.save(name));
  }

  void setUp() {
    RunLoopClock::install(&m_clock);
    MainScreen::setSize({320, 568, false});
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    QVERIFY(QDir().mkpath(cachesDir()));
    m_store = std::make_unique<SettingsStore>(m_dir->filePath(QStringLiteral("settings.json")));
    registerSettings(*m_store, QDateTime::currentDateTimeUtc());
    m_opened.clear();
    m_openableSchemes = {QStringLiteral("itms-apps"), QStringLiteral("itms")};
    setURLOpenerForTesting([this](const QUrl& url) {
      m_opened << url;
      return true;
    });
    setCanOpenURLForTesting(
        [this](const QUrl& url) { return m_openableSchemes.contains(url.scheme()); });
  }

  void tearDown() {
    m_window.reset();
    m_clock.advance(10);
    flushDeletes();
    setURLOpenerForTesting({});
    setCanOpenURLForTesting({});
    RunLoopClock::install(nullptr);
    m_store.reset();
    m_dir.reset();
  }
};
