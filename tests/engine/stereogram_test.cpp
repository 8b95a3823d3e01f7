#include "render/stereogram.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

#include "test_support.h"
#include "transform/draw_into_rect.h"
#include "transform/image_tools.h"

namespace duo {
namespace {

using Rgb = std::array<int, 3>;
constexpr Rgb kBlack{0, 0, 0}, kWhite{255, 255, 255}, kRed{200, 0, 0}, kBlue{0, 0, 200};

Rgb at(const Image& image, int x, int y) {
  const std::uint8_t* p = image.pixel(x, y);
  return {p[0], p[1], p[2]};
}

Image uniform(int w, int h, Rgb c) {
  Image image = *Image::create(w, h);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) std::copy(c.begin(), c.end(), image.pixel(x, y));
  }
  return image;
}

RenderSettings settings(bool dots, int border) {
  RenderSettings s;
  s.stereogramDots = dots;
  s.stereoBorderSize = border;
  return s;
}

TEST(StereogramLayout, BorderFollowsTheFullWidthAndOnlyTheCardSizeTruncates) {
  const StereogramLayout a = stereogramLayout(1600, 1600, 1200, false, 10);
  EXPECT_EQ(a.border, 41);  // trunc(41.67)
  EXPECT_EQ(a.cardWidth, 2523);
  EXPECT_EQ(a.cardHeight, 982);
  EXPECT_EQ(a.leftHalf, (CardRect{41, 41, 1200, 900}));
  EXPECT_EQ(a.rightHalf, (CardRect{1282, 41, 1200, 900}));
  const StereogramLayout thin = stereogramLayout(1600, 1600, 1200, false, 1);
  EXPECT_EQ(thin.border, 4);
  EXPECT_EQ(thin.cardWidth, 2412);
  EXPECT_EQ(thin.cardHeight, 908);
  EXPECT_EQ(stereogramLayout(1632, 1600, 1200, false, 10).border, 42);  // trunc(42.5)

  // Halves of a crop that is not a multiple of 4 keep their fractions.
  const StereogramLayout odd = stereogramLayout(1600, 1580, 1190, true, 10);
  EXPECT_EQ(odd.halfWidth, 1185);
  EXPECT_EQ(odd.halfHeight, 892.5);
  EXPECT_EQ(odd.dotDiameter, 39.5f);
  EXPECT_EQ(odd.cardHeight, 1132);  // trunc(82 + 892.5 + 158)
  EXPECT_EQ(odd.leftDot, (CardRect{613.75f, 1033.75f, 39.5f, 39.5f}));
  EXPECT_EQ(odd.rightDot.x, 1839.75f);

  // No border: the halves touch each other and the edges. A negative one counts as none
  // instead of making the card narrower than its halves.
  for (int border : {0, -5}) {
    const StereogramLayout none = stereogramLayout(1600, 1600, 1200, false, border);
    EXPECT_EQ(none.border, 0);
    EXPECT_EQ(none.cardWidth, 2400);
    EXPECT_EQ(none.rightHalf, (CardRect{1200, 0, 1200, 900}));
  }
}

TEST(StereogramLayout, DotsSitCentredOverTheHalvesInTheTopBand) {
  const StereogramLayout a = stereogramLayout(1600, 1600, 1200, true, 10);
  EXPECT_EQ(a.dotDiameter, 40);
  EXPECT_EQ(a.dotBand, 160);
  EXPECT_EQ(a.cardHeight, 1142);
  EXPECT_EQ(a.leftDot, (CardRect{621, 1042, 40, 40}));
  EXPECT_EQ(a.rightDot, (CardRect{1862, 1042, 40, 40}));
  EXPECT_EQ(a.topOf(a.leftDot), 60);  // rows 60–99 from the top
  const StereogramLayout shifted = stereogramLayout(1632, 1600, 1200, true, 10);
  EXPECT_EQ(shifted.cardWidth, 2526);
  EXPECT_EQ(shifted.cardHeight, 1144);
  EXPECT_EQ(shifted.leftDot, (CardRect{622, 1044, 40, 40}));
  EXPECT_EQ(shifted.rightDot.x, 1864);
}

