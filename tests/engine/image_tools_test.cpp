#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "io/image_codec.h"
#include "test_support.h"
#include "transform/image_tools.h"

namespace duo {
namespace {

using test::makeCoordinateImage;

// Where the table of orientations puts source point (i, j) of a W × H grid scaled by s.
struct Point {
  double x;
  double y;
};

Point tablePosition(int o, double i, double j, double W, double H, double s) {
  switch (o) {
    case 0:
      return {s * i, s * j};
    case 1:
      return {s * (W - i), s * (H - j)};
    case 2:
      return {s * j, s * (W - i)};
    case 3:
      return {s * (H - j), s * i};
    case 4:
      return {s * (W - i), s * j};
    case 5:
      return {s * i, s * (H - j)};
    case 6:
      return {s * j, s * i};
    case 7:
      return {s * (H - j), s * (W - i)};
  }
  return {-1, -1};
}

bool samePixel(const std::uint8_t* a, const std::uint8_t* b) {
  return a[0] == b[0] && a[1] == b[1] && a[2] == b[2];
}

TEST(ScaleAndRotate, EveryOrientationPutsEachStoredPixelWhereTheTableSays) {
  const int W = 7, H = 4;
  for (int own = 0; own < 8; ++own) {
    Image source = makeCoordinateImage(W, H);
    source.setOrientationTag(own);
    const Image out = ImageTools::scaleAndRotateImage(source, -1, 65535);
    const bool quarter = own == 2 || own == 3 || own == 6 || own == 7;
    ASSERT_EQ(out.width(), quarter ? H : W) << "tag " << own;
    ASSERT_EQ(out.height(), quarter ? W : H) << "tag " << own;
    EXPECT_EQ(out.orientationTag(), 0);
    for (int j = 0; j < H; ++j) {
      for (int i = 0; i < W; ++i) {
        // The pixel is the unit square from (i, j); its centre lands in exactly one canvas pixel.
        const Point c = tablePosition(own, i + 0.5, j + 0.5, W, H, 1.0);
        const int x = static_cast<int>(std::floor(c.x));
        const int y = static_cast<int>(std::floor(c.y));
        EXPECT_TRUE(samePixel(out.pixel(x, y), source.pixel(i, j)))
            << "tag " << own << " source (" << i << "," << j << ") expected at (" << x << "," << y
            << ")";
      }
    }
  }
}

TEST(ScaleAndRotate, ScaledOrientationsAverageEachBlockIntoItsTablePosition) {
  // 2 × 2 blocks of one colour each; halving turns every block into one exact pixel.
  const int W = 8, H = 6;
  Image source = *Image::create(W, H);
  for (int j = 0; j < H; ++j)
    for (int i = 0; i < W; ++i) {
      std::uint8_t* p = source.pixel(i, j);
      p[0] = static_cast<std::uint8_t>(40 * (i / 2) + 10);
      p[1] = static_cast<std::uint8_t>(60 * (j / 2) + 5);
      p[2] = static_cast<std::uint8_t>(200 - 30 * (i / 2));
    }
  for (int o = 0; o < 8; ++o) {
    source.setOrientationTag(o);
    const Image out = ImageTools::scaleAndRotateImage(source, -1, 4.0f);
    const bool quarter = o == 2 || o == 3 || o == 6 || o == 7;
    ASSERT_EQ(out.width(), quarter ? 3 : 4) << "tag " << o;
    ASSERT_EQ(out.height(), quarter ? 4 : 3) << "tag " << o;
    for (int bj = 0; bj < 3; ++bj)
      for (int bi = 0; bi < 4; ++bi) {
        const Point c = tablePosition(o, 2 * bi + 1, 2 * bj + 1, W, H, 0.5);
        const std::uint8_t* got = out.pixel(static_cast<int>(c.x), static_cast<int>(c.y));
        EXPECT_TRUE(samePixel(got, source.pixel(2 * bi, 2 * bj)))
            << "tag " << o << " block (" << bi << "," << bj << ")";
      }
  }
}

TEST(ScaleAndRotate, OverrideReplacesTheOwnTagAndQuarterTurnsUndoEachOther) {
  Image photo = makeCoordinateImage(2000, 1000);
  const Image turned = ImageTools::scaleAndRotateImage(photo, 3, 65535);
  ASSERT_EQ(turned.width(), 1000);
  ASSERT_EQ(turned.height(), 2000);
  // A quarter turn clockwise: the stored top-left pixel is now top-right.
  EXPECT_TRUE(samePixel(turned.pixel(999, 0), photo.pixel(0, 0)));
  const Image back = ImageTools::scaleAndRotateImage(turned, 2, 65535);
  EXPECT_TRUE(back.samePixels(photo));

  // An override of Up ignores the image's own Right tag.
  photo.setOrientationTag(3);
  const Image asStored = ImageTools::scaleAndRotateImage(photo, 0, 65535);
  EXPECT_TRUE(asStored.samePixels(makeCoordinateImage(2000, 1000)));
}

TEST(ScaleAndRotate, CameraSizedRightTaggedGridHalvesAndTurns) {
  Image grid = *Image::create(3264, 2448);
  for (int j = 0; j < 2448; ++j)
    for (int i = 0; i < 3264; ++i) grid.pixel(i, j)[j < 2 ? 0 : 2] = 255;  // top rows red
  grid.setOrientationTag(3);

  const NormalizeGeometry g = ImageTools::normalizeGeometry(3264, 2448, 3, -1, 1632.0f);
  EXPECT_EQ(g.boundsWidth, 1632.0f);
  EXPECT_EQ(g.scale, 0.5f);
  const Image half = ImageTools::scaleAndRotateImage(grid, -1, 1632.0f);
  ASSERT_EQ(half.width(), 1224);
  ASSERT_EQ(half.height(), 1632);
  for (int y = 0; y < 1632; y += 97) {
    EXPECT_EQ(half.pixel(1223, y)[0], 255) << "the stored top row is the right-hand column";
    EXPECT_EQ(half.pixel(1222, y)[0], 0);
  }

  const Image full = ImageTools::scaleAndRotateImage(grid, -1, 3264.0f);
  EXPECT_EQ(full.width(), 2448);
  EXPECT_EQ(full.height(), 3264);
}

TEST(ScaleAndRotate, BoundsRuleAtItsEdges) {
  // A square larger than M: ratio 1 is not greater than 1, both sides become M.
  auto g = ImageTools::normalizeGeometry(100, 100, 0, -1, 50.0f);
  EXPECT_EQ(g.canvasWidth, 50);
  EXPECT_EQ(g.canvasHeight, 50);
  // A side exactly M is left alone; one pixel more scales.
  g = ImageTools::normalizeGeometry(100, 80, 0, -1, 100.0f);
  EXPECT_EQ(g.scale, 1.0f);
  EXPECT_EQ(g.canvasWidth, 100);
  g = ImageTools::normalizeGeometry(101, 80, 0, -1, 100.0f);
  EXPECT_LT(g.scale, 1.0f);
  EXPECT_EQ(g.canvasWidth, 100);
  EXPECT_EQ(g.canvasHeight, 79);  // 100 / (101 / 80) = 79.2
  // Portrait source: the height takes M.
  g = ImageTools::normalizeGeometry(600, 800, 0, -1, 400.0f);
  EXPECT_EQ(g.canvasWidth, 300);
  EXPECT_EQ(g.canvasHeight, 400);
  // Tags 6 and 7 swap the canvas sides of a non-square source.
  g = ImageTools::normalizeGeometry(600, 400, 6, -1, 300.0f);
  EXPECT_EQ(g.canvasWidth, 200);
  EXPECT_EQ(g.canvasHeight, 300);
  // A tiny limit still gives a pixel.
  g = ImageTools::normalizeGeometry(600, 400, 0, -1, 0.2f);
  EXPECT_EQ(g.canvasWidth, 1);
  EXPECT_EQ(g.canvasHeight, 1);
  EXPECT_THROW(ImageTools::normalizeGeometry(10, 10, 0, -1, 0.0f), std::invalid_argument);
  EXPECT_THROW(ImageTools::normalizeGeometry(10, 10, 0, -1, NAN), std::invalid_argument);
}

TEST(ScaleAndRotate, ScaledSidesRoundToTheNearestPixel) {
  const std::tuple<int, int, int, float, int, int> cases[] = {
      // stored width, height, tag, maximum resolution, canvas width, height
      {1000, 679, 0, 300.0f, 300, 204},  // 203.7
      {679, 1000, 0, 300.0f, 204, 300},
      {1000, 679, 6, 300.0f, 204, 300},
      {400, 299, 0, 100.0f, 100, 75},  // 74.75
  };
  for (const auto& [w, h, tag, m, canvasWidth, canvasHeight] : cases) {
    Image source = *Image::create(w, h);
    source.setOrientationTag(tag);
    const Image out = ImageTools::scaleAndRotateImage(source, -1, m);
    EXPECT_EQ(out.width(), canvasWidth) << w << "x" << h;
    EXPECT_EQ(out.height(), canvasHeight) << w << "x" << h;
  }
}

TEST(ScaleAndRotate, ReductionAveragesInsteadOfPickingPixels) {
  // A one-pixel checkerboard reduced by 3: nearest neighbour would give black or white.
  Image board = *Image::create(90, 60);
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 90; ++x)
      if ((x + y) % 2) std::fill_n(board.pixel(x, y), 3, 255);
  const Image small = ImageTools::scaleAndRotateImage(board, -1, 30.0f);
  ASSERT_EQ(small.width(), 30);
  ASSERT_EQ(small.height(), 20);
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 30; ++x) EXPECT_NEAR(small.pixel(x, y)[1], 127.5, 15);
}

