#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "core/result.h"
#include "image/image.h"

namespace duo::png {

/// Images up to this many pixels are compressed in one call (RowDeflate), which needs the whole
/// filtered image and the compressed bound in memory at once (about 6 bytes per pixel on top of
/// the image). Larger ones stream through zlib a row at a time.
inline constexpr std::uint64_t kMaxOneShotPixels = 64'000'000;

/// PNG of the red, green and blue channels: 8 bit, no alpha, not interlaced, every row
/// UP-filtered, one zlib stream in one or more IDAT chunks, nothing but
/// IHDR, IDAT and IEND. Images above `maxOneShotPixels` take the streaming compressor (the
/// parameter exists so that tests can reach that path with small images). InvalidArgument for
/// a null image; TooLarge when the working memory cannot be had.
Result<std::vector<std::uint8_t>> encode(const Image& image,
                                         std::uint64_t maxOneShotPixels = kMaxOneShotPixels);

/// Receives a finished file; the bytes are valid during the call only.
using Sink = std::function<Status(std::span<const std::uint8_t>)>;

/// encode(), with the file handed to `sink` straight from the encoder's working memory instead of
/// copied into a vector of its own: a file's worth less of fresh memory and copying for callers
/// that only write it out. Returns the sink's status, or the encoder's error without calling it.
Status encodeTo(const Image& image, const Sink& sink,
                std::uint64_t maxOneShotPixels = kMaxOneShotPixels);

}  // namespace duo::png
