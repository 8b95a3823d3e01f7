#include "qs_dropbox.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QSaveFile>
#include <QStandardPaths>
#include <QThread>

#include "dropbox_client.h"
#include "dropbox_session.h"
#include "service_config.h"
#include "settings_store.h"
#include "token_store.h"

namespace duo {

namespace {

bool isTrimmed(QChar c) { return c.isSpace() || c == QLatin1Char('/') || c == QLatin1Char('.'); }

QString trimmed(const QString& text) {
  qsizetype begin = 0;
  qsizetype end = text.size();
  while (begin < end && isTrimmed(text.at(begin))) ++begin;
  while (end > begin && isTrimmed(text.at(end - 1))) --end;
  return text.mid(begin, end - begin);
}

/// The name without its extension, as a path's extension is understood: the part after the
/// last dot, unless that dot starts the name.
QString withoutExtension(const QString& name) {
  const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
  return dot > 0 ? name.left(dot) : name;
}

// Longest name we make, in UTF-8 bytes: file systems take 255, and the service adds " (1)" on
// a clash.
constexpr qsizetype kMaximumNameBytes = 240;

QString shortened(QString base, qsizetype extensionBytes) {
  while (!base.isEmpty() && base.toUtf8().size() + 1 + extensionBytes > kMaximumNameBytes) {
    base.chop(base.size() >= 2 && base.at(base.size() - 1).isLowSurrogate() ? 2 : 1);
  }
  return base;
}

}  // namespace

QString QSDropbox::fileNameForTitle(const QString& title, const QString& extension,
                                    const QDate& today) {
  QString name;
  if (!title.isEmpty()) {
    const QString whole = trimmed(title);
    const QString last = whole.mid(whole.lastIndexOf(QLatin1Char('/')) + 1);
    // Control characters have no place in a file name, and some file systems refuse them.
    QString base = trimmed(withoutExtension(last));
    base.removeIf([](QChar c) { return c.category() == QChar::Other_Control; });
    base = trimmed(shortened(base, extension.toUtf8().size()));
    // Nothing left but an extension (".png") would make a hidden file named ".jpg".
    if (!base.isEmpty()) name = base + QLatin1Char('.') + extension;
  }
  if (name.isEmpty())
    name = QString::fromLatin1(kDefaultFileNameFormat)
               .arg(today.toString(QStringLiteral("yyyy-MM-dd")), extension);
  return name;
}

QSDropbox* QSDropbox::sharedDropbox() {
  // A function-local static is initialised exactly once, even with threads racing to it.
  static QSDropbox* const instance = [] {
    SettingsStore& settings = SettingsStore::standard();
    auto* network = new QNetworkAccessManager;
    auto* tokens = new TokenStore(settings, TokenStore::Backend::SecretServiceOrFile);
    auto* session = new DropboxSession(ServiceConfig::dropbox(&settings), tokens, network);
    network->setParent(session);
    tokens->setParent(session);
    const QString caches = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    auto* dropbox =
        new QSDropbox(session, caches + QLatin1Char('/') + QString::fromLatin1(kWorkingFolderName));
    if (QCoreApplication* application = QCoreApplication::instance())
      if (dropbox->thread() != application->thread()) dropbox->moveToThread(application->thread());
    return dropbox;
  }();
  return instance;
}

QSDropbox::QSDropbox(DropboxSession* session, QString workingFolder, QObject* parent)
    : QObject(parent), m_session(session), m_workingFolder(std::move(workingFolder)) {
  session->setParent(this);
  connect(session, &DropboxSession::authorizationFailure, this,
          &QSDropbox::sessionDidReceiveAuthorizationFailure);
}

QSDropbox::~QSDropbox() {
  if (m_isUploading) {
    dropboxClient()->cancelFileUpload(m_uploadDestination);
    deleteDropboxCacheDirectory();
  }
}

DropboxClient* QSDropbox::dropboxClient() {
  if (!m_dropboxClient) {
    auto* client = new DropboxClient(m_session, this);
    connect(client, &DropboxClient::uploadProgress, this,
            [this](double progress, const QString& destPath, const QString&) {
              if (m_isUploading && destPath == m_uploadDestination)
                restClientUploadProgress(progress);
            });
    connect(client, &DropboxClient::uploadedFile, this,
            [this](const QString& destPath) { restClientUploadedFile(destPath); });
    connect(client, &DropboxClient::uploadFileFailedWithError, this,
            [this](const QString& destPath) { restClientUploadFileFailed(destPath); });
    m_dropboxClient = client;
  }
  return m_dropboxClient;
}

void QSDropbox::uploadImageData(const QByteArray& data, const QString& fileExtension,
                                const QString&, const QString& title, const QString&,
                                Completion completion) {
  // A new upload replaces one under way, which is dropped without a completion.
  if (m_isUploading) dropboxClient()->cancelFileUpload(m_uploadDestination);
  m_isUploading = true;
  m_uploadCompletion = std::move(completion);
  ++m_uploadGeneration;

  // Created with its parents: on a first run the caches folder may not exist yet.
  QDir().mkpath(m_workingFolder);
  m_uploadFileName = fileNameForTitle(title, fileExtension, QDate::currentDate());
  m_uploadDestination = QString::fromLatin1(kDestinationPath) + m_uploadFileName;
  const QString localPath = m_workingFolder + QLatin1Char('/') + m_uploadFileName;

  QSaveFile file(localPath);
  const bool written =
      file.open(QIODevice::WriteOnly) && file.write(data) == data.size() && file.commit();
  if (!written) {
    // As if the upload of the missing file had failed: reported later, never inside this call.
    QMetaObject::invokeMethod(
        this,
        [this, generation = m_uploadGeneration] {
          if (m_isUploading && generation == m_uploadGeneration) uploadCompleteWithResult(1);
        },
        Qt::QueuedConnection);
    return;
  }
  dropboxClient()->uploadFile(m_uploadFileName, QString::fromLatin1(kDestinationPath), QString(),
                              localPath);
}

void QSDropbox::cancelUpload() {
  if (!m_isUploading) return;
  dropboxClient()->cancelFileUpload(m_uploadDestination);
  uploadCleanUp();
}

void QSDropbox::uploadCompleteWithResult(int result) {
  // Cleaned up before the completion runs: a completion that starts the next upload must not
  // have its blocks and working file removed behind it.
  Completion completion = std::move(m_uploadCompletion);
  uploadCleanUp();
  if (completion) completion(result);
}

void QSDropbox::uploadCleanUp() {
  m_uploadProgress = nullptr;
  m_uploadCompletion = nullptr;
  m_isUploading = false;
  m_uploadFileName.clear();
  m_uploadDestination.clear();
  deleteDropboxCacheDirectory();
}

void QSDropbox::deleteDropboxCacheDirectory() {
  if (!m_workingFolder.isEmpty()) QDir(m_workingFolder).removeRecursively();
}

void QSDropbox::restClientUploadProgress(double progress) {
  if (m_uploadProgress) m_uploadProgress(qint64(progress * 100), 100);
}

void QSDropbox::restClientUploadedFile(const QString& destPath) {
  if (m_isUploading && destPath == m_uploadDestination) uploadCompleteWithResult(0);
}

void QSDropbox::restClientUploadFileFailed(const QString& destPath) {
  if (m_isUploading && destPath == m_uploadDestination) uploadCompleteWithResult(1);
}

void QSDropbox::sessionDidReceiveAuthorizationFailure() { m_session->unlinkAll(); }

}  // namespace duo
