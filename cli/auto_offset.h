#pragma once

#include "align/auto_align.h"
#include "core/result.h"
#include "stereo/stereo_pair.h"

namespace duo::cli {

/// The alignment suggested for the pair's working copies as they stand (after any swap), in the
/// whole pixels --offset takes, whatever its confidence. An Unsupported error, with a hint to
/// give the offset by hand, when automatic alignment is not available (a build without it, or
/// its module missing); the engine's error for images it cannot compare.
Result<AlignmentSuggestion> suggestOffset(const StereoPair& pair);

/// The same, as an offset to apply: an error saying so when the suggestion's confidence is
/// below kMinimumAlignmentConfidence.
Result<PixelOffset> confidentOffset(const StereoPair& pair);

/// "0.93 (412 of 450 matches agree)".
std::string confidenceText(const AlignmentSuggestion& suggestion);

}  // namespace duo::cli
