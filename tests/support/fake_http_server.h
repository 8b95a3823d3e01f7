#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QTcpServer>
#include <QUrl>

#include <deque>
#include <functional>
#include <map>

class QTcpSocket;

namespace duo::test {

/// One request as the fake server received it.
struct RecordedRequest {
  QByteArray method;
  QByteArray target;                      ///< path and query as sent
  QHash<QByteArray, QByteArray> headers;  ///< names in lower case
  QByteArray body;                        ///< up to the server's recording limit
  qint64 bodyBytes = 0;
  QByteArray path() const {
    return target.left(target.indexOf('?') < 0 ? target.size() : target.indexOf('?'));
  }
};

/// What the fake server does with a request.
struct ScriptedResponse {
  enum class Behaviour {
    Respond,           ///< the whole response
    CloseMidResponse,  ///< the headers and half the body, then the connection closes
    Hang,              ///< reads the request and never answers
    StallUpload,       ///< stops reading the body after `stallAfterBytes` and never answers
  };
  int status = 200;
  QByteArray body;
  QList<QPair<QByteArray, QByteArray>> headers;
  Behaviour behaviour = Behaviour::Respond;
  qint64 stallAfterBytes = 0;

  static ScriptedResponse json(int status, const QByteArray& body) {
    ScriptedResponse response;
    response.status = status;
    response.body = body;
    response.headers = {{"Content-Type", "application/json"}};
    return response;
  }
};

/// A small HTTP/1.1 server on 127.0.0.1 for the service clients' tests: it records what it
/// receives and answers each path from a queue of scripted responses, falling back to the
/// path's handler. One request per connection ("Connection: close").
class FakeHttpServer : public QObject {
  Q_OBJECT

 public:
  using Handler = std::function<ScriptedResponse(const RecordedRequest&)>;

  explicit FakeHttpServer(QObject* parent = nullptr);
  ~FakeHttpServer() override;
  bool listen();
  QUrl url() const;

  void setHandler(const QByteArray& path, Handler handler) {
    m_handlers[path] = std::move(handler);
  }
  void enqueue(const QByteArray& path, ScriptedResponse response) {
    m_queues[path].push_back(std::move(response));
  }
  /// Bodies longer than this are counted, not kept.
  void setBodyRecordLimit(qint64 bytes) { m_recordLimit = bytes; }

  const QList<RecordedRequest>& requests() const { return m_requests; }
  QList<RecordedRequest> requestsTo(const QByteArray& path) const;
  void clear() { m_requests.clear(); }

 signals:
  void requestReceived(const duo::test::RecordedRequest& request);

 private:
  struct Connection {
    QByteArray buffer;
    RecordedRequest request;
    bool headersDone = false;
    qint64 contentLength = 0;
    ScriptedResponse response;
    bool answered = false;
  };

  void onReadyRead(QTcpSocket* socket);
  ScriptedResponse responseFor(const RecordedRequest& request);
  void answer(QTcpSocket* socket, Connection& connection);

  QTcpServer m_server;
  std::map<QTcpSocket*, Connection> m_connections;
  QHash<QByteArray, Handler> m_handlers;
  QHash<QByteArray, std::deque<ScriptedResponse>> m_queues;
  QList<RecordedRequest> m_requests;
  qint64 m_recordLimit = 64 << 20;
};

}  // namespace duo::test
