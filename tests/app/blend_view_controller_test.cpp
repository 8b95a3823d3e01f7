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

namespace {

/// Animations end on the first animation frame at or after their duration.
constexpr double kFrame = 1.0 / 60.0;

const char* const kColorFile = "Color Anaglyph.png";
const char* const kGreyFile = "Grey Anaglyph.png";
const char* const kStereogramFile = "Stereogram.png";
const char* const kWiggleFile = "Wigglegram.gif";

QString sourceDir() { return QFileInfo(QStringLiteral(__FILE__)).absolutePath(); }
QString samplePairDir() { return sourceDir() + QStringLiteral("/../../resources/sample"); }
/// Real camera pairs live beside the repository, not in it.
QString testdataDir() { return sourceDir() + QStringLiteral("/../../../shared/testdata"); }

void flushDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

QImage render2x(QWidget* widget) {
  QImage image(widget->size() * 2, QImage::Format_ARGB32_Premultiplied);
  image.setDevicePixelRatio(2);
  image.fill(Qt::black);
  widget->render(&image);
  return image;
}

/// Pearson correlation of one channel of `a` with the luminance of `b` (same sizes).
double correlation(const QImage& a, int channel, const QImage& b) {
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
QVector3D storedMean(const QImage& image) {
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
QVector3D shownMean(ImageView* view) {
  const QImage screen = render2x(view).convertToFormat(QImage::Format_RGBX8888);
  const QRect points = view->imageRect().toAlignedRect().adjusted(2, 2, -2, -2) & view->rect();
  return storedMean(screen.copy(QRect(points.topLeft() * 2, points.size() * 2)));
}

}  // namespace

class BlendViewControllerTest : public QObject {
  Q_OBJECT

 private:
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

 private slots:
  void initTestCase() { MainScreen::setScale(2); }

  void init() {
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

  void cleanup() {
    m_window.reset();
    m_clock.advance(10);
    flushDeletes();
    setURLOpenerForTesting({});
    setCanOpenURLForTesting({});
    RunLoopClock::install(nullptr);
    m_store.reset();
    m_dir.reset();
  }

  // --- Loading and view modes ----------------------------------------------------------------

  void opensInTheAlignmentViewOverAnEmptiedCache() {
    // Files an earlier pair left behind are gone once the new screen has loaded.
    QVERIFY(QDir().mkpath(cachesDir() + "/QSDuoscopeCache"));
    for (const char* name : {kColorFile, kGreyFile, kStereogramFile, kWiggleFile}) {
      QFile stale(cacheFile(name));
      QVERIFY(stale.open(QIODevice::WriteOnly));
      stale.write("stale");
    }
    QVERIFY(open());
    for (const char* name : {kColorFile, kGreyFile, kStereogramFile, kWiggleFile})
      QVERIFY2(!cached(name), name);
    QVERIFY(QFileInfo(cachesDir() + "/QSDuoscopeCache").isDir());

    QCOMPARE(m_screen->viewMode(), 0);
    QCOMPARE(m_screen->navigationBar()->title(), QString("Align Right Image"));
    QVERIFY(!m_screen->actionButton()->isEnabled());
    QVERIFY(!m_screen->swapButton()->isEnabled());
    QVERIFY(m_screen->photoButton()->isEnabled());
    QVERIFY(!m_screen->isImageSwapped());
    QVERIFY(!m_screen->isShowingModal());
    QCOMPARE(m_screen->alignOffsetX(), 0.0f);
    QCOMPARE(m_screen->alignOffsetY(), 0.0f);
    // The overlay: the right image, translucent, exactly over the left one.
    QVERIFY(m_screen->alignImageView());
    QCOMPARE(m_screen->alignImageView()->geometry(), m_screen->imageView()->geometry());
    QCOMPARE(viewAlpha(m_screen->alignImageView()), 0.4);
    QVERIFY(!m_screen->imageView()->image().isNull());
    QCOMPARE(m_screen->renderCount() + m_screen->cacheLoadCount(), 0);
  }

  void backButtonShowsHowThePairWasObtained() {
    QVERIFY(open(samplePairDir(), 0));
    QCOMPARE(m_screen->photoButton()->systemItem(), BarButtonItem::SystemItem::Camera);
    m_window.reset();
    flushDeletes();
    QVERIFY(open(samplePairDir(), 1));
    QCOMPARE(m_screen->photoButton()->systemItem(), BarButtonItem::SystemItem::None);
    QVERIFY(!m_screen->photoButton()->image().isNull());
    QCOMPARE(m_screen->actionButton()->systemItem(), BarButtonItem::SystemItem::Action);
  }

  void eachViewModeSetsTitleButtonsAndRenders_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("title");
    QTest::addColumn<bool>("busy");
    QTest::addColumn<bool>("swapEnabled");
    QTest::addColumn<bool>("actionEnabled");
    QTest::newRow("align") << 0 << "Align Right Image" << false << false << false;
    QTest::newRow("color") << 1 << "Color Anaglyph" << true << true << true;
    QTest::newRow("grey") << 2 << "Grey Anaglyph" << true << true << true;
    QTest::newRow("stereogram") << 3 << "Stereogram (parallel)" << true << true << true;
    QTest::newRow("wiggle") << 4 << "Wigglegram" << false << false << true;
  }
  void eachViewModeSetsTitleButtonsAndRenders() {
    QFETCH(int, mode);
    QFETCH(QString, title);
    QFETCH(bool, busy);
    QFETCH(bool, swapEnabled);
    QFETCH(bool, actionEnabled);
    QVERIFY(open());
    // From another mode, so that every mode is a change.
    select(mode == 2 ? 1 : 2);
    m_clock.advance(1);
    m_screen->segmentedControl()->setSelectedSegmentIndex(mode);
    m_screen->viewModeClick();

    // Before the deferred render: title, cleared picture, spinner and vignette are up.
    QCOMPARE(m_screen->navigationBar()->title(), title);
    QVERIFY(m_screen->imageView()->image().isNull());
    QVERIFY(!m_screen->imageView()->isAnimating());
    QVERIFY(!m_screen->alignImageView());
    QCOMPARE(m_screen->activityIndicator()->isAnimating(), busy);
    QCOMPARE(m_screen->vignetteView() != nullptr, busy);
    QCOMPARE(m_screen->swapButton()->isEnabled(), swapEnabled);
    QCOMPARE(m_screen->actionButton()->isEnabled(), actionEnabled);
    QVERIFY(m_screen->photoButton()->isEnabled());
    for (int i = 0; i < 5; ++i) QVERIFY(m_screen->segmentedControl()->isEnabledForSegment(i));

    m_clock.advance(0);
    QVERIFY(settle());
    QVERIFY(!m_screen->activityIndicator()->isAnimating());
    m_clock.advance(0.25);
    QVERIFY(!m_screen->vignetteView());  // faded out and gone
    switch (mode) {
      case 0:
        QVERIFY(m_screen->alignImageView());
        QVERIFY(!m_screen->imageView()->image().isNull());
        break;
      case 4:
        QVERIFY(m_screen->imageView()->isAnimating());
        break;
      default:
        QVERIFY(!m_screen->imageView()->image().isNull());
        QVERIFY(!m_screen->alignImageView());
    }
  }

  void segmentPressesReachTheController() {
    QVERIFY(open());
    SegmentedControl* control = m_screen->segmentedControl();
    QCOMPARE(control->numberOfSegments(), 5);
    QTest::mouseClick(control, Qt::LeftButton, {}, control->segmentRect(2).center());
    QCOMPARE(m_screen->viewMode(), 2);
    QCOMPARE(m_screen->navigationBar()->title(), QString("Grey Anaglyph"));
    m_clock.advance(0);
    QVERIFY(settle());
    QCOMPARE(m_screen->renderCount(), 1);
  }

  void onlyTheLastOfQuickModeChangesRenders() {
    QVERIFY(open());
    m_screen->segmentedControl()->setSelectedSegmentIndex(1);
    m_screen->viewModeClick();
    m_screen->segmentedControl()->setSelectedSegmentIndex(2);
    m_screen->viewModeClick();
    m_clock.advance(0);
    QVERIFY(settle());
    QCOMPARE(m_screen->renderCount(), 1);
    QVERIFY(!cached(kColorFile));
    QVERIFY(cached(kGreyFile));
  }

  void anaglyphTakesRedFromTheLeftImage() {
    QVERIFY(open());
    const QImage left =
        toQImage(m_screen->pair().leftImage()).convertToFormat(QImage::Format_RGB32);
    const QImage right =
        toQImage(m_screen->pair().rightImage()).convertToFormat(QImage::Format_RGB32);
    for (int mode : {1, 2}) {
      select(mode);
      const QImage shown = m_screen->imageView()->image().convertToFormat(QImage::Format_RGB32);
      QCOMPARE(shown.size(), left.size());  // no offset: the whole picture overlaps
      const double redLeft = correlation(shown, 0, left), redRight = correlation(shown, 0, right);
      const double cyanLeft = correlation(shown, 2, left), cyanRight = correlation(shown, 2, right);
      qInfo("mode %d: red~left %.3f red~right %.3f blue~left %.3f blue~right %.3f", mode, redLeft,
            redRight, cyanLeft, cyanRight);
      QVERIFY(redLeft > redRight + 0.02);
      QVERIFY(cyanRight > cyanLeft + 0.02);
    }
  }

  void eachOutputIsDrawnAsItsPicture() {
    // What the view draws must be the picture it holds, rendered or loaded from the cache.
    QVERIFY(open());
    for (int pass = 0; pass < 2; ++pass) {
      for (int mode : {1, 2, 3}) {
        select(mode);
        m_screen->renderCache()->waitForPendingWrites();
        const QVector3D held = storedMean(m_screen->imageView()->image());
        const QVector3D shown = shownMean(m_screen->imageView());
        const QString what = QString("mode %1, %2: holds %3 %4 %5, draws %6 %7 %8")
                                 .arg(mode)
                                 .arg(pass ? "from the cache" : "rendered")
                                 .arg(held.x(), 0, 'f', 0)
                                 .arg(held.y(), 0, 'f', 0)
                                 .arg(held.z(), 0, 'f', 0)
                                 .arg(shown.x(), 0, 'f', 0)
                                 .arg(shown.y(), 0, 'f', 0)
                                 .arg(shown.z(), 0, 'f', 0);
        QVERIFY2((held - shown).length() < 12, qPrintable(what));
      }
    }
    QCOMPARE(m_screen->cacheLoadCount(), 3);
  }

  void stereogramIsShownAQuarterTurned() {
    QVERIFY(open());
    select(3);
    const QImage shown = m_screen->imageView()->image();
    const Image& left = m_screen->pair().leftImage();
    // Two landscape halves at three quarters side by side on a card, turned upright: much
    // taller than wide.
    QVERIFY(shown.height() > 2 * shown.width());
    QVERIFY(shown.height() >= 1.5 * left.width());
    QVERIFY(shown.width() >= 0.75 * left.height());
  }

  void wigglegramAlternatesTwoDifferentFrames() {
    QVERIFY(open());
    select(4);
    ImageView* view = m_screen->imageView();
    QVERIFY(view->isAnimating());
    const int first = view->currentFrame();
    const QImage a = render2x(view);
    m_clock.advance(0.1);
    QVERIFY(view->currentFrame() != first);
    const QImage b = render2x(view);
    QVERIFY(a != b);
    m_clock.advance(0.1);
    QCOMPARE(view->currentFrame(), first);
    // Leaving the mode stops the animation and drops the frames.
    select(1);
    QVERIFY(!view->isAnimating());
  }

  void aSupersededRenderIsNeitherShownNorCached_data() {
    QTest::addColumn<QString>("action");
    QTest::newRow("mode change") << "mode";
    QTest::newRow("swap") << "swap";
    QTest::newRow("setting change") << "setting";
  }
  void aSupersededRenderIsNeitherShownNorCached() {
    // The first colour render is held on its worker while the screen moves on, so its result
    // arrives after the change that made it stale.
    QFETCH(QString, action);
    QVERIFY(open());
    QSemaphore gate;
    std::atomic<bool> holdNext{true};
    setRenderStartHookForTesting([&](int mode) {
      if (mode == 1 && holdNext.exchange(false)) gate.acquire();
    });
    auto release = qScopeGuard([&] {
      gate.release();
      settle();
      setRenderStartHookForTesting({});
    });
    m_screen->segmentedControl()->setSelectedSegmentIndex(1);
    m_screen->viewModeClick();
    m_clock.advance(0);
    QTRY_VERIFY(!holdNext);  // the stale render has started
    if (action == "mode") {
      m_screen->segmentedControl()->setSelectedSegmentIndex(2);
      m_screen->viewModeClick();
    } else if (action == "swap") {
      m_screen->swapButtonClick();
    } else {
      m_store->setInteger(0, keys::kColorMethod);
      m_screen->viewModeClick();  // as closing the settings screen does
    }
    m_clock.advance(0);
    release.dismiss();
    gate.release();
    QVERIFY(settle());
    setRenderStartHookForTesting({});

    QCOMPARE(m_screen->supersededRenderCount(), 1);
    QCOMPARE(m_screen->renderCount(), 1);  // only the current render was shown
    QVERIFY(!m_screen->activityIndicator()->isAnimating());
    const QImage shown = m_screen->imageView()->image().convertToFormat(QImage::Format_RGB32);
    const char* file = action == "mode" ? kGreyFile : kColorFile;
    QVERIFY(cached(file));
    QCOMPARE(QImage(cacheFile(file)).convertToFormat(QImage::Format_RGB32), shown);
    if (action == "mode") QVERIFY(!cached(kColorFile));
  }

  void returningToARenderedModeLoadsItsCacheFile() {
    QVERIFY(open());
    select(1);
    select(2);
    QVERIFY(cached(kColorFile));
    QVERIFY(cached(kGreyFile));
    select(1);
    QCOMPARE(m_screen->renderCount(), 2);
    QCOMPARE(m_screen->cacheLoadCount(), 1);
    QVERIFY(!m_screen->imageView()->image().isNull());
    QVERIFY(!m_screen->activityIndicator()->isAnimating());
  }

  void renderAndCacheLoadSpeed_data() {
    QTest::addColumn<QString>("dir");
    QTest::addColumn<float>("imageSize");
    QTest::newRow("sample pair at 50 %") << samplePairDir() << 50.0f;
    QTest::newRow("1824x1367 pair at 100 %") << testdataDir() + "/pairs/gx8-split" << 100.0f;
  }

  void renderAndCacheLoadSpeed() {
    // Reported, not asserted: the deferred render call of a mode shown for the first time
    // against the same call when it returns to the mode and loads the cache file.
    QFETCH(QString, dir);
    QFETCH(float, imageSize);
    if (!QFileInfo::exists(dir + "/left.jpg")) QSKIP("pair absent");
    QVERIFY(open(dir, 1, imageSize));
    const char* const files[] = {nullptr, kColorFile, kGreyFile, kStereogramFile};
    QElapsedTimer timer;
    qint64 first[4] = {}, again[4] = {};
    for (qint64* times : {first, again}) {
      for (int mode : {1, 2, 3}) {
        if (times == again) {
          m_screen->renderCache()->waitForPendingWrites();
          QVERIFY(cached(files[mode]));
        }
        m_screen->segmentedControl()->setSelectedSegmentIndex(mode);
        m_screen->viewModeClick();
        timer.start();
        m_clock.advance(0);
        QVERIFY(settle());
        times[mode] = timer.nsecsElapsed();
      }
    }
    QCOMPARE(m_screen->renderCount(), 3);
    QCOMPARE(m_screen->cacheLoadCount(), 3);
    qInfo(
        "%dx%d working copies; first render / from the cache, ms: colour %.2f / %.2f, "
        "grey %.2f / %.2f, stereogram %.2f / %.2f",
        int(m_screen->pair().leftImage().width()), int(m_screen->pair().leftImage().height()),
        first[1] / 1e6, again[1] / 1e6, first[2] / 1e6, again[2] / 1e6, first[3] / 1e6,
        again[3] / 1e6);
  }

  void aPairWithoutAWorkingSizeLeavesTheScreenUsable() {
    // Photographs handed over with no usable working size cannot be reduced; the screen shows
    // nothing for them instead of ending the application.
    m_window = std::make_unique<AppWindow>();
    m_root = new PlainRootViewController(m_window.get());
    m_window->setRootViewController(m_root);
    m_window->makeKeyAndVisible();
    m_screen = new BlendViewController(*m_store, cachesDir());
    m_screen->setLeftImage(*Image::create(64, 48));
    m_screen->setRightImage(*Image::create(64, 48));
    m_screen->setMaximumResolution(0);
    m_root->presentViewController(m_screen, false);
    m_clock.advance(0);
    QVERIFY(settle());
    select(1);
    QVERIFY(!m_screen->activityIndicator()->isAnimating());
    QVERIFY(m_screen->imageView()->image().isNull());
    select(0);  // and the other modes still answer
    QCOMPARE(m_screen->navigationBar()->title(), QString("Align Right Image"));
  }

  // --- Bars --------------------------------------------------------------------------------

  void barsFadeSixSecondsAfterLoading() {
    QVERIFY(open());
    QVERIFY(barsShown());
    QVERIFY(m_screen->timer() && m_screen->timer()->isValid());
    m_clock.advance(5.9);
    QVERIFY(barsShown());
    QVERIFY(!m_screen->prefersStatusBarHidden());
    m_clock.advance(0.1);  // 6.0 s: the fade starts and takes half a second
    QVERIFY(!m_screen->timer());
    QVERIFY(m_screen->prefersStatusBarHidden());
    m_clock.advance(0.35);
    QVERIFY(navAlpha() > 0 && navAlpha() < 1);
    QVERIFY(toolbarAlpha() > 0 && toolbarAlpha() < 1);
    m_clock.advance(0.15 + kFrame);
    QVERIFY(barsHidden());
    QVERIFY(!m_screen->isFadeTimerStopped());
  }

  void tapTogglesTheBarsAndRestartsTheTimer() {
    QVERIFY(open());
    select(1);
    QWidget* view = m_screen->view();
    m_clock.advance(2);
    QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(160, 300));
    QVERIFY(!m_screen->timer());
    QVERIFY(m_screen->prefersStatusBarHidden());
    m_clock.advance(0.35);
    QVERIFY(navAlpha() > 0 && navAlpha() < 1);
    m_clock.advance(0.15 + kFrame);
    QVERIFY(barsHidden());

    m_clock.advance(3);
    const double tapTime = m_clock.now();
    QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(160, 300));
    QVERIFY(!m_screen->prefersStatusBarHidden());
    QVERIFY(m_screen->timer() && m_screen->timer()->isValid());
    QCOMPARE(m_screen->timer()->fireDate(), tapTime + 6.0);
    m_clock.advance(0.25 + kFrame);
    QVERIFY(barsShown());
    m_clock.advance(5.6);  // 5.85 s after the tap
    QVERIFY(barsShown());
    m_clock.advance(0.15 + 0.5 + kFrame);
    QVERIFY(barsHidden());
  }

