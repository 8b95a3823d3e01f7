#pragma once

#include <QByteArray>
#include <QList>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <memory>

class QHttpMultiPart;
class QIODevice;
class QNetworkAccessManager;

namespace duo {

/// What came back from one HTTP request.
struct HttpResponse {
  enum class Outcome {
    Completed,         ///< a whole response arrived, whatever its status
    ConnectionFailed,  ///< no connection (refused, no such host, TLS failure)
    TimedOut,          ///< no data moved for longer than the time-out
    Interrupted,       ///< the connection dropped before the response was complete
    TooLarge,          ///< the response body passed the size limit and was abandoned
  };

  Outcome outcome = Outcome::ConnectionFailed;
  int status = 0;  ///< HTTP status, 0 when none arrived
  QByteArray body;
  QList<QNetworkReply::RawHeaderPair> headers;
  /// For the user or a log: says what failed, never carries request headers or bodies.
  QString errorText;

  bool succeeded() const { return outcome == Outcome::Completed && status >= 200 && status < 300; }
  QByteArray header(const QByteArray& name) const;
};

/// One HTTP request on a QNetworkAccessManager, with an inactivity time-out, upload progress, a
/// cap on the response size and a cancel that reports nothing. finished() is emitted exactly
/// once per request unless cancel() comes first; deleting the object cancels.
class HttpRequest : public QObject {
  Q_OBJECT

 public:
  static constexpr int kDefaultTimeoutMs = 30000;
  static constexpr qint64 kDefaultMaximumResponseBytes = 4 << 20;

  explicit HttpRequest(QNetworkAccessManager* manager, QObject* parent = nullptr);
  ~HttpRequest() override;

  /// Milliseconds without any data moving (either way) before the request fails as TimedOut.
  void setTimeout(int milliseconds) { m_timeoutMs = milliseconds; }
  void setMaximumResponseBytes(qint64 bytes) { m_maximumResponseBytes = bytes; }

  /// Sends `verb` with a body read from `body` as it goes out (a file is streamed, not loaded).
  /// The request takes the device; it must be open for reading. The caller sets Content-Type.
  void send(const QByteArray& verb, QNetworkRequest request, std::unique_ptr<QIODevice> body);
  /// Sends `verb` with a multipart body (taken over); its parts' devices are streamed as they go
  /// out. Content-Type with the boundary is set from the multipart.
  void send(const QByteArray& verb, QNetworkRequest request, std::unique_ptr<QHttpMultiPart> body);
  /// Sends `verb` with an in-memory body (may be empty).
  void send(const QByteArray& verb, QNetworkRequest request, const QByteArray& body = {});

  /// Stops the request at once. finished() will not be emitted for it.
  void cancel();
  bool isRunning() const { return m_reply != nullptr; }

 signals:
  /// Bytes of the request body sent so far and in all; 0 and 0 before the size is known.
  void uploadProgress(qint64 sent, qint64 total);
  void finished(const duo::HttpResponse& response);

 private:
  void attach(QNetworkReply* reply);
  void onReadyRead();
  void onFinished();
  void onTimeout();
  void touch();

  QNetworkAccessManager* m_manager;
  QPointer<QNetworkReply> m_reply;
  QTimer m_inactivity;
  QByteArray m_body;
  int m_timeoutMs = kDefaultTimeoutMs;
  qint64 m_maximumResponseBytes = kDefaultMaximumResponseBytes;
  bool m_timedOut = false;
  bool m_tooLarge = false;
  // The latest progress, passed on from the event loop rather than from inside Qt's signal:
  // a receiver that runs the event loop (a progress panel repainting itself) must not re-enter
  // the reply while it is feeding the upload.
  qint64 m_sent = 0;
  qint64 m_total = 0;
  bool m_progressPending = false;
  quint64 m_generation = 0;
};

}  // namespace duo