TEST(StereogramCard, HalvesDotsAndBlackMarginsLandOnTheirPixels) {
  // 160 × 80, border setting 12: b = 5, halves 120 × 60 at x 5 and 130 (rows 21–80 from the
  // top), 4-pixel dots in (63, 6) and (188, 6), card 255 × 86.
  const auto card = renderStereogramCard(uniform(160, 80, kRed), uniform(160, 80, kBlue), {},
                                         alignmentBoundsFor(160, 80, {}), settings(true, 12));
  ASSERT_TRUE(card);
  ASSERT_EQ(card->width(), 255);
  ASSERT_EQ(card->height(), 86);
  for (int y = 0; y < 86; ++y) {
    for (int x = 0; x < 255; ++x) {
      if (y >= 6 && y < 10 && ((x >= 63 && x < 67) || (x >= 188 && x < 192))) continue;
      const bool row = y >= 21 && y < 81;
      const Rgb expected = row && x >= 5 && x < 125     ? kRed
                           : row && x >= 130 && x < 250 ? kBlue
                                                        : kBlack;
      ASSERT_EQ(at(*card, x, y), expected) << x << "," << y;
    }
  }
  for (int x : {64, 65, 189, 190}) EXPECT_EQ(at(*card, x, 8), kWhite);
}

TEST(StereogramCard, FractionalEdgesBlendWithTheBlackCard) {
  // 162 × 82: halves 121.5 × 61.5; the left one spans x 5–126.5 and rows 4.5–66, the right one
  // starts at x 131.5.
  const auto card = renderStereogramCard(uniform(162, 82, kRed), uniform(162, 82, kBlue), {},
                                         alignmentBoundsFor(162, 82, {}), settings(false, 12));
  ASSERT_TRUE(card);
  EXPECT_EQ(card->width(), 258);
  EXPECT_EQ(card->height(), 71);
  EXPECT_EQ(at(*card, 126, 30), (Rgb{100, 0, 0}));
  EXPECT_EQ(at(*card, 127, 30), kBlack);
  EXPECT_EQ(at(*card, 131, 30), (Rgb{0, 0, 100}));
  EXPECT_EQ(at(*card, 50, 4), (Rgb{100, 0, 0}));
  EXPECT_EQ(at(*card, 126, 4), (Rgb{50, 0, 0}));  // a quarter covered
  EXPECT_EQ(at(*card, 50, 65), kRed);
  EXPECT_EQ(at(*card, 50, 66), kBlack);
}

TEST(StereogramCard, OffsetCropsShowTheSameSceneAndSwapExchangesTheHalves) {
  // The right photograph sees the scene moved by (−8, 4): right(x, y) = left(x + 8, y − 4).
  const Image scene = test::makeSmoothImage(176, 88, 7);
  Image left = *Image::create(168, 84), right = *Image::create(168, 84);
  for (int y = 0; y < 84; ++y) {
    for (int x = 0; x < 168; ++x) {
      std::copy_n(scene.pixel(x + 4, y + 4), 4, left.pixel(x, y));
      std::copy_n(scene.pixel(x + 12, y), 4, right.pixel(x, y));
    }
  }
  const PixelOffset offset{8, -4};
  const auto card = renderStereogramCard(left, right, offset, alignmentBoundsFor(168, 84, offset),
                                         settings(false, 12));
  ASSERT_TRUE(card);
  ASSERT_EQ(card->width(), 255);  // crop 160 × 80, halves 125 apart
  for (int y = 0; y < card->height(); ++y) {
    for (int x = 5; x < 125; ++x) ASSERT_EQ(at(*card, x, y), at(*card, x + 125, y));
  }

  const CropRect whole = alignmentBoundsFor(168, 84, {});
  const auto parallel = renderStereogramCard(left, right, {}, whole, settings(true, 12));
  const auto cross = renderStereogramCard(right, left, {}, whole, settings(true, 12));
  ASSERT_TRUE(parallel && cross);
  for (int y = 0; y < parallel->height(); ++y) {
    for (int x = 5; x < 131; ++x) {  // halves of 126 at x 5 and 136
      ASSERT_EQ(at(*parallel, x, y), at(*cross, x + 131, y));
      ASSERT_EQ(at(*cross, x, y), at(*parallel, x + 131, y));
    }
  }
}