  void alignmentTouchTogglesTheBarsAtTouchDown() {
    QVERIFY(open());
    m_clock.advance(1);
    // Shown and not pinned: the touch-down starts the half-second fade-out, drag or not.
    m_screen->touchesBegan(QPointF(160, 300));
    QCOMPARE(viewTargetAlpha(m_screen->navigationBar()), 0.0);
    QVERIFY(m_screen->prefersStatusBarHidden());
    QVERIFY(!m_screen->timer());
    m_clock.advance(0.35);
    QVERIFY(navAlpha() > 0 && navAlpha() < 1);
    // Its end brings them back, as every end of an alignment touch does.
    m_screen->touchesEnded(QPointF(160, 300));
    m_clock.advance(0.25 + kFrame);
    QVERIFY(barsShown());

    m_clock.advance(6.6);
    QVERIFY(barsHidden());
    m_screen->touchesBegan(QPointF(160, 300));  // hidden: back at touch-down already
    QCOMPARE(viewTargetAlpha(m_screen->toolbar()), 1.0);
    QVERIFY(!m_screen->prefersStatusBarHidden() && m_screen->timer());
    m_clock.advance(0.25 + kFrame);
    QVERIFY(barsShown());
    m_screen->touchesEnded(QPointF(160, 300));
  }

