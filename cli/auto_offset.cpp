#include "auto_offset.h"

#include <cstdio>
#include <string>

namespace duo::cli {

Result<AlignmentSuggestion> suggestOffset(const StereoPair& pair) {
  auto suggestion = suggestAlignment(pair.leftImage(), pair.rightImage());
  // Unsupported: no alignment module, or OpenCV gave up on this pair; either way the offset
  // can still be given by hand.
  if (!suggestion && suggestion.error().code == ErrorCode::Unsupported) {
    return makeError(ErrorCode::Unsupported,
                     suggestion.error().message + "; give --offset X,Y instead");
  }
  return suggestion;
}

Result<PixelOffset> confidentOffset(const StereoPair& pair) {
  auto suggestion = suggestOffset(pair);
  if (!suggestion) return suggestion.error();
  if (suggestion->confidence < kMinimumAlignmentConfidence) {
    char minimum[16];
    std::snprintf(minimum, sizeof minimum, "%.2f", kMinimumAlignmentConfidence);
    return makeError(ErrorCode::InvalidArgument,
                     "automatic alignment is unsure of this pair (confidence " +
                         confidenceText(*suggestion) + ", at least " + minimum +
                         " needed); nothing was written. Give --offset X,Y instead");
  }
  return PixelOffset{suggestion->dx, suggestion->dy};
}

std::string confidenceText(const AlignmentSuggestion& suggestion) {
  char text[96];
  std::snprintf(text, sizeof text, "%.2f (%d of %d matches agree)", suggestion.confidence,
                suggestion.inliers, suggestion.matches);
  return text;
}

}  // namespace duo::cli
