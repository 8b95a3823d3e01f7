#pragma once

#include <optional>

#include "image/image.h"
#include "stereo/stereo_pair.h"

namespace duo {

/// A copy of the part of `image` inside `rect` (whole pixels held in floats; fractions are
/// truncated). nullopt when the rectangle is empty or does not lie inside the image, or the
/// memory cannot be had. The result has tag Up.
std::optional<Image> cropImage(const Image& image, const CropRect& rect);

}  // namespace duo
