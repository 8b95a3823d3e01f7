#include "qs_facebook_share_view_controller.h"

#include <QJsonObject>

#include "qs_alert_view.h"
#include "qs_facebook.h"
#include "qs_facebook_album.h"
#include "qs_facebook_albums_view_controller.h"
#include "qs_facebook_audience_view_controller.h"
#include "qs_social.h"

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

void QSFacebookShareViewController::tableViewDidSelectRow(int row) {
  QPointer<QSFacebookShareViewController> self(this);
  if (row == 1) {
    auto* albums = new QSFacebookAlbumsViewController(album(), m_facebook);
    albums->setCompletion([self](QSFacebookAlbum* chosen) {
      if (!self || !chosen) return;
      self->m_album = chosen;
      self->reloadRow(1);
    });
    pushPicker(albums);
  } else if (row == 2) {
    auto* audience = new QSFacebookAudienceViewController(m_friendList, m_facebook);
    audience->setCompletion([self](const QSFacebookFriendList& list) {
      if (!self) return;
      self->m_friendList = list;
      self->reloadRow(2);
    });
    pushPicker(audience);
  }
}

bool QSFacebookShareViewController::isSignedIn() { return m_facebook && m_facebook->isLoggedIn(); }
bool QSFacebookShareViewController::isSigningIn() { return m_facebook && m_facebook->isLoggingIn(); }
void QSFacebookShareViewController::clientLogin() {
  if (m_facebook) m_facebook->login();
}
void QSFacebookShareViewController::clientLogout() {
  if (m_facebook) m_facebook->logout();
}
void QSFacebookShareViewController::clientCancelLogin() {
  if (m_facebook) m_facebook->cancelLogin();
}
bool QSFacebookShareViewController::clientIsUploading() {
  return m_facebook && m_facebook->isUploading();
}
void QSFacebookShareViewController::clientCancelUpload() {
  if (m_facebook) m_facebook->cancelUpload();
}

void QSFacebookShareViewController::clientUpload(const QString& caption, ProgressBlock progress,
                                                 std::function<void(int)> done) {
  if (!m_facebook) return;
  m_facebook->setUploadProgressBlock(std::move(progress));
  const QVariantMap attributes{
      {QString::fromLatin1(QSFacebook::kAudienceKey), m_friendList.listType()}};
  m_facebook->uploadImage(QVariant::fromValue(m_image), album(), QString(), caption, attributes,
                          std::move(done));
}

}  // namespace duo
