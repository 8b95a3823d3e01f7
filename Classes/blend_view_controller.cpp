#include "blend_view_controller.h"

#include <QDir>
#include <QFutureWatcher>
#include <QtConcurrent/QtConcurrentRun>
#include <QMouseEvent>
#include <QKeyEvent>
#include <QTemporaryDir>
#include <QApplication>
#include <QStandardPaths>
#include <QUrl>

#include <cmath>

#include "app_config.h"
#include "cache/render_cache.h"
#include "image_resources.h"
#include "image_view.h"
#include "large_output_window.h"
#include "magnifier_view.h"
#include "qs_alert_view.h"
#include "qs_modal_overlay.h"
#include "qs_share_view_controller.h"
#include "qt_image.h"
#include "reachability.h"
#include "render/renderer.h"
#include "render/wigglegram.h"
#include "run_loop.h"
#include "screen.h"
#include "segmented_control.h"
#include "settings_keys.h"
#include "settings_store.h"
#include "url_opener.h"
#include "view_animation.h"
#include "vignette_view.h"

namespace duo {

/// The result screen's root view: the mouse is the finger.
class BlendView : public QWidget {
 public:
  explicit BlendView(BlendViewController* controller) : m_controller(controller) {
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Qt::black);
    setPalette(palette);
  }

