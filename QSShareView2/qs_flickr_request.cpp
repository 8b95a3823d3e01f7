#include "qs_flickr_request.h"

#include "qs_flickr.h"
#include "qs_social.h"

namespace duo {

QSFlickrRequest::QSFlickrRequest(QSFlickr* flickr, QObject* parent)
    : QObject(parent), m_flickr(flickr) {}

QSFlickr* QSFlickrRequest::flickr() const {
  return m_flickr ? m_flickr.data() : QSSocial::sharedSocial()->flickr();
}

void QSFlickrRequest::callAPI(const QString& method, int httpMethod, const QVariantMap& arguments,
                              Completion completion) {
  Q_ASSERT_X(!method.isEmpty(), "QSFlickrRequest::callAPI", "Flickr API required");
  if (method.isEmpty()) return;
  if (httpMethod != kGET && httpMethod != kPOST) return;
  FlickrAPIRequest* request = flickr()->flickrRequest();
  request->setDelegate(this);
  m_completion = std::move(completion);
  if (httpMethod == kGET)
    request->callAPIMethodWithGET(method, arguments);
  else
    request->callAPIMethodWithPOST(method, arguments);
}

void QSFlickrRequest::flickrAPIRequestDidCompleteWithResponse(FlickrAPIRequest*,
                                                              const QVariantMap& response) {
  if (Completion completion = std::exchange(m_completion, {})) completion(response, false, {});
}

void QSFlickrRequest::flickrAPIRequestDidFailWithError(FlickrAPIRequest*,
                                                       const FlickrError& error) {
  if (Completion completion = std::exchange(m_completion, {})) completion({}, true, error);
}

}  // namespace duo