  void pointerOverABarBringsTheBarsBack_data() {
    QTest::addColumn<QString>("where");
    QTest::addColumn<bool>("faded");
    QTest::addColumn<bool>("pinned");
    QTest::addColumn<bool>("realMouse");
    QTest::addColumn<bool>("back");
    QTest::newRow("navigation bar") << "navigation" << true << false << false << true;
    QTest::newRow("toolbar") << "toolbar" << true << false << false << true;
    QTest::newRow("picture") << "picture" << true << false << false << false;
    QTest::newRow("toolbar before the fade") << "toolbar" << false << false << false << true;
    QTest::newRow("menu open") << "toolbar" << true << true << false << false;
    QTest::newRow("mouse, navigation bar") << "navigation" << true << false << true << true;
    QTest::newRow("mouse, picture") << "picture" << true << false << true << false;
  }
  void pointerOverABarBringsTheBarsBack() {
    QFETCH(QString, where);
    QFETCH(bool, faded);
    QFETCH(bool, pinned);
    QFETCH(bool, realMouse);
    QFETCH(bool, back);
    QVERIFY(open());
    select(1);
    m_clock.advance(faded ? 6.6 : 3);
    QCOMPARE(barsHidden(), faded);
    if (pinned) m_screen->actionButtonClick();
    m_clock.advance(1);
    const QPoint point = where == "navigation" ? m_screen->navigationBar()->geometry().center()
                         : where == "toolbar"  ? m_screen->toolbar()->geometry().center()
                                               : QPoint(160, 300);
    const double moved = m_clock.now();
    if (realMouse)
      QTest::mouseMove(m_window.get(), m_screen->view()->mapTo(m_window.get(), point));
    else
      m_screen->pointerMoved(point);
    if (pinned) {
      QVERIFY(m_screen->isFadeTimerStopped() && !m_screen->timer());
      return;
    }
    QCOMPARE(m_screen->timer() != nullptr, back);
    if (back) QCOMPARE(m_screen->timer()->fireDate(), moved + 6.0);
    m_clock.advance(0.25 + kFrame);
    QCOMPARE(barsShown(), back);
    QCOMPARE(barsHidden(), !back);
  }

