#include "transform/resample.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace duo {

namespace {

// Rows are resampled into a band, then the band is scattered to the canvas in square tiles, so
// a quarter turn writes whole cache lines instead of one pixel per line.
constexpr int kBandRows = 32;
constexpr int kTileSide = 32;

/// Where stored pixel (x, y) of the scaled, unturned grid (tw × th) lands on the canvas:
/// canvas index = start + x·stepX + y·stepY, in pixels.
struct Placement {
  std::ptrdiff_t start;
  std::ptrdiff_t stepX;
  std::ptrdiff_t stepY;
};

Placement placementFor(Orientation o, int tw, int th, int canvasWidth) {
  const std::ptrdiff_t cw = canvasWidth;
  switch (o) {
    case Orientation::Up:
      return {0, 1, cw};  // (x, y)
    case Orientation::Down:
      return {(th - 1) * cw + (tw - 1), -1, -cw};  // (tw-1-x, th-1-y)
    case Orientation::Left:
      return {(tw - 1) * cw, -cw, 1};  // (y, tw-1-x)
    case Orientation::Right:
      return {th - 1, cw, -1};  // (th-1-y, x)
    case Orientation::UpMirrored:
      return {tw - 1, -1, cw};  // (tw-1-x, y)
    case Orientation::DownMirrored:
      return {(th - 1) * cw, 1, -cw};  // (x, th-1-y)
    case Orientation::LeftMirrored:
      return {0, cw, 1};  // (y, x)
    case Orientation::RightMirrored:
      return {(tw - 1) * cw + (th - 1), -cw, -1};  // (th-1-y, tw-1-x)
  }
  return {0, 1, cw};
}

/// Box-filter weights of one axis: output pixel k covers source [k·r, (k+1)·r), r = in / out.
struct AxisWeights {
  std::vector<int> first;           // first source index of each output pixel
  std::vector<int> count;           // number of source pixels it touches
  std::vector<std::size_t> offset;  // into weights
  std::vector<float> weights;       // normalised to sum 1 per output pixel
};

AxisWeights axisWeights(int in, int out) {
  AxisWeights w;
  w.first.resize(out);
  w.count.resize(out);
  w.offset.resize(out);
  const double ratio = double(in) / double(out);
  for (int k = 0; k < out; ++k) {
    const double lo = k * ratio;
    const double hi = std::min(double(in), (k + 1) * ratio);
    int i0 = std::clamp(static_cast<int>(std::floor(lo)), 0, in - 1);
    int i1 = std::clamp(static_cast<int>(std::ceil(hi)) - 1, i0, in - 1);
    w.first[k] = i0;
    w.count[k] = i1 - i0 + 1;
    w.offset[k] = w.weights.size();
    double total = 0;
    for (int i = i0; i <= i1; ++i) {
      const double cover = std::min(hi, double(i + 1)) - std::max(lo, double(i));
      total += std::max(cover, 0.0);
    }
    for (int i = i0; i <= i1; ++i) {
      const double cover = std::min(hi, double(i + 1)) - std::max(lo, double(i));
      w.weights.push_back(static_cast<float>(total > 0 ? std::max(cover, 0.0) / total : 1.0));
    }
  }
  return w;
}

/// Produces the scaled, unturned rows one band at a time.
class RowResampler {
 public:
  RowResampler(const Image& source, int tw, int th)
      : m_source(source),
        m_tw(tw),
        m_th(th),
        m_identity(tw == source.width() && th == source.height()) {
    if (!m_identity) {
      m_h = axisWeights(source.width(), tw);
      m_v = axisWeights(source.height(), th);
      m_sourceRowCache.resize(std::size_t(tw) * 3);
      m_accum.resize(std::size_t(tw) * 3);
      m_band.resize(std::size_t(kBandRows) * tw * 4);
    }
  }

