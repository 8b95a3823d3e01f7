#include "transform/draw_into_rect.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace duo {

namespace {

/// The canvas pixels [begin, end) of one axis that a span [start, start + extent) touches,
/// clipped to [0, size). Empty (begin == end) for a span that is empty, non-finite or off the
/// canvas. Doubles are clamped before the conversion so that absurd values cannot overflow.
struct PixelRange {
  int begin = 0;
  int end = 0;
};

PixelRange touchedPixels(double start, double extent, int size) {
  if (!std::isfinite(start) || !std::isfinite(extent) || extent <= 0) return {};
  const double lo = std::clamp(std::floor(start), 0.0, double(size));
  const double hi = std::clamp(std::ceil(start + extent), 0.0, double(size));
  return {static_cast<int>(lo), std::max(static_cast<int>(lo), static_cast<int>(hi))};
}

/// Separable filter of one axis: canvas pixel `range.begin + k` takes source pixels
/// first[k] … first[k] + taps[k] − 1 with the given weights (summing to 1), and is covered by
/// the rectangle for the fraction cover[k] of its width.
struct AxisFilter {
  PixelRange range;
  std::vector<int> first;
  std::vector<int> taps;
  std::vector<std::size_t> offset;
  std::vector<float> weights;
  std::vector<float> cover;
};

AxisFilter axisFilter(double start, double extent, int canvasSize, int sourceSize) {
  AxisFilter f;
  const double ratio = double(sourceSize) / extent;  // source pixels per canvas pixel
  // A subnormal extent overflows the ratio; such a rectangle shows nothing anyway.
  if (!std::isfinite(ratio)) return f;
  f.range = touchedPixels(start, extent, canvasSize);
  const int n = f.range.end - f.range.begin;
  f.first.resize(n);
  f.taps.resize(n);
  f.offset.resize(n);
  f.cover.resize(n);
  const double last = double(sourceSize - 1);
  for (int k = 0; k < n; ++k) {
    const int i = f.range.begin + k;
    // The part of canvas pixel i inside the rectangle.
    const double a = std::max(double(i), start);
    const double b = std::min(double(i + 1), start + extent);
    f.cover[k] = static_cast<float>(std::clamp(b - a, 0.0, 1.0));
    f.offset[k] = f.weights.size();

    if (ratio < 1.0) {
      // Enlarging: a box would repeat source pixels as visible blocks, so interpolate linearly
      // at the centre of the covered part, holding the outermost pixels at the borders.
      const double u = std::clamp(((a + b) * 0.5 - start) * ratio - 0.5, 0.0, last);
      const int j = std::min(static_cast<int>(u), sourceSize - 1);
      const double frac = u - j;
      f.first[k] = j;
      if (j + 1 < sourceSize && frac > 0) {
        f.taps[k] = 2;
        f.weights.push_back(static_cast<float>(1.0 - frac));
        f.weights.push_back(static_cast<float>(frac));
      } else {
        f.taps[k] = 1;
        f.weights.push_back(1.0f);
      }
      continue;
    }

    // Reducing (or 1:1): average the exact source interval the covered part maps onto.
    const double lo = std::clamp((a - start) * ratio, 0.0, double(sourceSize));
    const double hi = std::clamp((b - start) * ratio, lo, double(sourceSize));
    const int j0 = std::clamp(static_cast<int>(std::floor(lo)), 0, sourceSize - 1);
    const int j1 = std::clamp(static_cast<int>(std::ceil(hi)) - 1, j0, sourceSize - 1);
    double total = 0;
    for (int j = j0; j <= j1; ++j) {
      total += std::max(std::min(hi, double(j + 1)) - std::max(lo, double(j)), 0.0);
    }
    f.first[k] = j0;
    if (total <= 0) {
      // A sliver too thin to map onto any source area: take the pixel it lies on.
      f.taps[k] = 1;
      f.weights.push_back(1.0f);
      continue;
    }
    f.taps[k] = j1 - j0 + 1;
    for (int j = j0; j <= j1; ++j) {
      const double part = std::max(std::min(hi, double(j + 1)) - std::max(lo, double(j)), 0.0);
      f.weights.push_back(static_cast<float>(part / total));
    }
  }
  return f;
}

/// Horizontally filtered source rows (3 floats per canvas pixel). Canvas rows are produced top
/// to bottom and each row is added in as soon as it is fetched, so only reuse between
/// neighbouring canvas rows matters: they share at most their boundary row when reducing and
/// at most two rows when enlarging, and the last two rows are kept.
class FilteredRows {
 public:
  FilteredRows(const Image& source, const AxisFilter& h)
      : m_source(source),
        m_h(h),
        m_width(h.range.end - h.range.begin),
        m_rows(std::size_t(kKept) * m_width * 3) {}