  void pressOnABarControlIsNotATouchOfThePicture() {
    QVERIFY(open());
    // The swap and action buttons are disabled in the alignment view; pressing them anyway must
    // neither start an alignment drag nor toggle the bars. (Where the alignment can be suggested,
    // the suggestion button takes the swap button's place there.)
    for (BarButtonItem* item : {m_screen->swapButton(), m_screen->actionButton()}) {
      if (item == m_screen->swapButton() && m_screen->autoAlignButton()) {
        QVERIFY(!item->button());
        continue;
      }
      QAbstractButton* button = item->button();
      QVERIFY(button && !button->isEnabled());
      QTest::mousePress(button, Qt::LeftButton, {}, button->rect().center());
      const bool gesturing = m_screen->isGesturing();
      QTest::mouseRelease(button, Qt::LeftButton, {}, button->rect().center());
      m_clock.advance(1);
      QVERIFY2(
          !gesturing,
          qPrintable(item->systemItem() == BarButtonItem::SystemItem::Action ? "action" : "swap"));
      QVERIFY(barsShown());
    }
  }

  void anyActionPutsOffTheFade() {
    QVERIFY(open());
    m_clock.advance(4);
    select(1);  // a mode change is an action: six seconds from now
    m_clock.advance(5.9);
    QVERIFY(barsShown());
    m_clock.advance(0.6 + kFrame);
    QVERIFY(barsHidden());
    select(2);  // brings hidden bars back in a quarter second
    m_clock.advance(0.25 + kFrame);
    QVERIFY(barsShown());
  }

  void actionMenuPinsTheBarsUntilCancelled() {
    QVERIFY(open());
    select(1);
    m_clock.advance(3);
    m_screen->actionButtonClick();
    QSActionSheet* sheet = shownSheet();
    QVERIFY(sheet);
    QCOMPARE(sheet->numberOfButtons(), 4);
    QCOMPARE(sheet->buttonTitleAtIndex(0), QString("Share"));
    QCOMPARE(sheet->buttonTitleAtIndex(1), QString("Settings"));
    QCOMPARE(sheet->buttonTitleAtIndex(2), QString("Other Marrowby Apps"));
    QCOMPARE(sheet->buttonTitleAtIndex(3), QString("Cancel"));
    QCOMPARE(sheet->cancelButtonIndex(), 3);
    QCOMPARE(sheet->actionSheetStyle(), QSActionSheet::Style::BlackTranslucent);
    QVERIFY(m_screen->isFadeTimerStopped());
    QVERIFY(!m_screen->timer());

    // Pinned: taps do not toggle and nothing fades, however long the menu stays.
    m_screen->touchesBegan(QPointF(160, 300));
    m_screen->touchesEnded(QPointF(160, 300));
    m_clock.advance(20);
    QVERIFY(barsShown());
    QVERIFY(!m_screen->prefersStatusBarHidden());

    sheet->buttonAtIndex(3)->click();
    const double cancelled = m_clock.now();
    QVERIFY(!m_screen->isFadeTimerStopped());
    QVERIFY(m_screen->timer() && m_screen->timer()->isValid());
    QCOMPARE(m_screen->timer()->fireDate(), cancelled + 6.0);
    m_clock.advance(5.9);
    QVERIFY(barsShown());
    m_clock.advance(0.6 + kFrame);
    QVERIFY(barsHidden());
  }

  void otherAppsOpensTheMakersStorePageAndFreesTheBars() {
    QVERIFY(open());
    select(1);
    chooseFromActionMenu(QStringLiteral("Other Marrowby Apps"));
    QCOMPARE(m_opened.size(), 1);
    QCOMPARE(m_opened[0].scheme(), QString("itms-apps"));
    QVERIFY(m_opened[0].path().startsWith("/artist/"));
    // The store opens beside the screen: the bars are not left pinned, a tap hides them.
    m_clock.advance(1);
    QVERIFY(!m_screen->isFadeTimerStopped());
    m_screen->touchesBegan(QPointF(160, 300));
    m_screen->touchesEnded(QPointF(160, 300));
    m_clock.advance(0.5 + kFrame);
    QVERIFY(barsHidden());

    // Without a handler for the store's own scheme its older scheme is used.
    m_openableSchemes = {QStringLiteral("itms")};
    chooseFromActionMenu(QStringLiteral("Other Marrowby Apps"));
    QCOMPARE(m_opened.size(), 2);
    QCOMPARE(m_opened[1].scheme(), QString("itms"));
    QCOMPARE(m_opened[1].path(), m_opened[0].path());
  }

  void aPageThatCannotBeOpenedIsReported() {
    QVERIFY(open());
    select(1);
    setURLOpenerForTesting([this](const QUrl& url) {
      m_opened << url;
      return false;
    });
    chooseFromActionMenu(QStringLiteral("Other Marrowby Apps"));
    QVERIFY(!m_opened.isEmpty());
    QSAlertView* alert = shownAlert();
    QVERIFY(alert);
    QCOMPARE(alert->title(), QString("Cannot Open the Page"));
    QVERIFY(alert->message().contains(m_opened.last().toDisplayString()));
  }

  // --- Share -------------------------------------------------------------------------------

  void onATabletTheShareSheetsGoingAlsoStartsTheExport() {
    // A sheet never hides the result screen, so its going is not an appearance of the screen.
    MainScreen::setSize({768, 1024, true});
    QVERIFY(open());
    select(1);
    QSShareViewController* picker = openSharePicker();
    QVERIFY(picker);
    picker->buttonForIndex(7)->click();
    m_clock.advance(1);
    QVERIFY(!m_screen->isShowingModal());
    QCOMPARE(m_screen->lastDispatchedShareIndex(), 7);
  }

  void shareStartsOnlyAfterThePickerHasGone() {
    QVERIFY(open());
    m_screen->reachability()->setStatusForTesting(1);
    select(1);
    QSShareViewController* picker = openSharePicker();
    QVERIFY(picker);
    QVERIFY(m_screen->isShowingModal());
    QVERIFY(m_screen->isFadeTimerStopped());
    QCOMPARE(picker->fileType(), 1);
    QVERIFY(picker->isNetworkAvailable());

    QSShareButton* clipboard = picker->buttonForIndex(7);
    QVERIFY(clipboard && clipboard->isEnabled());
    clipboard->click();
    // The picker slides away for 0.35 s; the dispatch polls every 0.1 s meanwhile.
    for (int i = 0; i < 3; ++i) {
      m_clock.advance(0.1);
      QCOMPARE(m_screen->lastDispatchedShareIndex(), -1);
      QVERIFY(m_screen->isShowingModal());
      QVERIFY(m_screen->presentedViewController());
    }
    m_clock.advance(0.08);  // 0.38 s: gone, but the next poll is at 0.4 s
    QVERIFY(!m_screen->presentedViewController());
    QVERIFY(!m_screen->isShowingModal());
    QCOMPARE(m_screen->lastDispatchedShareIndex(), -1);
    m_clock.advance(0.03);
    QCOMPARE(m_screen->lastDispatchedShareIndex(), 7);
    // The dispatch fires once only.
    m_clock.advance(1);
    QCOMPARE(m_screen->lastDispatchedShareIndex(), 7);
  }

  void cancelledShareDispatchesNothingAndRestartsTheFade() {
    QVERIFY(open());
    select(1);
    QSShareViewController* picker = openSharePicker();
    QVERIFY(picker);
    picker->cancelButtonTouched();
    const double cancelled = m_clock.now();
    QVERIFY(!m_screen->isFadeTimerStopped());
    QVERIFY(m_screen->timer() && m_screen->timer()->isValid());
    QCOMPARE(m_screen->timer()->fireDate(), cancelled + 6.0);
    m_clock.advance(2);
    QVERIFY(!m_screen->presentedViewController());
    QCOMPARE(m_screen->lastDispatchedShareIndex(), -1);
    m_clock.advance(4.5);
    QVERIFY(barsHidden());
  }

