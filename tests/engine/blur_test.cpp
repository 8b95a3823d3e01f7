#include <gtest/gtest.h>

#include <array>

#include "test_support.h"
#include "transform/blur.h"

namespace duo {
namespace {

TEST(Blur, BoxSizeApproximatesTheGaussianAndIsOdd) {
  EXPECT_EQ(blurBoxSize(40.0), 75);  // radius 20 points on a 2× screen
  EXPECT_EQ(blurBoxSize(20.0), 39);  // 37.6 rounds to 38, made odd
  EXPECT_EQ(blurBoxSize(1.0), 3);    // 1.88 rounds to 2, made odd
}

TEST(Blur, RadiusZeroOnlyLaysTheTintOver) {
  const Image photo = test::makeSmoothImage(20, 10);
  const auto out = applyBlur(photo, 0, 2, TintColor{1, 1, 1, 0.5f}, 1.0f);
  ASSERT_TRUE(out);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 20; ++x)
      for (int c = 0; c < 3; ++c) {
        const int expected = static_cast<int>(photo.pixel(x, y)[c] * 0.5f + 127.5f + 0.5f);
        ASSERT_EQ(out->pixel(x, y)[c], expected) << x << "," << y;
      }
  const auto untouched = applyBlur(photo, 0, 2, std::nullopt, 1.0f);
  EXPECT_TRUE(untouched->samePixels(photo));
}

TEST(Blur, EdgesAreExtendedAndALinePointSpreadsSymmetrically) {
  // A uniform image stays uniform right up to its border: nothing dark bleeds in from outside.
  Image grey = *Image::create(31, 17);
  for (std::size_t i = 0; i < grey.byteCount(); ++i) grey.data()[i] = 200;
  EXPECT_TRUE(applyBlur(grey, 3, 1, std::nullopt, 1.0f)->samePixels(grey));

  // One bright column in the middle spreads evenly to both sides, and blurs to a hill.
  Image line = *Image::create(41, 5);
  for (int y = 0; y < 5; ++y) std::fill_n(line.pixel(20, y), 3, 255);
  const auto out = applyBlur(line, 2, 1, std::nullopt, 1.0f);  // box 5
  ASSERT_TRUE(out);
  for (int d = 1; d <= 8; ++d) {
    EXPECT_EQ(out->pixel(20 - d, 2)[0], out->pixel(20 + d, 2)[0]) << d;
    EXPECT_LE(out->pixel(20 + d, 2)[0], out->pixel(20 + d - 1, 2)[0]) << d;
  }
  EXPECT_GT(out->pixel(20, 2)[0], 0);
  EXPECT_LT(out->pixel(20, 2)[0], 255);
  EXPECT_EQ(out->pixel(0, 2)[0], 0);  // three passes of 5 reach 6 pixels, not 20
}

TEST(Blur, EachBoxAverageRoundsToTheNearestLevel) {
  // Box 3 over one row of two pixels, three passes. Red 0, 2: 0.67, 1.33 round to 1, 1 (and
  // stay); green 0, 255: 85, 170 → 113.3, 141.7 → 122.7, 132.3.
  Image tiny = *Image::create(2, 1);
  tiny.pixel(1, 0)[0] = 2;
  tiny.pixel(1, 0)[1] = 255;
  const auto out = applyBlur(tiny, 1, 1, std::nullopt, 1.0f);
  ASSERT_TRUE(out);
  EXPECT_EQ((std::array{out->pixel(0, 0)[0], out->pixel(1, 0)[0], out->pixel(0, 0)[1],
                        out->pixel(1, 0)[1]}),
            (std::array<std::uint8_t, 4>{1, 1, 123, 132}));
}

TEST(Blur, SaturationZeroGivesGreyAndTheMaskKeepsTheOriginal) {
  Image colour = *Image::create(4, 4);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) colour.pixel(x, y)[0] = 255;  // pure red
  const auto grey = applyBlur(colour, 0, 1, std::nullopt, 0.0f);
  ASSERT_TRUE(grey);
  EXPECT_EQ(grey->pixel(1, 1)[0], 54);  // 0.2126 × 255
  EXPECT_EQ(grey->pixel(1, 1)[1], 54);
  EXPECT_EQ(grey->pixel(1, 1)[2], 54);

  Image mask = *Image::create(4, 4);
  for (int x = 0; x < 4; ++x) mask.pixel(x, 0)[0] = 255;  // only the top row
  const auto masked = applyBlur(colour, 0, 1, std::nullopt, 0.0f, &mask);
  EXPECT_EQ(masked->pixel(2, 0)[0], 54);
  EXPECT_EQ(masked->pixel(2, 3)[0], 255);

  Image small = *Image::create(2, 2);
  EXPECT_FALSE(applyBlur(colour, 0, 1, std::nullopt, 1.0f, &small));
  EXPECT_FALSE(applyBlur(Image(), 20, 2, std::nullopt, 1.0f));
}

}  // namespace
}  // namespace duo