TEST(StereogramCard, IsShownTurnedClockwiseAndRefusesWhatCannotBeDrawn) {
  const Image left = test::makeSmoothImage(160, 80, 3), right = test::makeSmoothImage(160, 80, 4);
  const CropRect crop = alignmentBoundsFor(160, 80, {});
  const auto card = renderStereogramCard(left, right, {}, crop, settings(true, 12));
  const auto shown = createStereogram(left, right, {}, crop, settings(true, 12));
  ASSERT_TRUE(card && shown);
  EXPECT_EQ(shown->width(), card->height());
  EXPECT_EQ(shown->height(), card->width());
  EXPECT_EQ(at(*shown, shown->width() - 1 - 30, 50), at(*card, 50, 30));
  EXPECT_TRUE(ImageTools::scaleAndRotateImage(*shown, 2, 65535).samePixels(*card));

  EXPECT_FALSE(renderStereogramCard(left, right, {160, 0}, alignmentBoundsFor(160, 80, {160, 0}),
                                    settings(false, 10)));
  EXPECT_FALSE(createStereogram(left, uniform(150, 80, kRed), {}, crop, settings(false, 10)));
  EXPECT_FALSE(renderStereogramCard(left, right, {}, {20, 0, 160, 80}, settings(false, 10)));
}

TEST(DrawImageIntoRect, WholePixelsCopyAndHalvingAveragesTwoByTwoBlocks) {
  const Image source = test::makeSmoothImage(8, 6, 9);
  Image canvas = uniform(12, 9, {9, 9, 9});
  drawImageIntoRect(canvas, source, 3, 2, 8, 6);
  for (int y = 0; y < 9; ++y) {
    for (int x = 0; x < 12; ++x) {
      const bool inside = x >= 3 && x < 11 && y >= 2 && y < 8;
      const Rgb expected = inside ? at(source, x - 3, y - 2) : Rgb{9, 9, 9};
      ASSERT_EQ(at(canvas, x, y), expected);
    }
  }
  drawImageIntoRect(canvas, source, 1, 1, 4, 3);
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 4; ++x) {
      for (int c = 0; c < 3; ++c) {
        int sum = 2;  // rounds halves up
        for (int d = 0; d < 4; ++d) sum += source.pixel(2 * x + d % 2, 2 * y + d / 2)[c];
        ASSERT_EQ(canvas.pixel(x + 1, y + 1)[c], sum / 4);
      }
    }
  }
}

TEST(DrawImageIntoRect, HalfPixelOffsetBlendsEdgesWithTheCanvas) {
  Image canvas = uniform(6, 6, {100, 100, 100});
  drawImageIntoRect(canvas, uniform(4, 4, {200, 60, 100}), 0.5, 0.5, 4, 4);
  EXPECT_EQ(at(canvas, 2, 2), (Rgb{200, 60, 100}));
  EXPECT_EQ(at(canvas, 0, 2), (Rgb{150, 80, 100}));
  EXPECT_EQ(at(canvas, 4, 3), (Rgb{150, 80, 100}));
  EXPECT_EQ(at(canvas, 0, 0), (Rgb{125, 90, 100}));
  EXPECT_EQ(at(canvas, 5, 5), (Rgb{100, 100, 100}));
}

