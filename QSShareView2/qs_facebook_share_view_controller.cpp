#include "qs_facebook_share_view_controller.h"

#include <QJsonObject>
#include <QTextEdit>

#include "bar_button_item.h"
#include "navigation_controller.h"
#include "qs_alert_view.h"
#include "qs_facebook.h"
#include "qs_facebook_album.h"
#include "qs_facebook_albums_view_controller.h"
#include "qs_facebook_audience_view_controller.h"
#include "qs_share_navigation_controller.h"
#include "qs_social.h"
#include "run_loop.h"

namespace duo {

QSFacebookShareViewController::QSFacebookShareViewController(QSFacebook* facebook, QObject* parent)
    : QSShareView2Controller(parent),
      m_facebook(facebook ? facebook : QSSocial::sharedSocial()->facebook()),
      m_friendList(QStringLiteral("0"), QStringLiteral("Public"), QStringLiteral("EVERYONE")) {
  m_defaultAlbum = new QSFacebookAlbum(
      QJsonObject{{QStringLiteral("name"), QString::fromLatin1(QSFacebook::kAlbumName)}}, nullptr,
      QString(), this);
  m_album = m_defaultAlbum;
}

QSFacebookShareViewController::~QSFacebookShareViewController() {
  if (m_facebook && m_facebook->delegate() == this) m_facebook->setDelegate(nullptr);
}

QSFacebookAlbum* QSFacebookShareViewController::album() const {
  // A chosen album belongs to the client's list, which may be loaded afresh meanwhile.
  return m_album ? m_album.data() : m_defaultAlbum;
}

void QSFacebookShareViewController::viewDidLoad() {
  setTitle(QStringLiteral("Facebook"));
  QSShareView2Controller::viewDidLoad();
  setupToolbar();
  if (m_facebook) {
    m_facebook->setDelegate(this);
    connect(m_facebook, &QSFacebook::alertRequested, this,
            [](const QString& title, const QString& message, const QString& button) {
              (new QSAlertView(title, message, button))->show();
            });
  }
  updateLogoutButton();
}

QString QSFacebookShareViewController::labelForRow(int row) const {
  return row == 1 ? QStringLiteral("Album") : QStringLiteral("Audience");
}

QString QSFacebookShareViewController::detailForRow(int row) const {
  if (row == 1) {
    const QString name = album()->name();
    return name.isEmpty() ? QString::fromLatin1(QSFacebook::kAlbumName) : name;
  }
  return m_friendList.name().isEmpty() ? QStringLiteral("Everyone") : m_friendList.name();
}

void QSFacebookShareViewController::presentFromViewController(ViewController* host,
                                                              Completion completion) {
  QSShareView2Controller::presentFromViewController(host, std::move(completion));
  view();  // the client's delegate from now on
  if (m_facebook && !m_facebook->isLoggedIn()) login();
}

void QSFacebookShareViewController::login() {
  if (!m_facebook) return;
  m_facebook->login();
  // A stored sign-in opens at once; only a sign-in that goes to the browser gets the panel.
  performAfterDelay(kSignInPanelDelaySeconds, [self = QPointer<QSFacebookShareViewController>(this)] {
    if (!self || !self->m_facebook || !self->m_facebook->isLoggingIn()) return;
    self->showSignInPanel(QStringLiteral("Facebook"), [self] {
      if (self && self->m_facebook) self->m_facebook->cancelLogin();
    });
  });
}

void QSFacebookShareViewController::updateLogoutButton() {
  const bool signedIn = m_facebook && m_facebook->isLoggedIn();
  if (logoutButton()) logoutButton()->setTitle(signedIn ? QStringLiteral("Logout") : QStringLiteral("Login"));
  if (postButton()) postButton()->setEnabled(signedIn);
}

void QSFacebookShareViewController::loggedIn() {
  hideSignInPanel();
  updateLogoutButton();
}

void QSFacebookShareViewController::loggedOut() {
  hideSignInPanel();
  updateLogoutButton();
}

void QSFacebookShareViewController::logoutButtonTouched() {
  updateLogoutButton();
  if (!m_facebook) return;
  if (m_facebook->isLoggedIn()) {
    m_facebook->logout();
    dismissWithResult(0);
  } else {
    login();
  }
}

void QSFacebookShareViewController::tableViewDidSelectRow(int row) {
  NavigationController* navigation = shareNavigationController();
  if (!navigation || (row != 1 && row != 2)) return;
  QPointer<QSFacebookShareViewController> self(this);
  ViewController* picker = nullptr;
  if (row == 1) {
    auto* albums = new QSFacebookAlbumsViewController(album(), m_facebook);
    albums->setCompletion([self](QSFacebookAlbum* chosen) {
      if (!self || !chosen) return;
      self->m_album = chosen;
      self->reloadRow(1);
    });
    picker = albums;
  } else {
    auto* audience = new QSFacebookAudienceViewController(m_friendList, m_facebook);
    audience->setCompletion([self](const QSFacebookFriendList& list) {
      if (!self) return;
      self->m_friendList = list;
      self->reloadRow(2);
    });
    picker = audience;
  }
  if (textView()) textView()->clearFocus();
  navigation->pushViewController(picker, true);
}

void QSFacebookShareViewController::dismissWithResult(int result) {
  if (textView()) textView()->clearFocus();
  QSShareView2Controller::dismissWithResult(result);
}

void QSFacebookShareViewController::uploadImage() {
  if (!m_facebook || !m_facebook->isLoggedIn() || m_facebook->isUploading()) return;
  if (textView()) textView()->clearFocus();
  dimScreen();
  showProgressView();
  QPointer<QSFacebookShareViewController> self(this);
  m_facebook->setUploadProgressBlock([self](qint64 sent, qint64 total) {
    if (self && self->progressView() && total > 0)
      self->progressView()->setPercentComplete(float(double(sent) / double(total)));
  });
  const QVariantMap attributes{
      {QString::fromLatin1(QSFacebook::kAudienceKey), m_friendList.listType()}};
  m_facebook->uploadImage(QVariant::fromValue(m_image), album(), QString(),
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

void QSFacebookShareViewController::progressViewDidCancel(QSProgressView* progressView) {
  QSShareView2Controller::progressViewDidCancel(progressView);
  if (m_facebook) m_facebook->cancelUpload();
}

}  // namespace duo
