#include "dropbox_client.h"

#include <QFile>
#include <QNetworkRequest>

#include "dropbox_session.h"
#include "http_request.h"

namespace duo {

namespace {

QString joinPath(const QString& folder, const QString& name) {
  QString path = folder.isEmpty() ? QStringLiteral("/") : folder;
  if (!path.endsWith(QLatin1Char('/'))) path += QLatin1Char('/');
  return path + name;
}

QString describe(const HttpResponse& response) {
  if (response.outcome != HttpResponse::Outcome::Completed) return response.errorText;
  const auto error = DropboxResponses::parseError(response.body);
  QString text = QStringLiteral("Dropbox answered HTTP %1").arg(response.status);
  if (error && !error->summary.isEmpty())
    text += QStringLiteral(" (%1)").arg(error->summary);
  else if (error && !error->tag.isEmpty())
    text += QStringLiteral(" (%1)").arg(error->tag);
  return text;
}

}  // namespace

DropboxClient::DropboxClient(DropboxSession* session, QObject* parent)
    : QObject(parent), m_session(session) {}

DropboxClient::~DropboxClient() {
  for (Upload& upload : m_uploads) delete upload.request.data();
}

void DropboxClient::uploadFile(const QString& filename, const QString& toPath,
                               const QString& parentRev, const QString& fromPath) {
  const QString destPath = joinPath(toPath, filename);
  cancelFileUpload(destPath);
  Upload upload;
  upload.destPath = destPath;
  upload.srcPath = fromPath;
  m_uploads.insert(destPath, upload);
  // Failures are reported on a later turn, as a network failure would be: the caller is still
  // inside this call.
  const auto failLater = [this, destPath](const QString& error) {
    QMetaObject::invokeMethod(
        this, [this, destPath, error] { fail(destPath, error); }, Qt::QueuedConnection);
  };
  if (!parentRev.isEmpty()) {
    failLater(QStringLiteral("Replacing a revision is not supported."));
  } else if (!m_session->isLinked()) {
    failLater(QStringLiteral("Not signed in to Dropbox."));
  } else if (m_session->accessToken().isEmpty()) {
    refreshAndRetry(destPath);
  } else {
    send(destPath);
  }
}

void DropboxClient::cancelFileUpload(const QString& path) {
  auto it = m_uploads.find(path);
  if (it == m_uploads.end()) return;
  delete it->request.data();  // cancels without a finished()
  m_uploads.erase(it);
}

void DropboxClient::send(const QString& destPath) {
  auto it = m_uploads.find(destPath);
  if (it == m_uploads.end()) return;
  auto file = std::make_unique<QFile>(it->srcPath);
  if (!file->open(QIODevice::ReadOnly)) {
    // Reported later, as a network failure would be: the caller is still inside uploadFile().
    QMetaObject::invokeMethod(
        this,
        [this, destPath] { fail(destPath, QStringLiteral("The file to upload cannot be read.")); },
        Qt::QueuedConnection);
    return;
  }
  QNetworkRequest request(
      m_session->config().contentUrl.resolved(QUrl(QStringLiteral("/2/files/upload"))));
  request.setRawHeader("Authorization", "Bearer " + m_session->accessToken().toUtf8());
  request.setRawHeader("Dropbox-API-Arg", DropboxResponses::uploadArgument(destPath));
  request.setHeader(QNetworkRequest::ContentTypeHeader,
                    QByteArrayLiteral("application/octet-stream"));
  request.setHeader(QNetworkRequest::ContentLengthHeader, file->size());
  // The token must never follow a redirect to another host.
  request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                       QNetworkRequest::ManualRedirectPolicy);

  auto* http = new HttpRequest(m_session->networkAccessManager(), this);
  http->setTimeout(m_session->config().timeoutMs);
  it->request = http;
  connect(http, &HttpRequest::uploadProgress, this, [this, destPath](qint64 sent, qint64 total) {
    auto upload = m_uploads.find(destPath);
    if (upload == m_uploads.end() || total <= 0) return;
    const double fraction = std::clamp(double(sent) / double(total), 0.0, 1.0);
    // A retry starts from nothing again; the caller's bar should not jump back.
    if (fraction <= upload->progress) return;
    upload->progress = fraction;
    emit uploadProgress(fraction, destPath, upload->srcPath);
  });
  connect(http, &HttpRequest::finished, this,
          [this, destPath](const HttpResponse& response) { onFinished(destPath, response); });
  http->send("POST", request, std::move(file));
}

void DropboxClient::onFinished(const QString& destPath, const HttpResponse& response) {
  auto it = m_uploads.find(destPath);
  if (it == m_uploads.end()) return;
  if (it->request) it->request->deleteLater();
  it->request = nullptr;
  if (response.succeeded()) {
    const auto metadata = DropboxResponses::parseFileMetadata(response.body);
    if (!metadata) {
      fail(destPath, QStringLiteral("Dropbox's answer could not be read."));
      return;
    }
    const Upload done = *it;
    m_uploads.erase(it);
    if (done.progress < 1.0) emit uploadProgress(1.0, destPath, done.srcPath);
    emit uploadedFile(destPath, done.srcPath, *metadata);
    return;
  }
  if (response.outcome == HttpResponse::Outcome::Completed && response.status == 401) {
    const auto error = DropboxResponses::parseError(response.body);
    const QString tag = error ? error->tag : QString();
    // An expired or revoked access token: a refresh tells which. Other 401s (a missing
    // permission) are not the token's age and a refresh would not help.
    const bool tokenProblem = tag.isEmpty() || tag == QLatin1String("expired_access_token") ||
                              tag == QLatin1String("invalid_access_token");
    if (tokenProblem && !it->retried && m_session->canRefresh()) {
      refreshAndRetry(destPath);
      return;
    }
  }
  fail(destPath, describe(response));
}

void DropboxClient::refreshAndRetry(const QString& destPath) {
  auto it = m_uploads.find(destPath);
  if (it == m_uploads.end()) return;
  it->retried = true;
  m_session->refreshAccessToken([this, destPath, guard = QPointer<DropboxClient>(this)](
                                    DropboxSession::RefreshResult result) {
    if (!guard || !m_uploads.contains(destPath)) return;
    switch (result) {
      case DropboxSession::RefreshResult::Refreshed:
        send(destPath);
        break;
      case DropboxSession::RefreshResult::Refused:
        // Unlinked first, so that whoever hears of the failure finds the link gone.
        m_session->reportAuthorizationFailure();
        fail(destPath, QStringLiteral("Dropbox no longer accepts this sign-in."));
        break;
      case DropboxSession::RefreshResult::Failed:
        fail(destPath, QStringLiteral("Could not renew the Dropbox sign-in."));
        break;
    }
  });
}

void DropboxClient::fail(const QString& destPath, const QString& error) {
  auto it = m_uploads.find(destPath);
  if (it == m_uploads.end()) return;
  const Upload failed = *it;
  delete failed.request.data();
  m_uploads.erase(it);
  emit uploadFileFailedWithError(destPath, failed.srcPath, error);
}

}  // namespace duo
