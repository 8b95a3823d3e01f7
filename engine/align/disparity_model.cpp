#include "align/disparity_model.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace duo::align {

namespace {

// A hand-held pair is tilted by a few degrees at most; steeper planes come from chance
// alignments of wrong matches.
constexpr double kMaxSlope = 0.06;
constexpr int kIterations = 400;
constexpr std::uint64_t kSeed = 0x5EED'A11Cu;
// Fewer agreeing matches than this are chance, not a geometry.
constexpr int kMinimumSupport = 5;
constexpr int kNeighbours = 8;

double verticalOf(const PointMatch& m) { return double(m.left.y) - double(m.right.y); }
double horizontalOf(const PointMatch& m) { return double(m.left.x) - double(m.right.x); }

/// Solves the symmetric 3 × 3 system a·x = b by Cramer's rule, after scaling it to a unit
/// diagonal so that the singularity test does not depend on the units (pixels of a small or a
/// large image); false when it is (nearly) singular.
bool solve3(const double a[3][3], const double b[3], double x[3]) {
  double scale[3];
  for (int i = 0; i < 3; ++i) {
    if (!(a[i][i] > 0)) return false;
    scale[i] = 1.0 / std::sqrt(a[i][i]);
  }
  double m[3][3];
  double v[3];
  for (int r = 0; r < 3; ++r) {
    v[r] = b[r] * scale[r];
    for (int c = 0; c < 3; ++c) m[r][c] = a[r][c] * scale[r] * scale[c];
  }
  const auto det = [](const double q[3][3]) {
    return q[0][0] * (q[1][1] * q[2][2] - q[1][2] * q[2][1]) -
           q[0][1] * (q[1][0] * q[2][2] - q[1][2] * q[2][0]) +
           q[0][2] * (q[1][0] * q[2][1] - q[1][1] * q[2][0]);
  };
  const double d = det(m);
  if (!(std::fabs(d) > 1e-9)) return false;
  for (int k = 0; k < 3; ++k) {
    double q[3][3];
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c < 3; ++c) q[r][c] = c == k ? v[r] : m[r][c];
    }
    x[k] = det(q) / d * scale[k];
  }
  return true;
}

/// Least-squares plane through the vertical disparities of the chosen matches.
bool fitPlane(const std::vector<PointMatch>& matches, const std::vector<int>& chosen,
              VerticalModel& model) {
  double a[3][3] = {};
  double b[3] = {};
  for (int i : chosen) {
    const PointMatch& m = matches[static_cast<std::size_t>(i)];
    const double row[3] = {1.0, m.left.x - model.centreX, m.left.y - model.centreY};
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c < 3; ++c) a[r][c] += row[r] * row[c];
      b[r] += row[r] * verticalOf(m);
    }
  }
  double x[3];
  if (!solve3(a, b, x)) return false;
  model.offset = x[0];
  model.perX = x[1];
  model.perY = x[2];
  return true;
}

bool plausibleSlope(const VerticalModel& model) {
  return std::fabs(model.perX) <= kMaxSlope && std::fabs(model.perY) <= kMaxSlope;
}

std::vector<int> inliersOf(const std::vector<PointMatch>& matches, const std::vector<int>& pool,
                           const VerticalModel& model, double tolerance) {
  std::vector<int> inliers;
  for (int i : pool) {
    const PointMatch& m = matches[static_cast<std::size_t>(i)];
    if (std::fabs(verticalOf(m) - model.at(m.left.x, m.left.y)) <= tolerance) {
      inliers.push_back(i);
    }
  }
  return inliers;
}

std::size_t countInliers(const std::vector<PointMatch>& matches, const std::vector<int>& pool,
                         const VerticalModel& model, double tolerance) {
  std::size_t count = 0;
  for (int i : pool) {
    const PointMatch& m = matches[static_cast<std::size_t>(i)];
    if (std::fabs(verticalOf(m) - model.at(m.left.x, m.left.y)) <= tolerance) ++count;
  }
  return count;
}

double median(std::vector<double> values) {
  const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
  std::nth_element(values.begin(), middle, values.end());
  return *middle;
}

}  // namespace

