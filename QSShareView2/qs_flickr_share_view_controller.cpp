#include "qs_flickr_share_view_controller.h"

#include "qs_flickr_audience_view_controller.h"
#include "qs_flickr_photosets_view_controller.h"
#include "qs_social.h"

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

void QSFlickrShareViewController::tableViewDidSelectRow(int row) {
  QPointer<QSFlickrShareViewController> self(this);
  if (row == 1) {
    auto* photosets = new QSFlickrPhotosetsViewController(m_photoset, m_flickr);
    photosets->setCompletion([self](const QSFlickrPhotoset& chosen) {
      if (!self) return;
      self->m_photoset = chosen;
      self->reloadRow(1);
    });
    pushPicker(photosets);
  } else if (row == 2) {
    auto* audience = new QSFlickrAudienceViewController(m_audience);
    audience->setCompletion([self](int chosen) {
      if (!self) return;
      self->m_audience = chosen;
      self->reloadRow(2);
    });
    pushPicker(audience);
  }
}

bool QSFlickrShareViewController::isSignedIn() { return m_flickr && m_flickr->isLoggedIn(); }
bool QSFlickrShareViewController::isSigningIn() { return m_flickr && m_flickr->isLoggingIn(); }
void QSFlickrShareViewController::clientLogin() {
  if (m_flickr) m_flickr->login();
}
void QSFlickrShareViewController::clientLogout() {
  if (m_flickr) m_flickr->logout();
}
void QSFlickrShareViewController::clientCancelLogin() {
  if (m_flickr) m_flickr->cancelLogin();
}
bool QSFlickrShareViewController::clientIsUploading() { return m_flickr && m_flickr->isUploading(); }
void QSFlickrShareViewController::clientCancelUpload() {
  if (m_flickr) m_flickr->cancelUpload();
}

void QSFlickrShareViewController::clientUpload(const QString& caption, ProgressBlock progress,
                                               std::function<void(int)> done) {
  if (!m_flickr) return;
  m_flickr->setUploadProgressBlock(std::move(progress));
  const QVariantMap attributes{
      {QString::fromLatin1(kQSFlickrPhotosetKey), QVariant::fromValue(m_photoset)},
      {QString::fromLatin1(kQSFlickrAudienceKey), m_audience}};
  m_flickr->uploadImage(m_image, QString(), QString(), caption, attributes, std::move(done));
}

}  // namespace duo