 protected:
  void mousePressEvent(QMouseEvent* event) override {
    if (event->button() != Qt::LeftButton) return;
    m_down = true;
    if (m_controller) m_controller->touchesBegan(event->position());
  }
  void mouseMoveEvent(QMouseEvent* event) override {
    if (m_down && m_controller) m_controller->touchesMoved(event->position());
  }
  // A double click opens the large view of an output; in the alignment view, where there is no
  // output yet, the second press is a touch like the first.
  void mouseDoubleClickEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton && m_controller && m_controller->viewMode() != 0) {
      m_controller->showLargeView();
      return;
    }
    mousePressEvent(event);
  }
  void mouseReleaseEvent(QMouseEvent* event) override {
    if (event->button() != Qt::LeftButton || !m_down) return;
    m_down = false;
    if (m_controller) m_controller->touchesEnded(event->position());
  }
  // The desktop's counterpart of a cancelled touch: the window loses the mouse mid-drag.
  void changeEvent(QEvent* event) override {
    if (event->type() == QEvent::ActivationChange && !isActiveWindow()) cancel();
    QWidget::changeEvent(event);
  }
  void hideEvent(QHideEvent* event) override {
    cancel();
    QWidget::hideEvent(event);
  }
  void resizeEvent(QResizeEvent*) override {
    if (m_controller) m_controller->viewWillLayoutSubviews();
  }
  void showEvent(QShowEvent*) override {
    if (m_controller) m_controller->viewWillLayoutSubviews();
  }

 private:
  void cancel() {
    if (!m_down) return;
    m_down = false;
    if (m_controller) m_controller->touchesCancelled();
  }
  QPointer<BlendViewController> m_controller;
  bool m_down = false;
};

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
  m_toolbar = new Toolbar(root);
  m_toolbar->setGeometry(0, h - Toolbar::kHeight, w, Toolbar::kHeight);
  m_toolbar->setItems({new BarButtonItem(BarButtonItem::SystemItem::FlexibleSpace, {}, this),
                       m_segmentedControl.data(),
                       new BarButtonItem(BarButtonItem::SystemItem::FlexibleSpace, {}, this),
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

bool BlendViewController::handleKey(const QKeyEvent& event) {
  const int key = event.key();
  const Qt::KeyboardModifiers modifiers =
      event.modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
  if (modifiers == Qt::NoModifier && key >= Qt::Key_1 && key <= Qt::Key_5) {
    const int mode = key - Qt::Key_1;
    if (viewMode() != mode) {
      m_segmentedControl->setSelectedSegmentIndex(mode);
      viewModeClick();
    }
    return true;
  }
  if (modifiers == Qt::NoModifier && key == Qt::Key_F) {
    showLargeView();
    return true;
  }
  if (modifiers != Qt::NoModifier && modifiers != Qt::ShiftModifier) return false;
  const int step = modifiers == Qt::ShiftModifier ? 10 : 1;
  switch (key) {
    case Qt::Key_Left: nudgeAlignment(-step, 0); return true;
    case Qt::Key_Right: nudgeAlignment(step, 0); return true;
    case Qt::Key_Up: nudgeAlignment(0, -step); return true;
    case Qt::Key_Down: nudgeAlignment(0, step); return true;
    default: return false;
  }
}

bool BlendViewController::acceptsKeys() const {
  const QWidget* root = m_imageView ? m_imageView->parentWidget() : nullptr;
  if (!root || !root->isVisible() || presentedViewController() || m_isShowingModal ||
      m_isFadeTimerStopped || m_isGesturing)
    return false;
  // An alert or a sheet over the screen has the keys.
  for (const QSModalOverlay* overlay : root->window()->findChildren<QSModalOverlay*>())
    if (overlay->isVisible()) return false;
  return true;
}

bool BlendViewController::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress && watched->isWidgetType() && isViewLoaded()) {
    // Keys meant for this screen: those sent to it or to a widget inside it, or to its window
    // while the focus is in the screen or nowhere. Anything else (another window, a screen or
    // sheet presented over this one) keeps its keys.
    auto* widget = static_cast<QWidget*>(watched);
    QWidget* root = view();
    const auto inside = [root](const QWidget* w) { return w == root || root->isAncestorOf(w); };
    const QWidget* focus = QApplication::focusWidget();
    const bool ours = inside(widget) || (widget == root->window() && (!focus || inside(focus)));
    if (ours && acceptsKeys() && handleKey(*static_cast<QKeyEvent*>(event))) return true;
  }
  if (event->type() == QEvent::MouseMove && watched->isWidgetType()) {
    auto* mouse = static_cast<QMouseEvent*>(event);
    auto* widget = static_cast<QWidget*>(watched);
    QWidget* root = isViewLoaded() ? view() : nullptr;
    if (root && mouse->buttons() == Qt::NoButton && widget->window() == root->window() &&
        (widget == root || root->isAncestorOf(widget)))
      pointerMoved(root->mapFromGlobal(mouse->globalPosition()));
  }
  return ViewController::eventFilter(watched, event);
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
// View modes

void BlendViewController::viewModeClick() {
  resetFadeItems();
  cleanupImageTransition();
  const int mode = viewMode();
  if (mode >= 1 && mode <= 3) {
    showVignette(1);
    m_activityIndicator->raise();
    m_activityIndicator->startAnimating();
  }
  if (mode >= 0 && mode <= 4) {
    const std::string_view title = m_pair.titleFor(static_cast<OutputKind>(mode));
    m_navigationBar->setTitle(QString::fromUtf8(title.data(), qsizetype(title.size())));
    scheduleRender(mode);
  }
  updateButtons();
}

void BlendViewController::scheduleRender(int mode) {
  // Deferred by one turn of the loop so that the title, the cleared picture and the spinner are
  // drawn before the render starts; a render for a mode left meanwhile never starts.
  const std::uint64_t generation = ++m_generations->mode;
  performAfterDelay(0, [guard = QPointer<BlendViewController>(this), generation, mode] {
    if (!guard || guard->m_generations->mode != generation) return;
    // A zero delay does not wait for the screen to be drawn: draw it now, so the new title and
    // the spinner are up before the worker takes a core.
    if (QWidget* window = guard->view()->window(); window->isVisible()) window->repaint();
    switch (mode) {
      case 0: guard->alignImages(); break;
      case 1: guard->blendImages(1); break;
      case 2: guard->blendImages(2); break;
      case 3: guard->createStereogram(); break;
      case 4: guard->wiggleImages(); break;
    }
  });
}

void BlendViewController::invalidateOutputs() { ++m_generations->output; }

void BlendViewController::startRender(int mode) {
  syncPairGeometry();
  RenderRequest request;
  request.mode = mode;
  request.pair = m_pair;  // shares the photographs; later swaps and drags do not reach it
  request.settings = renderSettings();
  request.gamma = m_gammaTable;
  request.cache = m_cache;
  request.generation = m_generations->mode;
  request.outputGeneration = m_generations->output;
  request.live = m_generations;
  ++m_rendersRunning;
  auto* watcher = new QFutureWatcher<RenderResult>(this);
  connect(watcher, &QFutureWatcher<RenderResult>::finished, this, [this, watcher] {
    watcher->deleteLater();
    --m_rendersRunning;
    renderFinished(watcher->result());
  });
  watcher->setFuture(QtConcurrent::run(&renderThreadPool(), &runRender, std::move(request)));
}

void BlendViewController::renderFinished(RenderResult result) {
  // Working copies made by any render are kept, as long as the pair is still the one it read.
  m_pair.adoptWorkingCopies(result.pair, result.sourceLeft, result.sourceRight);
  if (!m_generations->current(result.mode, result.generation, result.outputGeneration)) {
    ++m_supersededCount;
    return;
  }
  switch (result.mode) {
    case 0:
      if (result.ok) {
        m_imageView->setImage(result.picture);
        delete m_alignImageView.data();
        m_alignImageView = new ImageView(result.frames.front(), view());
        m_alignImageView->setContentMode(m_imageView->contentMode());
        m_alignImageView->setGeometry(m_imageView->geometry());
        m_alignImageView->setAttribute(Qt::WA_TransparentForMouseEvents);
        setViewAlpha(m_alignImageView, kAlignOverlayOpacity);
        setOverlayTranslation();
        insertSubviewAbove(m_alignImageView, m_imageView);  // above the picture, below the rest
        m_alignImageView->show();
        // Once more a second later, from the offset of that moment.
        performAfterDelay(1.0, [guard = QPointer<BlendViewController>(this)] {
          if (guard) guard->setOverlayTranslation();
        });
      }
      break;
    case 1:
    case 2:
    case 3:
      if (result.ok) {
        ++(result.fromCache ? m_cacheLoadCount : m_renderCount);
        m_imageView->setImage(result.picture);
        // Cached only now that it is known to be current: a render superseded by a removal
        // never puts its stale output back.
        if (!result.fromCache)
          m_cache->cacheImage(result.still, nullptr,
                              m_cache->fullPathToCachedImageForImageType(unsigned(result.mode)));
      }
      break;
    case 4:
      if (result.ok) {
        m_imageView->setAnimationImages(std::move(result.frames), kWiggleCycleSeconds);
        m_imageView->startAnimating();
      }
      break;
  }
  m_activityIndicator->stopAnimating();
  hideVignette();
}

void BlendViewController::updateButtons() {
  const int mode = viewMode();
  if (m_actionButton) m_actionButton->setEnabled(mode != 0);
  if (m_photoButton) m_photoButton->setEnabled(true);
  for (int i = 0; m_segmentedControl && i < m_segmentedControl->numberOfSegments(); ++i)
    m_segmentedControl->setEnabledForSegment(true, i);
  if (m_swapButton) m_swapButton->setEnabled(mode >= 1 && mode <= 3);
}

void BlendViewController::cleanupImageTransition() {
  if (m_imageView) {
    if (m_imageView->isAnimating()) {
      m_imageView->stopAnimating();
      m_imageView->setAnimationImages({}, 0);
    }
    m_imageView->setImage({});
  }
  if (m_alignImageView) {
    removeFromSuperview(m_alignImageView);
    delete m_alignImageView.data();
  }
}

void BlendViewController::syncPairGeometry() {
  // The working copies are made by the render that first needs them, off this thread.
  if (m_imageView)
    m_pair.setImageView(ImageViewGeometry{float(m_imageView->width()), float(m_imageView->height()), true});
  m_pair.setAlignOffsetX(m_alignOffsetX);
  m_pair.setAlignOffsetY(m_alignOffsetY);
}

void BlendViewController::alignImages() { startRender(0); }

void BlendViewController::setOverlayTranslation() {
  if (m_alignImageView)
    setViewTransform(m_alignImageView, QTransform::fromTranslate(m_alignOffsetX, m_alignOffsetY));
}

void BlendViewController::blendImages(int kind) { startRender(kind == 2 ? 2 : 1); }

void BlendViewController::createStereogram() { startRender(3); }

void BlendViewController::wiggleImages() { startRender(4); }

void BlendViewController::showVignette(int type) {
  if (!m_vignetteView) {
    m_vignetteView = new VignetteView(view());
    m_vignetteView->setGeometry(view()->rect());
    m_vignetteView->setAttribute(Qt::WA_TransparentForMouseEvents);
    setViewAlpha(m_vignetteView, 0);
    m_vignetteView->show();
  }
  m_vignetteView->raise();
  if (m_navigationBar) m_navigationBar->raise();
  if (m_toolbar) m_toolbar->raise();
  m_vignetteView->setType(type);
  animateViews(kVignetteFadeSeconds, AnimationCurve::EaseInOut, {{m_vignetteView.data(), 1.0, {}, {}}});
}

void BlendViewController::hideVignette() {
  if (!m_vignetteView) return;
  QPointer<VignetteView> fading = m_vignetteView;
  animateViews(kVignetteFadeSeconds, AnimationCurve::EaseInOut, {{fading.data(), 0.0, {}, {}}},
               [guard = QPointer<BlendViewController>(this), fading](bool) {
                 // A vignette brought back by a newer render while this fade ran stays: only
                 // a vignette still on its way out is taken away.
                 if (!guard || !fading || guard->m_vignetteView != fading) return;
                 if (viewAlpha(fading) > 0.0) return;
                 delete fading.data();
               });
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

void BlendViewController::executeShareBarButtonIndex(int index) {
  switch (index) {
    case 0: exportToPhotoLibraryNotBuilt(); break;
    case 1: exportToMailNotBuilt(); break;
    case 3: exportToFacebookNotBuilt(); break;
    case 4: exportToTwitterNotBuilt(); break;
    case 5: exportToFlickrNotBuilt(); break;
    case 6: exportToDropboxNotBuilt(); break;
    case 7: exportToClipboardNotBuilt(); break;
    case 8: exportToDeviceNotBuilt(); break;
    case 9: exportToOtherAppNotBuilt(); break;
    default: return;  // not a destination
  }
  m_lastShareIndex = index;
}

// Until the exports are built each destination does nothing beyond giving the bars back.
void BlendViewController::exportToPhotoLibraryNotBuilt() { resetFadeItems(); }
void BlendViewController::exportToMailNotBuilt() { resetFadeItems(); }
void BlendViewController::exportToFacebookNotBuilt() { resetFadeItems(); }
void BlendViewController::exportToTwitterNotBuilt() { resetFadeItems(); }
void BlendViewController::exportToFlickrNotBuilt() { resetFadeItems(); }
void BlendViewController::exportToDropboxNotBuilt() { resetFadeItems(); }
void BlendViewController::exportToClipboardNotBuilt() { resetFadeItems(); }
void BlendViewController::exportToDeviceNotBuilt() { resetFadeItems(); }
void BlendViewController::exportToOtherAppNotBuilt() { resetFadeItems(); }

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
  m_reachability = Reachability::reachabilityWithHostName(QString::fromLatin1(config::kReachabilityHost));
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
  // The uploads that show the panel come with the online exports; until then there is nothing
  // to stop, and the panel simply goes.
  hideProgressView();
}

// ---------------------------------------------------------------------------------------------
// Alignment under the loupe

void BlendViewController::touchesBegan(QPointF point) {
  if (!m_isFadeTimerStopped && m_navigationBar && m_toolbar) {
    if (viewTargetAlpha(m_navigationBar) < 1 || viewTargetAlpha(m_toolbar) < 1) resetFadeItems();
    else fadeItems();
  }
  if (m_isGesturing || viewMode() != 0) return;
  m_isGesturing = true;
  m_gestureLastPoint = point;
  m_alignmentTouchDownPoint = QPointF(point.x() - m_alignOffsetX, point.y() - m_alignOffsetY);

  delete m_loupe.data();
  // Beside the screen's view, not in it, so the loupe never magnifies itself.
  QWidget* host = view()->parentWidget() ? view()->parentWidget() : view();
  m_loupe = new MagnifierView(host);
  m_loupe->setViewToMagnify(view());
  m_loupe->show();
  m_loupe->raise();
  m_loupe->setTouchPoint(point);
  m_loupe->update();
}

void BlendViewController::touchesMoved(QPointF point) {
  if (!m_isGesturing) return;
  if (point == m_gestureLastPoint) return;
  const float cx = float(point.x() - m_alignmentTouchDownPoint.x());
  const float cy = float(point.y() - m_alignmentTouchDownPoint.y());
  // Each axis stops at its last value within the limit; the other goes on following.
  if (std::abs(std::trunc(cx)) <= kMaxAlignOffset) m_alignOffsetX = cx;
  if (std::abs(std::trunc(cy)) <= kMaxAlignOffset) m_alignOffsetY = cy;
  setOverlayTranslation();
  m_gestureLastPoint = point;
  if (m_loupe) {
    m_loupe->setTouchPoint(point);
    m_loupe->update();
  }
}

void BlendViewController::touchesEnded(QPointF) {
  if (!m_isGesturing) return;
  m_isGesturing = false;
  resetFadeItems();
  if (m_loupe) m_loupe->hide();
  // Every output depends on the offset, also after a tap that did not move it.
  invalidateOutputs();
  m_cache->removeCachedFilesForMask(kCacheMaskAll);
}

void BlendViewController::touchesCancelled() { touchesEnded(m_gestureLastPoint); }

void BlendViewController::showLargeView() {
  const int mode = viewMode();
  if (mode < 1 || mode > 4 || !m_imageView) return;
  std::vector<QImage> frames;
  double cycle = 0;
  if (mode == 4) {
    frames = m_imageView->animationImages();
    cycle = m_imageView->animationDuration();
  } else if (!m_imageView->image().isNull()) {
    // The stereogram is shown turned a quarter clockwise to fit the tall screen; a large window
    // has room for the card upright.
    frames = {mode == 3 ? m_imageView->image().transformed(QTransform().rotate(-90))
                        : m_imageView->image()};
  }
  if (frames.empty()) return;  // still rendering
  auto* window = qobject_cast<LargeOutputWindow*>(m_largeView.data());
  if (!window) {
    // A window of its own that belongs to the main one: it goes with it, and does not keep the
    // application running once the main window has been closed.
    window = new LargeOutputWindow(view()->window());
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setAttribute(Qt::WA_QuitOnClose, false);
    m_largeView = window;
  }
  window->setOutput(m_navigationBar ? m_navigationBar->title() : QString(), std::move(frames), cycle);
  window->show();
  window->raise();
  window->activateWindow();
}

void BlendViewController::pointerMoved(QPointF point) {
  if (m_isFadeTimerStopped || m_isGesturing || !m_navigationBar || !m_toolbar) return;
  if (m_navigationBar->geometry().contains(point.toPoint()) ||
      m_toolbar->geometry().contains(point.toPoint()))
    resetFadeItems();
}

namespace {

/// The offset in points nearest to zero whose whole-pixel offset at `scale` is `pixel`.
float pointsForPixel(float scale, int pixel) {
  const auto toPixel = [scale](float points) { return pixelOffsetFor(scale, points, 0).x; };
  float points = float(double(pixel) / double(scale));
  const float outward = pixel < 0 ? -INFINITY : INFINITY;
  // A few units in the last place either way make up for the rounding of the division.
  for (int i = 0; i < 64 && toPixel(points) != pixel; ++i) points = std::nextafter(points, outward);
  for (int i = 0; i < 64 && points != 0 && toPixel(std::nextafter(points, 0.0f)) == pixel; ++i)
    points = std::nextafter(points, 0.0f);
  return points;
}

}  // namespace

void BlendViewController::nudgeAlignment(int dx, int dy) {
  if (viewMode() != 0 || m_isGesturing || !m_alignImageView || !m_imageView) return;
  // The scale of the picture on screen: the working copies the overlay shows.
  const QImage& overlay = m_alignImageView->image();
  const float scale = scaleForImageView(
      ImageViewGeometry{float(m_imageView->width()), float(m_imageView->height()), true},
      overlay.width(), overlay.height());
  const PixelOffset now = pixelOffsetFor(scale, m_alignOffsetX, m_alignOffsetY);
  const auto nudged = [scale](float offset, int pixel, int delta) {
    if (delta == 0) return offset;
    const float points = pointsForPixel(scale, pixel + delta);
    return std::abs(std::trunc(points)) <= kMaxAlignOffset ? points : offset;
  };
  m_alignOffsetX = nudged(m_alignOffsetX, now.x, dx);
  m_alignOffsetY = nudged(m_alignOffsetY, now.y, dy);
  setOverlayTranslation();
  // Ends like a touch: the bars come back and every output depends on the new offset.
  resetFadeItems();
  invalidateOutputs();
  m_cache->removeCachedFilesForMask(kCacheMaskAll);
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
