#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>

namespace duo {

/// The socket through which a running instance takes sign-in callback URLs that the desktop
/// handed to a second `duoscope URL`. It listens in the RuntimeFolder as
/// `instance-<pid>.sock`, never in the abstract namespace (where anyone could take the name
/// first), and serves one request per connection (HandoffCodec): the URL goes to the handler
/// on this object's thread, and the answer says whether it was taken.
///
/// A peer running as another user is closed at once, before anything is read from it; so is a
/// connection beyond kMaxConnections. A request longer than HandoffCodec::kMaxRequestBytes or
/// badly formed is answered "refused" and never reaches the handler; a peer that sends nothing
/// (or does not read the answer) is dropped after the time-out.
class InstanceUrlServer : public QObject {
  Q_OBJECT

 public:
  /// Takes a URL; true when it was handled.
  using Handler = std::function<bool(const QUrl&)>;

  static constexpr int kTimeoutMs = 3000;
  static constexpr int kMaxConnections = 8;
  /// The names instances listen under, for the senders that look for them.
  static constexpr char kSocketNamePattern[] = "instance-*.sock";

  explicit InstanceUrlServer(Handler handler, QObject* parent = nullptr);
  /// Stops listening and removes the socket.
  ~InstanceUrlServer() override;

  /// "instance-<pid>.sock".
  static QString defaultSocketName();

  /// Listens in the runtime folder (made when missing) under defaultSocketName(). False with
  /// `*error` saying why (the folder is unsafe, the socket cannot be made).
  bool listen(QString* error);
  /// Listens in `folder`, which the caller has checked, under `name`. A socket of that name
  /// that nobody listens on any more is replaced; one in use is not.
  bool listen(const QString& folder, const QString& name, QString* error);

  bool isListening() const { return m_server.isListening(); }
  /// The socket's path while listening.
  QString socketPath() const { return m_server.fullServerName(); }

  /// How long a peer may take to send its request, and then to read the answer (tests).
  void setTimeoutMs(int milliseconds) { m_timeoutMs = milliseconds; }

 private:
  void acceptConnections();

  Handler m_handler;
  QLocalServer m_server;
  int m_timeoutMs = kTimeoutMs;
  int m_openConnections = 0;
};

}  // namespace duo
