#include "peer_credentials.h"

#include <sys/socket.h>
#include <unistd.h>

namespace duo {

std::optional<uint> PeerCredentials::userId(qintptr socketDescriptor) {
  if (socketDescriptor < 0) return std::nullopt;
  struct ucred credentials {};
  socklen_t size = sizeof credentials;
  if (::getsockopt(int(socketDescriptor), SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0 ||
      size != sizeof credentials)
    return std::nullopt;
  return uint(credentials.uid);
}

bool PeerCredentials::isSameUser(qintptr socketDescriptor) {
  const std::optional<uint> peer = userId(socketDescriptor);
  return peer && *peer == uint(::geteuid());
}

}  // namespace duo
