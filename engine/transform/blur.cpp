#include "transform/blur.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <vector>

namespace duo {

namespace {

// One horizontal box pass over every row, edge pixels repeated beyond the border; a running sum
// keeps it O(1) per pixel whatever the box size.
void boxRows(const std::vector<std::uint8_t>& in, std::vector<std::uint8_t>& out, int width,
             int height, int stride, int step, int box) {
  const int half = box / 2;
  for (int line = 0; line < height; ++line) {
    const std::uint8_t* src = in.data() + std::size_t(line) * stride;
    std::uint8_t* dst = out.data() + std::size_t(line) * stride;
    const auto at = [&](int i, int c) {
      return int(src[std::size_t(std::clamp(i, 0, width - 1)) * step + c]);
    };
    for (int c = 0; c < 3; ++c) {
      int sum = 0;
      for (int i = -half; i <= half; ++i) sum += at(i, c);
      for (int x = 0; x < width; ++x) {
        dst[std::size_t(x) * step + c] = static_cast<std::uint8_t>((sum + box / 2) / box);
        sum += at(x + half + 1, c) - at(x - half, c);
      }
    }
  }
}

// The same pass down the columns, by transposing the roles of stride and step.
void boxColumns(const std::vector<std::uint8_t>& in, std::vector<std::uint8_t>& out, int width,
                int height, int stride, int box) {
  boxRows(in, out, height, width, 4, stride, box);
}

}  // namespace

int blurBoxSize(double radiusPixels) {
  int d = static_cast<int>(std::floor(radiusPixels * 3.0 * std::sqrt(2.0 * M_PI) / 4.0 + 0.5));
  if (d % 2 == 0) ++d;
  return d;
}

std::optional<Image> applyBlur(const Image& image, float radius, float scale,
                               std::optional<TintColor> tint, float saturation, const Image* mask) {
  if (image.isNull() || image.width() < 1 || image.height() < 1) return std::nullopt;
  if (mask &&
      (mask->isNull() || mask->width() != image.width() || mask->height() != image.height())) {
    return std::nullopt;
  }
  const int w = image.width();
  const int h = image.height();
  const int stride = w * 4;
  std::vector<std::uint8_t> a(image.data(), image.data() + image.byteCount());

  if (radius > FLT_EPSILON) {
    const int box = blurBoxSize(double(radius) * scale);
    std::vector<std::uint8_t> b(a.size());
    // Three box passes, each horizontal then vertical: input → output → input → output.
    for (int pass = 0; pass < 3; ++pass) {
      boxRows(a, b, w, h, stride, 4, box);
      boxColumns(b, a, w, h, stride, box);
    }
  }

  if (std::fabs(saturation - 1.0f) > FLT_EPSILON) {
    // Luma-preserving saturation with the Rec. 709 weights.
    for (std::size_t i = 0; i < a.size(); i += 4) {
      const float luma = 0.2126f * a[i] + 0.7152f * a[i + 1] + 0.0722f * a[i + 2];
      for (int c = 0; c < 3; ++c) {
        const float v = luma * (1.0f - saturation) + a[i + c] * saturation;
        a[i + c] = static_cast<std::uint8_t>(std::clamp(v + 0.5f, 0.0f, 255.0f));
      }
    }
  }

  auto out = Image::createUninitialized(w, h);
  if (!out) return std::nullopt;
  for (int y = 0; y < h; ++y) {
    const std::uint8_t* original = image.row(y);
    const std::uint8_t* blurred = a.data() + std::size_t(y) * stride;
    const std::uint8_t* coverage = mask ? mask->row(y) : nullptr;
    std::uint8_t* dst = out->row(y);
    for (int x = 0; x < w; ++x) {
      const float m = coverage ? coverage[x * 4] / 255.0f : 1.0f;
      const float channels[3] = {tint ? tint->red : 0, tint ? tint->green : 0,
                                 tint ? tint->blue : 0};
      const float ta = tint ? std::clamp(tint->alpha, 0.0f, 1.0f) : 0.0f;
      for (int c = 0; c < 3; ++c) {
        const float base = original[x * 4 + c] * (1 - m) + blurred[x * 4 + c] * m;
        const float v = base * (1 - ta) + channels[c] * 255.0f * ta;
        dst[x * 4 + c] = static_cast<std::uint8_t>(std::clamp(v + 0.5f, 0.0f, 255.0f));
      }
      dst[x * 4 + 3] = 255;
    }
  }
  return out;
}

}  // namespace duo
