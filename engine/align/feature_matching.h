#pragma once

#include <vector>

#include <opencv2/core.hpp>

namespace duo::align {

/// One feature seen in both views: its position in the left and in the right image.
struct PointMatch {
  cv::Point2f left;
  cv::Point2f right;
};

/// What the feature matcher found in a pair of grey images.
struct MatchSet {
  std::vector<PointMatch> matches;
  int leftKeypoints = 0;
  int rightKeypoints = 0;
};

/// ORB features of both images, matched by descriptor. Partners lie at most maxHorizontal and
/// maxVertical pixels apart; among those a match must be clearly better than the second best
/// (ratio test) and each side's best partner of the other (cross check), which removes most
/// matches between repeated patterns. Positions are in pixels of the given images.
MatchSet matchFeatures(const cv::Mat& leftGrey, const cv::Mat& rightGrey, float maxHorizontal,
                       float maxVertical);

/// Re-measures each match on the full-size grey images, to a fraction of a pixel: a small patch
/// of the left image around the match's left point (snapped to a whole pixel) is correlated
/// with the right image up to `searchRadius` pixels around the match's right point. Positions
/// are in pixels of the full-size images. Matches whose patch is flat, leaves the image, or
/// finds no clear correlation peak inside the search are dropped.
std::vector<PointMatch> refineMatches(const std::vector<PointMatch>& matches, int searchRadius,
                                      const cv::Mat& leftFull, const cv::Mat& rightFull);

}  // namespace duo::align