TEST(ScaleAndRotate, InvalidOrientationIsAProgrammingError) {
  Image image = makeCoordinateImage(4, 4);
  image.setOrientationTag(8);
  EXPECT_THROW(ImageTools::scaleAndRotateImage(image, 0, 100), InvalidOrientationError);
  EXPECT_THROW(ImageTools::debugImageInfo(image), InvalidOrientationError);
  image.setOrientationTag(-1);
  EXPECT_THROW(ImageTools::debugImageInfo(image), InvalidOrientationError);
  image.setOrientationTag(7);
  EXPECT_NO_THROW(ImageTools::debugImageInfo(image));
  EXPECT_THROW(ImageTools::scaleAndRotateImage(image, 8, 100), InvalidOrientationError);
  EXPECT_THROW(ImageTools::scaleAndRotateImage(image, -2, 100), InvalidOrientationError);
  try {
    ImageTools::scaleAndRotateImage(image, 9, 100);
  } catch (const InvalidOrientationError& e) {
    EXPECT_STREQ(e.what(), "Invalid image orientation");
  }
}

TEST(PairResolution, IsAPercentageOfTheLeftImagesLongerUprightSide) {
  EXPECT_EQ(ImageTools::maximumResolutionForPair(3264, 2448, 50.0f), 1632.0f);
  EXPECT_EQ(ImageTools::maximumResolutionForPair(2448, 3264, 100.0f), 3264.0f);
  EXPECT_EQ(ImageTools::maximumResolutionForPair(1000, 1000, 25.0f), 250.0f);
  // Single precision throughout: 0.33 × 3000 as floats, not as doubles.
  EXPECT_EQ(ImageTools::maximumResolutionForPair(3000, 2000, 33.0f), (33.0f / 100.0f) * 3000.0f);
}