  void pickerIsToldTheOutputKindAndTheNetwork() {
    QVERIFY(open());
    m_screen->reachability()->setStatusForTesting(0);
    QCOMPARE(m_screen->remoteHostStatus(), 0);
    select(4);
    QSShareViewController* picker = openSharePicker();
    QVERIFY(picker);
    QCOMPARE(picker->fileType(), 2);
    QVERIFY(!picker->isNetworkAvailable());
    picker->cancelButtonTouched();
    m_clock.advance(1);

    m_screen->reachability()->setStatusForTesting(2);
    QCOMPARE(m_screen->remoteHostStatus(), 2);
    select(3);
    picker = openSharePicker();
    QVERIFY(picker);
    QCOMPARE(picker->fileType(), 1);
    QVERIFY(picker->isNetworkAvailable());
    picker->cancelButtonTouched();
  }

  // --- Settings ----------------------------------------------------------------------------

  void settingChangeRemovesItsOutputsAndRendersOnceOnClosing_data() {
    QTest::addColumn<QString>("key");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QStringList>("removed");
    QTest::newRow("ColorMethod") << keys::kColorMethod << QVariant(qint64(2))
                                 << QStringList{kColorFile};
    QTest::newRow("AnaglyphEnhance")
        << keys::kAnaglyphEnhance << QVariant(false) << QStringList{kColorFile, kGreyFile};
    QTest::newRow("StereogramDots")
        << keys::kStereogramDots << QVariant(true) << QStringList{kStereogramFile};
    QTest::newRow("StereoBorderSize")
        << keys::kStereoBorderSize << QVariant(qint64(5)) << QStringList{kStereogramFile};
    QTest::newRow("unobserved ImageSize")
        << keys::kImageSize << QVariant(qint64(30)) << QStringList{};
  }
  void settingChangeRemovesItsOutputsAndRendersOnceOnClosing() {
    QFETCH(QString, key);
    QFETCH(QVariant, value);
    QFETCH(QStringList, removed);
    QVERIFY(open());
    select(1);
    select(2);
    select(3);
    for (const char* name : {kColorFile, kGreyFile, kStereogramFile}) QVERIFY(cached(name));

    SettingsViewController* settings = openSettings();
    QVERIFY(settings);
    QVERIFY(m_screen->isShowingModal());
    QVERIFY(!m_screen->settingsChanged());
    QVERIFY(settings->showDoneButton());
    const int renders = m_screen->renderCount(), loads = m_screen->cacheLoadCount();

    if (value.typeId() == QMetaType::Bool)
      m_store->setBool(value.toBool(), key);
    else
      m_store->setInteger(value.toLongLong(), key);
    for (const char* name : {kColorFile, kGreyFile, kStereogramFile})
      QVERIFY2(cached(name) != removed.contains(QLatin1String(name)), name);
    QCOMPARE(m_screen->settingsChanged(), !removed.isEmpty());
    // Nothing renders while the settings screen is up.
    m_clock.advance(1);
    QCOMPARE(m_screen->renderCount(), renders);

    settings->doneButtonItem()->trigger();
    m_clock.advance(1);
    QVERIFY(settle());
    QVERIFY(!m_screen->presentedViewController());
    QVERIFY(!m_screen->isShowingModal());
    const bool stereogramRemoved = removed.contains(QLatin1String(kStereogramFile));
    if (removed.isEmpty()) {
      QCOMPARE(m_screen->renderCount(), renders);
      QCOMPARE(m_screen->cacheLoadCount(), loads);
    } else {
      // The stereogram is on screen: rendered anew when its file went, else loaded.
      QCOMPARE(m_screen->renderCount(), renders + (stereogramRemoved ? 1 : 0));
      QCOMPARE(m_screen->cacheLoadCount(), loads + (stereogramRemoved ? 0 : 1));
    }
    QVERIFY(m_screen->timer() && m_screen->timer()->isValid());
    QVERIFY(!m_screen->isFadeTimerStopped());
  }

  // --- Swap and back -----------------------------------------------------------------------

  void swapRetitlesKeepsTheOffsetAndClearsTheCache() {
    QVERIFY(open());
    m_screen->touchesBegan(QPointF(100, 300));
    m_screen->touchesMoved(QPointF(112, 293));
    m_screen->touchesEnded(QPointF(112, 293));
    QVERIFY(!m_screen->swapButton()->isEnabled());  // impossible in the alignment view
    select(1);
    select(2);
    select(3);
    QCOMPARE(m_screen->navigationBar()->title(), QString("Stereogram (parallel)"));
    const QImage leftBefore = toQImage(m_screen->pair().leftImage());
    const QImage rightBefore = toQImage(m_screen->pair().rightImage());
    const int renders = m_screen->renderCount();

    QVERIFY(m_screen->swapButton()->isEnabled());
    m_screen->swapButton()->trigger();
    QVERIFY(m_screen->isImageSwapped());
    QCOMPARE(m_screen->navigationBar()->title(), QString("Stereogram (cross)"));
    for (const char* name : {kColorFile, kGreyFile, kStereogramFile}) QVERIFY2(!cached(name), name);
    QCOMPARE(toQImage(m_screen->pair().leftImage()), rightBefore);
    QCOMPARE(toQImage(m_screen->pair().rightImage()), leftBefore);
    QCOMPARE(m_screen->alignOffsetX(), 12.0f);
    QCOMPARE(m_screen->alignOffsetY(), -7.0f);
    m_clock.advance(0);
    QVERIFY(settle());
    QCOMPARE(m_screen->renderCount(), renders + 1);  // rendered anew, not loaded

    // Every other output renders again too; a second swap goes back to the pair as taken.
    select(1);
    QCOMPARE(m_screen->renderCount(), renders + 2);
    m_screen->swapButtonClick();
    QVERIFY(!m_screen->isImageSwapped());
    select(3);
    QCOMPARE(m_screen->navigationBar()->title(), QString("Stereogram (parallel)"));
    // Back in the alignment view the overlay sits at the kept offset.
    select(0);
    m_clock.advance(1.1);
    QCOMPARE(viewTransform(m_screen->alignImageView()), QTransform::fromTranslate(12, -7));
  }

  void backButtonTellsTheCallerHalfASecondAfterTheScreenHasGone() {
    QVERIFY(open());
    int told = 0;
    m_screen->setCallback([&told] { ++told; });
    m_clock.advance(2);
    m_screen->photoButton()->trigger();
    QVERIFY(!m_screen->timer());  // stopped before the screen goes
    QVERIFY(!m_screen->alignImageView());
    // The screen slides away for a third of a second or so; find when it has gone.
    m_clock.advance(0.3);
    QCOMPARE(m_root->presentedViewController(), m_screen.data());
    const double deadline = m_clock.now() + 1;
    while (m_root->presentedViewController() && m_clock.now() < deadline) m_clock.advance(0.001);
    QVERIFY(!m_root->presentedViewController());
    QCOMPARE(told, 0);
    m_clock.advance(0.495);
    QCOMPARE(told, 0);
    m_clock.advance(0.006);
    QCOMPARE(told, 1);
    m_clock.advance(10);
    flushDeletes();
    QCOMPARE(told, 1);
    QVERIFY(m_screen.isNull());
  }

