#include "qs_flickr_photos_data_source.h"

#include "image_resources.h"
#include "qs_flickr.h"
#include "qs_flickr_photo.h"

namespace duo {

QSFlickrPhotosDataSource::QSFlickrPhotosDataSource(QSFlickr* flickr, QObject* parent)
    : QSDataSource(parent), m_flickr(flickr) {
  setDataSourceType(kServiceDataSourceType);
  setCaption(QStringLiteral("Flickr"));
}

QSFlickrPhotosDataSource::~QSFlickrPhotosDataSource() = default;

QImage QSFlickrPhotosDataSource::dataLogo() const {
  return imageNamed(QStringLiteral("Flickr Logo.png"));
}

QSDataSource* QSFlickrPhotosDataSource::itemForIndex(int index) const {
  return index >= 0 && index < m_photos.size() ? m_photos[index] : nullptr;
}

void QSFlickrPhotosDataSource::getItems() {
  if (m_gettingItems) return;
  if (m_allLoaded) {
    notifyDelegate(0);
    return;
  }
  m_gettingItems = true;
  // Asked from the event loop, so a caller never hears back inside its own call.
  QMetaObject::invokeMethod(
      this,
      [this] {
        if (m_gettingItems) requestPage();
      },
      Qt::QueuedConnection);
}

void QSFlickrPhotosDataSource::requestPage() {
  if (!m_flickr) {
    m_gettingItems = false;
    notifyDelegateOfError(QString::fromLatin1(kErrorMessage));
    return;
  }
  FlickrAPIRequest* request = m_flickr->flickrRequest();
  request->setDelegate(this);
  request->callAPIMethodWithGET(
      QStringLiteral("flickr.people.getPhotos"),
      {{QStringLiteral("user_id"), QStringLiteral("me")},
       {QStringLiteral("extras"),
        QStringLiteral("date_taken,description,url_o,url_t,url_s,url_m,url_z,url_l")},
       {QStringLiteral("per_page"), QString::number(kPageSize)},
       {QStringLiteral("page"), QString::number(m_page)}});
}

void QSFlickrPhotosDataSource::cancel() {
  if (m_gettingItems && m_flickr && m_flickr->flickrRequest()->delegate() == this)
    m_flickr->flickrRequest()->cancel();
  m_gettingItems = false;
}

void QSFlickrPhotosDataSource::reset() {
  cancel();
  QSDataSource::reset();
  qDeleteAll(m_photos);
  m_photos.clear();
  m_page = 1;
  m_allLoaded = false;
}

void QSFlickrPhotosDataSource::flickrAPIRequestDidCompleteWithResponse(
    FlickrAPIRequest*, const QVariantMap& response) {
  if (!m_gettingItems) return;
  const QVariant photos =
      response.value(QStringLiteral("photos")).toMap().value(QStringLiteral("photo"));
  if (!FlickrResponses::isOk(response) || photos.typeId() != QMetaType::QVariantList) {
    m_gettingItems = false;
    notifyDelegateOfError(QString::fromLatin1(kErrorMessage));
    return;
  }
  const QVariantList elements = photos.toList();
  for (const QVariant& element : elements) {
    if (m_photos.size() >= kMaximumItems) break;
    auto* photo = new QSFlickrPhoto(element.toMap(), this);
    if (photo->isUsable())
      m_photos.append(photo);
    else
      delete photo;
  }
  if (elements.size() < kPageSize)
    m_allLoaded = true;
  else
    ++m_page;
  if (m_photos.size() >= kMaximumItems) m_allLoaded = true;
  if (!m_allLoaded) {
    notifyDelegate(1);
    requestPage();
    return;
  }
  finishLoading();
}

void QSFlickrPhotosDataSource::finishLoading() {
  m_gettingItems = false;
  notifyDelegate(2);
}

void QSFlickrPhotosDataSource::flickrAPIRequestDidFailWithError(FlickrAPIRequest*,
                                                                const FlickrError& error) {
  if (!m_gettingItems) return;
  m_gettingItems = false;
  if (m_flickr && m_flickr->handleError(error)) return;
  notifyDelegateOfError(QString::fromLatin1(kErrorMessage));
}

}  // namespace duo
