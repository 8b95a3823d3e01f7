#include "instance_url_client.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalSocket>

#include "handoff_codec.h"
#include "instance_url_server.h"
#include "peer_credentials.h"
#include "runtime_folder.h"

namespace duo {

namespace {

/// Removes a socket file whose instance is gone; only a socket of ours, never anything else.
void removeStaleSocket(const QString& path) {
  struct stat info {};
  const QByteArray native = QFile::encodeName(path);
  if (::lstat(native.constData(), &info) == 0 && S_ISSOCK(info.st_mode) &&
      info.st_uid == ::geteuid())
    ::unlink(native.constData());
}

}  // namespace

InstanceUrlClient::InstanceUrlClient(QString folder, int timeoutMs)
    : m_folder(std::move(folder)), m_timeoutMs(timeoutMs) {}

QStringList InstanceUrlClient::instanceSockets(const QString& folder) const {
  QStringList paths;
  const QDir dir(folder);
  for (const QString& name :
       dir.entryList({QString::fromLatin1(InstanceUrlServer::kSocketNamePattern)},
                     QDir::System | QDir::Hidden, QDir::Name))
    paths << dir.filePath(name);
  return paths;
}

InstanceUrlClient::Outcome InstanceUrlClient::deliver(const QUrl& url) {
  m_message.clear();
  const QByteArray request = HandoffCodec::encodeRequest(url);
  if (request.isEmpty()) {
    m_message = url.isValid() && !url.scheme().isEmpty()
                    ? QStringLiteral("the callback URL is too long to hand over (%1 bytes at most)")
                          .arg(HandoffCodec::kMaxRequestBytes)
                    : QStringLiteral("the callback URL is not a valid URL");
    return Outcome::Undeliverable;
  }
  QString folder = m_folder;
  if (folder.isEmpty()) {
    QString error;
    folder = RuntimeFolder::open(RuntimeFolder::Mode::ExistingOnly, &error);
    if (!error.isEmpty()) {
      m_message = QStringLiteral("cannot hand the callback over: %1").arg(error);
      return Outcome::Undeliverable;
    }
  }
  bool answered = false;
  bool silent = false;
  if (!folder.isEmpty()) {
    for (const QString& socket : instanceSockets(folder)) {
      const Reply reply = offer(socket, request);
      if (reply == Reply::Handled) return Outcome::Handled;
      answered = answered || reply == Reply::NotHandled;
      silent = silent || reply == Reply::Silent;
    }
  }
  if (answered) {
    m_message = QStringLiteral(
                    "no window was waiting for this sign-in (%1:); start it again "
                    "from the window")
                    .arg(url.scheme());
    return Outcome::NotHandled;
  }
  m_message = silent ? QStringLiteral("no running Duoscope window answered in time (%1:)")
                     : QStringLiteral("no Duoscope window is running to take this sign-in (%1:)");
  m_message = m_message.arg(url.scheme());
  return Outcome::NoInstance;
}

InstanceUrlClient::Reply InstanceUrlClient::offer(const QString& socketPath,
                                                  const QByteArray& request) {
  QLocalSocket socket;
  socket.connectToServer(socketPath);
  if (!socket.waitForConnected(m_timeoutMs)) {
    if (socket.error() == QLocalSocket::ConnectionRefusedError) removeStaleSocket(socketPath);
    return Reply::Unreachable;
  }
  // The callback carries a sign-in code: it goes only to a program of this user.
  if (!PeerCredentials::isSameUser(socket.socketDescriptor())) return Reply::Unreachable;
  socket.write(request);
  const QDeadlineTimer writing(m_timeoutMs);
  while (socket.bytesToWrite() > 0)
    if (!socket.waitForBytesWritten(int(writing.remainingTime()))) return Reply::Silent;
  QByteArray answer;
  const QDeadlineTimer deadline(m_timeoutMs);
  while (!answer.contains('\n') && answer.size() < HandoffCodec::kMaxAnswerBytes) {
    if (socket.bytesAvailable() == 0 && (socket.state() != QLocalSocket::ConnectedState ||
                                         !socket.waitForReadyRead(int(deadline.remainingTime()))))
      break;
    answer.append(socket.read(HandoffCodec::kMaxAnswerBytes - answer.size()));
  }
  socket.abort();
  const auto decoded = HandoffCodec::decodeAnswer(answer);
  if (decoded == HandoffCodec::Answer::Handled) return Reply::Handled;
  // An instance that refused the request or gave no answer in time did not take it either.
  return decoded ? Reply::NotHandled : Reply::Silent;
}

}  // namespace duo
