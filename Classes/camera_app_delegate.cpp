#include "camera_app_delegate.h"

#include <QLabel>

#include "blend_view_controller.h"
#include "callback_routing.h"
#include "dropbox_session.h"
#include "flickr_api_request.h"
#include "flickr_oauth_callback.h"
#include "image_resources.h"
#include "qs_dropbox.h"
#include "qs_facebook.h"
#include "qs_flickr.h"
#include "qs_social.h"
#include "image_view.h"
#include "run_loop.h"
#include "screen.h"
#include "settings_keys.h"
#include "settings_store.h"
#include "theme.h"
#include "view_animation.h"
#include "app_window.h"
#include "view_controller.h"

namespace duo {

namespace {
CameraAppDelegate* g_shared = nullptr;
}  // namespace

CameraAppDelegate::CameraAppDelegate(SettingsStore& store, QObject* parent)
    : QObject(parent), m_store(store) {
  g_shared = this;
  // Callbacks that reach a loopback redirect take the same way as those the desktop hands over.
  CallbackRouting::setRouter([this](const QUrl& url) { return applicationOpenURL(url); });
}

CameraAppDelegate::~CameraAppDelegate() {
  if (g_shared == this) {
    g_shared = nullptr;
    CallbackRouting::setRouter({});
  }
  delete m_window;
}

CameraAppDelegate* CameraAppDelegate::shared() { return g_shared; }

QString CameraAppDelegate::splashImageName() {
  // The window is always portrait, so a tablet needs just the one picture of its own: either
  // phone picture would be stretched out of shape on the tablet's far wider screen.
  if (MainScreen::isTablet()) return QStringLiteral("Default-Portrait.png");
  return MainScreen::bounds().height() > 480 ? QStringLiteral("Default-568h.png")
                                             : QStringLiteral("Default.png");
}

void CameraAppDelegate::registerSettings(const QDateTime& now) { duo::registerSettings(m_store, now); }

bool CameraAppDelegate::applicationDidFinishLaunching(ViewController* root, const QDateTime& now) {
  // This desktop has no orientation sensor to start; the window stays portrait.
  registerSettings(now);

  m_window = new AppWindow;
  m_viewController = root;
  if (root) root->setParent(this);

  m_splashScreen = new ImageView(imageNamed(splashImageName()));
  // A screen of a size the artwork was not drawn for (--screen WIDTHxHEIGHT) crops the picture
  // a little rather than stretching it.
  m_splashScreen->setContentMode(ContentMode::AspectFill);

  // Rather than block the thread for the splash's time, the window shows it at once and the
  // fade starts when it has been up for kSplashSeconds; the root screen waits beneath at
  // opacity 0.
  m_window->setRootViewController(root);
  if (root) setViewAlpha(root->view(), 0);
  m_window->makeKeyAndVisible();
  m_splashScreen->setParent(m_window);
  m_splashScreen->setGeometry(m_window->rect());
  m_splashScreen->raise();
  m_splashScreen->show();
  performAfterDelay(kSplashSeconds, [this, guard = QPointer<CameraAppDelegate>(this)] {
    if (guard) startSplashFade();
  });
  return true;
}

void CameraAppDelegate::startSplashFade() {
  if (!m_splashScreen) return;
  animateViews(kSplashFadeSeconds, AnimationCurve::EaseIn, {{m_splashScreen.data(), 0.0, {}, {}}},
               [guard = QPointer<CameraAppDelegate>(this)](bool finished) {
                 if (guard) guard->splashAnimationStopped(finished);
               });
}

void CameraAppDelegate::splashAnimationStopped(bool) {
  delete m_splashScreen.data();
  if (m_viewController)
    animateViews(kSplashFadeSeconds, AnimationCurve::EaseOut, {{m_viewController->view(), 1.0, {}, {}}});
}

void CameraAppDelegate::applicationDidBecomeActive() {
  QSSocial::sharedSocial()->facebook()->handleDidBecomeActive();
}

// ---------------------------------------------------------------------------------------------
// Sign-in callbacks

bool CameraAppDelegate::applicationOpenURL(const QUrl& url, const QString&, const QVariant&) {
  DropboxSession* session = QSDropbox::sharedDropbox()->session();
  if (session->handleOpenURL(url)) {
    // The callback brings a code, and the token it is exchanged for arrives a little later:
    // the export carries on when it does, and not at all when the sign-in was refused.
    stopWaitingForDropboxLink();
    if (session->isLinked()) {
      resumeDropboxExport();
    } else if (session->isLinking()) {
      m_dropboxLinked = connect(session, &DropboxSession::linked, this, [this] {
        stopWaitingForDropboxLink();
        resumeDropboxExport();
      });
      m_dropboxLinkFailed = connect(session, &DropboxSession::linkFailed, this,
                                    [this] { stopWaitingForDropboxLink(); });
    }
    return true;
  }
  return processIncomingURL(url);
}

bool CameraAppDelegate::processIncomingURL(const QUrl& url) {
  const QString scheme = url.scheme();
  if (scheme.startsWith(QLatin1String("fb"))) return QSSocial::sharedSocial()->facebook()->handleOpenURL(url);
  if (scheme.startsWith(QLatin1String("flickr"))) {
    QSFlickr* flickr = QSSocial::sharedSocial()->flickr();
    // A sign-in step already under way (a second copy of the callback): nothing more to start.
    if (!flickr->flickrRequest()->sessionInfo().isEmpty()) return true;
    QString token;
    QString verifier;
    if (!OFExtractOAuthCallback(url, flickr->callbackURL(), &token, &verifier)) return false;
    // Only the window whose sign-in asked for this request token takes the callback.
    return flickr->finishLogin(token, verifier);
  }
  return false;
}

void CameraAppDelegate::stopWaitingForDropboxLink() {
  disconnect(m_dropboxLinked);
  disconnect(m_dropboxLinkFailed);
}

void CameraAppDelegate::resumeDropboxExport() {
  // The screen presented over the root one is the result screen whose export asked to sign in.
  ViewController* root = m_window ? m_window->rootViewController()
                         : AppWindow::keyWindow() ? AppWindow::keyWindow()->rootViewController()
                                                  : nullptr;
  QPointer<BlendViewController> screen =
      root ? qobject_cast<BlendViewController*>(root->presentedViewController()) : nullptr;
  performAfterDelay(0, [screen] {
    if (screen) screen->sendToDropbox();
  });
}

void CameraAppDelegate::dimScreen(const QString& message) {
  if (!m_window) return;
  if (m_messageLabel) {  // already shown: the overlay does not stack
    static_cast<QLabel*>(m_messageLabel.data())->setText(message);
    return;
  }
  const int ww = m_window->width();
  const int wh = m_window->height();

  delete m_dimView.data();  // one still fading out from the last overlay
  m_dimView = new QWidget(m_window);
  m_dimView->setGeometry(m_window->rect());
  m_dimView->setAutoFillBackground(true);
  QPalette palette = m_dimView->palette();
  palette.setColor(QPalette::Window, Qt::black);
  m_dimView->setPalette(palette);
  setViewAlpha(m_dimView, 0);
  m_dimView->show();
  m_dimView->raise();
  animateViews(kDimSeconds, AnimationCurve::EaseInOut, {{m_dimView.data(), kDimOpacity, {}, {}}});

  m_activityIndicatorView = new ActivityIndicatorView(ActivityIndicatorView::Style::WhiteLarge, m_window);
  const QSize indicator = m_activityIndicatorView->sizeHint();
  const int y = int((wh - indicator.height()) * 0.5 - 20);
  m_activityIndicatorView->setGeometry(int((ww - indicator.width()) * 0.5), y, indicator.width(),
                                       indicator.height());
  m_activityIndicatorView->raise();
  m_activityIndicatorView->startAnimating();

  auto* label = new QLabel(message, m_window);
  label->setGeometry(20, y + indicator.height() + 10, ww - 40, 30);
  label->setAlignment(Qt::AlignCenter);
  label->setFont(theme::systemFont(22));
  label->setStyleSheet(QStringLiteral("color: white; background: transparent;"));
  label->setAttribute(Qt::WA_TransparentForMouseEvents);
  label->show();
  label->raise();
  m_messageLabel = label;
}

void CameraAppDelegate::unDimScreen() {
  if (m_messageLabel) delete m_messageLabel.data();
  if (m_activityIndicatorView) {
    m_activityIndicatorView->stopAnimating();
    delete m_activityIndicatorView.data();
  }
  if (m_dimView) {
    animateViews(kDimSeconds, AnimationCurve::EaseInOut, {{m_dimView.data(), 0.0, {}, {}}},
                 [guard = QPointer<CameraAppDelegate>(this), view = m_dimView](bool) {
                   if (guard && guard->m_dimView == view) guard->unDimScreenAnimationComplete();
                 });
  }
}

void CameraAppDelegate::unDimScreenAnimationComplete() { delete m_dimView.data(); }

}  // namespace duo
