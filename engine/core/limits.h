#pragma once

#include <cstdint>

namespace duo::limits {

// Every size check on untrusted input reads these; change them here only.

/// Largest image we decode or allocate: 2^27 pixels, 512 MiB as a 4-byte-per-pixel canvas.
/// A 48-megapixel phone photograph uses about a third of it.
inline constexpr std::uint64_t kMaxImagePixels = std::uint64_t{1} << 27;

/// Largest side in pixels (the JPEG format's own ceiling).
inline constexpr int kMaxImageSide = 65535;

/// Largest image file we read into memory.
inline constexpr std::uint64_t kMaxFileBytes = std::uint64_t{1} << 30;

/// True when a w × h image is within the limits above (and both sides are positive).
constexpr bool imageSizeAllowed(std::int64_t width, std::int64_t height) {
  return width > 0 && height > 0 && width <= kMaxImageSide && height <= kMaxImageSide &&
         static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) <= kMaxImagePixels;
}

}  // namespace duo::limits