  // --- Alignment drag ----------------------------------------------------------------------

  void dragOffsetIsTheOffsetAtTouchDownPlusTravel() {
    QVERIFY(open());
    m_screen->touchesBegan(QPointF(100, 300));
    QVERIFY(m_screen->isGesturing());
    m_screen->touchesMoved(QPointF(130, 320));
    QCOMPARE(m_screen->alignOffsetX(), 30.0f);
    QCOMPARE(m_screen->alignOffsetY(), 20.0f);
    QCOMPARE(viewTransform(m_screen->alignImageView()), QTransform::fromTranslate(30, 20));
    m_screen->touchesEnded(QPointF(130, 320));
    QVERIFY(!m_screen->isGesturing());

    // A second drag starts wherever the finger lands and adds its travel.
    m_screen->touchesBegan(QPointF(50, 400));
    m_screen->touchesMoved(QPointF(60.5, 390));
    QCOMPARE(m_screen->alignOffsetX(), 40.5f);
    QCOMPARE(m_screen->alignOffsetY(), 10.0f);
    // A second finger does not restart the gesture.
    m_screen->touchesBegan(QPointF(250, 100));
    m_screen->touchesMoved(QPointF(70.5, 395));
    QCOMPARE(m_screen->alignOffsetX(), 50.5f);
    QCOMPARE(m_screen->alignOffsetY(), 15.0f);
    m_screen->touchesEnded(QPointF(70.5, 395));
    // Nothing was rendered while dragging.
    QCOMPARE(m_screen->renderCount() + m_screen->cacheLoadCount(), 0);
  }

  void dragStopsEachAxisJustBelow101Points() {
    QVERIFY(open());
    m_screen->touchesBegan(QPointF(150, 300));
    m_screen->touchesMoved(QPointF(250.9, 300));
    QCOMPARE(m_screen->alignOffsetX(), 100.9f);
    m_screen->touchesMoved(QPointF(251.0, 300));
    QCOMPARE(m_screen->alignOffsetX(), 100.9f);  // 101.0 is refused: the axis stays
    // The other axis goes on following the finger meanwhile.
    m_screen->touchesMoved(QPointF(400, 240));
    QCOMPARE(m_screen->alignOffsetX(), 100.9f);
    QCOMPARE(m_screen->alignOffsetY(), -60.0f);
    m_screen->touchesMoved(QPointF(400, 199.1));
    QCOMPARE(m_screen->alignOffsetY(), -100.9f);
    m_screen->touchesMoved(QPointF(400, 199.0));
    QCOMPARE(m_screen->alignOffsetY(), -100.9f);
    // Negative x, and coming back inside the limit moves the axis again.
    m_screen->touchesMoved(QPointF(49.1, 290));
    QCOMPARE(m_screen->alignOffsetX(), -100.9f);
    QCOMPARE(m_screen->alignOffsetY(), -10.0f);
    m_screen->touchesMoved(QPointF(49.0, 290));
    QCOMPARE(m_screen->alignOffsetX(), -100.9f);
    m_screen->touchesMoved(QPointF(140, 290));
    QCOMPARE(m_screen->alignOffsetX(), -10.0f);
    m_screen->touchesEnded(QPointF(140, 290));
  }

