#pragma once

#include <cstdint>

namespace duo::limits {

// Every size check on untrusted input reads these; change them here only.

/// Largest image we decode or allocate: 2^27 pixels, 512 MiB as a 4-byte-per-pixel canvas.
/// A 48-megapixel phone photograph uses about a third of it.
inline constexpr std::uint64_t kMaxImagePixels = std::uint64_t{1} << 27;

/// Largest side in pixels of any image (the most a JPEG header can state; PNG files are read up
/// to it too).
inline constexpr int kMaxImageSide = 65535;

/// Largest side of a JPEG we read or write: libjpeg refuses anything wider or taller
/// (JPEG_MAX_DIMENSION), although the format itself would allow kMaxImageSide.
inline constexpr int kMaxJpegSide = 65500;

/// Largest image file we read into memory.
inline constexpr std::uint64_t kMaxFileBytes = std::uint64_t{1} << 30;

/// True when a w × h image is within the limits above (and both sides are positive).
constexpr bool imageSizeAllowed(std::int64_t width, std::int64_t height) {
  return width > 0 && height > 0 && width <= kMaxImageSide && height <= kMaxImageSide &&
         static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) <= kMaxImagePixels;
}

}  // namespace duo::limits
