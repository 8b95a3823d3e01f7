#include "stereo/side_by_side.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string>

#include "transform/crop.h"
#include "transform/resample.h"

namespace duo {

namespace {

Error outOfMemory() {
  return makeError(ErrorCode::TooLarge, "not enough memory to split the side-by-side image");
}

}  // namespace

std::string_view toString(SideBySideLayout layout) {
  return layout == SideBySideLayout::Cross ? "cross" : "parallel";
}

std::optional<SideBySideLayout> sideBySideLayoutFromString(std::string_view text) {
  if (text == "parallel") return SideBySideLayout::Parallel;
  if (text == "cross") return SideBySideLayout::Cross;
  return std::nullopt;
}

std::optional<SideBySideLayout> sideBySideLayoutForPath(std::string_view path) {
  std::string extension = std::filesystem::path(path).extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (extension == ".jps") return SideBySideLayout::Cross;
  return std::nullopt;
}

Result<std::pair<Image, Image>> splitSideBySide(const Image& whole, SideBySideLayout layout) {
  if (whole.isNull()) {
    return makeError(ErrorCode::InvalidArgument, "the side-by-side image has no pixels");
  }
  if (!isValidOrientationTag(whole.orientationTag())) {
    return makeError(ErrorCode::InvalidArgument,
                     "invalid orientation tag " + std::to_string(whole.orientationTag()));
  }
  const auto orientation = static_cast<Orientation>(whole.orientationTag());
  std::optional<Image> turned;
  if (orientation != Orientation::Up) {
    turned = drawOriented(whole, orientation, whole.uprightWidth(), whole.uprightHeight());
    if (!turned) return outOfMemory();
  }
  const Image& upright = turned ? *turned : whole;
  if (upright.width() < 2) {
    return makeError(ErrorCode::InvalidArgument,
                     "a side-by-side image must be at least 2 pixels wide, this one is " +
                         std::to_string(upright.width()));
  }
  const auto half = static_cast<float>(upright.width() / 2);
  const auto height = static_cast<float>(upright.height());
  auto first = cropImage(upright, CropRect{0, 0, half, height});
  auto second = cropImage(upright, CropRect{half, 0, half, height});
  if (!first || !second) return outOfMemory();
  if (layout == SideBySideLayout::Cross) std::swap(first, second);
  return std::pair{std::move(*first), std::move(*second)};
}

}  // namespace duo
