#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

#include "core/result.h"
#include "image/image.h"
#include "image/orientation.h"

namespace duo {

/// Raised for an orientation tag or override outside 0–7. No decoder or caller of ours produces
/// one, so meeting it is a programming error; it is an exception so that tests can see it.
class InvalidOrientationError : public std::logic_error {
 public:
  InvalidOrientationError() : std::logic_error("Invalid image orientation") {}
};

/// Size and turn of a normalisation, before any pixel is touched.
struct NormalizeGeometry {
  float boundsWidth = 0;  ///< bounds of the unturned grid, 32-bit float as computed
  float boundsHeight = 0;
  float scale = 1;  ///< boundsWidth / stored width
  Orientation orientation = Orientation::Up;
  int canvasWidth = 0;  ///< whole pixels of the result (bounds rounded, turned)
  int canvasHeight = 0;
  int scaledWidth = 0;  ///< the unturned grid's size after scaling, in whole pixels
  int scaledHeight = 0;
};

/// Brings images upright at a working size.
class ImageTools {
 public:
  /// The key the override of -1 stands for: keep the image's own tag.
  static constexpr int kKeepOrientation = -1;

  /// Bounds, scale and canvas for a stored grid of width × height with its own tag, an
  /// override (-1 or 0–7) and a maximum resolution M (> 0). All sizes are 32-bit floats until
  /// the canvas is rounded to whole pixels (at least 1). Throws InvalidOrientationError for a
  /// bad own tag (even when an override is given) or override; std::invalid_argument when M is
  /// not a positive number.
  static NormalizeGeometry normalizeGeometry(int width, int height, int ownTag,
                                             int overrideOrientation, float maxResolution);

  /// A new upright image (tag Up) whose unturned longer side is at most maxResolution, turned
  /// by the override when it is not -1, else by the image's own tag. Never enlarges. Reductions
  /// average areas. Throws as normalizeGeometry; std::bad_alloc if the canvas cannot be had.
  static Image scaleAndRotateImage(const Image& image, int overrideOrientation,
                                   float maxResolution);

  /// Decodes a JPEG or PNG file straight to the result of scaleAndRotateImage on the decoded
  /// image, letting the JPEG decoder do reductions of a half or more itself (much cheaper than
  /// decoding full size). File problems are errors naming the path.
  static Result<Image> loadScaledAndRotatedImage(const std::string& path, int overrideOrientation,
                                                 float maxResolution);

  /// The same for an encoded image in memory; `name` labels error messages.
  static Result<Image> decodeScaledAndRotatedImage(std::span<const std::uint8_t> bytes,
                                                   std::string_view name, int overrideOrientation,
                                                   float maxResolution);

  /// Checks the image's tag; throws InvalidOrientationError when it is outside 0–7.
  static void debugImageInfo(const Image& image);

  /// Maximum resolution of a stereo pair: `imageSizePercent` percent of the left photograph's
  /// longer upright side, in 32-bit floats.
  static float maximumResolutionForPair(int leftUprightWidth, int leftUprightHeight,
                                        float imageSizePercent);
};

}  // namespace duo
