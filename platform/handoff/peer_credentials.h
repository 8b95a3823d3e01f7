#pragma once

#include <QtGlobal>

#include <optional>

namespace duo {

/// Who is at the other end of a connected local socket, as the kernel recorded it when the
/// connection was made (SO_PEERCRED): not something the peer can claim or forge.
class PeerCredentials {
 public:
  /// The peer's effective user id; nothing when the descriptor is not a connected local socket.
  static std::optional<uint> userId(qintptr socketDescriptor);
  /// Whether the peer runs as the same user as this process.
  static bool isSameUser(qintptr socketDescriptor);
};

}  // namespace duo
