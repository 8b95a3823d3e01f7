#pragma once

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>

#include "dropbox_responses.h"

namespace duo {

class DropboxSession;
class HttpRequest;
struct HttpResponse;

/// Dropbox's HTTP API on a linked session: uploads of local files into the application's
/// folder, streamed from the file, with progress and cancel. An access token that has expired
/// is refreshed and the upload sent again, once; when the refresh itself is refused the session
/// is told (reportAuthorizationFailure) and the upload fails.
class DropboxClient : public QObject {
  Q_OBJECT

 public:
  /// `session` (not owned) must outlive the client.
  explicit DropboxClient(DropboxSession* session, QObject* parent = nullptr);
  ~DropboxClient() override;

  /// Uploads the local file `fromPath` as `filename` into the folder `toPath` ("/" is the
  /// application folder's root) without replacing anything there: on a clash the service picks
  /// a free name. `parentRev` must be empty (replacing a revision is not supported). One of
  /// uploadedFile() or uploadFileFailedWithError() follows, never both, unless cancelled.
  void uploadFile(const QString& filename, const QString& toPath, const QString& parentRev,
                  const QString& fromPath);
  /// Stops the upload to `path` (folder and file name, "/name.jpg"); nothing more is reported
  /// for it.
  void cancelFileUpload(const QString& path);
  bool isUploading(const QString& path) const { return m_uploads.contains(path); }

 signals:
  /// Fraction of the file sent, 0 to 1, never going back.
  void uploadProgress(double progress, const QString& destPath, const QString& srcPath);
  void uploadedFile(const QString& destPath, const QString& srcPath,
                    const duo::DropboxResponses::FileMetadata& metadata);
  /// `error` says what went wrong for a log or an alert; it never holds a token.
  void uploadFileFailedWithError(const QString& destPath, const QString& srcPath,
                                 const QString& error);

 private:
  struct Upload {
    QString destPath;
    QString srcPath;
    QPointer<HttpRequest> request;
    bool retried = false;
    double progress = 0;
  };

  void send(const QString& destPath);
  void onFinished(const QString& destPath, const HttpResponse& response);
  void fail(const QString& destPath, const QString& error);
  void refreshAndRetry(const QString& destPath);

  DropboxSession* m_session;
  QHash<QString, Upload> m_uploads;
};

}  // namespace duo
