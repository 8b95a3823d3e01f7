#pragma once

#include <vector>

#include "core/result.h"
#include "image/image.h"

namespace duo {

/// The offset a careful stereographer would set for a pair, in whole pixels of the images it
/// was estimated on, with the same meaning as the pair's alignment offset (PixelOffset): the
/// output shows the left image's pixel (x, y) with the right image's (x − dx, y − dy).
///
/// dy removes the vertical disparity between the two views (the median over the picture's area).
/// dx puts the nearest tenth of the matched picture (by area) at the screen plane, so the rest
/// lies behind the stereo window and the frame cuts nothing that stands in front of it.
struct AlignmentSuggestion {
  int dx = 0;
  int dy = 0;
  /// 0 (no idea) … 1 (many well spread matches that agree closely). Below
  /// kMinimumAlignmentConfidence the suggestion must not be applied.
  double confidence = 0;
  int matches = 0;  ///< feature matches that passed the ratio and cross checks
  int inliers = 0;  ///< matches consistent with one stereo geometry, used for the estimate
};

/// Confidence below which a suggestion is a guess: too few matches agree, or they disagree too
/// much (a featureless, blurred or repetitive picture, or two different scenes).
inline constexpr double kMinimumAlignmentConfidence = 0.4;

/// Smallest side of images suggestAlignment() accepts, in pixels.
inline constexpr int kMinimumAlignmentSide = 64;

/// One matched feature that the estimate used: where it is in the left image and how far its
/// partner in the right image lies from it (left minus right), in pixels of the input images.
/// A larger disparityX means a nearer object.
struct FeatureDisparity {
  float x = 0;
  float y = 0;
  float disparityX = 0;
  float disparityY = 0;
  /// The share of the picture's area this feature speaks for (all inliers' weights sum to 1):
  /// features in densely textured parts share their part of the picture.
  float weight = 0;
};

/// The suggestion with the evidence behind it, for tests and diagnostic displays.
struct AlignmentAnalysis {
  AlignmentSuggestion suggestion;
  std::vector<FeatureDisparity> inliers;  ///< sorted by disparityX, nearest last
};

/// Whether alignments can be asked for: this build makes the alignment module and it is in
/// place beside the program (AlignmentModule::path()). Only looks; the module, and OpenCV with
/// it, are loaded by the first estimate, which may still fail (OpenCV itself missing) with the
/// error saying why.
bool autoAlignmentAvailable();

/// Estimates the alignment of a pair of working copies: upright images of equal size, each at
/// least kMinimumAlignmentSide pixels a side. Images of different sizes, null images or tiny
/// ones give an InvalidArgument error; an Unsupported one says that automatic alignment is not
/// available, and why, when the module cannot be loaded (AlignmentModule::shared()). A pair without
/// usable features is not an error: it gives a suggestion of 0,0 with confidence 0. Deterministic:
/// the same pixels give the same answer on every run and thread count.
Result<AlignmentSuggestion> suggestAlignment(const Image& left, const Image& right);

/// The same estimate, with the inlier matches it rests on.
Result<AlignmentAnalysis> analyseAlignment(const Image& left, const Image& right);

}  // namespace duo