  void mouseDragMovesTheOverlayUnderTheLoupe() {
    QVERIFY(open());
    QWidget* view = m_screen->view();
    QTest::mousePress(view, Qt::LeftButton, {}, QPoint(100, 300));
    QVERIFY(m_screen->isGesturing());
    MagnifierView* loupe = m_screen->loupe();
    QVERIFY(loupe);
    QVERIFY(loupe->isVisible());
    QVERIFY(loupe->parentWidget() != view && !view->isAncestorOf(loupe));
    QCOMPARE(QRectF(loupe->geometry()).center(), QPointF(100, 220));  // 80 points above

    QMouseEvent move(QEvent::MouseMove, QPointF(125, 310), view->mapToGlobal(QPointF(125, 310)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view, &move);
    QCOMPARE(m_screen->alignOffsetX(), 25.0f);
    QCOMPARE(m_screen->alignOffsetY(), 10.0f);
    QCOMPARE(loupe->touchPoint(), QPointF(125, 310));  // the finger, not the offset

    QTest::mouseRelease(view, Qt::LeftButton, {}, QPoint(125, 310));
    QVERIFY(!m_screen->isGesturing());
    QVERIFY(!loupe->isVisible());
  }

  void loupeHoversAboveTheFingerAndMayLeaveTheScreen() {
    QVERIFY(open());
    m_screen->touchesBegan(QPointF(160, 300));
    MagnifierView* loupe = m_screen->loupe();
    QVERIFY(loupe);
    QCOMPARE(loupe->size(), QSize(100, 100));
    QCOMPARE(loupe->geometry().topLeft(), QPoint(110, 170));  // centre (160, 220)
    QCOMPARE(loupe->viewToMagnify(), m_screen->view());
    m_screen->touchesMoved(QPointF(20, 30));
    QCOMPARE(loupe->geometry().topLeft(), QPoint(-30, -100));  // centre (20, -50)
    m_screen->touchesEnded(QPointF(20, 30));
    QVERIFY(!loupe->isVisible());
    // The next drag brings a new loupe; a drag the window takes away ends like any other.
    select(1);
    select(0);
    QVERIFY(cached(kColorFile));
    m_screen->touchesBegan(QPointF(200, 400));
    QVERIFY(m_screen->loupe());
    QVERIFY(m_screen->loupe()->isVisible());
    m_screen->touchesMoved(QPointF(210, 400));
    m_screen->touchesCancelled();
    QVERIFY(!m_screen->isGesturing());
    QVERIFY(!m_screen->loupe() || !m_screen->loupe()->isVisible());
    QVERIFY(!cached(kColorFile));
  }

  void alignmentTouchEndEmptiesTheCacheEvenWithoutMovement() {
    QVERIFY(open());
    select(1);
    select(2);
    select(3);
    select(0);
    for (const char* name : {kColorFile, kGreyFile, kStereogramFile}) QVERIFY(cached(name));
    QTest::mouseClick(m_screen->view(), Qt::LeftButton, {}, QPoint(160, 300));
    QCOMPARE(m_screen->alignOffsetX(), 0.0f);
    for (const char* name : {kColorFile, kGreyFile, kStereogramFile}) QVERIFY2(!cached(name), name);
    select(1);
    QCOMPARE(m_screen->cacheLoadCount(), 0);
  }

  void dragOutsideTheAlignmentViewMovesNothing_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("file");
    QTest::newRow("color") << 1 << kColorFile;
    QTest::newRow("grey") << 2 << kGreyFile;
    QTest::newRow("stereogram") << 3 << kStereogramFile;
    QTest::newRow("wiggle") << 4 << QString();
  }
  void dragOutsideTheAlignmentViewMovesNothing() {
    QFETCH(int, mode);
    QFETCH(QString, file);
    QVERIFY(open());
    select(mode);
    QWidget* view = m_screen->view();
    QTest::mousePress(view, Qt::LeftButton, {}, QPoint(100, 300));
    QMouseEvent move(QEvent::MouseMove, QPointF(150, 350), view->mapToGlobal(QPointF(150, 350)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view, &move);
    QVERIFY(!m_screen->isGesturing());
    QVERIFY(!m_screen->loupe());
    QCOMPARE(m_screen->alignOffsetX(), 0.0f);
    QCOMPARE(m_screen->alignOffsetY(), 0.0f);
    QTest::mouseRelease(view, Qt::LeftButton, {}, QPoint(150, 350));
    if (!file.isEmpty()) QVERIFY(cached(file.toLatin1().constData()));  // still valid
    // Only the bar toggle applied.
    m_clock.advance(0.5 + kFrame);
    QVERIFY(barsHidden());
  }

  void nudgeMovesTheWholePixelOffsetByTheStep_data() {
    QTest::addColumn<QPointF>("drag");
    QTest::addColumn<int>("dx");
    QTest::addColumn<int>("dy");
    QTest::addColumn<bool>("moves");
    QTest::newRow("right") << QPointF() << 1 << 0 << true;
    QTest::newRow("left") << QPointF() << -1 << 0 << true;
    QTest::newRow("down") << QPointF() << 0 << 1 << true;
    QTest::newRow("ten up") << QPointF() << 0 << -10 << true;
    QTest::newRow("left of a drag") << QPointF(12.3, -7.7) << -1 << 0 << true;
    QTest::newRow("up from a drag") << QPointF(12.3, -7.7) << 0 << -1 << true;
    QTest::newRow("out past +100") << QPointF(100.9, 0) << 1 << 0 << false;
    QTest::newRow("in from +100") << QPointF(100.9, 0) << -1 << 0 << true;
  }
  void nudgeMovesTheWholePixelOffsetByTheStep() {
    QFETCH(QPointF, drag);
    QFETCH(int, dx);
    QFETCH(int, dy);
    QFETCH(bool, moves);
    QVERIFY(open());
    const QPointF down(150, 300);
    m_screen->touchesBegan(down);
    m_screen->touchesMoved(down + drag);
    m_screen->touchesEnded(down + drag);
    const float scale = overlayScale();
    const float x0 = m_screen->alignOffsetX(), y0 = m_screen->alignOffsetY();
    const PixelOffset before = pixelOffsetFor(scale, x0, y0);

    m_screen->nudgeAlignment(dx, dy);
    const float x = m_screen->alignOffsetX(), y = m_screen->alignOffsetY();
    QCOMPARE(viewTransform(m_screen->alignImageView()), QTransform::fromTranslate(x, y));
    if (!moves) {
      QCOMPARE(x, x0);
      QCOMPARE(y, y0);
      return;
    }
    const PixelOffset after = pixelOffsetFor(scale, x, y);
    QCOMPARE(after.x, before.x + dx);
    QCOMPARE(after.y, before.y + dy);
    // The moved axis sits on the value nearest zero for its pixel; the other is left as it was.
    const auto nearestZero = [scale](float points, int pixel) {
      return pixelOffsetFor(scale, std::nextafter(points, 0.0f), 0).x != pixel;
    };
    QVERIFY(dx ? nearestZero(x, after.x) : x == x0);
    QVERIFY(dy ? nearestZero(y, after.y) : y == y0);
  }

  void nudgeEndsLikeATouchAndActsOnlyInTheAlignmentView() {
    QVERIFY(open());
    for (int mode : {1, 2, 3, 4}) {
      select(mode);
      m_screen->nudgeAlignment(1, 1);
    }
    QCOMPARE(QPointF(m_screen->alignOffsetX(), m_screen->alignOffsetY()), QPointF());
    select(0);
    for (const char* name : {kColorFile, kGreyFile, kStereogramFile}) QVERIFY2(cached(name), name);
    m_clock.advance(6.6);
    QVERIFY(barsHidden());
    const double nudged = m_clock.now();
    m_screen->nudgeAlignment(0, 1);
    QVERIFY(m_screen->timer() && m_screen->timer()->isValid());
    QCOMPARE(m_screen->timer()->fireDate(), nudged + 6.0);
    m_clock.advance(0.25 + kFrame);
    QVERIFY(barsShown());
    for (const char* name : {kColorFile, kGreyFile, kStereogramFile}) QVERIFY2(!cached(name), name);
  }

  // --- Keys and the large view ---------------------------------------------------------------

  void keysActOnlyWhenNothingElseHasThem_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("busy");  // "menu": action menu open; "drag": alignment drag
    QTest::addColumn<QKeySequence>("keys");
    QTest::addColumn<int>("expectedMode");
    QTest::addColumn<bool>("large");
    QTest::addColumn<QPoint>("pixels");
    QTest::newRow("2") << 0 << "" << QKeySequence("2") << 1 << false << QPoint();
    QTest::newRow("5") << 0 << "" << QKeySequence("5") << 4 << false << QPoint();
    QTest::newRow("1 from grey") << 2 << "" << QKeySequence("1") << 0 << false << QPoint();
    QTest::newRow("3, menu open") << 1 << "menu" << QKeySequence("3") << 1 << false << QPoint();
    QTest::newRow("4 mid-drag") << 0 << "drag" << QKeySequence("4") << 0 << false << QPoint();
    QTest::newRow("3 under an alert") << 1 << "alert" << QKeySequence("3") << 1 << false << QPoint();
    QTest::newRow("F, colour") << 1 << "" << QKeySequence("F") << 1 << true << QPoint();
    QTest::newRow("right") << 0 << "" << QKeySequence("Right") << 0 << false << QPoint(1, 0);
    QTest::newRow("shift up") << 0 << "" << QKeySequence("Shift+Up") << 0 << false
                              << QPoint(0, -10);
  }
  void keysActOnlyWhenNothingElseHasThem() {
    QFETCH(int, mode);
    QFETCH(QString, busy);
    QFETCH(QKeySequence, keys);
    QFETCH(int, expectedMode);
    QFETCH(bool, large);
    QFETCH(QPoint, pixels);
    QVERIFY(open());
    if (mode) select(mode);
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    const float scale = mode == 0 ? overlayScale() : 1;
    if (busy == "menu") m_screen->actionButtonClick();
    if (busy == "drag") m_screen->touchesBegan(QPointF(160, 300));
    if (busy == "alert") (new QSAlertView("Alert", "Over the screen", "Continue"))->show();
    QTest::keySequence(m_window.get(), keys);
    m_clock.advance(0);
    QVERIFY(settle());
    QCOMPARE(m_screen->viewMode(), expectedMode);
    QCOMPARE(m_screen->largeView() != nullptr, large);
    if (large) QVERIFY(m_screen->largeView()->isVisible());
    const PixelOffset moved =
        pixelOffsetFor(scale, m_screen->alignOffsetX(), m_screen->alignOffsetY());
    QCOMPARE(QPoint(moved.x, moved.y), pixels);
    if (busy == "drag") m_screen->touchesEnded(QPointF(160, 300));
  }

  void doubleClickOpensTheOutputLarge_data() {
    QTest::addColumn<int>("mode");
    for (int mode = 0; mode < 5; ++mode) QTest::addRow("mode %d", mode) << mode;
  }
  void doubleClickOpensTheOutputLarge() {
    QFETCH(int, mode);
    QVERIFY(open());
    if (mode) select(mode);
    QWidget* view = m_screen->view();
    const QPoint at(160, 300);
    QTest::mouseClick(view, Qt::LeftButton, {}, at);
    // Sent as such: QTest's own double click depends on timestamps a slow (sanitized) run can
    // stretch past the double-click interval.
    QMouseEvent doubleClick(QEvent::MouseButtonDblClick, QPointF(at), view->mapToGlobal(QPointF(at)),
                            Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view, &doubleClick);
    // In the alignment view the second press is a touch like the first.
    QCOMPARE(m_screen->isGesturing(), mode == 0);
    QTest::mouseRelease(view, Qt::LeftButton, {}, at);
    auto* large = qobject_cast<LargeOutputWindow*>(m_screen->largeView());
    if (mode == 0) {
      QVERIFY(!large);
      return;
    }
    QVERIFY(large && large->isVisible());
    QCOMPARE(large->windowTitle(), m_screen->navigationBar()->title());
    QCOMPARE(large->frameCount(), mode == 4 ? 2 : 1);  // the wigglegram's two frames
    if (mode == 4) return;
    const QSizeF frame = large->imageRect().size();
    const QSize shown = m_screen->imageView()->image().size();
    // The stereogram, shown a quarter turned on the tall screen, opens upright.
    const double aspect =
        mode == 3 ? double(shown.height()) / shown.width() : double(shown.width()) / shown.height();
    QVERIFY(mode != 3 || frame.width() > frame.height());
    QVERIFY(std::abs(frame.width() / frame.height() - aspect) < 0.02);
  }