  /// Pointer to the RGBX row y of the scaled grid; valid until the next call.
  const std::uint8_t* row(int y) {
    if (m_identity) return m_source.row(y);
    std::uint8_t* out = m_band.data() + std::size_t(y % kBandRows) * m_tw * 4;
    std::fill(m_accum.begin(), m_accum.end(), 0.0f);
    const int j0 = m_v.first[y];
    const float* wy = m_v.weights.data() + m_v.offset[y];
    for (int n = 0; n < m_v.count[y]; ++n) {
      const float* h = horizontalRow(j0 + n);
      const float weight = wy[n];
      for (std::size_t i = 0; i < m_accum.size(); ++i) m_accum[i] += weight * h[i];
    }
    for (int x = 0; x < m_tw; ++x) {
      for (int c = 0; c < 3; ++c) {
        const float v = m_accum[std::size_t(x) * 3 + c] + 0.5f;
        out[x * 4 + c] = static_cast<std::uint8_t>(std::clamp(v, 0.0f, 255.0f));
      }
      out[x * 4 + 3] = 255;
    }
    return out;
  }

 private:
  // Horizontally reduced source row j as 3 floats per pixel. Neighbouring output rows share
  // their boundary source row, so the last one is kept.
  const float* horizontalRow(int j) {
    if (j == m_cachedRow) return m_sourceRowCache.data();
    const std::uint8_t* src = m_source.row(j);
    float* dst = m_sourceRowCache.data();
    for (int x = 0; x < m_tw; ++x) {
      const int i0 = m_h.first[x];
      const float* wx = m_h.weights.data() + m_h.offset[x];
      float r = 0, g = 0, b = 0;
      for (int n = 0; n < m_h.count[x]; ++n) {
        const std::uint8_t* p = src + std::size_t(i0 + n) * 4;
        r += wx[n] * p[0];
        g += wx[n] * p[1];
        b += wx[n] * p[2];
      }
      dst[x * 3] = r;
      dst[x * 3 + 1] = g;
      dst[x * 3 + 2] = b;
    }
    m_cachedRow = j;
    return dst;
  }

  const Image& m_source;
  int m_tw;
  int m_th;
  bool m_identity;
  AxisWeights m_h;
  AxisWeights m_v;
  std::vector<float> m_sourceRowCache;
  std::vector<float> m_accum;
  std::vector<std::uint8_t> m_band;
  int m_cachedRow = -1;
};

}  // namespace

std::optional<Image> drawOriented(const Image& source, Orientation orientation, int canvasWidth,
                                  int canvasHeight) {
  if (source.isNull()) return std::nullopt;
  auto canvas = Image::createUninitialized(canvasWidth, canvasHeight);
  if (!canvas) return std::nullopt;

  const bool quarter = swapsSides(orientation);
  const int tw = quarter ? canvasHeight : canvasWidth;
  const int th = quarter ? canvasWidth : canvasHeight;
  const Placement place = placementFor(orientation, tw, th, canvasWidth);
  auto* dst = reinterpret_cast<std::uint32_t*>(canvas->data());

  RowResampler rows(source, tw, th);
  std::vector<const std::uint32_t*> band(kBandRows);
  for (int y0 = 0; y0 < th; y0 += kBandRows) {
    const int rowsInBand = std::min(kBandRows, th - y0);
    for (int r = 0; r < rowsInBand; ++r) {
      band[r] = reinterpret_cast<const std::uint32_t*>(rows.row(y0 + r));
    }
    if (place.stepX == 1) {
      for (int r = 0; r < rowsInBand; ++r) {
        std::memcpy(dst + place.start + (y0 + r) * place.stepY, band[r], std::size_t(tw) * 4);
      }
      continue;
    }
    for (int x0 = 0; x0 < tw; x0 += kTileSide) {
      const int x1 = std::min(tw, x0 + kTileSide);
      for (int r = 0; r < rowsInBand; ++r) {
        std::uint32_t* out = dst + place.start + (y0 + r) * place.stepY + x0 * place.stepX;
        const std::uint32_t* in = band[r];
        for (int x = x0; x < x1; ++x, out += place.stepX) *out = in[x];
      }
    }
  }
  canvas->setOrientationTag(0);
  return canvas;
}

}  // namespace duo
