#pragma once

#include <string>

#include "core/result.h"
#include "stereo/stereo_pair.h"

namespace duo {

/// Reads two photographs and makes a pair of working copies: both brought upright, with the
/// longer side at `imageSizePercent` percent of the left photograph's (the decoder does the
/// reductions of a half or more). Photographs of different upright sizes are refused with a
/// message naming both sizes. The two files are decoded side by side.
Result<StereoPair> loadStereoPairFiles(const std::string& leftPath, const std::string& rightPath,
                                       float imageSizePercent);

}  // namespace duo
