#pragma once

#include <QString>

#include "transfer/transfer_link.h"

namespace duo {

class PeerSession;

/// The transfer's link to one connected peer of a session. A send is refused while the session
/// holds too much unsent data, and also once the peer is gone: the session's disconnection
/// report is what ends the transfer then.
class PeerTransferLink : public transfer::TransferLink {
 public:
  PeerTransferLink(PeerSession& session, QString peerId);
  bool send(std::span<const std::uint8_t> packet) override;
  const QString& peerId() const { return m_peerId; }

 private:
  PeerSession& m_session;
  QString m_peerId;
};

}  // namespace duo
