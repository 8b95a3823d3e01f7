#include "render/vignette.h"

#include <gtest/gtest.h>

#include <cmath>

namespace duo {
namespace {

TEST(Vignette, TypesSetPresetsOnlyWhenTheTypeChanges) {
  Vignette v;
  v.setType(0);  // what a new view asks for: its current type, so it stays invisible
  EXPECT_EQ(v.outerOpacity(), 0.0f);
  for (float a : v.alphaMap(32, 48)) ASSERT_EQ(a, 0.0f);

  v.setType(1);
  EXPECT_EQ(v.innerOpacity(), 0.0f);
  EXPECT_EQ(v.outerOpacity(), 0.75f);
  v.setInnerOpacity(0.3f);
  v.setType(1);
  EXPECT_EQ(v.innerOpacity(), 0.3f);
  v.setType(5);  // unknown: stored, opacities untouched
  EXPECT_EQ(v.type(), 5);
  EXPECT_EQ(v.innerOpacity(), 0.3f);
  EXPECT_EQ(v.outerOpacity(), 0.75f);
  v.setType(2);
  EXPECT_EQ(v.innerOpacity(), 0.65f);
  EXPECT_EQ(v.outerOpacity(), 1.0f);
  v.setType(0);
  EXPECT_EQ(v.innerOpacity(), 0.0f);
  EXPECT_EQ(v.outerOpacity(), 1.0f);
}

// Alpha at fraction t of the way from the inner to the outer curve, in direction `angle`.
float alongRamp(const Vignette& v, double w, double h, double t, double angle) {
  const double big = std::max(w, h), inner = std::min(w, h) * 0.25, outer = big * 0.5;
  const double r = inner + t * (outer - inner);
  return v.alphaAt(w / 2 + r * (w / big) * std::cos(angle), h / 2 + r * (h / big) * std::sin(angle),
                   w, h);
}

TEST(Vignette, RampsLinearlyBetweenTwoEllipsesOfTheViewsShape) {
  Vignette v;
  v.setType(1);
  // 320 × 480: clear inside the 53.3 × 80 ellipse, 75 % on and outside the 160 × 240 one.
  for (double angle : {0.0, 0.7, 1.5707963, 2.5, 4.0}) {
    EXPECT_EQ(alongRamp(v, 320, 480, -0.5, angle), 0.0f);
    EXPECT_NEAR(alongRamp(v, 320, 480, 0.0, angle), 0.0, 1e-6);
    EXPECT_NEAR(alongRamp(v, 320, 480, 0.25, angle), 0.1875, 1e-6);
    EXPECT_NEAR(alongRamp(v, 320, 480, 1.0, angle), 0.75, 1e-6);
    EXPECT_EQ(alongRamp(v, 320, 480, 1.2, angle), 0.75f);
  }
  EXPECT_EQ(v.alphaAt(160 + 53, 240, 320, 480), 0.0f);
  EXPECT_GT(v.alphaAt(160 + 54, 240, 320, 480), 0.0f);
  EXPECT_EQ(v.alphaAt(0, 240, 320, 480), 0.75f);  // touches the middle of each side
  EXPECT_EQ(v.alphaAt(160, 0, 320, 480), 0.75f);
  EXPECT_EQ(v.alphaAt(10, 10, 0, 480), 0.0f);

  // Square: circles of a quarter and a half of the side.
  v.setType(2);
  EXPECT_NEAR(v.alphaAt(100 + 49.9, 100, 200, 200), 0.65, 1e-6);
  EXPECT_NEAR(v.alphaAt(100, 100 - 75, 200, 200), 0.825, 1e-6);
  EXPECT_NEAR(v.alphaAt(100 + 71, 100 + 71, 200, 200), 1.0, 1e-6);
}

TEST(Vignette, MapAndPaintSampleEveryPixelCentre) {
  Vignette v;
  v.setType(1);
  const int w = 37, h = 23;
  const std::vector<float> map = v.alphaMap(w, h);
  ASSERT_EQ(map.size(), std::size_t(w * h));
  Image canvas = *Image::create(w, h);
  std::fill_n(canvas.data(), canvas.byteCount(), 200);
  v.paint(canvas);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const float alpha = v.alphaAt(x + 0.5, y + 0.5, w, h);
      ASSERT_EQ(map[std::size_t(y) * w + x], alpha);
      ASSERT_NEAR(canvas.pixel(x, y)[1], 200 * (1 - alpha), 0.5);
    }
  }
  EXPECT_EQ(canvas.pixel(18, 11)[0], 200);
  EXPECT_EQ(canvas.pixel(0, 0)[0], 50);
}

}  // namespace
}  // namespace duo
