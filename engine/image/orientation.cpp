#include "image/orientation.h"

#include <array>

namespace duo {

namespace {

// EXIF value of our orientation at the same index: Up 1, Down 3, Left 8, Right 6,
// UpMirrored 2, DownMirrored 4, LeftMirrored 5, RightMirrored 7.
constexpr std::array<int, 8> kExifForOrientation = {1, 3, 8, 6, 2, 4, 5, 7};

constexpr std::array<std::string_view, 8> kNames = {
    "Up", "Down", "Left", "Right", "UpMirrored", "DownMirrored", "LeftMirrored", "RightMirrored"};

}  // namespace

std::optional<Orientation> orientationFromExif(int exifValue) {
  for (int tag = 0; tag < 8; ++tag) {
    if (kExifForOrientation[tag] == exifValue) return static_cast<Orientation>(tag);
  }
  return std::nullopt;
}

int exifFromOrientation(Orientation o) { return kExifForOrientation[static_cast<int>(o)]; }

std::string_view toString(Orientation o) { return kNames[static_cast<int>(o)]; }

std::optional<Orientation> orientationFromString(std::string_view text) {
  for (int tag = 0; tag < 8; ++tag) {
    if (kNames[tag] == text) return static_cast<Orientation>(tag);
  }
  if (text.size() == 1 && text[0] >= '0' && text[0] <= '7') {
    return static_cast<Orientation>(text[0] - '0');
  }
  return std::nullopt;
}

}  // namespace duo
