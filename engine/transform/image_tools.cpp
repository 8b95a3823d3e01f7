#include "transform/image_tools.h"

#include <cmath>
#include <new>
#include <span>

#include "io/file_io.h"
#include "io/image_codec.h"
#include "transform/resample.h"

namespace duo {

namespace {

int wholePixels(float side) {
  // Round to nearest: bounds such as 1632 / (3264 / 2448) land a hair below 1224 in single
  // precision and must still give 1224 pixels.
  const long rounded = std::lround(side);
  return rounded < 1 ? 1 : static_cast<int>(rounded);
}

}  // namespace

NormalizeGeometry ImageTools::normalizeGeometry(int width, int height, int ownTag,
                                                int overrideOrientation, float maxResolution) {
  if (!isValidOrientationTag(ownTag)) throw InvalidOrientationError();
  if (!(maxResolution > 0)) throw std::invalid_argument("maximum resolution must be positive");

  const float w = static_cast<float>(width);
  const float h = static_cast<float>(height);
  const float m = maxResolution;
  float bw = w;
  float bh = h;
  if (!(w <= m && h <= m)) {
    const float ratio = w / h;
    if (ratio > 1) {
      bw = m;
      bh = m / ratio;
    } else {
      bh = m;
      bw = m * ratio;
    }
  }

  const int o = overrideOrientation != kKeepOrientation ? overrideOrientation : ownTag;
  if (!isValidOrientationTag(o)) throw InvalidOrientationError();

  NormalizeGeometry g;
  g.boundsWidth = bw;
  g.boundsHeight = bh;
  g.scale = bw / w;
  g.orientation = static_cast<Orientation>(o);
  g.scaledWidth = wholePixels(bw);
  g.scaledHeight = wholePixels(bh);
  const bool quarter = swapsSides(g.orientation);
  g.canvasWidth = quarter ? g.scaledHeight : g.scaledWidth;
  g.canvasHeight = quarter ? g.scaledWidth : g.scaledHeight;
  return g;
}

Image ImageTools::scaleAndRotateImage(const Image& image, int overrideOrientation,
                                      float maxResolution) {
  const NormalizeGeometry g = normalizeGeometry(
      image.width(), image.height(), image.orientationTag(), overrideOrientation, maxResolution);
  auto canvas = drawOriented(image, g.orientation, g.canvasWidth, g.canvasHeight);
  if (!canvas) throw std::bad_alloc();
  return std::move(*canvas);
}

Result<Image> ImageTools::loadScaledAndRotatedImage(const std::string& path,
                                                    int overrideOrientation, float maxResolution) {
  auto bytes = readFileBytes(path);
  if (!bytes) return bytes.error();
  return decodeScaledAndRotatedImage(*bytes, path, overrideOrientation, maxResolution);
}

Result<Image> ImageTools::decodeScaledAndRotatedImage(std::span<const std::uint8_t> bytes,
                                                      std::string_view name,
                                                      int overrideOrientation,
                                                      float maxResolution) {
  if (!(maxResolution > 0)) {
    return makeError(ErrorCode::InvalidArgument, "maximum resolution must be positive");
  }
  auto info = readImageInfo(bytes, name);
  if (!info) return info.error();

  const NormalizeGeometry g = normalizeGeometry(info->width, info->height, info->orientationTag,
                                                overrideOrientation, maxResolution);
  // The decoder may hand back a grid reduced by 1/2, 1/4 or 1/8 as long as it is not smaller
  // than the scaled grid; the area-averaging draw then does the rest.
  auto decoded = decodeImage(bytes, name, DecodeOptions{g.scaledWidth, g.scaledHeight});
  if (!decoded) return decoded.error();
  if (g.orientation == Orientation::Up && decoded->width() == g.canvasWidth &&
      decoded->height() == g.canvasHeight) {
    // The decoder already produced the result (a reduction by exactly 1/2, 1/4 or 1/8, or
    // none): hand it over instead of copying it.
    decoded->setOrientationTag(0);
    return std::move(*decoded);
  }
  auto canvas = drawOriented(*decoded, g.orientation, g.canvasWidth, g.canvasHeight);
  if (!canvas) {
    return makeError(ErrorCode::TooLarge,
                     std::string(name) + ": not enough memory for the normalised image");
  }
  return std::move(*canvas);
}

void ImageTools::debugImageInfo(const Image& image) {
  if (!isValidOrientationTag(image.orientationTag())) throw InvalidOrientationError();
}

float ImageTools::maximumResolutionForPair(int leftUprightWidth, int leftUprightHeight,
                                           float imageSizePercent) {
  const float w = static_cast<float>(leftUprightWidth);
  const float h = static_cast<float>(leftUprightHeight);
  const float longer = w > h ? w : h;
  return (imageSizePercent / 100.0f) * longer;
}

}  // namespace duo
