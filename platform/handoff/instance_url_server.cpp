#include "instance_url_server.h"

#include <unistd.h>

#include <QLocalSocket>
#include <QPointer>
#include <QTimer>

#include <memory>

#include "handoff_codec.h"
#include "peer_credentials.h"
#include "runtime_folder.h"

namespace duo {

namespace {

/// Whether something still accepts connections at `path`.
bool someoneListens(const QString& path) {
  QLocalSocket probe;
  probe.connectToServer(path);
  const bool connected = probe.waitForConnected(InstanceUrlServer::kTimeoutMs);
  probe.abort();
  // A full backlog or a slow peer is still a live instance: only a refusal means nobody.
  return connected || probe.error() != QLocalSocket::ConnectionRefusedError;
}

}  // namespace

InstanceUrlServer::InstanceUrlServer(Handler handler, QObject* parent)
    : QObject(parent), m_handler(std::move(handler)) {
  connect(&m_server, &QLocalServer::newConnection, this, &InstanceUrlServer::acceptConnections);
}

InstanceUrlServer::~InstanceUrlServer() {
  // Open connections go first, while the count they keep is still ours to change.
  qDeleteAll(m_server.findChildren<QLocalSocket*>(Qt::FindDirectChildrenOnly));
  m_server.close();
}

QString InstanceUrlServer::defaultSocketName() {
  return QStringLiteral("instance-%1.sock").arg(::getpid());
}

bool InstanceUrlServer::listen(QString* error) {
  const QString folder = RuntimeFolder::open(RuntimeFolder::Mode::Create, error);
  return !folder.isEmpty() && listen(folder, defaultSocketName(), error);
}

bool InstanceUrlServer::listen(const QString& folder, const QString& name, QString* error) {
  const QString path = folder + QLatin1Char('/') + name;
  // Only this folder's own permissions guard the socket; the socket keeps Qt's plain mode.
  m_server.setSocketOptions(QLocalServer::NoOptions);
  if (m_server.listen(path)) return true;
  // Left behind by an instance of the same process id that did not close (it crashed).
  if (m_server.serverError() == QAbstractSocket::AddressInUseError && !someoneListens(path) &&
      QLocalServer::removeServer(path) && m_server.listen(path))
    return true;
  if (error)
    *error = QStringLiteral("cannot listen for sign-in callbacks at %1: %2")
                 .arg(path, m_server.errorString());
  return false;
}

void InstanceUrlServer::acceptConnections() {
  while (QLocalSocket* socket = m_server.nextPendingConnection()) {
    // Checked before a single byte is read: only this user's programs may hand us URLs.
    if (!PeerCredentials::isSameUser(socket->socketDescriptor()) ||
        m_openConnections >= kMaxConnections) {
      socket->abort();
      socket->deleteLater();
      continue;
    }
    ++m_openConnections;
    connect(socket, &QObject::destroyed, this, [this] { --m_openConnections; });
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    auto* deadline = new QTimer(socket);
    deadline->setSingleShot(true);
    connect(deadline, &QTimer::timeout, socket, [socket] {
      socket->abort();
      socket->deleteLater();
    });
    deadline->start(m_timeoutMs);

    auto buffer = std::make_shared<QByteArray>();
    auto answered = std::make_shared<bool>(false);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket, deadline, buffer, answered] {
      if (*answered) {
        socket->skip(socket->bytesAvailable());  // one request per connection
        return;
      }
      buffer->append(socket->read(HandoffCodec::kMaxRequestBytes + 1 - buffer->size()));
      const qsizetype newline = buffer->indexOf('\n');
      const bool tooLong = buffer->size() > HandoffCodec::kMaxRequestBytes;
      if (newline < 0 && !tooLong) return;  // more to come
      *answered = true;
      socket->skip(socket->bytesAvailable());
      // Anything after the first line makes the request malformed, as does a missing line end.
      std::optional<QUrl> url;
      if (newline == buffer->size() - 1) url = HandoffCodec::decodeRequest(*buffer);
      HandoffCodec::Answer answer = HandoffCodec::Answer::Refused;
      if (url) {
        QPointer<QLocalSocket> alive(socket);
        const bool handled = m_handler && m_handler(*url);
        if (!alive) return;  // the handler ran the event loop and the peer went meanwhile
        answer = handled ? HandoffCodec::Answer::Handled : HandoffCodec::Answer::NotHandled;
      }
      socket->write(HandoffCodec::encodeAnswer(answer));
      // The peer now has the time-out again to take the answer; then the connection ends.
      deadline->start(m_timeoutMs);
      socket->disconnectFromServer();
    });
  }
}

}  // namespace duo
