#pragma once

#include <QImage>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <vector>

#include "flickr_api_request.h"
#include "qs_flickr_photoset.h"
#include "service_config.h"

class QNetworkAccessManager;

namespace duo {

class FlickrContext;
class QSFlickrPhotosDataSource;
class QSFlickrRequest;
class TokenStore;

/// Hears when the user signs in to or out of Flickr. Both calls are optional.
class QSFlickrDelegate {
 public:
  virtual ~QSFlickrDelegate() = default;
  virtual void loggedIn() {}
  virtual void loggedOut() {}
};

/// Attribute keys of an upload: the photo set to add the photo to (a QSFlickrPhotoset) and the
/// audience index (0 Public, 1 Friends, 2 Family, 3 Only Me).
inline constexpr char kQSFlickrPhotosetKey[] = "kQSFlickrPhotosetKey";
inline constexpr char kQSFlickrAudienceKey[] = "kQSFlickrAudienceKey";

/// The application's Flickr client: OAuth 1.0a sign-in through the desktop browser, the access
/// token kept in the TokenStore across runs, the user's photo sets, and the upload of one JPEG
/// with title, description, audience and optional photo set.
///
/// The browser returns through the callback URL "flickr" + API key + "://authorize", which the
/// application hands to handleOpenURL(). A build without a Flickr key is "not configured": it
/// never signs in, and an upload fails.
///
/// One upload at a time. Its completion is called at most once, with 0 (uploaded — also when
/// only adding it to the photo set failed) or 1 (failed), never after cancelUpload(); progress
/// is (bytes sent, total bytes) and ends at the total. A token the service rejects signs the
/// user out (loggedOut).
class QSFlickr : public QObject, public FlickrAPIRequestDelegate {
  Q_OBJECT

 public:
  using ProgressBlock = std::function<void(qint64 sent, qint64 total)>;
  using Completion = std::function<void(int result)>;
  using PhotosetsBlock = std::function<void(const QList<QSFlickrPhotoset>& photosets)>;

  static constexpr char kOAuthTokenKey[] = "QSFlickr.OAuthToken";
  static constexpr char kOAuthTokenSecretKey[] = "QSFlickr.OAuthTokenSecret";
  static constexpr char kNotConfiguredMessage[] = "Flickr is not configured in this build.";
  static constexpr char kUploadFileName[] = "Duoscope.jpg";
  static constexpr int kRequestTimeoutSeconds = 60;

  /// A client with no key: not configured.
  explicit QSFlickr(QObject* parent = nullptr);
  /// The application's client: `apiKey` and `secret` with the configured service addresses,
  /// the desktop's secret store and a network access manager of its own.
  QSFlickr(const QString& apiKey, const QString& secret, QObject* parent = nullptr);
  /// A client on `config` keeping its tokens in `tokens` and talking through `network` (neither
  /// owned; both must outlive it). For tools and tests.
  QSFlickr(FlickrConfig config, TokenStore* tokens, QNetworkAccessManager* network,
           QObject* parent = nullptr);
  ~QSFlickr() override;
  QSFlickr(const QSFlickr&) = delete;
  QSFlickr& operator=(const QSFlickr&) = delete;

  QSFlickrDelegate* delegate() const { return m_delegate; }
  /// `object` is the delegate's QObject: the client forgets a delegate that is deleted.
  void setDelegate(QSFlickrDelegate* delegate, QObject* object);

  QString apiKey() const { return m_config.apiKey; }
  QString secret() const { return m_config.sharedSecret; }
  bool isConfigured() const { return m_config.isConfigured(); }
  /// "flickr" + API key + "://authorize".
  QUrl callbackURL() const;

  FlickrContext* flickrContext();
  FlickrAPIRequest* flickrRequest();
  /// The stored token has been read (sign-in state is known).
  bool isReady() const { return m_ready; }
  /// Runs `done` once the stored token has been read (at once when it has).
  void whenReady(std::function<void()> done);

  bool isLoggedIn();
  QString flickrUserName() const { return m_flickrUserName; }
  QSFlickrPhotosDataSource* photosDataSource();
  bool isUploading() const { return m_isUploading; }
  QSFlickrRequest* request() const;
  QString uploadPhotosetID() const { return m_uploadPhotosetID; }

