#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <limits>
#include <string>

#include "image/image.h"
#include "io/image_codec.h"

namespace duo {
namespace {

const std::filesystem::path kSampleDir =
    std::filesystem::path(__FILE__).parent_path().parent_path().parent_path() / "resources/sample";

Image loadSample(const char* name) {
  auto decoded = decodeImageFile((kSampleDir / name).string());
  if (!decoded) {
    ADD_FAILURE() << decoded.error().message;
    return {};
  }
  return std::move(decoded).value();
}

struct Shift {
  int dx = 0;  ///< positive: the right image shows the patch further left
  int dy = 0;
};

/// The shift that best carries a square patch of the left image (centred at cx, cy, given as
/// fractions of the size) onto the right image, by the smallest sum of absolute differences.
/// The search is wide on both sides and includes small vertical shifts, so a wrong sign or a
/// vertical misalignment shows up as such rather than being ruled out by the search itself.
Shift bestShift(const Image& left, const Image& right, double fx, double fy) {
  constexpr int kHalf = 20, kMinDx = -60, kMaxDx = 120, kMaxDy = 3;
  const int cx = int(fx * left.width()), cy = int(fy * left.height());
  long best = std::numeric_limits<long>::max();
  Shift shift;
  for (int dy = -kMaxDy; dy <= kMaxDy; ++dy) {
    for (int dx = kMinDx; dx <= kMaxDx; ++dx) {
      long sad = 0;
      for (int y = cy - kHalf; y <= cy + kHalf; ++y) {
        for (int x = cx - kHalf; x <= cx + kHalf; ++x) {
          const std::uint8_t* a = left.pixel(x, y);
          const std::uint8_t* b = right.pixel(x - dx, y + dy);
          for (int c = 0; c < 3; ++c) sad += std::abs(int(a[c]) - int(b[c]));
        }
      }
      if (sad < best) best = sad, shift = {dx, dy};
    }
  }
  return shift;
}

TEST(SamplePair, BundledImagesDecodeToOneUprightSize) {
  const Image left = loadSample("left.jpg");
  const Image right = loadSample("right.jpg");
  ASSERT_FALSE(left.isNull());
  ASSERT_FALSE(right.isNull());
  EXPECT_EQ(left.width(), right.width());
  EXPECT_EQ(left.height(), right.height());
  // The searches below need room: 40-pixel patches shifted by -60 to 120 pixels.
  EXPECT_GE(left.width(), 640);
  EXPECT_GE(left.height(), 480);
  EXPECT_EQ(left.orientationTag(), 0);
  EXPECT_EQ(right.orientationTag(), 0);
  EXPECT_FALSE(left.samePixels(right));
}

// Cameras 6.5 cm apart with parallel axes and a 60° field: at 960 pixels wide a point Z metres
// away shifts by about 54 / Z pixels, leftwards in the right eye's view, and never vertically.
TEST(SamplePair, RightViewShiftsNearThingsLeftMoreThanFarOnes) {
  const Image left = loadSample("left.jpg");
  const Image right = loadSample("right.jpg");
  ASSERT_FALSE(left.isNull());
  ASSERT_FALSE(right.isNull());
  ASSERT_EQ(left.width(), right.width());
  ASSERT_EQ(left.height(), right.height());
  const double scale = left.width() / 960.0;

  const Shift nearBall = bestShift(left, right, 0.32, 0.70);  // striped ball, about 1.1 m
  const Shift crate = bestShift(left, right, 0.66, 0.55);     // wooden crate, about 2.2 m
  const Shift wall = bestShift(left, right, 0.48, 0.22);      // brick wall, about 7.8 m

  for (const Shift& s : {nearBall, crate, wall}) EXPECT_EQ(s.dy, 0);
  EXPECT_GT(wall.dx, 0);
  EXPECT_GT(crate.dx, wall.dx);
  EXPECT_GT(nearBall.dx, crate.dx);
  EXPECT_GE(nearBall.dx, 3 * wall.dx);

  EXPECT_NEAR(nearBall.dx, 50 * scale, 6 * scale);
  EXPECT_NEAR(crate.dx, 25 * scale, 5 * scale);
  EXPECT_NEAR(wall.dx, 7 * scale, 3 * scale);
}

}  // namespace
}  // namespace duo
