#include "align/feature_matching.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <opencv2/features2d.hpp>
#include <opencv2/imgproc.hpp>

namespace duo::align {

namespace {

// Enough features for a few hundred matches on a busy photograph, few enough that matching
// them all against each other stays cheap.
constexpr int kFeatureCount = 1200;
// The two views of a stereo pair show the scene at the same scale, so a short pyramid suffices;
// it still lets coarse texture (foliage, night scenes) give features.
constexpr int kPyramidLevels = 3;
constexpr float kPyramidScale = 1.3f;
// Lower than ORB's default of 20 so that dark and hazy pictures still give features.
constexpr int kFastThreshold = 16;
// ORB's border (features closer to the edge have no full descriptor patch) and patch size.
constexpr int kOrbBorder = 31;
// A match must beat the second-best candidate by this ratio of Hamming distances.
constexpr float kRatio = 0.8f;

// Left keypoints compared with the right ones as one block: enough rows to make each
// comparison call worth its overhead, few enough that the block's band stays narrow.
constexpr std::size_t kBlockRows = 64;

// Correlation patch half size and the least peak value of a trusted refinement.
constexpr int kPatchRadius = 6;
constexpr double kMinimumCorrelation = 0.7;
// Patches flatter than this (standard deviation of grey levels) match anywhere.
constexpr double kMinimumPatchContrast = 3.0;

/// Keypoint indices in order of y (ties by index), and their descriptors in that order.
struct ByRow {
  std::vector<int> order;
  std::vector<float> x;
  std::vector<float> y;
  cv::Mat descriptors;
};

ByRow sortedByRow(const std::vector<cv::KeyPoint>& points, const cv::Mat& descriptors) {
  ByRow sorted;
  sorted.order.resize(points.size());
  for (std::size_t i = 0; i < points.size(); ++i) sorted.order[i] = static_cast<int>(i);
  std::stable_sort(sorted.order.begin(), sorted.order.end(), [&points](int a, int b) {
    return points[static_cast<std::size_t>(a)].pt.y < points[static_cast<std::size_t>(b)].pt.y;
  });
  sorted.descriptors.create(descriptors.rows, descriptors.cols, descriptors.type());
  for (std::size_t i = 0; i < sorted.order.size(); ++i) {
    sorted.x.push_back(points[static_cast<std::size_t>(sorted.order[i])].pt.x);
    sorted.y.push_back(points[static_cast<std::size_t>(sorted.order[i])].pt.y);
    descriptors.row(sorted.order[i]).copyTo(sorted.descriptors.row(static_cast<int>(i)));
  }
  return sorted;
}

/// For each left keypoint the best and second-best right partner, and for each right keypoint
/// the best left partner, among pairs no farther apart than the largest disparities of a
/// viewable pair. The window also keeps a repeated structure elsewhere in the picture from
/// counting as an ambiguity in the ratio test.
struct Candidates {
  std::vector<int> best;  ///< per left keypoint: right index, or −1
  std::vector<int> bestDistance;
  std::vector<int> secondDistance;
  std::vector<int> bestBack;  ///< per right keypoint: left index, or −1
};

Candidates candidatesWithin(const std::vector<cv::KeyPoint>& left, const cv::Mat& leftDescriptors,
                            const std::vector<cv::KeyPoint>& right, const cv::Mat& rightDescriptors,
                            float maxHorizontal, float maxVertical) {
  constexpr int kNone = std::numeric_limits<int>::max();
  Candidates c{std::vector<int>(left.size(), -1), std::vector<int>(left.size(), kNone),
               std::vector<int>(left.size(), kNone), std::vector<int>(right.size(), -1)};
  std::vector<int> backDistance(right.size(), kNone);
  const ByRow l = sortedByRow(left, leftDescriptors);
  const ByRow r = sortedByRow(right, rightDescriptors);
  // Blocks of left keypoints close in y are compared with the right keypoints in their band
  // only, by OpenCV's brute force; most of the pairs lie outside the band.
  cv::Mat distances;
  for (std::size_t start = 0; start < l.order.size(); start += kBlockRows) {
    const std::size_t end = std::min(start + kBlockRows, l.order.size());
    const auto from = std::lower_bound(r.y.begin(), r.y.end(), l.y[start] - maxVertical);
    const auto to = std::upper_bound(r.y.begin(), r.y.end(), l.y[end - 1] + maxVertical);
    if (from >= to) continue;
    const int r0 = static_cast<int>(from - r.y.begin());
    const int r1 = static_cast<int>(to - r.y.begin());
    cv::batchDistance(l.descriptors.rowRange(int(start), int(end)), r.descriptors.rowRange(r0, r1),
                      distances, CV_32S, cv::noArray(), cv::NORM_HAMMING);
    for (std::size_t a = start; a < end; ++a) {
      const auto li = static_cast<std::size_t>(l.order[a]);
      const float px = l.x[a];
      const float py = l.y[a];
      const int* row = distances.ptr<int>(int(a - start));
      for (int b = r0; b < r1; ++b) {
        const auto sb = static_cast<std::size_t>(b);
        if (!(std::fabs(px - r.x[sb]) <= maxHorizontal && std::fabs(py - r.y[sb]) <= maxVertical)) {
          continue;
        }
        const auto rj = static_cast<std::size_t>(r.order[sb]);
        const int d = row[b - r0];
        if (d < c.bestDistance[li]) {
          c.secondDistance[li] = c.bestDistance[li];
          c.bestDistance[li] = d;
          c.best[li] = static_cast<int>(rj);
        } else if (d < c.secondDistance[li]) {
          c.secondDistance[li] = d;
        }
        if (d < backDistance[rj]) {
          backDistance[rj] = d;
          c.bestBack[rj] = static_cast<int>(li);
        }
      }
    }
  }
  return c;
}

/// The position of a correlation peak along one axis to a fraction of a pixel: the vertex of
/// the parabola through the peak and its two neighbours.
float parabolaPeak(float before, float peak, float after) {
  const float curvature = before - 2 * peak + after;
  if (!(curvature < 0)) return 0;
  const float offset = 0.5f * (before - after) / curvature;
  return std::clamp(offset, -0.5f, 0.5f);
}

}  // namespace

MatchSet matchFeatures(const cv::Mat& leftGrey, const cv::Mat& rightGrey, float maxHorizontal,
                       float maxVertical) {
  MatchSet set;
  auto orb = cv::ORB::create(kFeatureCount, kPyramidScale, kPyramidLevels, kOrbBorder, 0, 2,
                             cv::ORB::HARRIS_SCORE, kOrbBorder, kFastThreshold);
  std::vector<cv::KeyPoint> leftPoints;
  std::vector<cv::KeyPoint> rightPoints;
  cv::Mat leftDescriptors;
  cv::Mat rightDescriptors;
  orb->detectAndCompute(leftGrey, cv::noArray(), leftPoints, leftDescriptors);
  orb->detectAndCompute(rightGrey, cv::noArray(), rightPoints, rightDescriptors);
  set.leftKeypoints = static_cast<int>(leftPoints.size());
  set.rightKeypoints = static_cast<int>(rightPoints.size());
  if (leftPoints.size() < 2 || rightPoints.size() < 2) return set;

  const Candidates c = candidatesWithin(leftPoints, leftDescriptors, rightPoints, rightDescriptors,
                                        maxHorizontal, maxVertical);
  for (std::size_t i = 0; i < leftPoints.size(); ++i) {
    const int j = c.best[i];
    if (j < 0 || c.bestBack[static_cast<std::size_t>(j)] != static_cast<int>(i)) continue;
    // A lone candidate has no rival inside the window and passes the ratio test.
    if (!(float(c.bestDistance[i]) < kRatio * float(c.secondDistance[i]))) continue;
    set.matches.push_back({leftPoints[i].pt, rightPoints[static_cast<std::size_t>(j)].pt});
  }
  return set;
}

std::vector<PointMatch> refineMatches(const std::vector<PointMatch>& matches, int searchRadius,
                                      const cv::Mat& leftFull, const cv::Mat& rightFull) {
  const int patchSide = 2 * kPatchRadius + 1;
  const cv::Rect leftBounds(0, 0, leftFull.cols, leftFull.rows);
  const cv::Rect rightBounds(0, 0, rightFull.cols, rightFull.rows);

  std::vector<PointMatch> refined;
  refined.reserve(matches.size());
  cv::Mat scores;
  for (const PointMatch& match : matches) {
    const int lx = static_cast<int>(std::lround(match.left.x));
    const int ly = static_cast<int>(std::lround(match.left.y));
    const int rx = static_cast<int>(std::lround(match.right.x));
    const int ry = static_cast<int>(std::lround(match.right.y));
    const cv::Rect patchRect(lx - kPatchRadius, ly - kPatchRadius, patchSide, patchSide);
    const int reach = kPatchRadius + searchRadius;
    const cv::Rect searchRect(rx - reach, ry - reach, 2 * reach + 1, 2 * reach + 1);
    if ((patchRect & leftBounds) != patchRect || (searchRect & rightBounds) != searchRect) {
      continue;
    }
    const cv::Mat patch = leftFull(patchRect);
    cv::Scalar mean;
    cv::Scalar deviation;
    cv::meanStdDev(patch, mean, deviation);
    if (deviation[0] < kMinimumPatchContrast) continue;

    cv::matchTemplate(rightFull(searchRect), patch, scores, cv::TM_CCOEFF_NORMED);
    double peak = 0;
    cv::Point at;
    cv::minMaxLoc(scores, nullptr, &peak, nullptr, &at);
    // A peak on the rim of the search may be the slope of one outside it.
    if (peak < kMinimumCorrelation || at.x == 0 || at.y == 0 || at.x == scores.cols - 1 ||
        at.y == scores.rows - 1) {
      continue;
    }
    const float sx = parabolaPeak(scores.at<float>(at.y, at.x - 1), scores.at<float>(at.y, at.x),
                                  scores.at<float>(at.y, at.x + 1));
    const float sy = parabolaPeak(scores.at<float>(at.y - 1, at.x), scores.at<float>(at.y, at.x),
                                  scores.at<float>(at.y + 1, at.x));
    // scores(0, 0) puts the patch centre at (rx − searchRadius, ry − searchRadius).
    refined.push_back({cv::Point2f(static_cast<float>(lx), static_cast<float>(ly)),
                       cv::Point2f(static_cast<float>(rx - searchRadius + at.x) + sx,
                                   static_cast<float>(ry - searchRadius + at.y) + sy)});
  }
  return refined;
}

}  // namespace duo::align
