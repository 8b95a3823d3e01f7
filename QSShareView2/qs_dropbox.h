#pragma once

#include <QByteArray>
#include <QDate>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

#include "dropbox_responses.h"

namespace duo {

class DropboxClient;
class DropboxSession;

/// Uploads one rendered image or animated GIF into the application's folder of the user's
/// Dropbox, under a name the user typed or a dated default. No upload screen: the result
/// screen asks for the name and calls uploadImageData().
///
/// Only one upload runs at a time. Its completion is called at most once, with 0 (uploaded) or
/// 1 (failed), and never after cancelUpload(). The data goes through a file in a local working
/// folder (streamed from there, not held in memory twice), which exists only during an upload.
class QSDropbox : public QObject {
  Q_OBJECT

 public:
  /// Receives (sent, total) in hundredths: total is always 100.
  using ProgressBlock = std::function<void(qint64 sent, qint64 total)>;
  using Completion = std::function<void(int result)>;

  static constexpr char kDefaultFileNameFormat[] = "Duoscope Image %1.%2";
  static constexpr char kDestinationPath[] = "/";
  static constexpr char kWorkingFolderName[] = "Dropbox";

  /// The application's one instance, created on first use (thread-safely) with the build's
  /// registration, the configured service addresses, the desktop's secret store and the
  /// caches folder; it lives on the application's main thread.
  static QSDropbox* sharedDropbox();

  /// A client on `session` (taken over) keeping its working files in `workingFolder`. The
  /// application uses sharedDropbox(); this is for tools and tests with a session of their own.
  QSDropbox(DropboxSession* session, QString workingFolder, QObject* parent = nullptr);
  ~QSDropbox() override;
  QSDropbox(const QSDropbox&) = delete;
  QSDropbox& operator=(const QSDropbox&) = delete;

  DropboxSession* session() const { return m_session; }
  DropboxClient* dropboxClient();

  bool isUploading() const { return m_isUploading; }
  QString uploadFileName() const { return m_uploadFileName; }
  QString localWorkingFolder() const { return m_workingFolder; }

  void setUploadProgressBlock(ProgressBlock block) { m_uploadProgress = std::move(block); }
  /// Uploads `data` as a file named from `title` (null or empty: the dated default) with
  /// `fileExtension` (no dot). `album` and `description` are not used by this service.
  void uploadImageData(const QByteArray& data, const QString& fileExtension, const QString& album,
                       const QString& title, const QString& description, Completion completion);
  /// Stops the upload under way, if any; its completion is not called.
  void cancelUpload();

  void uploadCompleteWithResult(int result);
  void uploadCleanUp();
  void deleteDropboxCacheDirectory();

  /// The file name for a typed `title`: trimmed of white space, "/" and "." at both ends, its
  /// last path component without its extension, trimmed again, plus "." and `extension`; the
  /// default "Duoscope Image yyyy-MM-dd.<extension>" for `today` when nothing is left.
  static QString fileNameForTitle(const QString& title, const QString& extension,
                                  const QDate& today);

 private:
  void restClientUploadProgress(double progress);
  void restClientUploadedFile(const QString& destPath);
  void restClientUploadFileFailed(const QString& destPath);
  void sessionDidReceiveAuthorizationFailure();

  DropboxSession* m_session;
  QPointer<DropboxClient> m_dropboxClient;
  QString m_workingFolder;
  bool m_isUploading = false;
  QString m_uploadFileName;
  QString m_uploadDestination;  // "/" + name, the key the client knows the upload by
  ProgressBlock m_uploadProgress;
  Completion m_uploadCompletion;
  quint64 m_uploadGeneration = 0;
};

}  // namespace duo
