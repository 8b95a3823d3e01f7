#include "render/wigglegram.h"

#include <algorithm>
#include <new>

#include "image/orientation.h"
#include "render/animated_gif.h"
#include "transform/crop.h"
#include "transform/image_tools.h"

namespace duo {

namespace {

// An upright frame within the size limit comes out of gifFrame pixel for pixel as it went in.
bool alreadyGifFrame(const Image& frame) {
  return frame.orientationTag() == static_cast<int>(Orientation::Up) &&
         std::max(frame.width(), frame.height()) <= kGifFrameMaxSide;
}

}  // namespace

std::optional<WiggleFrames> wiggleFrames(const Image& left, const Image& right, PixelOffset offset,
                                         const CropRect& crop) {
  auto leftCrop = cropImage(left, crop);
  if (!leftCrop) return std::nullopt;
  auto rightCrop = cropImage(right, rightCropFor(crop, offset));
  if (!rightCrop) return std::nullopt;
  return WiggleFrames{std::move(*leftCrop), std::move(*rightCrop)};
}

Image gifFrame(const Image& crop) {
  if (crop.isNull()) return Image();
  return ImageTools::scaleAndRotateImage(crop, ImageTools::kKeepOrientation, kGifFrameMaxSide);
}

Result<std::vector<std::uint8_t>> wigglegramGif(const WiggleFrames& frames) {
  if (frames.left.isNull() || frames.right.isNull()) {
    return makeError(ErrorCode::InvalidArgument, "wigglegram frame is empty");
  }
  try {
    // Frames that already fit are passed on as they are; reducing them would only copy them.
    std::optional<Image> reducedLeft;
    std::optional<Image> reducedRight;
    const Image& left =
        alreadyGifFrame(frames.left) ? frames.left : reducedLeft.emplace(gifFrame(frames.left));
    const Image& right =
        alreadyGifFrame(frames.right) ? frames.right : reducedRight.emplace(gifFrame(frames.right));
    return AnimatedGif::createGif(left, right);
  } catch (const std::bad_alloc&) {
    return makeError(ErrorCode::TooLarge, "not enough memory to reduce the wigglegram frames");
  }
}

}  // namespace duo
