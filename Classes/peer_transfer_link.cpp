#include "peer_transfer_link.h"

#include <QByteArray>

namespace duo {

bool PeerTransferLink::send(std::span<const std::uint8_t> packet) {
  if (!m_session) return false;
  return m_session->sendDataToPeer(
      QByteArray(reinterpret_cast<const char*>(packet.data()), qsizetype(packet.size())),
      m_peerId);
}

}  // namespace duo
