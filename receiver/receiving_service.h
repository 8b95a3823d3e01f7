#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <memory>

#include "peer_session.h"
#include "transfer/transfer_receiver.h"

namespace duo {

class ReceivedProjectStore;

/// Receives projects from one sender at a time on a server session: accepts the first
/// connection request, denies others while that sender is connected, runs a TransferReceiver
/// on its messages and stores each complete project. A project that fails (a packet out of
/// line, sizes that disagree, a file that is not a JPEG, a write that fails) is dropped whole
/// and its sender disconnected; one that breaks off leaves nothing either. The answer to a
/// project's last packet is sent only once the project is stored, so a sender never hears of
/// success for a project that was not kept. Every event is one line on message().
class ReceivingService : public QObject, public PeerSessionDelegate, public PeerDataHandler {
  Q_OBJECT

 public:
  /// A sender that sends nothing for this long is disconnected, so that it cannot keep others
  /// out for ever (a working sender nudges every few seconds).
  static constexpr int kIdleSeconds = 60;

  /// Becomes `session`'s delegate and data handler; neither is owned, both must outlive this.
  ReceivingService(PeerSession& session, ReceivedProjectStore& store,
                   std::uint32_t maxProjectBytes = transfer::TransferReceiver::kDefaultMaxProjectBytes,
                   QObject* parent = nullptr);
  ~ReceivingService() override;

  void setIdleSeconds(int seconds) { m_idle.setInterval(seconds * 1000); }
  /// Whether a sender is connected (and others are turned away).
  bool busy() const { return m_sender != nullptr; }

  void sessionPeerDidChangeState(PeerSession* session, const QString& peerId, int state) override;
  void sessionDidReceiveConnectionRequestFromPeer(PeerSession* session,
                                                  const QString& peerId) override;
  void sessionConnectionWithPeerFailed(PeerSession* session, const QString& peerId,
                                       const QString& error) override;
  void sessionDidFailWithError(PeerSession* session, const QString& error) override;
  void receiveDataFromPeer(const QByteArray& data, const QString& peerId,
                           PeerSession* session) override;

 signals:
  /// One line for the log: a connection, progress, a stored project or why one was dropped.
  void message(const QString& line);
  void projectStored(const QString& folder);
  /// The connected sender is gone, whatever the reason.
  void senderLeft();
  /// The session stopped working; nothing more will arrive.
  void sessionFailed(const QString& error);

 private:
  struct Sender;

  void handlePacket(Sender& sender, const QByteArray& data);
  void reportProgress(Sender& sender);
  void storeProject(Sender& sender);
  /// Logs why and ends the connection; what the sender sent so far is dropped.
  void dropSender(const QString& reason);
  void releaseHeldAnswer();

  PeerSession& m_session;
  ReceivedProjectStore& m_store;
  std::uint32_t m_maxProjectBytes;
  std::unique_ptr<Sender> m_sender;
  QTimer m_idle;
  QTimer m_releaseRetry;
};

}  // namespace duo