TEST(DrawImageIntoRect, EveryPixelIsTheExactAreaAverageBlendedByCoverage) {
  const Image source = test::makeSmoothImage(13, 11, 5);
  const double rx = 2.3, ry = 1.7, rw = 9.4, rh = 6.2, sx = 13 / rw, sy = 11 / rh;
  const Image before = uniform(16, 12, {90, 20, 240});
  Image canvas = before;
  drawImageIntoRect(canvas, source, rx, ry, rw, rh);
  for (int y = 0; y < 12; ++y) {
    for (int x = 0; x < 16; ++x) {
      // The pixel's footprint in the rectangle, then in the source.
      const double x0 = std::max<double>(x, rx), x1 = std::min<double>(x + 1, rx + rw);
      const double y0 = std::max<double>(y, ry), y1 = std::min<double>(y + 1, ry + rh);
      const double cover = std::max(0.0, x1 - x0) * std::max(0.0, y1 - y0);
      std::array<double, 3> sum{};
      for (int j = 0; cover > 0 && j < 11; ++j) {
        for (int i = 0; i < 13; ++i) {
          const double ox = std::min((x1 - rx) * sx, i + 1.0) - std::max((x0 - rx) * sx, 1.0 * i);
          const double oy = std::min((y1 - ry) * sy, j + 1.0) - std::max((y0 - ry) * sy, 1.0 * j);
          if (ox > 0 && oy > 0) {
            for (int c = 0; c < 3; ++c) sum[c] += ox * oy * source.pixel(i, j)[c];
          }
        }
      }
      for (int c = 0; c < 3; ++c) {
        const double mean = cover > 0 ? sum[c] / ((x1 - x0) * sx * (y1 - y0) * sy) : 0;
        ASSERT_NEAR(canvas.pixel(x, y)[c], mean * cover + before.pixel(x, y)[c] * (1 - cover),
                    0.51);
      }
    }
  }
}

TEST(DrawImageIntoRect, ClipsWithoutMovingAnythingAndEnlargesSmoothly) {
  const Image source = test::makeSmoothImage(10, 10, 2);
  Image big = *Image::create(14, 14), small = *Image::create(4, 5);
  drawImageIntoRect(big, source, 0.75, 1.5, 7.5, 7.5);
  drawImageIntoRect(small, source, 0.75 - 4, 1.5 - 4, 7.5, 7.5);
  for (double w : {0.0, std::nan(""), 1e-310})
    drawImageIntoRect(small, source, 0, 0, w, 5);  // nothing
  for (int y = 0; y < 5; ++y) {
    for (int x = 0; x < 4; ++x) ASSERT_EQ(at(small, x, y), at(big, x + 4, y + 4));
  }
  Image pair = *Image::create(2, 1), line = *Image::create(4, 1);
  pair.pixel(1, 0)[0] = 200;
  drawImageIntoRect(line, pair, 0, 0, 4, 1);
  const std::array<int, 4> ramp{line.pixel(0, 0)[0], line.pixel(1, 0)[0], line.pixel(2, 0)[0],
                                line.pixel(3, 0)[0]};
  EXPECT_EQ(ramp, (std::array<int, 4>{0, 50, 150, 200}));
}

TEST(FillEllipseInRect, FillsACircleWithSmoothSymmetricEdges) {
  Image canvas = *Image::create(60, 60);
  fillEllipseInRect(canvas, 10, 10, 40, 40, 255, 255, 255);
  double total = 0;
  int partial = 0;
  for (int y = 0; y < 60; ++y) {
    for (int x = 0; x < 60; ++x) {
      const int v = canvas.pixel(x, y)[0];
      ASSERT_EQ(v, canvas.pixel(59 - x, y)[0]);
      ASSERT_EQ(v, canvas.pixel(x, 59 - y)[0]);
      ASSERT_NEAR(v, canvas.pixel(y, x)[0], 2);  // coverage is exact across, sampled down
      const bool outsideSquare = x < 10 || x >= 50 || y < 10 || y >= 50;
      const bool wellInside = std::hypot(x + 0.5 - 30, y + 0.5 - 30) < 19.2;
      ASSERT_EQ(v, outsideSquare ? 0 : wellInside ? 255 : v);
      partial += v > 0 && v < 255;
      total += v / 255.0;
    }
  }
  EXPECT_NEAR(total, std::numbers::pi * 400, 2.0);
  EXPECT_GT(partial, 100);                                // anti-aliased, not stair-stepped
  fillEllipseInRect(canvas, -10, 55, 30, 30, 255, 0, 0);  // clipped, must not overrun
  EXPECT_EQ(at(canvas, 5, 59), (Rgb{255, 0, 0}));
}

}  // namespace
}  // namespace duo
