#pragma once

#include <optional>
#include <string_view>
#include <utility>

#include "core/result.h"
#include "image/image.h"

namespace duo {

/// Which half of a side-by-side image holds which eye's view.
enum class SideBySideLayout {
  Parallel,  ///< left half for the left eye (viewed parallel)
  Cross,     ///< left half for the right eye (viewed cross-eyed)
};

/// "parallel", "cross".
std::string_view toString(SideBySideLayout layout);
/// Accepts the names of toString; nullopt otherwise.
std::optional<SideBySideLayout> sideBySideLayoutFromString(std::string_view text);

/// The layout a file's name implies: Cross for the .jps extension (any case), whose images are
/// conventionally stored for cross-eyed viewing; nullopt for any other name.
std::optional<SideBySideLayout> sideBySideLayoutForPath(std::string_view path);

/// Left and right view of a side-by-side image. The image is first brought upright by its own
/// orientation tag, then cut into two halves of width ⌊upright width / 2⌋ (an odd width loses
/// its last column). Both views are upright (tag Up) and full size. An image less than two
/// pixels wide, or with an invalid tag, is InvalidArgument; memory that cannot be had TooLarge.
Result<std::pair<Image, Image>> splitSideBySide(const Image& whole, SideBySideLayout layout);

}  // namespace duo
