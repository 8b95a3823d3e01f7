#pragma once

#include <optional>
#include <string_view>

namespace duo {

/// How a stored pixel grid must be turned or mirrored to appear upright. The numbering is the
/// one the whole application uses (and stores in images): 0 Up … 7 RightMirrored.
enum class Orientation : int {
  Up = 0,
  Down = 1,
  Left = 2,
  Right = 3,
  UpMirrored = 4,
  DownMirrored = 5,
  LeftMirrored = 6,
  RightMirrored = 7,
};

/// Orientation tags are plain ints on images so that a bad value can travel to the check that
/// rejects it; these helpers convert at the edges.
constexpr bool isValidOrientationTag(int tag) { return tag >= 0 && tag <= 7; }

/// True for Left, Right, LeftMirrored and RightMirrored: the upright image has width and height
/// exchanged.
constexpr bool swapsSides(Orientation o) {
  return o == Orientation::Left || o == Orientation::Right || o == Orientation::LeftMirrored ||
         o == Orientation::RightMirrored;
}

/// EXIF Orientation (1–8) to our numbering; nullopt for any other value.
std::optional<Orientation> orientationFromExif(int exifValue);

/// Our numbering to EXIF Orientation 1–8.
int exifFromOrientation(Orientation o);

/// "Up", "Down", … "RightMirrored".
std::string_view toString(Orientation o);

/// Accepts the names of toString (case-sensitive) or the digits 0–7.
std::optional<Orientation> orientationFromString(std::string_view text);

}  // namespace duo