double meanAbsoluteDifference(const Image& a, const Image& b) {
  double total = 0;
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x)
      for (int c = 0; c < 3; ++c) total += std::abs(a.pixel(x, y)[c] - b.pixel(x, y)[c]);
  return total / (3.0 * a.width() * a.height());
}

TEST(LoadScaledAndRotated, MatchesDecodingFullSizeThenNormalising) {
  test::TempDir dir;
  const Image photo = test::makeSmoothImage(800, 600, 7);
  const auto jpeg = encodeJpeg(photo, 92);
  ASSERT_TRUE(jpeg);
  const auto path = (dir / "right-tagged.jpg").string();
  test::writeBytes(path, test::withExifOrientation(*jpeg, 6));  // EXIF 6 = Right

  for (float m : {1000.0f, 400.0f, 190.0f, 123.0f}) {
    const auto fast = ImageTools::loadScaledAndRotatedImage(path, -1, m);
    ASSERT_TRUE(fast) << fast.error().message;
    const auto full = decodeImageFile(path);
    ASSERT_TRUE(full);
    const Image reference = ImageTools::scaleAndRotateImage(*full, -1, m);
    ASSERT_EQ(fast->width(), reference.width()) << m;
    ASSERT_EQ(fast->height(), reference.height()) << m;
    EXPECT_LT(meanAbsoluteDifference(*fast, reference), 2.5) << m;
    if (m >= 800) {
      EXPECT_TRUE(fast->samePixels(reference));
    }
  }
  EXPECT_EQ(ImageTools::loadScaledAndRotatedImage(path, -1, 400)->width(), 300);

  const auto missing = ImageTools::loadScaledAndRotatedImage((dir / "none.jpg").string(), -1, 10);
  ASSERT_FALSE(missing);
  EXPECT_NE(missing.error().message.find("none.jpg"), std::string::npos);
}

}  // namespace
}  // namespace duo