  const float* row(int j) {
    const int slot = j % kKept;
    float* out = m_rows.data() + std::size_t(slot) * m_width * 3;
    if (m_tags[slot] == j) return out;
    const std::uint8_t* src = m_source.row(j);
    for (int k = 0; k < m_width; ++k) {
      const std::uint8_t* p = src + std::size_t(m_h.first[k]) * Image::kBytesPerPixel;
      const float* w = m_h.weights.data() + m_h.offset[k];
      float r = 0, g = 0, b = 0;
      for (int n = 0; n < m_h.taps[k]; ++n, p += Image::kBytesPerPixel) {
        r += w[n] * p[0];
        g += w[n] * p[1];
        b += w[n] * p[2];
      }
      out[k * 3] = r;
      out[k * 3 + 1] = g;
      out[k * 3 + 2] = b;
    }
    m_tags[slot] = j;
    return out;
  }

 private:
  const Image& m_source;
  const AxisFilter& m_h;
  int m_width;
  static constexpr int kKept = 2;
  std::vector<float> m_rows;
  int m_tags[kKept] = {-1, -1};
};

std::uint8_t blend(float value, float alpha, std::uint8_t under) {
  const float v = value * alpha + float(under) * (1.0f - alpha) + 0.5f;
  return static_cast<std::uint8_t>(std::clamp(v, 0.0f, 255.0f));
}

}  // namespace

void drawImageIntoRect(Image& canvas, const Image& source, double x, double y, double width,
                       double height) {
  if (canvas.isNull() || source.isNull()) return;
  const AxisFilter h = axisFilter(x, width, canvas.width(), source.width());
  const AxisFilter v = axisFilter(y, height, canvas.height(), source.height());
  const int columns = h.range.end - h.range.begin;
  if (columns == 0 || v.range.end == v.range.begin) return;

  FilteredRows rows(source, h);
  std::vector<float> accum(std::size_t(columns) * 3);
  for (int k = 0; k < v.range.end - v.range.begin; ++k) {
    std::fill(accum.begin(), accum.end(), 0.0f);
    const float* wy = v.weights.data() + v.offset[k];
    for (int n = 0; n < v.taps[k]; ++n) {
      const float* src = rows.row(v.first[k] + n);
      const float weight = wy[n];
      for (std::size_t i = 0; i < accum.size(); ++i) accum[i] += weight * src[i];
    }
    std::uint8_t* out = canvas.pixel(h.range.begin, v.range.begin + k);
    for (int i = 0; i < columns; ++i, out += Image::kBytesPerPixel) {
      const float alpha = h.cover[i] * v.cover[k];
      if (alpha <= 0) continue;
      for (int c = 0; c < 3; ++c) out[c] = blend(accum[std::size_t(i) * 3 + c], alpha, out[c]);
    }
  }
}

void fillEllipseInRect(Image& canvas, double x, double y, double width, double height,
                       std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  if (canvas.isNull()) return;
  const PixelRange cols = touchedPixels(x, width, canvas.width());
  const PixelRange rows = touchedPixels(y, height, canvas.height());
  if (cols.begin == cols.end || rows.begin == rows.end) return;

  // Each pixel row is cut into kSubRows horizontal strips; in each strip the ellipse is the
  // exact interval between its two edges, so coverage is exact across and sampled 16 times
  // down, which keeps the outline smooth at any slope.
  constexpr int kSubRows = 16;
  const double cx = x + width * 0.5;
  const double cy = y + height * 0.5;
  const double rx = width * 0.5;
  const double ry = height * 0.5;
  const float colour[3] = {float(red), float(green), float(blue)};
  double left[kSubRows];
  double right[kSubRows];

  for (int j = rows.begin; j < rows.end; ++j) {
    int filled = 0;
    double minLeft = cx, maxLeft = cx, minRight = cx, maxRight = cx;
    for (int s = 0; s < kSubRows; ++s) {
      const double dy = (j + (s + 0.5) / kSubRows - cy) / ry;
      if (std::abs(dy) >= 1) {
        left[s] = right[s] = cx;  // empty strip
        continue;
      }
      const double half = rx * std::sqrt(1 - dy * dy);
      left[s] = cx - half;
      right[s] = cx + half;
      if (filled++ == 0) {
        minLeft = maxLeft = left[s];
        minRight = maxRight = right[s];
      } else {
        minLeft = std::min(minLeft, left[s]);
        maxLeft = std::max(maxLeft, left[s]);
        minRight = std::min(minRight, right[s]);
        maxRight = std::max(maxRight, right[s]);
      }
    }
    if (filled == 0) continue;

    const int i0 = std::max(cols.begin, static_cast<int>(std::floor(minLeft)));
    const int i1 = std::min(cols.end, static_cast<int>(std::ceil(maxRight)));
    std::uint8_t* out = canvas.pixel(0, j);
    for (int i = i0; i < i1; ++i) {
      float cover = 1.0f;
      if (filled < kSubRows || i < maxLeft || i + 1 > minRight) {
        double sum = 0;
        for (int s = 0; s < kSubRows; ++s) {
          sum += std::max(0.0, std::min(right[s], i + 1.0) - std::max(left[s], double(i)));
        }
        cover = static_cast<float>(sum / kSubRows);
        if (cover <= 0) continue;
      }
      std::uint8_t* p = out + std::size_t(i) * Image::kBytesPerPixel;
      for (int c = 0; c < 3; ++c) p[c] = blend(colour[c], cover, p[c]);
    }
  }
}

}  // namespace duo
