#include "qs_flickr_share_view_controller.h"

#include <QTextEdit>

#include "bar_button_item.h"
#include "navigation_controller.h"
#include "qs_flickr_audience_view_controller.h"
#include "qs_flickr_photosets_view_controller.h"
#include "qs_share_navigation_controller.h"
#include "qs_social.h"
#include "run_loop.h"

namespace duo {

QString QSFlickrShareViewController::audienceName(int audience) {
  switch (audience) {
    case 1: return QStringLiteral("Friends");
    case 2: return QStringLiteral("Family");
    case 3: return QStringLiteral("Only Me");
    default: return QStringLiteral("Public");
  }
}

QSFlickrShareViewController::QSFlickrShareViewController(QSFlickr* flickr, QObject* parent)
    : QSShareView2Controller(parent),
      m_flickr(flickr ? flickr : QSSocial::sharedSocial()->flickr()) {}

QSFlickrShareViewController::~QSFlickrShareViewController() {
  if (m_flickr && m_flickr->delegate() == this) m_flickr->setDelegate(nullptr, nullptr);
}

void QSFlickrShareViewController::viewDidLoad() {
  setTitle(QStringLiteral("Flickr"));
  QSShareView2Controller::viewDidLoad();
  setupToolbar();
  if (m_flickr) m_flickr->setDelegate(this, this);
  updateLogoutButton();
}

QString QSFlickrShareViewController::labelForRow(int row) const {
  return row == 1 ? QStringLiteral("Photo Set") : QStringLiteral("Audience");
}

QString QSFlickrShareViewController::detailForRow(int row) const {
  if (row == 1) return m_photoset.title().isEmpty() ? QStringLiteral("None") : m_photoset.title();
  return audienceName(m_audience);
}

void QSFlickrShareViewController::presentFromViewController(ViewController* host,
                                                            Completion completion) {
  QSShareView2Controller::presentFromViewController(host, std::move(completion));
  view();
  if (m_flickr && !m_flickr->isLoggedIn()) login();
}

void QSFlickrShareViewController::login() {
  if (!m_flickr) return;
  m_flickr->login();
  // The stored token is read first; only a sign-in that goes to the browser gets the panel.
  performAfterDelay(kSignInPanelDelaySeconds, [self = QPointer<QSFlickrShareViewController>(this)] {
    if (!self || !self->m_flickr || self->m_flickr->isLoggedIn() || !self->m_flickr->isLoggingIn())
      return;
    self->showSignInPanel(QStringLiteral("Flickr"), [self] {
      if (self && self->m_flickr) self->m_flickr->cancelLogin();
    });
  });
}

void QSFlickrShareViewController::updateLogoutButton() {
  const bool signedIn = m_flickr && m_flickr->isLoggedIn();
  if (logoutButton()) logoutButton()->setTitle(signedIn ? QStringLiteral("Logout") : QStringLiteral("Login"));
  if (postButton()) postButton()->setEnabled(signedIn);
}

void QSFlickrShareViewController::loggedIn() {
  hideSignInPanel();
  updateLogoutButton();
}

void QSFlickrShareViewController::loggedOut() {
  hideSignInPanel();
  updateLogoutButton();
}

void QSFlickrShareViewController::logoutButtonTouched() {
  updateLogoutButton();
  if (!m_flickr) return;
  if (m_flickr->isLoggedIn()) {
    m_flickr->logout();
    dismissWithResult(0);
  } else {
    login();
  }
}

void QSFlickrShareViewController::tableViewDidSelectRow(int row) {
  NavigationController* navigation = shareNavigationController();
  if (!navigation || (row != 1 && row != 2)) return;
  QPointer<QSFlickrShareViewController> self(this);
  ViewController* picker = nullptr;
  if (row == 1) {
    auto* photosets = new QSFlickrPhotosetsViewController(m_photoset, m_flickr);
    photosets->setCompletion([self](const QSFlickrPhotoset& chosen) {
      if (!self) return;
      self->m_photoset = chosen;
      self->reloadRow(1);
    });
    picker = photosets;
  } else {
    auto* audience = new QSFlickrAudienceViewController(m_audience);
    audience->setCompletion([self](int chosen) {
      if (!self) return;
      self->m_audience = chosen;
      self->reloadRow(2);
    });
    picker = audience;
  }
  if (textView()) textView()->clearFocus();
  navigation->pushViewController(picker, true);
}

void QSFlickrShareViewController::dismissWithResult(int result) {
  if (textView()) textView()->clearFocus();
  QSShareView2Controller::dismissWithResult(result);
}

void QSFlickrShareViewController::uploadImage() {
  if (!m_flickr || !m_flickr->isLoggedIn() || m_flickr->isUploading()) return;
  if (textView()) textView()->clearFocus();
  dimScreen();
  showProgressView();
  QPointer<QSFlickrShareViewController> self(this);
  m_flickr->setUploadProgressBlock([self](qint64 sent, qint64 total) {
    if (self && self->progressView() && total > 0)
      self->progressView()->setPercentComplete(float(double(sent) / double(total)));
  });
  const QVariantMap attributes{{QString::fromLatin1(kQSFlickrPhotosetKey), QVariant::fromValue(m_photoset)},
                               {QString::fromLatin1(kQSFlickrAudienceKey), m_audience}};
  m_flickr->uploadImage(m_image, QString(), QString(),
                        textView() ? textView()->toPlainText() : m_caption, attributes,
                        [self](int result) {
                          if (!self) return;
                          self->unDimScreen();
                          self->hideProgressView();
                          performAfterDelay(kDismissDelaySeconds, [self, result] {
                            if (self) self->dismissWithResult(result == 0 ? 1 : 2);
                          });
                        });
}

void QSFlickrShareViewController::progressViewDidCancel(QSProgressView* progressView) {
  QSShareView2Controller::progressViewDidCancel(progressView);
  if (m_flickr) m_flickr->cancelUpload();
}

}  // namespace duo
