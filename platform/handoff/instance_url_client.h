#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

namespace duo {

/// The sending side of `duoscope URL`: offers a callback URL to every running instance, one
/// socket each in the RuntimeFolder, until one of them takes it. Blocking, with no event loop
/// and no display: connecting, sending and waiting for the answer are each bounded by the
/// time-out, so a hung instance delays the sender by seconds, not for ever. A socket that
/// nobody listens on any more (its instance ended without closing it) is removed on the way.
class InstanceUrlClient {
 public:
  enum class Outcome {
    Handled,       ///< an instance took the URL
    NotHandled,    ///< instances answered, but none was waiting for this callback
    NoInstance,    ///< no instance could be reached
    Undeliverable  ///< the URL cannot be sent (invalid, too long) or the folder is unsafe
  };

  /// `folder` empty: the RuntimeFolder, checked; otherwise that folder as it is (tests).
  explicit InstanceUrlClient(QString folder = {}, int timeoutMs = 3000);

  /// Offers `url` to the instances in turn, stopping at the first that takes it.
  Outcome deliver(const QUrl& url);
  /// Why the last deliver() did not end in Handled, as one sentence for the user.
  QString message() const { return m_message; }

 private:
  enum class Reply { Handled, NotHandled, Unreachable, Silent };
  Reply offer(const QString& socketPath, const QByteArray& request);
  QStringList instanceSockets(const QString& folder) const;

  QString m_folder;
  int m_timeoutMs;
  QString m_message;
};

}  // namespace duo
