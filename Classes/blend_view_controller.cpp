#include "blend_view_controller.h"

#include "blend_view.h"

#include <QDir>
#include <QTemporaryDir>
#include <QApplication>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <utility>

#include "app_config.h"
#include "align/auto_align.h"
#include "cache/render_cache.h"
#include "image_resources.h"
#include "image_view.h"
#include "magnifier_view.h"
#include "qs_alert_view.h"
#include "qs_dropbox.h"
#include "qs_share_view_controller.h"
#include "qt_image.h"
#include "reachability.h"
#include "run_loop.h"
#include "screen.h"
#include "segmented_control.h"
#include "settings_keys.h"
#include "settings_store.h"
#include "url_opener.h"
#include "view_animation.h"
#include "vignette_view.h"

namespace duo {


namespace {

QString& defaultCachesDirectoryValue() {
  static QString directory;
  return directory;
}

const char* const kModeImages[] = {"ModeAlign.png", "ModeColor.png", "ModeGrey.png",
                                   "ModeStereogram.png", "ModeWiggle.png"};

/// Which cached outputs a settings key feeds.
CacheMask cacheMaskForKey(const QString& key) {
  if (key == keys::kColorMethod) return 1;
  if (key == keys::kAnaglyphEnhance) return 1 | 2;
  if (key == keys::kStereogramDots || key == keys::kStereoBorderSize) return 4;
  return 0;
}

}  // namespace

BlendViewController::BlendViewController(SettingsStore& store, QString cachesDirectory,
                                         QObject* parent)
    : ViewController(parent),
      m_store(store),
      m_cachesDirectory(std::move(cachesDirectory)),
      m_now([] { return QDateTime::currentDateTimeUtc(); }) {}

void BlendViewController::setDefaultCachesDirectory(const QString& directory) {
  defaultCachesDirectoryValue() = directory;
}

QString BlendViewController::defaultCachesDirectory() { return defaultCachesDirectoryValue(); }

BlendViewController::~BlendViewController() {
  // Renders still queued for this screen are skipped; nobody will see them.
  ++m_generations->mode;
  ++m_generations->output;
  delete m_largeView.data();  // a top-level window of its own
  for (const auto& [key, token] : m_observers) m_store.removeObserver(key, token);
  if (m_timer) m_timer->invalidate();
  if (m_shareTimer) m_shareTimer->invalidate();
  delete m_loupe.data();  // it lives beside the view, not inside it
}

void BlendViewController::setLeftImage(Image image) { m_pair.setLeftImage(std::move(image)); }
void BlendViewController::setRightImage(Image image) { m_pair.setRightImage(std::move(image)); }
void BlendViewController::setPair(StereoPair pair) { m_pair = std::move(pair); }

int BlendViewController::viewMode() const {
  return m_segmentedControl ? m_segmentedControl->selectedSegmentIndex() : 0;
}

// ---------------------------------------------------------------------------------------------
// Loading

void BlendViewController::loadView() {
  auto* view = new BlendView(this);
  view->resize(MainScreen::bounds());
  setView(view);
}

void BlendViewController::viewDidLoad() {
  QWidget* root = view();
  const int w = root->width();
  const int h = root->height();
  m_isShowingModal = false;

  // The cache belongs to this pair: whatever an earlier pair left is gone from here on.
  if (m_cachesDirectory.isEmpty()) m_cachesDirectory = defaultCachesDirectory();
  if (m_cachesDirectory.isEmpty()) {
    // Never the shared cache root: a reset there would empty every running instance's folder.
    // A private temporary folder instead; if even that fails, a path that does not exist, so
    // that the cache simply stays empty.
    m_ownCaches = std::make_unique<QTemporaryDir>();
    m_cachesDirectory = m_ownCaches->isValid()
                            ? m_ownCaches->path()
                            : QDir::tempPath() + QStringLiteral("/duoscope-no-cache/none");
  }
  // One PNG writer: the other core renders, and a large pair's encodings each hold tens of
  // megabytes while they run.
  m_cache = std::make_shared<RenderCache>(QDir(m_cachesDirectory).absolutePath().toStdString(), 1);
  m_cache->resetCacheDirectory();
  // Outputs kept in memory beside their files make a return to a mode instant; on a large pair
  // only the newest is kept, and the others are read back from their files off this thread.
  m_cache->setRememberedImageBudget(kRememberedOutputBytes);

  m_gammaTable = updateGammaTable(0.8);
  checkNetworkReachability();

  m_imageView = new ImageView(root);
  m_imageView->setContentMode(ContentMode::AspectFit);
  m_imageView->setGeometry(root->rect());
  m_imageView->show();
  applySentAlignment();

  m_activityIndicator = new ActivityIndicatorView(ActivityIndicatorView::Style::WhiteLarge, root);
  const QSize spinner = m_activityIndicator->sizeHint();
  m_activityIndicator->move((w - spinner.width()) / 2, (h - spinner.height()) / 2);

  std::vector<QImage> segments;
  for (const char* name : kModeImages) segments.push_back(imageNamed(QString::fromLatin1(name)));
  m_segmentedControl = new SegmentedControl(std::move(segments));
  m_segmentedControl->setTintColor(QColor::fromRgbF(0.3, 0.3, 0.3, 1.0));
  m_segmentedControl->setFixedSize(225, 29);
  connect(m_segmentedControl, &SegmentedControl::valueChanged, this, [this] { viewModeClick(); });

  m_swapButton = new BarButtonItem(imageNamed(QStringLiteral("Swap.png")), [this] { swapButtonClick(); }, this);
  // Swapping means nothing in the alignment view; its place there suggests an alignment.
  if (autoAlignmentAvailable())
    m_autoAlignButton = new BarButtonItem(imageNamed(QStringLiteral("AutoAlign.png")),
                                          [this] { autoAlignButtonClick(); }, this);
  m_toolbar = new Toolbar(root);
  m_toolbar->setGeometry(0, h - Toolbar::kHeight, w, Toolbar::kHeight);
  for (auto& space : m_toolbarSpaces)
    space = new BarButtonItem(BarButtonItem::SystemItem::FlexibleSpace, {}, this);
  m_toolbar->setItems({m_toolbarSpaces[0].data(), m_segmentedControl.data(), m_toolbarSpaces[1].data(),
                       m_swapButton.data()});
  m_toolbar->show();

  m_navigationBar = new NavigationBar(root);
  m_navigationBar->setGeometry(0, 0, 320, NavigationBar::kHeight);
  if (w != 320) m_navigationBar->resize(w, NavigationBar::kHeight);  // a tablet's full width
  m_photoButton =
      m_photoMethod != 0
          ? new BarButtonItem(imageNamed(QStringLiteral("gallery.png")), [this] { photoButtonClick(); }, this)
          : new BarButtonItem(BarButtonItem::SystemItem::Camera, [this] { photoButtonClick(); }, this);
  m_actionButton =
      new BarButtonItem(BarButtonItem::SystemItem::Action, [this] { actionButtonClick(); }, this);
  m_navigationBar->setItems(m_photoButton, m_actionButton);
  m_navigationBar->show();

  m_fixAlignmentViewIfNecessary = true;
  m_segmentedControl->setSelectedSegmentIndex(0);
  viewModeClick();
  addKVOForUserDefaults();
  // Keys reach the screen when it, or nothing, has the focus in its window.
  root->setFocusPolicy(Qt::StrongFocus);
  // Keys and mouse movement without a button reaches no widget here (none tracks the mouse), but it
  // passes the application's filters on its way.
  qApp->installEventFilter(this);
}


void BlendViewController::applySentAlignment() {
  if (!m_sentAlignment || !m_imageView) return;
  const SentAlignment sent = *std::exchange(m_sentAlignment, std::nullopt);
  const Image& left = m_pair.leftImage();
  int working = std::max(left.width(), left.height());
  // Photographs not yet reduced become working copies no longer than the maximum resolution.
  if (!m_pair.resizedOriginalImages() && m_pair.maximumResolution() > 0)
    working = std::min(working, int(m_pair.maximumResolution()));
  const float scale = scaleForImageView(
      ImageViewGeometry{float(m_imageView->width()), float(m_imageView->height()), true},
      left.width(), left.height());
  const float x = pointsForSentPixels(sent.x, sent.sentLongerSide, working, scale);
  const float y = pointsForSentPixels(sent.y, sent.sentLongerSide, working, scale);
  // Cutting such an offset to the limit would look aligned and be wrong.
  if (std::abs(std::trunc(x)) > kMaxAlignOffset || std::abs(std::trunc(y)) > kMaxAlignOffset) {
    qWarning("duoscope: the sent alignment (%d, %d pixels) is beyond what the alignment view can "
             "show; the pair opens unaligned",
             sent.x, sent.y);
    return;
  }
  m_alignOffsetX = x;
  m_alignOffsetY = y;
}

void BlendViewController::viewWillLayoutSubviews() {
  QWidget* root = view();
  if (m_imageView) m_imageView->setGeometry(root->rect());
  if (m_toolbar) m_toolbar->setGeometry(0, root->height() - Toolbar::kHeight, root->width(), Toolbar::kHeight);
  if (m_vignetteView) m_vignetteView->setGeometry(root->rect());
  if (m_blockingView) m_blockingView->setGeometry(root->rect());
  if (m_progressView)
    m_progressView->move((root->width() - m_progressView->width()) / 2,
                         (root->height() - m_progressView->height()) / 2);
  if (m_fixAlignmentViewIfNecessary && viewMode() == 0 && m_alignImageView && m_imageView &&
      m_alignImageView->geometry() != m_imageView->geometry())
    m_alignImageView->setGeometry(m_imageView->geometry());
  m_fixAlignmentViewIfNecessary = false;
}

void BlendViewController::viewDidAppear(bool) {
  m_isShowingModal = false;
  if (QWidget* root = view(); root->isVisible()) root->setFocus();
}

void BlendViewController::addKVOForUserDefaults() {
  for (const QString& key : {keys::kColorMethod, keys::kAnaglyphEnhance, keys::kStereogramDots,
                             keys::kStereoBorderSize}) {
    const int token =
        m_store.addObserver(key, this, [this](const QString& changed) { settingChanged(changed); });
    m_observers.emplace_back(key, token);
  }
}

void BlendViewController::settingChanged(const QString& key) {
  m_settingsChanged = true;
  invalidateOutputs();
  if (m_cache) m_cache->removeCachedFilesForMask(cacheMaskForKey(key));
}

RenderSettings BlendViewController::renderSettings() const {
  RenderSettings settings;
  settings.colorMethod = int(m_store.integerForKey(keys::kColorMethod));
  settings.anaglyphEnhance = m_store.boolForKey(keys::kAnaglyphEnhance);
  settings.stereogramDots = m_store.boolForKey(keys::kStereogramDots);
  settings.stereoBorderSize = int(m_store.integerForKey(keys::kStereoBorderSize));
  return settings;
}


// ---------------------------------------------------------------------------------------------
// Bars

void BlendViewController::startFadeItems() {
  m_isFadeTimerStopped = false;
  m_timer = QSTimer::scheduledTimer(kFadeDelay, false, [guard = QPointer<BlendViewController>(this)](QSTimer&) {
    if (guard) guard->fadeItems();
  });
}

void BlendViewController::rescheduleFadeItems() {
  m_isFadeTimerStopped = false;
  if (m_timer) m_timer->setFireDate(RunLoopClock::current().now() + kFadeDelay);
}

void BlendViewController::resetFadeItems() {
  // Where the bars are heading counts, not where a running fade has got them to.
  if (m_navigationBar && m_toolbar &&
      (viewTargetAlpha(m_navigationBar) < 1 || viewTargetAlpha(m_toolbar) < 1)) {
    animateViews(kBarsInSeconds, AnimationCurve::EaseInOut,
                 {{m_navigationBar.data(), 1.0, {}, {}}, {m_toolbar.data(), 1.0, {}, {}}});
  }
  setStatusBarHidden(false);
  if (m_timer && m_timer->isValid()) rescheduleFadeItems();
  else startFadeItems();
}

void BlendViewController::fadeItems() {
  animateViews(kBarsOutSeconds, AnimationCurve::EaseInOut,
               {{m_navigationBar.data(), 0.0, {}, {}}, {m_toolbar.data(), 0.0, {}, {}}});
  setStatusBarHidden(true);
  if (m_timer) m_timer->invalidate();
  m_timer.reset();
}

void BlendViewController::stopFadeItems() {
  m_isFadeTimerStopped = true;
  animateViews(kBarsInSeconds, AnimationCurve::EaseInOut,
               {{m_navigationBar.data(), 1.0, {}, {}}, {m_toolbar.data(), 1.0, {}, {}}});
  setStatusBarHidden(false);
  if (m_timer) m_timer->invalidate();
  m_timer.reset();
}

void BlendViewController::setStatusBarHidden(bool hidden) {
  // The desktop window has no status bar; the wish is kept for whoever shows one.
  m_statusBarHidden = hidden;
}

// ---------------------------------------------------------------------------------------------
// Action menu, share picker, settings

void BlendViewController::actionButtonClick() {
  stopFadeItems();
  auto* sheet = new QSActionSheet(QString(), QStringLiteral("Cancel"), QString(),
                                  {QStringLiteral("Share"), QStringLiteral("Settings"),
                                   QStringLiteral("Other Marrowby Apps")});
  sheet->setActionSheetStyle(QSActionSheet::Style::BlackTranslucent);
  QPointer<BlendViewController> guard(this);
  sheet->showFromBarButtonItem(m_actionButton, m_toolbar, false, [guard](QSActionSheet*, int index) {
    if (!guard) return;
    switch (index) {
      case 0:
        performAfterDelay(0, [guard] { if (guard) guard->share(); });
        break;
      case 1:
        performAfterDelay(0, [guard] { if (guard) guard->showSettings(); });
        break;
      case 2:
        guard->openMarrowbyAppsInAppStore();
        // The store opens beside the application here rather than in its place, so the bars
        // must not stay pinned (taps could not hide them again).
        guard->resetFadeItems();
        break;
      default:
        guard->resetFadeItems();
    }
  });
}

void BlendViewController::share() {
  const int fileType = viewMode() == 4 ? 2 : 1;
  QPointer<BlendViewController> guard(this);
  auto* picker = new QSShareViewController(fileType, m_remoteHostStatus != 0, [guard](int index) {
    if (!guard) return;
    guard->dismissPresentedScreen();
    if (index < 0) {
      guard->resetFadeItems();
      return;
    }
    // Several exports present a screen of their own: start only once the picker has gone.
    if (guard->m_shareTimer) guard->m_shareTimer->invalidate();
    guard->m_shareTimer = QSTimer::scheduledTimer(kSharePollInterval, true, [guard, index](QSTimer& timer) {
      if (guard) guard->executeShareBarButtonIndexOnTimer(timer, index);
      else timer.invalidate();
    });
  });
  auto* navigation = new NavigationController(picker);
  navigation->setModalPresentationStyle(ModalPresentationStyle::FormSheet);
  m_isShowingModal = true;
  if (!presentViewController(navigation, true)) {
    // Something else is on top already: nothing opened, so nothing is left pinned.
    m_isShowingModal = false;
    resetFadeItems();
  }
}

void BlendViewController::executeShareBarButtonIndexOnTimer(QSTimer& timer, int index) {
  if (m_isShowingModal) return;
  timer.invalidate();
  m_shareTimer.reset();
  executeShareBarButtonIndex(index);
}

void BlendViewController::showSettings() {
  m_settingsChanged = false;
  auto* settings = new SettingsViewController(m_store);
  settings->setDelegate(this);
  settings->setShowDoneButton(true);
  auto* navigation = new NavigationController(settings);
  navigation->setModalPresentationStyle(ModalPresentationStyle::FormSheet);
  m_isShowingModal = true;
  if (!presentViewController(navigation, true)) {
    // Something else is on top already: nothing opened, so nothing is left pinned.
    m_isShowingModal = false;
    resetFadeItems();
  }
}

void BlendViewController::dismissPresentedScreen() {
  // A full-screen screen's going shows this view again (viewDidAppear clears the flag); a sheet
  // on a tablet never hid it, so its dismissal clears the flag itself.
  dismissViewController(true, [guard = QPointer<BlendViewController>(this)] {
    if (guard) guard->m_isShowingModal = false;
  });
}

void BlendViewController::settingsViewControllerDidEnd(SettingsViewController*) {
  dismissPresentedScreen();
  resetFadeItems();
  if (m_settingsChanged) viewModeClick();
}

void BlendViewController::openStorePage(const QString& path) {
  // The store's own schemes first; a desktop without a store client gets the web page.
  for (const char* scheme : {"itms-apps", "itms"}) {
    const QUrl url(QStringLiteral("%1://%2%3").arg(QLatin1String(scheme), QLatin1String(config::kStoreHost), path));
    // A handler that is registered but fails leaves the web page to try.
    if (canOpenURL(url) && openURL(url)) return;
  }
  const QUrl web(QStringLiteral("https://%1%2").arg(QLatin1String(config::kStoreHost), path));
  if (!openURL(web)) reportUnopenedURL(web);
}

void BlendViewController::reportUnopenedURL(const QUrl& url) {
  auto* alert = new QSAlertView(
      QStringLiteral("Cannot Open the Page"),
      QStringLiteral("No web browser or other program on this computer could open %1.")
          .arg(url.toDisplayString()),
      QStringLiteral("Continue"));
  alert->showWithCompletion([](QSAlertView*, int) {});
}

void BlendViewController::openMarrowbyAppsInAppStore() {
  openStorePage(QString::fromLatin1(config::kMakerStorePath));
}

// ---------------------------------------------------------------------------------------------
// Swap and back

void BlendViewController::swapButtonClick() {
  resetFadeItems();
  m_pair.swapImages();
  invalidateOutputs();
  m_cache->removeCachedFilesForMask(kCacheMaskAll);
  viewModeClick();
}

void BlendViewController::photoButtonClick() {
  if (m_timer) m_timer->invalidate();
  m_timer.reset();
  cleanupImageTransition();
  std::function<void()> callback = m_callback;
  dismissViewController(true, [callback] {
    if (callback) performAfterDelay(kCallbackDelay, callback);
  });
}

// ---------------------------------------------------------------------------------------------
// Reachability, dimming, progress

void BlendViewController::checkNetworkReachability() {
  // A developer pointing the services at a server of their own names its host instead.
  const QString host = qEnvironmentVariableIsEmpty("DUOSCOPE_REACHABILITY_HOST")
                           ? QString::fromLatin1(config::kReachabilityHost)
                           : qEnvironmentVariable("DUOSCOPE_REACHABILITY_HOST");
  m_reachability = Reachability::reachabilityWithHostName(host);
  m_reachability->setParent(this);
  connect(m_reachability, &Reachability::reachabilityChanged, this, [this] { updateReachability(); });
  m_reachability->startNotifier();
  updateReachability();
}

void BlendViewController::updateReachability() {
  if (m_reachability) m_remoteHostStatus = m_reachability->currentReachabilityStatus();
  if (viewMode() != 0 && m_actionButton) m_actionButton->setEnabled(true);
}

void BlendViewController::dimScreen() {
  delete m_blockingView.data();
  m_blockingView = new QWidget(view());
  m_blockingView->setGeometry(view()->rect());
  m_blockingView->setAutoFillBackground(true);
  QPalette palette = m_blockingView->palette();
  palette.setColor(QPalette::Window, Qt::black);
  m_blockingView->setPalette(palette);
  setViewAlpha(m_blockingView, 0);
  m_blockingView->show();
  m_blockingView->raise();
  animateViews(kOverlayFadeSeconds, AnimationCurve::EaseInOut, {{m_blockingView.data(), kBlockingOpacity, {}, {}}});
}

void BlendViewController::unDimScreen() {
  if (!m_blockingView) return;
  QPointer<QWidget> blocking = m_blockingView;
  animateViews(kOverlayFadeSeconds, AnimationCurve::EaseInOut, {{blocking.data(), 0.0, {}, {}}},
               [guard = QPointer<BlendViewController>(this), blocking](bool) {
                 if (!guard || guard->m_blockingView != blocking) return;
                 delete blocking.data();
               });
}

void BlendViewController::showProgressView() {
  delete m_progressView.data();
  m_progressView = new QSProgressView(QPoint(), view());
  m_progressView->move((view()->width() - m_progressView->width()) / 2,
                       (view()->height() - m_progressView->height()) / 2);
  m_progressView->setPercentComplete(0);
  m_progressView->setDelegate(this);
  setViewAlpha(m_progressView, 0);
  m_progressView->show();
  m_progressView->raise();
  animateViews(kOverlayFadeSeconds, AnimationCurve::EaseInOut, {{m_progressView.data(), 1.0, {}, {}}});
}

void BlendViewController::hideProgressView() {
  if (!m_progressView) return;
  QPointer<QSProgressView> panel = m_progressView;
  animateViews(kOverlayFadeSeconds, AnimationCurve::EaseInOut, {{panel.data(), 0.0, {}, {}}},
               [guard = QPointer<BlendViewController>(this), panel](bool) {
                 if (!guard || guard->m_progressView != panel) return;
                 delete panel.data();
               });
}

void BlendViewController::progressViewDidCancel(QSProgressView*) {
  // The Dropbox upload is the panel's only user; its completion will not come.
  QSDropbox::sharedDropbox()->cancelUpload();
  hideProgressView();
  unDimScreen();
  resetFadeItems();
}


// ---------------------------------------------------------------------------------------------
// Rating prompt

void BlendViewController::askForRating() {
  if (m_store.boolForKey(keys::kProvidedRating)) return;
  const QDateTime last = m_store.objectForKey(keys::kLastRatingDate).toDateTime();
  const double elapsed = last.isValid() ? double(last.msecsTo(m_now())) / 1000.0 : 0.0;
  const double days = std::trunc(elapsed / 86400.0);
  if (days >= 5) {
    performAfterDelay(kRatingDelay, [guard = QPointer<BlendViewController>(this)] {
      if (guard) guard->showRatingAlert();
    });
  }
}

void BlendViewController::showRatingAlert() {
  auto* alert = new QSAlertView(
      QStringLiteral("Help Spread the Word"),
      QStringLiteral("If you like this app, please rate it in the App Store. Thanks!"),
      QStringLiteral("Maybe Later"), {QStringLiteral("Rate It Now")});
  alert->showWithCompletion([guard = QPointer<BlendViewController>(this)](QSAlertView*, int index) {
    if (guard) guard->alertViewClickedButtonAtIndex(index);
  });
  m_store.setObject(m_now(), keys::kLastRatingDate);
}

void BlendViewController::alertViewClickedButtonAtIndex(int index) {
  if (index != 1) return;  // the stored date already puts the next prompt five days off
  m_store.setBool(true, keys::kProvidedRating);
  openStorePage(QStringLiteral("/app/id") + QLatin1String(config::kProductStoreIdentifier));
}

}  // namespace duo
