#include "render/vignette.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace duo {

void Vignette::setType(int type) {
  if (type == m_type) return;
  m_type = type;
  switch (type) {
    case 0:
      m_innerOpacity = 0.0f;
      m_outerOpacity = 1.0f;
      break;
    case 1:
      m_innerOpacity = 0.0f;
      m_outerOpacity = 0.75f;
      break;
    case 2:
      m_innerOpacity = 0.65f;
      m_outerOpacity = 1.0f;
      break;
    default:
      break;
  }
}

float Vignette::alphaAt(double px, double py, double w, double h) const {
  if (!(w > 0 && h > 0)) return 0;
  const double big = std::max(w, h);
  const double small = std::min(w, h);
  // The gradient is concentric circles in a space scaled about the centre by (w, h) / big;
  // undo that scaling to find the point's radius in circle space.
  const double dx = (px - w * 0.5) * (big / w);
  const double dy = (py - h * 0.5) * (big / h);
  const double radius = std::sqrt(dx * dx + dy * dy);
  const double start = small * 0.25;
  const double end = big * 0.5;
  if (radius <= start) return m_innerOpacity;
  if (radius >= end) return m_outerOpacity;
  const double t = (radius - start) / (end - start);
  return static_cast<float>(m_innerOpacity + t * (double(m_outerOpacity) - m_innerOpacity));
}

std::vector<float> Vignette::alphaMap(int w, int h) const {
  if (w <= 0 || h <= 0) return {};
  std::vector<float> map(std::size_t(w) * std::size_t(h));
  for (int y = 0; y < h; ++y) {
    float* row = map.data() + std::size_t(y) * w;
    for (int x = 0; x < w; ++x) row[x] = alphaAt(x + 0.5, y + 0.5, w, h);
  }
  return map;
}

void Vignette::paint(Image& canvas) const {
  if (canvas.isNull()) return;
  const int w = canvas.width();
  const int h = canvas.height();
  for (int y = 0; y < h; ++y) {
    std::uint8_t* p = canvas.row(y);
    for (int x = 0; x < w; ++x, p += Image::kBytesPerPixel) {
      const float keep = 1.0f - std::clamp(alphaAt(x + 0.5, y + 0.5, w, h), 0.0f, 1.0f);
      for (int c = 0; c < 3; ++c) {
        p[c] = static_cast<std::uint8_t>(std::min(float(p[c]) * keep + 0.5f, 255.0f));
      }
    }
  }
}

}  // namespace duo
