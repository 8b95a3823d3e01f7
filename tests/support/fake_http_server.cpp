#include "fake_http_server.h"

#include <QTcpSocket>

namespace duo::test {

FakeHttpServer::FakeHttpServer(QObject* parent) : QObject(parent) {
  connect(&m_server, &QTcpServer::newConnection, this, [this] {
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
      // A small read buffer, so that a server that stops reading stalls the sender.
      socket->setReadBufferSize(64 << 10);
      m_connections[socket] = Connection{};
      connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
      connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
        m_connections.erase(socket);
        socket->deleteLater();
      });
    }
  });
}

FakeHttpServer::~FakeHttpServer() {
  // The sockets' disconnected() handlers use the connection table; they go first.
  for (auto& [socket, connection] : m_connections) {
    socket->disconnect(this);
    delete socket;
  }
  m_connections.clear();
}

bool FakeHttpServer::listen() { return m_server.listen(QHostAddress::LocalHost, 0); }

QUrl FakeHttpServer::url() const {
  return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort()));
}

QList<RecordedRequest> FakeHttpServer::requestsTo(const QByteArray& path) const {
  QList<RecordedRequest> found;
  for (const RecordedRequest& request : m_requests)
    if (request.path() == path) found.append(request);
  return found;
}

ScriptedResponse FakeHttpServer::responseFor(const RecordedRequest& request) {
  auto queue = m_queues.find(request.path());
  if (queue != m_queues.end() && !queue->empty()) {
    ScriptedResponse response = queue->front();
    queue->pop_front();
    return response;
  }
  if (auto handler = m_handlers.find(request.path()); handler != m_handlers.end())
    return (*handler)(request);
  return ScriptedResponse::json(404, R"({"error_summary": "not_found/"})");
}

void FakeHttpServer::onReadyRead(QTcpSocket* socket) {
  auto found = m_connections.find(socket);
  if (found == m_connections.end()) return;
  Connection& connection = found->second;
  if (connection.answered) return;
  const bool stalling = connection.headersDone &&
                        connection.response.behaviour == ScriptedResponse::Behaviour::StallUpload;
  if (stalling && connection.request.bodyBytes >= connection.response.stallAfterBytes) return;
  connection.buffer += socket->readAll();

  if (!connection.headersDone) {
    const qsizetype end = connection.buffer.indexOf("\r\n\r\n");
    if (end < 0) return;
    const QList<QByteArray> lines = connection.buffer.left(end).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    connection.request.method = requestLine.value(0);
    connection.request.target = requestLine.value(1);
    for (qsizetype i = 1; i < lines.size(); ++i) {
      const qsizetype colon = lines[i].indexOf(':');
      if (colon > 0)
        connection.request.headers.insert(lines[i].left(colon).trimmed().toLower(),
                                          lines[i].mid(colon + 1).trimmed());
    }
    connection.contentLength = connection.request.headers.value("content-length").toLongLong();
    connection.buffer.remove(0, end + 4);
    connection.headersDone = true;
    connection.response = responseFor(connection.request);
  }

  connection.request.bodyBytes += connection.buffer.size();
  if (connection.request.body.size() < m_recordLimit)
    connection.request.body +=
        connection.buffer.left(m_recordLimit - connection.request.body.size());
  connection.buffer.clear();

  if (connection.response.behaviour == ScriptedResponse::Behaviour::StallUpload) {
    if (connection.request.bodyBytes >= connection.response.stallAfterBytes &&
        !connection.answered) {
      connection.answered = true;  // records it once, then reads nothing more
      m_requests.append(connection.request);
      emit requestReceived(connection.request);
    }
    return;
  }
  if (connection.request.bodyBytes < connection.contentLength) return;
  connection.answered = true;
  m_requests.append(connection.request);
  emit requestReceived(connection.request);
  answer(socket, connection);
}

void FakeHttpServer::answer(QTcpSocket* socket, Connection& connection) {
  const ScriptedResponse& response = connection.response;
  if (response.behaviour == ScriptedResponse::Behaviour::Hang) return;
  QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + " Scripted\r\n";
  for (const auto& [name, value] : response.headers) head += name + ": " + value + "\r\n";
  head += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
  head += "Connection: close\r\n\r\n";
  if (response.behaviour == ScriptedResponse::Behaviour::CloseMidResponse) {
    socket->write(head + response.body.left(response.body.size() / 2));
  } else {
    socket->write(head + response.body);
  }
  socket->disconnectFromHost();
}

}  // namespace duo::test
