#pragma once

#include <cstddef>
#include <cstdint>

namespace duo {

/// A zlib stream for filtered image rows, made for speed. Each block of input is coded with a
/// Huffman code of its own byte statistics, and runs of one repeated byte become matches at
/// distance 1; there is no general search for repeated strings. On photographs that search finds
/// little (after the row filter most bytes are noise around zero), so skipping it costs nothing
/// in size, while flat areas (borders, sky, drawings) still shrink to a few bits per run. Any
/// zlib reader decodes the result. A block that would not shrink is stored as it is.
class RowDeflate {
 public:
  /// The most bytes compress() can write for `size` bytes of input.
  static std::size_t bound(std::size_t size);
  /// Compresses `size` bytes at `in` into `out`, which has room for bound(size) bytes; returns
  /// the length of the zlib stream.
  static std::size_t compress(const std::uint8_t* in, std::size_t size, std::uint8_t* out);
};

}  // namespace duo
