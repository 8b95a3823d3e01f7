#include "align/alignment_module_interface.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <string>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "align/disparity_model.h"
#include "align/feature_matching.h"

namespace duo {

namespace {

using align::PointMatch;

// Features are found on copies reduced by a whole factor to no more than this many pixels on the
// longer side: a good pair has hundreds of matches at that size already, and the time grows
// with the area. The matches are then measured again at full size.
constexpr int kAnalysisSide = 1000;
// Partners lie at most this fraction of the width apart horizontally, and of the height
// vertically: beyond that a pair cannot be viewed, and the match is wrong.
constexpr double kMaxHorizontalFraction = 1.0 / 3.0;
constexpr double kMaxVerticalFraction = 0.1;
// Largest vertical residual of a RANSAC inlier, in pixels of the analysis copies: ORB keypoints
// of the upper pyramid levels are placed to about a pixel and a half.
constexpr double kCoarseTolerance = 2.0;
// Vertical disparity is not quite a plane when the cameras converge or their lenses distort;
// matches this far (a fraction of the height) from the plane stay candidates if their
// neighbours agree with them.
constexpr double kBandFraction = 0.03;
// How far a match's disparities may stray from its neighbours', in pixels of the analysis
// copies (depth changes from one feature to the next; vertical disparity barely does).
constexpr double kNeighbourToleranceX = 2.0;
constexpr double kNeighbourToleranceY = 1.0;
// The search of the refinement, in analysis pixels around the coarse position.
constexpr double kRefineReach = 1.5;
// Horizontal offset: the median disparity of the nearest tenth of the picture (by area), which
// puts that tenth at the screen plane; a few stray matches cannot move it.
constexpr double kNearQuantile = 0.95;
// Confidence: fewer inliers than this give none at all; about this many give a fair estimate.
constexpr int kMinimumInliers = 8;
constexpr double kInlierScale = 30.0;
// A vertical scatter about the best plane (median distance) of this fraction of the height halves
// the confidence: the views then disagree in ways no offset can remove (strongly converging
// cameras, lens distortion), or many matches are wrong.
constexpr double kSpreadFraction = 0.0025;
// Inliers spread over at least this many cells of a 4 × 4 grid cover the picture well.
constexpr int kGridCells = 4;
constexpr int kWellCovered = 6;
// The offset weighs the picture by area: each cell of this grid (per side) counts the same,
// once it holds kFullCell inliers.
constexpr int kWeightCells = 8;
constexpr double kFullCell = 3;

cv::Mat greyOf(const Image& image) {
  // cv::Mat wants a non-const pointer; the view is only read.
  const cv::Mat rgbx(image.height(), image.width(), CV_8UC4,
                     const_cast<std::uint8_t*>(image.data()), image.bytesPerRow());
  cv::Mat grey;
  cv::cvtColor(rgbx, grey, cv::COLOR_RGBA2GRAY);
  return grey;
}

Error sizeError(const std::string& message) {
  return makeError(ErrorCode::InvalidArgument, "cannot align the pair: " + message);
}

std::string sizeText(const Image& image) {
  return std::to_string(image.width()) + "x" + std::to_string(image.height());
}

double medianOf(std::vector<double> values) {
  const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
  std::nth_element(values.begin(), middle, values.end());
  return *middle;
}

/// How much to trust a suggestion resting on these inliers: more of them, closer agreement on
/// one vertical geometry, and more of the picture covered each raise it.
double confidenceOf(const std::vector<PointMatch>& inliers, int width, int height) {
  if (static_cast<int>(inliers.size()) < kMinimumInliers) return 0;
  const double count = 1.0 - std::exp(-double(inliers.size()) / kInlierScale);

  // Measured against a plane rather than the offset: a tilt between the views is geometry the
  // offset cannot remove but that the matches agree on; scatter about the plane is not.
  align::VerticalModel plane;
  plane.centreX = 0.5 * width;
  plane.centreY = 0.5 * height;
  plane = align::refitVerticalModel(inliers, plane);
  std::vector<double> residuals;
  residuals.reserve(inliers.size());
  for (const PointMatch& m : inliers) {
    const double vertical = double(m.left.y) - double(m.right.y);
    residuals.push_back(std::fabs(vertical - plane.at(m.left.x, m.left.y)));
  }
  const double spread = medianOf(std::move(residuals)) / (kSpreadFraction * height);
  const double agreement = 1.0 / (1.0 + spread * spread);

  bool occupied[kGridCells][kGridCells] = {};
  int cells = 0;
  for (const PointMatch& m : inliers) {
    const int cx = std::clamp(int(m.left.x * kGridCells / width), 0, kGridCells - 1);
    const int cy = std::clamp(int(m.left.y * kGridCells / height), 0, kGridCells - 1);
    if (!occupied[cy][cx]) ++cells;
    occupied[cy][cx] = true;
  }
  const double coverage = std::min(1.0, double(cells) / kWellCovered);
  return count * agreement * coverage;
}

/// How much of the picture each inlier speaks for: every cell of a grid over the left image
/// shares one unit among its inliers (a cell with fewer than kFullCell inliers gets less, so a
/// stray match cannot speak for a whole cell alone). Normalised to a sum of 1. Features crowd
/// in textured parts (foliage, a keyboard, a patterned ball) and would otherwise outvote larger
/// plain ones (a floor, a face, a chessboard) that matter as much to the viewer.
std::vector<double> areaWeights(const std::vector<PointMatch>& inliers, int width, int height) {
  std::vector<int> cellOf(inliers.size());
  std::vector<int> counts(kWeightCells * kWeightCells, 0);
  for (std::size_t i = 0; i < inliers.size(); ++i) {
    const int cx = std::clamp(int(inliers[i].left.x * kWeightCells / width), 0, kWeightCells - 1);
    const int cy = std::clamp(int(inliers[i].left.y * kWeightCells / height), 0, kWeightCells - 1);
    cellOf[i] = cy * kWeightCells + cx;
    ++counts[static_cast<std::size_t>(cellOf[i])];
  }
  std::vector<double> weights(inliers.size());
  double total = 0;
  for (std::size_t i = 0; i < inliers.size(); ++i) {
    const int count = counts[static_cast<std::size_t>(cellOf[i])];
    weights[i] = std::min(1.0, double(count) / kFullCell) / count;
    total += weights[i];
  }
  for (double& w : weights) w /= total;
  return weights;
}

/// The value below which the given share of the weight lies (values with weights summing to 1).
double weightedQuantile(const std::vector<double>& values, const std::vector<double>& weights,
                        double share) {
  std::vector<std::size_t> order(values.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [&values](std::size_t a, std::size_t b) { return values[a] < values[b]; });
  double below = 0;
  for (std::size_t i : order) {
    below += weights[i];
    if (below >= share) return values[i];
  }
  return values[order.back()];
}

std::vector<PointMatch> pick(const std::vector<PointMatch>& matches,
                             const std::vector<int>& indices) {
  std::vector<PointMatch> picked;
  picked.reserve(indices.size());
  for (int i : indices) picked.push_back(matches[static_cast<std::size_t>(i)]);
  return picked;
}

/// The estimate, step by step: ORB matches on reduced grey copies, the vertical geometry most of
/// them agree on (RANSAC), the matches near it measured again at full size, those that agree
/// with their neighbours kept; then the offset and the confidence from what is left.
Result<AlignmentAnalysis> analyse(const Image& left, const Image& right) {
  if (left.isNull() || right.isNull()) return sizeError("an image is missing");
  if (left.width() != right.width() || left.height() != right.height()) {
    return sizeError("the images differ in size (" + sizeText(left) + " and " + sizeText(right) +
                     ")");
  }
  if (left.width() < kMinimumAlignmentSide || left.height() < kMinimumAlignmentSide) {
    return sizeError("the images are too small (" + sizeText(left) + "; at least " +
                     std::to_string(kMinimumAlignmentSide) + " pixels a side)");
  }
  const int width = left.width();
  const int height = left.height();

  const cv::Mat leftGrey = greyOf(left);
  const cv::Mat rightGrey = greyOf(right);
  // A whole reduction factor: area averaging is fastest then, and positions map back exactly.
  const int factor = (std::max(width, height) + kAnalysisSide - 1) / kAnalysisSide;
  cv::Mat leftSmall = leftGrey;
  cv::Mat rightSmall = rightGrey;
  if (factor > 1) {
    const cv::Size size(width / factor, height / factor);
    const cv::Rect covered(0, 0, size.width * factor, size.height * factor);
    cv::resize(leftGrey(covered), leftSmall, size, 0, 0, cv::INTER_AREA);
    cv::resize(rightGrey(covered), rightSmall, size, 0, 0, cv::INTER_AREA);
  }

  AlignmentAnalysis analysis;
  const align::MatchSet found =
      align::matchFeatures(leftSmall, rightSmall, float(kMaxHorizontalFraction * leftSmall.cols),
                           float(kMaxVerticalFraction * leftSmall.rows));
  analysis.suggestion.matches = static_cast<int>(found.matches.size());
  const align::ModelFit core =
      align::fitVerticalModel(found.matches, leftSmall.cols, leftSmall.rows, kCoarseTolerance);
  if (core.inliers.empty()) return analysis;
  const double band = std::max(kCoarseTolerance, kBandFraction * leftSmall.rows);

  // Back to full-size pixels (pixel centres onto pixel centres), and measured again there.
  const auto toFull = [factor](cv::Point2f p) {
    return cv::Point2f(float((p.x + 0.5) * factor - 0.5), float((p.y + 0.5) * factor - 0.5));
  };
  std::vector<PointMatch> candidates;
  for (int i : align::withinBand(found.matches, core.model, band)) {
    const PointMatch& m = found.matches[static_cast<std::size_t>(i)];
    candidates.push_back({toFull(m.left), toFull(m.right)});
  }
  const int reach = int(std::ceil(kRefineReach * factor)) + 1;
  const std::vector<PointMatch> refined =
      align::refineMatches(candidates, reach, leftGrey, rightGrey);
  const std::vector<PointMatch> inliers =
      pick(refined, align::keepLocallyConsistent(refined, kNeighbourToleranceX * factor,
                                                 kNeighbourToleranceY * factor));
  if (inliers.empty()) return analysis;

  const std::vector<double> weights = areaWeights(inliers, width, height);
  std::vector<double> horizontal;
  std::vector<double> vertical;
  for (std::size_t i = 0; i < inliers.size(); ++i) {
    const PointMatch& m = inliers[i];
    horizontal.push_back(double(m.left.x) - double(m.right.x));
    vertical.push_back(double(m.left.y) - double(m.right.y));
    analysis.inliers.push_back({m.left.x, m.left.y, m.left.x - m.right.x, m.left.y - m.right.y,
                                static_cast<float>(weights[i])});
  }
  std::stable_sort(analysis.inliers.begin(), analysis.inliers.end(),
                   [](const FeatureDisparity& a, const FeatureDisparity& b) {
                     return a.disparityX < b.disparityX;
                   });
  AlignmentSuggestion& s = analysis.suggestion;
  s.dx = static_cast<int>(std::lround(weightedQuantile(horizontal, weights, kNearQuantile)));
  s.dy = static_cast<int>(std::lround(weightedQuantile(vertical, weights, 0.5)));
  s.inliers = static_cast<int>(inliers.size());
  s.confidence = confidenceOf(inliers, width, height);
  return analysis;
}

Result<AlignmentAnalysis> analyseOrFail(const Image& left, const Image& right) {
  try {
    return analyse(left, right);
  } catch (const std::bad_alloc&) {
    return makeError(ErrorCode::TooLarge, "cannot align the pair: not enough memory");
  } catch (const cv::Exception& e) {
    // OpenCV reports failed allocations and internal limits this way; nothing of the caller's
    // has changed, so the caller can carry on without the suggestion.
    return makeError(ErrorCode::Unsupported, std::string("cannot align the pair: ") + e.what());
  }
}

constexpr AlignmentModuleInterface kInterface = {DUOSCOPE_VERSION, &analyseOrFail};

}  // namespace

}  // namespace duo

extern "C" __attribute__((visibility("default"))) const duo::AlignmentModuleInterface*
duoscope_alignment_module() {
  return &duo::kInterface;
}
