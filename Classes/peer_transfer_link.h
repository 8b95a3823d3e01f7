#pragma once

#include <QPointer>
#include <QString>

#include "peer_session.h"
#include "transfer/transfer_link.h"

namespace duo {

/// The transfer protocol's link to one connected peer of a session: each packet becomes one
/// reliable session message. A session that has gone refuses everything.
class PeerTransferLink : public transfer::TransferLink {
 public:
  PeerTransferLink(PeerSession* session, QString peerId)
      : m_session(session), m_peerId(std::move(peerId)) {}
  bool send(std::span<const std::uint8_t> packet) override;

 private:
  QPointer<PeerSession> m_session;
  QString m_peerId;
};

}  // namespace duo
