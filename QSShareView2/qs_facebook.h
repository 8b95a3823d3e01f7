#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>

#include <functional>

#include "facebook_config.h"
#include "facebook_session.h"
#include "http_request.h"
#include "qs_data_source.h"
#include "qs_facebook_friend_list.h"

class QNetworkAccessManager;

namespace duo {

class FacebookGraphClient;
class HttpRequest;
class QSFacebookAlbum;
class QSFacebookPhotosDataSource;
class TokenStore;

/// The application's Facebook client: sign-in and sign-out in the desktop browser, the user's
/// albums and friend lists for the upload screen's pickers, the publishing permission on demand,
/// and the post of one photo (or one local video file) with a caption, an album and an audience.
///
/// The delegate is held weakly and told `loggedIn()` / `loggedOut()` if it has such a slot or
/// invokable method. One upload runs at a time; its completion is called at most once, with 0
/// (posted), 1 (failed) or 2 (the publishing permission was not granted), never after
/// cancelUpload(), and isUploading() is clear by the time it runs.
class QSFacebook : public QObject, public QSDataSourceDelegate {
  Q_OBJECT

 public:
  using AlbumsBlock = std::function<void(const QList<QSFacebookAlbum*>& albums, int selected)>;
  using FriendListBlock = std::function<void(const QList<QSFacebookFriendList>& lists)>;
  using PermissionBlock = std::function<void(bool granted)>;
  using ProgressBlock = std::function<void(qint64 sent, qint64 total)>;
  using Completion = std::function<void(int result)>;

  static constexpr char kAudienceKey[] = "kQSFacebookAudienceKey";
  static constexpr char kDefaultAudience[] = "EVERYONE";
  static constexpr char kAlbumName[] = "Duoscope Photos";
  static constexpr char kPublishPermission[] = "publish_actions";
  static constexpr char kPublishAudience[] = "friends";
  static QStringList readPermissions();

  /// The client of the application: the build's registration, the configured service
  /// addresses and the desktop's secret store.
  explicit QSFacebook(QObject* parent = nullptr);
  /// A client on `config`, keeping its token in `tokens` (taken over) and talking through
  /// `network` (not owned; must outlive the client). For tools and tests.
  QSFacebook(FacebookConfig config, TokenStore* tokens, QNetworkAccessManager* network,
             QObject* parent = nullptr);
  ~QSFacebook() override;

  QObject* delegate() const { return m_delegate; }
  void setDelegate(QObject* delegate) { m_delegate = delegate; }

  bool isConfigured() const { return m_config.isConfigured(); }
  /// The network the client talks through (also for the album covers).
  QNetworkAccessManager* networkAccessManager() const { return m_network; }
  /// The session, created on first use; a stored token opens it without the browser.
  FacebookSession* session();
  FacebookGraphClient* facebookClient();
  QSFacebookPhotosDataSource* photosDataSource();
  QString accessToken() const;
  bool hasPublishPermissions() const;
  bool isLoggedIn() const;
  bool isUploading() const { return m_isUploading; }
  /// The running upload's request, if any.
  HttpRequest* uploadRequestConnection() const { return m_uploadRequestConnection; }
  /// Why the last upload failed or was refused, for the user; empty when nothing said why.
  QString uploadErrorMessage() const { return m_uploadErrorMessage; }
  /// The last upload ended with result 2: the publishing permission was not granted.
  bool uploadWasRefused() const { return m_uploadWasRefused; }

  bool handleOpenURL(const QUrl& url);
  void login();
  /// The login dialog is open in the browser, waiting for its callback.
  bool isLoggingIn() const;
  /// Gives up the login dialog under way; the delegate hears loggedOut.
  void cancelLogin();
  /// Passes on that the application became active (an old abandoned login is given up).
  void handleDidBecomeActive();
  void logout();
  void cancelAllFacebookOperations();
  void sessionStateChanged(FacebookSession* session, FacebookSession::State state,
                           const QString& error);

  void getFriendList(FriendListBlock block);
  void requestPublishPermissionsAndExecuteBlock(PermissionBlock block);
  void getAlbums(AlbumsBlock block);
  void itemsAreAvailable(QSDataSource* source, int status) override;

  void setUploadProgressBlock(ProgressBlock block) { m_uploadProgress = std::move(block); }
  void uploadImage(const QVariant& image, QSFacebookAlbum* album, const QString& title,
                   const QString& description, const QVariantMap& attributes,
                   Completion completion);
  /// `item` is a QImage (a photo) or the QUrl of a local video file; anything else is not
  /// uploaded (and its completion is never called). `album` null or without an identifier
  /// posts to the user's default album. `title` is not used by this service.
  void uploadItem(const QVariant& item, QSFacebookAlbum* album, const QString& title,
                  const QString& description, const QVariantMap& attributes, Completion completion);
  void cancelUpload();
  void uploadCompleteWithResult(int result);

  /// How sign-in pages are opened; QDesktopServices::openUrl unless replaced (tests).
  void setBrowserOpener(FacebookSession::BrowserOpener opener);

 signals:
  /// A sign-in error to show the user: an alert with this title, message and one button.
  void alertRequested(const QString& title, const QString& message, const QString& button);

 private:
  void tellDelegate(const char* method);
  void startUpload(int kind, const QVariant& item, const QString& albumID,
                   const QString& description, const QString& audience, quint64 generation);

  FacebookConfig m_config;
  TokenStore* m_tokens;
  QNetworkAccessManager* m_network;
  FacebookSession::BrowserOpener m_browserOpener;
  QPointer<QObject> m_delegate;
  QPointer<FacebookSession> m_session;
  QPointer<FacebookGraphClient> m_facebookClient;
  QPointer<QSFacebookPhotosDataSource> m_photosDataSource;
  QSFacebookAlbum* m_defaultAlbum = nullptr;
  bool m_isUploading = false;
  QPointer<HttpRequest> m_uploadRequestConnection;
  AlbumsBlock m_uploadAlbums;
  ProgressBlock m_uploadProgress;
  Completion m_uploadCompletion;
  QString m_uploadErrorMessage;
  bool m_uploadWasRefused = false;
  QString m_permissionError;
  quint64 m_uploadGeneration = 0;
  qint64 m_uploadSent = 0;
  qint64 m_uploadTotal = 0;
};

}  // namespace duo
