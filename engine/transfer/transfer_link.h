#pragma once

#include <cstdint>
#include <span>

namespace duo::transfer {

/// The connected peer, as the session layer offers it: reliable and in order.
class TransferLink {
 public:
  virtual ~TransferLink() = default;
  /// Hands one whole packet to the session. False when the session refuses it for now (its
  /// buffers are full); the caller tries again later, never by blocking.
  virtual bool send(std::span<const std::uint8_t> packet) = 0;
};

}  // namespace duo::transfer