ModelFit fitVerticalModel(const std::vector<PointMatch>& matches, int width, int height,
                          double tolerance) {
  ModelFit fit;
  fit.model.centreX = 0.5 * width;
  fit.model.centreY = 0.5 * height;
  std::vector<int> pool(matches.size());
  for (std::size_t i = 0; i < pool.size(); ++i) pool[i] = static_cast<int>(i);
  if (pool.size() < 3) return fit;

  // Our own generator rather than a library's: its sequence is fixed by its definition, so the
  // answer does not change with the library version or the thread count.
  std::uint64_t state = kSeed;
  const auto pick = [&state, &pool]() {
    state = state * 6364136223846793005u + 1442695040888963407u;
    return pool[static_cast<std::size_t>((state >> 33) % pool.size())];
  };
  VerticalModel best = fit.model;
  std::size_t bestCount = 0;
  const auto consider = [&](const VerticalModel& candidate) {
    if (!plausibleSlope(candidate)) return;
    const std::size_t count = countInliers(matches, pool, candidate, tolerance);
    if (count > bestCount) {
      bestCount = count;
      best = candidate;
    }
  };
  for (int iteration = 0; iteration < kIterations; ++iteration) {
    const std::vector<int> sample = {pick(), pick(), pick()};
    if (sample[0] == sample[1] || sample[0] == sample[2] || sample[1] == sample[2]) continue;
    // A level plane from one match, and a tilted one from three: pairs taken with a sideways
    // step are mostly level, and one match is far more often a good one than three.
    VerticalModel level = fit.model;
    level.offset = verticalOf(matches[static_cast<std::size_t>(sample[0])]);
    consider(level);
    VerticalModel tilted = fit.model;
    if (fitPlane(matches, sample, tilted)) consider(tilted);
  }
  if (bestCount < kMinimumSupport) return fit;

  // Polish: refit to everything the best hypothesis explains, and take the new inliers; twice,
  // as the refit can win a few more.
  std::vector<int> inliers = inliersOf(matches, pool, best, tolerance);
  for (int round = 0; round < 2; ++round) {
    VerticalModel refitted = best;
    if (!fitPlane(matches, inliers, refitted) || !plausibleSlope(refitted)) break;
    std::vector<int> more = inliersOf(matches, pool, refitted, tolerance);
    if (more.size() < inliers.size()) break;
    best = refitted;
    inliers = std::move(more);
  }
  fit.model = best;
  fit.inliers = std::move(inliers);
  return fit;
}

VerticalModel refitVerticalModel(const std::vector<PointMatch>& matches,
                                 const VerticalModel& start) {
  std::vector<int> all(matches.size());
  for (std::size_t i = 0; i < all.size(); ++i) all[i] = static_cast<int>(i);
  VerticalModel model = start;
  if (matches.size() < 3 || !fitPlane(matches, all, model)) return start;
  return model;
}

std::vector<int> withinBand(const std::vector<PointMatch>& matches, const VerticalModel& model,
                            double band) {
  std::vector<int> all(matches.size());
  for (std::size_t i = 0; i < all.size(); ++i) all[i] = static_cast<int>(i);
  return inliersOf(matches, all, model, band);
}

std::vector<int> keepLocallyConsistent(const std::vector<PointMatch>& matches,
                                       double horizontalTolerance, double verticalTolerance) {
  const std::size_t n = matches.size();
  std::vector<int> kept;
  if (n <= kNeighbours / 2) {
    for (std::size_t i = 0; i < n; ++i) kept.push_back(static_cast<int>(i));
    return kept;
  }
  const std::size_t k = std::min<std::size_t>(kNeighbours, n - 1);
  std::vector<std::pair<double, std::size_t>> others(n - 1);  // squared distance, index
  std::vector<double> horizontal(k);
  std::vector<double> vertical(k);
  // Median of the neighbours' values and how far the given value lies from it, less the
  // neighbours' own disagreement (at an object's edge they straddle two depths).
  const auto excess = [](std::vector<double>& near, double value) {
    const double centre = median(near);
    std::vector<double> deviations(near.size());
    for (std::size_t j = 0; j < near.size(); ++j) deviations[j] = std::fabs(near[j] - centre);
    return std::fabs(value - centre) - median(std::move(deviations));
  };
  for (std::size_t i = 0; i < n; ++i) {
    const PointMatch& m = matches[i];
    std::size_t o = 0;
    for (std::size_t j = 0; j < n; ++j) {
      if (j == i) continue;
      const double dx = double(matches[j].left.x) - m.left.x;
      const double dy = double(matches[j].left.y) - m.left.y;
      others[o++] = {dx * dx + dy * dy, j};
    }
    std::partial_sort(others.begin(), others.begin() + static_cast<std::ptrdiff_t>(k),
                      others.end());
    for (std::size_t j = 0; j < k; ++j) {
      horizontal[j] = horizontalOf(matches[others[j].second]);
      vertical[j] = verticalOf(matches[others[j].second]);
    }
    if (excess(horizontal, horizontalOf(m)) <= horizontalTolerance &&
        excess(vertical, verticalOf(m)) <= verticalTolerance) {
      kept.push_back(static_cast<int>(i));
    }
  }
  return kept;
}

}  // namespace duo::align
