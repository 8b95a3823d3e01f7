#pragma once

#include <vector>

#include "align/feature_matching.h"

namespace duo::align {

/// Vertical disparity (left y minus right y) as a plane over the left image: an offset plus
/// small terms for a tilt between the views (changing with x) and a height difference (with y).
/// For a pair taken with a sideways step it is nearly constant; horizontal disparity is left
/// free, because it changes with depth.
struct VerticalModel {
  double offset = 0;
  double perX = 0;  ///< pixels of change per pixel of x from the image centre
  double perY = 0;  ///< pixels of change per pixel of y from the image centre
  double centreX = 0;
  double centreY = 0;

  double at(float x, float y) const { return offset + perX * (x - centreX) + perY * (y - centreY); }
};

/// The matches that agree on one vertical model, found by RANSAC with a fixed seed (so the same
/// matches always give the same answer), then refitted to all of them by least squares.
/// `tolerance` is the largest vertical residual of an inlier, in pixels of the match positions;
/// width and height are the image's. Fewer than three matches, or no model that a handful of
/// them agree on, give no inliers.
struct ModelFit {
  VerticalModel model;
  std::vector<int> inliers;  ///< indices into the matches, ascending
};
ModelFit fitVerticalModel(const std::vector<PointMatch>& matches, int width, int height,
                          double tolerance);

/// Least-squares refit of the model to the given matches (all of them). Keeps `start` when the
/// matches cannot determine a plane (fewer than three, or all in a line).
VerticalModel refitVerticalModel(const std::vector<PointMatch>& matches,
                                 const VerticalModel& start);

/// Indices of the matches whose vertical disparity lies within `band` pixels of the model's.
std::vector<int> withinBand(const std::vector<PointMatch>& matches, const VerticalModel& model,
                            double band);

/// Drops matches whose disparities differ from those of their nearest neighbours in the left
/// image by more than the tolerances (pixels) plus the neighbours' own disagreement. Both
/// disparities change smoothly across a picture except at object edges, while a wrong match
/// between repeated structures (railings, windows, a chessboard) lands on the wrong copy.
/// Returns the indices kept, ascending.
std::vector<int> keepLocallyConsistent(const std::vector<PointMatch>& matches,
                                       double horizontalTolerance, double verticalTolerance);

}  // namespace duo::align
