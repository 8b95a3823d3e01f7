#pragma once

#include <QDateTime>
#include <QImage>
#include <QPointer>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "file_transfer.h"
#include "image_view.h"
#include "magnifier_view.h"
#include "qs_blur_view.h"
#include "qs_sign_in_panel.h"
#include "render/anaglyph.h"
#include "render/render_settings.h"
#include "render_job.h"
#include "reachability.h"
#include "segmented_control.h"
#include "settings_view_controller.h"
#include "stereo/stereo_pair.h"
#include "view_controller.h"
#include "vignette_view.h"

class QKeyEvent;
class QTemporaryDir;

namespace duo {

class QSTimer;
class RenderCache;
class SettingsStore;
class DropboxSession;
class QSShareView2Controller;


/// The result screen: shows a stereo pair in one of five view modes (the alignment view and
/// the four outputs), lets the user drag the right image into register under a loupe, switch
/// modes, swap the images, share, visit the settings and go back for a new pair. Its bars fade
/// away after six seconds without action and come back on a tap.
class BlendViewController : public ViewController,
                            public SettingsViewControllerDelegate,
                            public QSProgressViewDelegate,
                            public FileTransferDelegate {
  Q_OBJECT

 public:
  static constexpr double kFadeDelay = 6.0;
  static constexpr double kBarsInSeconds = 0.25;
  static constexpr double kBarsOutSeconds = 0.5;
  static constexpr double kSharePollInterval = 0.1;
  static constexpr double kCallbackDelay = 0.5;
  static constexpr double kOverlayFadeSeconds = 0.1;
  static constexpr double kBlockingOpacity = 0.85;
  static constexpr double kVignetteFadeSeconds = 0.2;
  static constexpr double kAlignOverlayOpacity = 0.4;
  static constexpr int kMaxAlignOffset = 100;
  static constexpr double kRatingInterval = 5 * 86400.0;
  static constexpr double kRatingDelay = 0.5;
  static constexpr std::size_t kRememberedOutputBytes = 64u << 20;

  /// `store` holds the settings (not owned, must outlive the screen). `cachesDirectory` is the
  /// folder the render cache lives in (it must exist); empty means defaultCachesDirectory(), or
  /// when that is empty too a private temporary folder of the screen's own.
  explicit BlendViewController(SettingsStore& store, QString cachesDirectory = {},
                               QObject* parent = nullptr);

  /// The folder this running instance keeps its render caches in (set once at start-up, so
  /// that two running instances never share one cache).
  static void setDefaultCachesDirectory(const QString& directory);
  static QString defaultCachesDirectory();
  ~BlendViewController() override;

  // Set up before presentation.
  void setLeftImage(Image image);
  void setRightImage(Image image);
  void setLeftImage(std::shared_ptr<const Image> image) { m_pair.setLeftImage(std::move(image)); }
  void setRightImage(std::shared_ptr<const Image> image) { m_pair.setRightImage(std::move(image)); }
  /// A pair whose images are working copies already (loaded from files at the working size).
  void setPair(StereoPair pair);
  const StereoPair& pair() const { return m_pair; }
  /// The alignment another device chose for this pair, applied when the screen loads: turned
  /// into points of the result view through the working copies' size. An offset the alignment
  /// view could not show (beyond kMaxAlignOffset points) is not applied, and a warning says so.
  void setSentAlignment(const SentAlignment& alignment) { m_sentAlignment = alignment; }
  void setPhotoMethod(int method) { m_photoMethod = method; }
  int photoMethod() const { return m_photoMethod; }
  void setMaximumResolution(float resolution) { m_pair.setMaximumResolution(resolution); }
  float maximumResolution() const { return m_pair.maximumResolution(); }
  /// Called (once, 0.5 s after the screen has gone) when the user leaves for a new pair.
  void setCallback(std::function<void()> callback) { m_callback = std::move(callback); }

  // Actions.
  void viewModeClick();
  void swapButtonClick();
  void photoButtonClick();
  void actionButtonClick();

  void updateButtons();
  void cleanupImageTransition();
  void startFadeItems();
  void stopFadeItems();
  void rescheduleFadeItems();
  void resetFadeItems();
  void fadeItems();
  void setStatusBarHidden(bool hidden);
  bool prefersStatusBarHidden() const override { return m_statusBarHidden; }

  void share();
  /// Starts the export of a share destination (0 photo library, 1 mail, 3 Facebook, 4 Twitter,
  /// 5 Flickr, 6 Dropbox, 7 clipboard, 8 another device, 9 another application) on the next
  /// turn of the main loop; the wigglegram's exports dim the window first.
  void executeShareBarButtonIndex(int index);

  // What the exports carry.
  /// The output shown, as an export takes it (the stereogram upright); nullopt in the alignment
  /// view, the wigglegram or before a render.
  std::optional<Image> getImageToSend() const;
  /// The wigglegram's GIF: from the render cache, or built (and cached) while it is shown.
  Result<std::vector<std::uint8_t>> getAnimatedGifDataToSend();

  // The exports.
  void sendToCameraRoll();
  void sendMail();
  void sendToTwitter();
  void sendToClipboard();
  void sendToApp();
  void sendToFacebook();
  void sendToFlickr();
  void sendToDropbox();
  /// Writes the pair for another device (TransferProject) and starts a FileTransfer with it;
  /// a pair that cannot be written is said in an alert instead.
  void sendToiPad();
  /// The transfer's end, either way: the transfer and its files go, the bars may fade again.
  void fileTransferDidTransferProject(FileTransfer* transfer, bool transferred) override;
  /// The transfer to another device while one runs (nullptr otherwise).
  FileTransfer* fileTransfer() const { return m_fileTransfer; }
  void showSaveAnimation();
  /// The picture flying to the corner after a save (nullptr when none is flying).
  ImageView* savedImageView() const { return m_savedImageView; }
  /// The file last written for another application, and the menu offering them.
  QString exportFilePath() const { return m_exportFilePath; }
  void showSettings();
  void openMarrowbyAppsInAppStore();

  void checkNetworkReachability();
  void updateReachability();

  void dimScreen();
  void unDimScreen();
  void showProgressView();
  void hideProgressView();

  // Rendering of the view modes. Each starts a render on a worker thread from a snapshot of the
  // pair, the offset and the settings; its result is shown only if nothing newer (a mode change,
  // a swap, a drag, a nudge, a settings change) superseded it meanwhile.
  void alignImages();
  void blendImages(int kind);
  void createStereogram();
  void wiggleImages();
  void showVignette(int type);
  void hideVignette();

  // Touches, in the coordinates of the screen's view.
  void touchesBegan(QPointF point);
  void touchesMoved(QPointF point);
  void touchesEnded(QPointF point);
  /// The window took the mouse away mid-drag: finished like a normal end.
  void touchesCancelled();
  /// The mouse moved with no button down: over either bar it brings the bars back and restarts
  /// their timer, so that a click on a faded bar acts at once.
  void pointerMoved(QPointF point);
  /// Arrow keys in the alignment view: moves the offset by exactly as many points as move the
  /// whole-pixel offset of the working copies by `dx`, `dy` pixels (an axis that would leave the
  /// ±100-point range stays), then ends like a touch.
  void nudgeAlignment(int dx, int dy);
  /// The alignment view's suggestion button: estimates the offset on a worker and applies it
  /// when it is confident and within the offset limits; otherwise an alert says why and
  /// nothing changes.
  void autoAlignButtonClick();
  bool isEstimatingAlignment() const { return m_estimatingAlignment; }
  /// Present only in builds with automatic alignment.
  BarButtonItem* autoAlignButton() const { return m_autoAlignButton; }

  // Rating prompt.
  void askForRating();
  void showRatingAlert();
  void alertViewClickedButtonAtIndex(int index);
  /// The clock the rating prompt reads (tests replace it).
  void setDateProvider(std::function<QDateTime()> now) { m_now = std::move(now); }

  /// Opens the output shown now (the stereogram upright, the wigglegram animated) in a large,
  /// resizable window of its own. Does nothing in the alignment view or before a render.
  void showLargeView();
  QWidget* largeView() const { return m_largeView; }

  void settingsViewControllerDidEnd(SettingsViewController* controller) override;
  void progressViewDidCancel(QSProgressView* progressView) override;

  // State, for the screen's owner and tests.
  int viewMode() const;
  float alignOffsetX() const { return m_alignOffsetX; }
  float alignOffsetY() const { return m_alignOffsetY; }
  bool isImageSwapped() const { return m_pair.isImageSwapped(); }
  bool isGesturing() const { return m_isGesturing; }
  bool isShowingModal() const { return m_isShowingModal; }
  bool isFadeTimerStopped() const { return m_isFadeTimerStopped; }
  bool settingsChanged() const { return m_settingsChanged; }
  int remoteHostStatus() const { return m_remoteHostStatus; }
  /// The index last handed to the export dispatch (-1 before any).
  int lastDispatchedShareIndex() const { return m_lastShareIndex; }
  /// Renders done and cached files shown since the screen loaded, for the still outputs.
  int renderCount() const { return m_renderCount; }
  int cacheLoadCount() const { return m_cacheLoadCount; }
  const std::shared_ptr<QSTimer>& timer() const { return m_timer; }
  NavigationBar* navigationBar() const { return m_navigationBar; }
  Toolbar* toolbar() const { return m_toolbar; }
  ImageView* imageView() const { return m_imageView; }
  ImageView* alignImageView() const { return m_alignImageView; }
  ActivityIndicatorView* activityIndicator() const { return m_activityIndicator; }
  SegmentedControl* segmentedControl() const { return m_segmentedControl; }
  BarButtonItem* swapButton() const { return m_swapButton; }
  BarButtonItem* actionButton() const { return m_actionButton; }
  BarButtonItem* photoButton() const { return m_photoButton; }
  MagnifierView* loupe() const { return m_loupe; }
  VignetteView* vignetteView() const { return m_vignetteView; }
  QWidget* blockingView() const { return m_blockingView; }
  QSProgressView* progressView() const { return m_progressView; }
  RenderCache* renderCache() const { return m_cache.get(); }
  /// True from the start of a render until its result has been shown or dropped.
  bool isRendering() const { return m_rendersRunning > 0; }
  /// Renders whose result was dropped because something newer superseded them.
  int supersededRenderCount() const { return m_supersededCount; }
  Reachability* reachability() const { return m_reachability; }

 protected:
  void loadView() override;
  void viewDidLoad() override;
  void viewDidAppear(bool animated) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  friend class BlendView;
  void viewWillLayoutSubviews();
  void scheduleRender(int mode);
  void startRender(int mode);
  void renderFinished(RenderResult result);
  /// Every output rendered from now on sees the new offset, order or settings; renders still
  /// running become stale.
  void invalidateOutputs();
  void settingChanged(const QString& key);
  void addKVOForUserDefaults();
  RenderSettings renderSettings() const;
  void syncPairGeometry();
  void applySentAlignment();
  void executeShareBarButtonIndexOnTimer(QSTimer& timer, int index);
  void dismissPresentedScreen();
  void openStorePage(const QString& path);
  void setOverlayTranslation();
  /// The end of any change of the offset: bars back, every output stale.
  void alignmentChanged();
  /// Working-copy pixels per point of the alignment view; 0 before its render.
  float alignmentViewScale() const;
  /// The screen's keys: 1–5, F, arrows (Shift: ten pixels). True when the key was used.
  bool handleKey(const QKeyEvent& event);
  /// Whether keys may act on this screen: it is on top and no menu or sheet is open.
  bool acceptsKeys() const;
  /// Opening a web address failed: an alert says so.
  void reportUnopenedURL(const QUrl& url);

  /// An export's work is done: the bars may fade again and the rating prompt may come.
  void finishExport();
  /// A destination that arrives with a later version: said in an alert.
  /// Lifts the busy overlay of the wigglegram's exports once the GIF is held.
  void unDimApplication();
  void reportServiceNotConfigured(const QString& service);
  /// Shows `screen` (taken over) with the image to send and the caption; its result leads to
  /// the rating prompt (posted) or an alert of `failed`, with `reason()` when it says why.
  void presentUploadScreen(QSShareView2Controller* screen, const QString& failed,
                           std::function<QString()> reason);
  void startDropboxSignIn(DropboxSession* session);
  void endDropboxSignIn();
  /// The still to send as a picture the screen can show.
  QImage stillPictureToSend();

  SettingsStore& m_store;
  QString m_cachesDirectory;
  std::unique_ptr<QTemporaryDir> m_ownCaches;  // when nobody gave the screen a cache folder
  std::shared_ptr<RenderCache> m_cache;  // shared with renders still reading it
  StereoPair m_pair;
  GammaTable m_gammaTable{};
  int m_photoMethod = 0;
  std::function<void()> m_callback;
  std::function<QDateTime()> m_now;

  int m_remoteHostStatus = 0;
  QPointer<NavigationBar> m_navigationBar;
  QPointer<Toolbar> m_toolbar;
  QPointer<ImageView> m_imageView;
  QPointer<ImageView> m_alignImageView;
  QPointer<ActivityIndicatorView> m_activityIndicator;
  QPointer<SegmentedControl> m_segmentedControl;
  QPointer<BarButtonItem> m_swapButton;
  QPointer<BarButtonItem> m_autoAlignButton;
  QPointer<BarButtonItem> m_toolbarSpaces[2];
  QPointer<BarButtonItem> m_actionButton;
  QPointer<BarButtonItem> m_photoButton;
  QPointer<MagnifierView> m_loupe;
  QPointer<VignetteView> m_vignetteView;
  QPointer<QWidget> m_blockingView;
  QPointer<QSProgressView> m_progressView;
  // A Dropbox sign-in started by a send: the panel that waits for the browser, and its end.
  QPointer<QSSignInPanel> m_signInPanel;
  QMetaObject::Connection m_dropboxLinked;
  QMetaObject::Connection m_dropboxLinkFailed;
  QPointer<Reachability> m_reachability;
  QPointer<QWidget> m_largeView;
  std::shared_ptr<QSTimer> m_timer;
  std::shared_ptr<QSTimer> m_shareTimer;

  QPointF m_gestureLastPoint;
  QPointF m_alignmentTouchDownPoint;
  bool m_isGesturing = false;
  float m_alignOffsetX = 0;
  float m_alignOffsetY = 0;
  std::optional<SentAlignment> m_sentAlignment;
  bool m_isShowingModal = false;
  bool m_isFadeTimerStopped = false;
  bool m_settingsChanged = false;
  bool m_fixAlignmentViewIfNecessary = false;
  bool m_statusBarHidden = false;
  bool m_estimatingAlignment = false;
  int m_lastShareIndex = -1;
  int m_renderCount = 0;
  int m_cacheLoadCount = 0;
  // A render for an older mode change is dropped; so is an output from an older offset, image
  // order or setting.
  std::shared_ptr<RenderGenerations> m_generations = std::make_shared<RenderGenerations>();
  int m_rendersRunning = 0;
  int m_supersededCount = 0;
  std::vector<std::pair<QString, int>> m_observers;
  // The still output on display (modes 1–3), as the exports take it.
  std::shared_ptr<const Image> m_shownStill;
  QPointer<ImageView> m_savedImageView;
  QString m_exportFilePath;
  QPointer<FileTransfer> m_fileTransfer;
};

}  // namespace duo
