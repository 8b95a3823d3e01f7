#pragma once

#include <QByteArray>
#include <QString>

#include <deque>

#include "transfer/transfer_link.h"

namespace duo {

class PeerSession;

/// The transfer code's link to one connected peer of a session. While holding, packets are
/// kept back instead of sent, so that the answer to a project's last packet goes out only
/// once the project is safely stored.
class ReceiverTransferLink : public transfer::TransferLink {
 public:
  ReceiverTransferLink(PeerSession& session, QString peerId);

  bool send(std::span<const std::uint8_t> packet) override;

  void setHolding(bool holding) { m_holding = holding; }
  /// Sends what was held back, in order, and stops holding. False when the session refused a
  /// packet for now; the rest stays held for the next call.
  bool releaseHeld();
  /// Forgets what was held back (the project it answers was not kept).
  void dropHeld();
  bool hasHeld() const { return !m_held.empty(); }

 private:
  PeerSession& m_session;
  QString m_peerId;
  bool m_holding = false;
  std::deque<QByteArray> m_held;
};

}  // namespace duo
