#include "peer_transfer_link.h"

#include <QByteArray>

#include <utility>

#include "peer_session.h"

namespace duo {

PeerTransferLink::PeerTransferLink(PeerSession& session, QString peerId)
    : m_session(session), m_peerId(std::move(peerId)) {}

bool PeerTransferLink::send(std::span<const std::uint8_t> packet) {
  return m_session.sendDataToPeer(
      QByteArray(reinterpret_cast<const char*>(packet.data()), static_cast<qsizetype>(packet.size())),
      m_peerId);
}

}  // namespace duo
