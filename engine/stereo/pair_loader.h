#pragma once

#include <optional>
#include <string>

#include "core/result.h"
#include "stereo/side_by_side.h"
#include "stereo/stereo_pair.h"

namespace duo {

/// Reads two photographs and makes a pair of working copies: both brought upright, with the
/// longer side at `imageSizePercent` percent of the left photograph's (the decoder does the
/// reductions of a half or more). Photographs of different upright sizes are refused with a
/// message naming both sizes. The two files are decoded side by side.
Result<StereoPair> loadStereoPairFiles(const std::string& leftPath, const std::string& rightPath,
                                       float imageSizePercent);

/// Reads a pair from one file and makes working copies as loadStereoPairFiles does (the
/// maximum resolution taken from the left view):
/// - an MPO (whatever its name) gives its first two views, each turned by its own tag;
/// - otherwise, or when an MPO holds no stereo pair, a JPEG or PNG is split side by side by
///   `layout` (see splitSideBySide), by default Cross for a .jps file.
/// A file that is neither an MPO pair nor given or named as side by side is InvalidArgument,
/// naming the way to mark it; a damaged MP index is an error even with a layout.
Result<StereoPair> loadStereoPairFile(const std::string& path,
                                      std::optional<SideBySideLayout> layout,
                                      float imageSizePercent);

/// True when the file holds a whole pair by itself: a JPEG named .jps, or an MPO whose index
/// lists two views. Reads only the file's header; false for anything unreadable.
bool isSingleFilePair(const std::string& path);

}  // namespace duo
