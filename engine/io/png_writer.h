#pragma once

#include <cstdint>
#include <vector>

#include "core/result.h"
#include "image/image.h"

namespace duo::png {

/// Images up to this many pixels are compressed in one libdeflate call, which needs the whole
/// filtered image and the compressed bound in memory at once (about 6 bytes per pixel on top of
/// the image). Larger ones stream through zlib a row at a time.
inline constexpr std::uint64_t kMaxOneShotPixels = 64'000'000;

/// PNG of the red, green and blue channels: 8 bit, no alpha, not interlaced, every row
/// UP-filtered, one zlib stream at the fastest level in one or more IDAT chunks, nothing but
/// IHDR, IDAT and IEND. Images above `maxOneShotPixels` take the streaming compressor (the
/// parameter exists so that tests can reach that path with small images). InvalidArgument for
/// a null image; TooLarge when the working memory cannot be had.
Result<std::vector<std::uint8_t>> encode(const Image& image,
                                         std::uint64_t maxOneShotPixels = kMaxOneShotPixels);

}  // namespace duo::png
