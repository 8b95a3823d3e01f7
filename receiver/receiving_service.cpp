#include "receiving_service.h"

#include <QDateTime>

#include "receiver_transfer_link.h"
#include "qt_transfer_timer.h"
#include "received_project_store.h"
#include "transfer/packet.h"

namespace duo {
namespace {

constexpr int kReleaseRetryMs = 250;

std::span<const std::uint8_t> bytesOf(const QByteArray& data) {
  return {reinterpret_cast<const std::uint8_t*>(data.constData()), std::size_t(data.size())};
}

QString sizeText(std::uint64_t bytes) {
  return bytes >= 10'000 ? QStringLiteral("%1 KB").arg((bytes + 512) / 1024)
                         : QStringLiteral("%1 bytes").arg(bytes);
}

}  // namespace

struct ReceivingService::Sender {
  Sender(PeerSession& session, const QString& id, QString displayName)
      : peerId(id), name(std::move(displayName)), link(session, id) {}

  QString peerId;
  QString name;
  ReceiverTransferLink link;
  QtTransferTimer timer;
  // Declared after the link and timer it uses, so that it goes first.
  std::unique_ptr<transfer::TransferReceiver> receiver;
  int reportedTenth = -1;  // last progress step logged, in tenths of the project
  bool stored = false;     // the current receiver's project is stored
};

ReceivingService::ReceivingService(PeerSession& session, ReceivedProjectStore& store,
                                   std::uint32_t maxProjectBytes, QObject* parent)
    : QObject(parent), m_session(session), m_store(store), m_maxProjectBytes(maxProjectBytes) {
  m_session.setDelegate(this);
  m_session.setDataReceiveHandler(this);
  m_idle.setSingleShot(true);
  m_idle.setInterval(kIdleSeconds * 1000);
  connect(&m_idle, &QTimer::timeout, this, [this] {
    // Also after a stored project: a sender that stays connected must not keep others out.
    if (m_sender)
      dropSender(QStringLiteral("no data from \"%1\" for %2 s; disconnecting")
                     .arg(m_sender->name)
                     .arg(m_idle.interval() / 1000));
  });
  m_releaseRetry.setSingleShot(true);
  m_releaseRetry.setInterval(kReleaseRetryMs);
  connect(&m_releaseRetry, &QTimer::timeout, this, &ReceivingService::releaseHeldAnswer);
}

ReceivingService::~ReceivingService() {
  m_session.setDelegate(nullptr);
  m_session.setDataReceiveHandler(nullptr);
}

void ReceivingService::sessionDidReceiveConnectionRequestFromPeer(PeerSession*,
                                                                  const QString& peerId) {
  const QString name = m_session.displayNameForPeer(peerId);
  if (m_sender) {
    m_session.denyConnectionFromPeer(peerId);
    emit message(QStringLiteral("turned \"%1\" away: busy receiving from \"%2\"").arg(name, m_sender->name));
    return;
  }
  QString error;
  if (!m_session.acceptConnectionFromPeer(peerId, &error)) {
    emit message(QStringLiteral("could not accept \"%1\": %2").arg(name, error));
    return;
  }
  m_sender = std::make_unique<Sender>(m_session, peerId, name);
  m_idle.start();
  emit message(QStringLiteral("\"%1\" connected").arg(name));
}

void ReceivingService::sessionPeerDidChangeState(PeerSession*, const QString& peerId, int state) {
  if (state != PeerSession::PeerStateDisconnected && state != PeerSession::PeerStateUnavailable)
    return;
  if (!m_sender || m_sender->peerId != peerId) return;
  const auto* receiver = m_sender->receiver.get();
  if (receiver && !m_sender->stored && !receiver->failed()) {
    const QString progress =
        receiver->projectSize() > 0
            ? QStringLiteral("after %1 of %2")
                  .arg(sizeText(receiver->bytesReceived()), sizeText(receiver->projectSize()))
            : QStringLiteral("before the project header");
    emit message(QStringLiteral("project from \"%1\" dropped: the sender disconnected %2")
                     .arg(m_sender->name, progress));
  } else {
    emit message(QStringLiteral("\"%1\" disconnected").arg(m_sender->name));
  }
  m_sender.reset();
  m_idle.stop();
  m_releaseRetry.stop();
  emit senderLeft();
}

void ReceivingService::sessionConnectionWithPeerFailed(PeerSession*, const QString& peerId,
                                                       const QString& error) {
  emit message(QStringLiteral("connection with \"%1\" failed: %2")
                   .arg(m_session.displayNameForPeer(peerId), error));
}

void ReceivingService::sessionDidFailWithError(PeerSession*, const QString& error) {
  emit message(QStringLiteral("session failed: %1").arg(error));
  emit sessionFailed(error);
}

void ReceivingService::receiveDataFromPeer(const QByteArray& data, const QString& peerId,
                                           PeerSession*) {
  // Only the accepted sender is listened to.
  if (!m_sender || m_sender->peerId != peerId) return;
  m_idle.start();
  handlePacket(*m_sender, data);
}

void ReceivingService::handlePacket(Sender& sender, const QByteArray& data) {
  const auto bytes = bytesOf(data);
  const auto packet = transfer::parsePacket(bytes);
  // After a stored project the same connection may bring the next one; it starts over at
  // packet 0 with its header. Anything else goes to the finished receiver, which ignores it.
  const bool newProject = packet && packet->id == transfer::PacketId::ProjectHeader &&
                          packet->number == 0 && (!sender.receiver || sender.stored);
  if (newProject) {
    sender.receiver.reset();
    sender.receiver = std::make_unique<transfer::TransferReceiver>(sender.link, sender.timer,
                                                                   m_maxProjectBytes);
    sender.reportedTenth = -1;
    sender.stored = false;
  }
  if (!sender.receiver) {
    dropSender(QStringLiteral("\"%1\" did not start with a project header").arg(sender.name));
    return;
  }
  // The answer to the last packet waits until the project is stored.
  const bool last = packet && packet->id == transfer::PacketId::EndOfProject && !sender.stored;
  sender.link.setHolding(last);
  const Status status = sender.receiver->receive(bytes);
  if (sender.receiver->failed()) {
    sender.link.dropHeld();
    dropSender(QStringLiteral("project from \"%1\" dropped: %2")
                   .arg(sender.name, QString::fromStdString(status.ok() ? std::string("failed")
                                                                        : status.error().message)));
    return;
  }
  if (sender.stored) return;
  reportProgress(sender);
  if (sender.receiver->complete()) storeProject(sender);
  else sender.link.setHolding(false);
}

void ReceivingService::reportProgress(Sender& sender) {
  const auto& receiver = *sender.receiver;
  if (receiver.projectSize() == 0 && sender.reportedTenth >= 0) return;
  const int tenth = receiver.projectSize() == 0
                        ? 10
                        : int(std::uint64_t(receiver.bytesReceived()) * 10 / receiver.projectSize());
  if (tenth <= sender.reportedTenth) return;
  if (sender.reportedTenth < 0) {
    emit message(QStringLiteral("receiving a project of %1 from \"%2\"")
                     .arg(sizeText(receiver.projectSize()), sender.name));
  } else {
    emit message(QStringLiteral("\"%1\": %2% (%3 of %4)")
                     .arg(sender.name)
                     .arg(tenth * 10)
                     .arg(sizeText(receiver.bytesReceived()), sizeText(receiver.projectSize())));
  }
  sender.reportedTenth = tenth;
}

void ReceivingService::storeProject(Sender& sender) {
  auto taken = sender.receiver->takeProject();
  if (!taken) {
    sender.link.dropHeld();
    dropSender(QString::fromStdString(taken.error().message));
    return;
  }
  ProjectToStore project{std::move(taken->left), std::move(taken->right), taken->offsetX,
                         taken->offsetY, sender.name, QDateTime::currentDateTime()};
  auto folder = m_store.store(project);
  if (!folder) {
    // The sender must not hear of success: it gets no answer and the connection ends.
    sender.link.dropHeld();
    dropSender(QStringLiteral("project from \"%1\" not stored: %2")
                   .arg(sender.name, QString::fromStdString(folder.error().message)));
    return;
  }
  sender.stored = true;
  emit message(QStringLiteral("stored the project from \"%1\" in %2").arg(sender.name, *folder));
  releaseHeldAnswer();
  emit projectStored(*folder);
}

void ReceivingService::releaseHeldAnswer() {
  if (m_sender && !m_sender->link.releaseHeld()) m_releaseRetry.start();
}

void ReceivingService::dropSender(const QString& reason) {
  emit message(reason);
  m_sender.reset();
  m_idle.stop();
  m_releaseRetry.stop();
  // The session has no call to end one connection; only this sender's is open.
  m_session.disconnectFromAllPeers();
  emit senderLeft();
}

}  // namespace duo