  /// Starts sign-in in the browser, or tells the delegate loggedIn when signed in already.
  /// False when not configured or the browser could not be opened.
  bool login();
  void logout();
  /// Finishes a sign-in from the URL the browser came back to: true only for this client's
  /// callback URL carrying the request token of the sign-in under way and a verifier.
  bool handleOpenURL(const QUrl& url);
  /// Exchanges the request token of the sign-in under way and its verifier for the access
  /// token: false (and nothing sent) when no sign-in of this client waits for `requestToken`.
  bool finishLogin(const QString& requestToken, const QString& verifier);
  /// Gives up the sign-in under way (the browser page was abandoned); tells the delegate
  /// loggedOut. Nothing happens when no sign-in is under way.
  void cancelLogin();
  /// A sign-in is waiting for the browser or for its last step.
  bool isLoggingIn() { return !m_pendingRequestToken.isEmpty() || !flickrRequest()->sessionInfo().isEmpty(); }

  void setAndStoreFlickrAuthToken(const QString& token, const QString& secret);
  /// Signs out when `error` is the service's refusal of the token (code 98); true then.
  bool handleError(const FlickrError& error);

  void getPhotosets(PhotosetsBlock block);
  /// "None" first, then the answer's photo sets in order; just "None" for a failed answer.
  static QList<QSFlickrPhotoset> parsePhotosets(const QVariantMap& response);
  void assignUploadPhotosetWithResponse(const QVariantMap& response);

  void setUploadProgressBlock(ProgressBlock block) { m_uploadProgress = std::move(block); }
  /// Uploads `image` as JPEG. `album` is not used; `title` and `description` are sent when not
  /// empty; `attributes` may hold kQSFlickrPhotosetKey and kQSFlickrAudienceKey.
  void uploadImage(const QImage& image, const QString& album, const QString& title,
                   const QString& description, const QVariantMap& attributes,
                   Completion completion);
  /// Stops the upload under way, if any; its completion is not called.
  void cancelUpload();
  void uploadCompleteWithResult(int result);

  /// How the sign-in page is opened; QDesktopServices::openUrl unless replaced (tests).
  void setBrowserOpener(std::function<bool(const QUrl&)> opener) {
    m_openBrowser = std::move(opener);
  }

  // FlickrAPIRequestDelegate
  void flickrAPIRequestDidObtainOAuthRequestToken(FlickrAPIRequest* request, const QString& token,
                                                  const QString& secret) override;
  void flickrAPIRequestDidObtainOAuthAccessToken(FlickrAPIRequest* request, const QString& token,
                                                 const QString& secret, const QString& userFullName,
                                                 const QString& userName,
                                                 const QString& userNSID) override;
  void flickrAPIRequestImageUploadSentBytes(FlickrAPIRequest* request, qint64 sent,
                                            qint64 total) override;
  void flickrAPIRequestDidCompleteWithResponse(FlickrAPIRequest* request,
                                               const QVariantMap& response) override;
  void flickrAPIRequestDidFailWithError(FlickrAPIRequest* request,
                                        const FlickrError& error) override;

 private:
  void loadStoredToken();
  void replaceRequest(QSFlickrRequest* next);
  void tellLoggedIn();
  void tellLoggedOut();
  void failUploadLater();

  FlickrConfig m_config;
  TokenStore* m_tokens = nullptr;
  QNetworkAccessManager* m_network = nullptr;
  std::unique_ptr<FlickrContext> m_context;
  QPointer<FlickrAPIRequest> m_flickrRequest;
  QPointer<QSFlickrPhotosDataSource> m_photosDataSource;
  QPointer<QSFlickrRequest> m_request;
  QSFlickrDelegate* m_delegate = nullptr;
  QPointer<QObject> m_delegateObject;
  std::function<bool(const QUrl&)> m_openBrowser;

  bool m_loggedInFlag = false;
  bool m_ready = false;
  quint64 m_tokenGeneration = 0;  // a sign-out or sign-in outdates token reads under way
  std::vector<std::function<void()>> m_readyWaiters;
  QString m_pendingRequestToken;  // the request token of the sign-in under way
  QString m_flickrUserName;

  bool m_isUploading = false;
  quint64 m_uploadGeneration = 0;
  QString m_uploadPhotosetID;
  ProgressBlock m_uploadProgress;
  Completion m_uploadCompletion;
};

}  // namespace duo
