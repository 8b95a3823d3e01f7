#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "core/result.h"
#include "image/image.h"
#include "stereo/stereo_pair.h"

namespace duo {

/// On-screen wigglegram: one cycle through both frames takes this long, so each frame shows for
/// half of it (0.1 s, five left–right cycles a second).
inline constexpr double kWiggleCycleSeconds = 0.2;
/// Repeat count of the on-screen animation; 0 means forever.
inline constexpr int kWiggleRepeatCount = 0;
/// Longest side of a GIF frame in pixels; larger crops are reduced, smaller ones kept.
inline constexpr int kGifFrameMaxSide = 1024;

/// The two frames of a wigglegram, always shown and written left first.
struct WiggleFrames {
  Image left;
  Image right;
};

/// The left image cut to `crop` and the right image cut to the same rectangle moved by
/// (−ox, −oy), so that both frames show the same part of the scene. The on-screen animation
/// uses these as they are. nullopt when the crop is empty or not inside both images, or the
/// memory cannot be had.
std::optional<WiggleFrames> wiggleFrames(const Image& left, const Image& right, PixelOffset offset,
                                         const CropRect& crop);

/// A crop reduced for the GIF: longer side at most kGifFrameMaxSide, aspect ratio kept, never
/// enlarged, turned upright by its own tag. A null image gives a null image. Throws
/// std::bad_alloc when the reduced image cannot be had.
Image gifFrame(const Image& crop);

/// The animated GIF of the frames: both reduced with gifFrame, then AnimatedGif::createGif with
/// the left frame first. Errors as createGif's; TooLarge when a reduction runs out of memory.
Result<std::vector<std::uint8_t>> wigglegramGif(const WiggleFrames& frames);

}  // namespace duo
