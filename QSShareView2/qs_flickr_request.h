#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariantMap>

#include <functional>
#include <optional>

#include "flickr_api_request.h"

namespace duo {

class QSFlickr;

/// One Flickr REST call with a completion: it makes itself the delegate of the client's shared
/// request object, sends, and passes the answer on once.
class QSFlickrRequest : public QObject, public FlickrAPIRequestDelegate {
  Q_OBJECT

 public:
  /// (response, failed, error): the answer and no error, or no answer, true and the error.
  using Completion = std::function<void(const std::optional<QVariantMap>& response, bool failed,
                                        const std::optional<FlickrError>& error)>;

  static constexpr int kGET = 0;
  static constexpr int kPOST = 1;

  /// Calls go through `flickr`, or the application's client (QSSocial) when null.
  explicit QSFlickrRequest(QSFlickr* flickr = nullptr, QObject* parent = nullptr);

  QSFlickr* flickr() const;
  Completion completion() const { return m_completion; }

  /// Calls the API method `method` (required) with GET for `httpMethod` 0 or POST for 1; any
  /// other code sends nothing.
  void callAPI(const QString& method, int httpMethod, const QVariantMap& arguments,
               Completion completion);

  void flickrAPIRequestDidCompleteWithResponse(FlickrAPIRequest* request,
                                               const QVariantMap& response) override;
  void flickrAPIRequestDidFailWithError(FlickrAPIRequest* request,
                                        const FlickrError& error) override;

 private:
  QPointer<QSFlickr> m_flickr;
  Completion m_completion;
};

}  // namespace duo
