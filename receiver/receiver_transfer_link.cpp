#include "receiver_transfer_link.h"

#include "peer_session.h"

namespace duo {

ReceiverTransferLink::ReceiverTransferLink(PeerSession& session, QString peerId)
    : m_session(session), m_peerId(std::move(peerId)) {}

bool ReceiverTransferLink::send(std::span<const std::uint8_t> packet) {
  QByteArray bytes(reinterpret_cast<const char*>(packet.data()), qsizetype(packet.size()));
  // Behind packets still held back, so that the peer sees them in order.
  if (m_holding || !m_held.empty()) {
    m_held.push_back(std::move(bytes));
    return true;
  }
  return m_session.sendDataToPeer(bytes, m_peerId);
}

bool ReceiverTransferLink::releaseHeld() {
  m_holding = false;
  while (!m_held.empty()) {
    if (!m_session.sendDataToPeer(m_held.front(), m_peerId)) return false;
    m_held.pop_front();
  }
  return true;
}

void ReceiverTransferLink::dropHeld() {
  m_holding = false;
  m_held.clear();
}

}  // namespace duo