  // --- Rating prompt -----------------------------------------------------------------------

  void ratingPromptComesFiveWholeDaysAfterTheLastOne_data() {
    QTest::addColumn<qint64>("secondsAgo");
    QTest::addColumn<bool>("provided");
    QTest::addColumn<bool>("shown");
    QTest::newRow("4 days 23 hours") << qint64(4 * 86400 + 23 * 3600) << false << false;
    QTest::newRow("exactly 5 days") << qint64(5 * 86400) << false << true;
    QTest::newRow("a month") << qint64(30 * 86400) << false << true;
    QTest::newRow("in the future") << qint64(-86400) << false << false;
    QTest::newRow("already rated") << qint64(30 * 86400) << true << false;
  }
  void ratingPromptComesFiveWholeDaysAfterTheLastOne() {
    QFETCH(qint64, secondsAgo);
    QFETCH(bool, provided);
    QFETCH(bool, shown);
    QVERIFY(open());
    const QDateTime now(QDate(2024, 3, 10), QTime(12, 0), Qt::UTC);
    m_screen->setDateProvider([now] { return now; });
    const QDateTime last = now.addSecs(-secondsAgo);
    m_store->setObject(last, keys::kLastRatingDate);
    m_store->setBool(provided, keys::kProvidedRating);

    m_screen->askForRating();
    m_clock.advance(0.49);
    QVERIFY(!shownAlert());
    m_clock.advance(0.01);
    QSAlertView* alert = shownAlert();
    QCOMPARE(alert != nullptr, shown);
    if (!shown) {
      QCOMPARE(m_store->objectForKey(keys::kLastRatingDate).toDateTime(), last);
      return;
    }
    QCOMPARE(alert->title(), QString("Help Spread the Word"));
    QCOMPARE(alert->message(),
             QString("If you like this app, please rate it in the App Store. Thanks!"));
    QCOMPARE(alert->numberOfButtons(), 2);
    QCOMPARE(alert->cancelButtonIndex(), 0);
    QCOMPARE(alert->buttonTitleAtIndex(0), QString("Maybe Later"));
    QCOMPARE(alert->buttonTitleAtIndex(1), QString("Rate It Now"));
    QCOMPARE(m_store->objectForKey(keys::kLastRatingDate).toDateTime(), now);

    // "Maybe Later": nothing more, and the next prompt is five days off again.
    alert->buttonAtIndex(0)->click();
    m_clock.advance(1);
    QVERIFY(!m_store->boolForKey(keys::kProvidedRating));
    QVERIFY(m_opened.isEmpty());
    m_screen->askForRating();
    m_clock.advance(1);
    QVERIFY(!shownAlert());
  }

  void rateItNowIsRememberedAndOpensTheStorePage() {
    QVERIFY(open());
    const QDateTime now(QDate(2024, 3, 10), QTime(12, 0), Qt::UTC);
    m_screen->setDateProvider([now] { return now; });
    m_store->setObject(now.addDays(-6), keys::kLastRatingDate);
    m_screen->askForRating();
    m_clock.advance(0.5);
    QSAlertView* alert = shownAlert();
    QVERIFY(alert);
    alert->buttonAtIndex(1)->click();
    m_clock.advance(1);
    QVERIFY(m_store->boolForKey(keys::kProvidedRating));
    QCOMPARE(m_opened.size(), 1);
    QCOMPARE(m_opened[0].scheme(), QString("itms-apps"));
    QVERIFY(m_opened[0].path().startsWith("/app/id"));
    QVERIFY(m_opened[0].path().size() > 7);
    // Never again, however long it has been.
    m_screen->setDateProvider([now] { return now.addDays(400); });
    m_screen->askForRating();
    m_clock.advance(1);
    QVERIFY(!shownAlert());
  }

  // --- Speed (reported, not asserted) ------------------------------------------------------

  void dragSpeed() {
    QVERIFY(open());
    m_screen->touchesBegan(QPointF(160, 300));
    QElapsedTimer timer;
    timer.start();
    for (int i = 1; i <= 200; ++i) m_screen->touchesMoved(QPointF(160 + (i % 80), 300 - (i % 60)));
    const double handlerOnly = timer.nsecsElapsed() / 200.0 / 1000.0;
    // With the loupe drawn after each move, as the screen would.
    QImage canvas(QSize(200, 200), QImage::Format_ARGB32_Premultiplied);
    canvas.setDevicePixelRatio(2);
    timer.restart();
    for (int i = 1; i <= 200; ++i) {
      m_screen->touchesMoved(QPointF(160 - (i % 80), 300 + (i % 60)));
      m_screen->loupe()->render(&canvas);
    }
    const double withLoupe = timer.nsecsElapsed() / 200.0 / 1000.0;
    m_screen->touchesEnded(QPointF(160, 300));
    QCOMPARE(m_screen->renderCount(), 0);
    qInfo("drag move: %.1f us per event (handler), %.1f us with the loupe drawn at 2x", handlerOnly,
          withLoupe);
  }

  // --- Screenshots -------------------------------------------------------------------------

  void screenshotsOfEveryViewMode() {
    QVERIFY(open());
    m_clock.advance(1.1);
    saveScreenshot(m_window.get(), "blend-align.png");
    const std::pair<int, const char*> stills[] = {
        {1, "blend-color.png"}, {2, "blend-grey.png"}, {3, "blend-stereogram.png"}};
    for (const auto& [mode, name] : stills) {
      select(mode);
      m_clock.advance(0.3);  // the vignette has faded out
      saveScreenshot(m_window.get(), name);
    }
    select(4);
    m_clock.advance(0.3);
    const QImage a = render2x(m_window.get());
    m_clock.advance(0.1);
    const QImage b = render2x(m_window.get());
    QVERIFY(a != b);
    QVERIFY(a.save("blend-wiggle-a.png"));
    QVERIFY(b.save("blend-wiggle-b.png"));
  }

  void screenshotsOfARealPair() {
    const QString dir = testdataDir() + "/pairs/night-street";
    if (!QFileInfo::exists(dir + "/left.jpg")) QSKIP("the folder of real stereo pairs is absent");
    QVERIFY(open(dir));
    select(1);
    m_clock.advance(0.3);
    saveScreenshot(m_window.get(), "blend-real-color.png");
    select(3);
    m_clock.advance(0.3);
    saveScreenshot(m_window.get(), "blend-real-stereogram.png");
  }

  void screenshotOfTheLoupe() {
    QVERIFY(open());
    m_clock.advance(1.1);
    // On the striped ball, the right image dragged right until the ball is in register.
    m_screen->touchesBegan(QPointF(120, 330));
    m_screen->touchesMoved(QPointF(136, 331));
    saveScreenshot(m_window.get(), "blend-loupe.png");
    m_screen->touchesEnded(QPointF(136, 331));
  }
};

QTEST_MAIN(BlendViewControllerTest)
#include "blend_view_controller_test.moc"
