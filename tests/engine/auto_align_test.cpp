#include <gtest/gtest.h>

#include "align/auto_align.h"

#ifdef DUOSCOPE_HAVE_AUTO_ALIGN

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <ostream>
#include <random>
#include <string>

#include "io/image_codec.h"
#include "stereo/pair_loader.h"
#include "stereo/stereo_pair.h"
#include "test_support.h"

namespace duo {
namespace {

const std::filesystem::path kSampleDir =
    std::filesystem::path(__FILE__).parent_path().parent_path().parent_path() / "resources/sample";

/// The bundled sample pair's folder, or a pair of the shared test data (empty when absent).
std::string pairFolder(const std::string& name) {
  if (name == "sample") return kSampleDir.string();
  const std::string path = test::testdataPath("pairs/" + name);
  return path.empty() || !std::filesystem::exists(path) ? std::string() : path;
}

Image window(const Image& source, int x, int y, int width, int height) {
  Image out = *Image::create(width, height);
  for (int row = 0; row < height; ++row) {
    std::memcpy(out.row(row), source.pixel(x, y + row), std::size_t(width) * 4);
  }
  return out;
}

// Two windows of one photograph: the right one's content sits (dx, dy) from the left one's, as
// the offset means it, so the suggestion must be that shift exactly and, applied the way the
// renderers apply an offset, must line up identical pixels.
struct ShiftCase {
  const char* photo;
  int dx;
  int dy;
};

void PrintTo(const ShiftCase& c, std::ostream* os) {
  *os << c.photo << " shifted " << c.dx << "," << c.dy;
}

class SyntheticShift : public ::testing::TestWithParam<ShiftCase> {};

TEST_P(SyntheticShift, IsFoundAndLinesUpTheRenderedCrops) {
  const ShiftCase c = GetParam();
  const std::string folder = pairFolder(c.photo);
  if (folder.empty()) GTEST_SKIP() << "no test data for " << c.photo;
  const auto photo = decodeImageFile(folder + "/left.jpg");
  ASSERT_TRUE(photo);
  constexpr int kMargin = 40;
  const int w = photo->width() - 2 * kMargin;
  const int h = photo->height() - 2 * kMargin;
  const Image left = window(*photo, kMargin, kMargin, w, h);
  const Image right = window(*photo, kMargin + c.dx, kMargin + c.dy, w, h);

  const auto s = suggestAlignment(left, right);
  ASSERT_TRUE(s) << s.error().message;
  EXPECT_EQ(s->dx, c.dx);
  EXPECT_EQ(s->dy, c.dy);
  EXPECT_GE(s->confidence, kMinimumAlignmentConfidence);

  const PixelOffset offset{s->dx, s->dy};
  const CropRect crop = alignmentBoundsFor(w, h, offset);
  const CropRect rightCrop = rightCropFor(crop, offset);
  EXPECT_TRUE(window(left, int(crop.x), int(crop.y), int(crop.width), int(crop.height))
                  .samePixels(window(right, int(rightCrop.x), int(rightCrop.y),
                                     int(rightCrop.width), int(rightCrop.height))));
}

INSTANTIATE_TEST_SUITE_P(
    BothSigns, SyntheticShift,
    ::testing::Values(ShiftCase{"sample", 12, -7}, ShiftCase{"sample", -25, 9},
                      ShiftCase{"sample", 0, 0}, ShiftCase{"night-street", 31, 14},
                      ShiftCase{"night-street", -18, -22}, ShiftCase{"gx8-split", -36, 3},
                      ShiftCase{"gx8-split", 7, -30}, ShiftCase{"chessboard", 20, -11}));

// Real pairs. The vertical offsets were set by eye: grey anaglyphs rendered at the full size
// with candidate offsets one pixel apart, zoomed crops of horizontal edges compared for the
// value where the red and cyan fringes vanish.
struct RealPair {
  const char* name;
  int personDy;
  bool confident;
  int nearestMin;  ///< a bound on dx from the scene itself, or below any disparity
  int nearestMax;
};

/// Disparities of the inliers nearest the viewer that together speak for a tenth of the
/// picture, as [lowest, highest].
std::pair<float, float> nearestTenth(const std::vector<FeatureDisparity>& inliers) {
  float share = 0;
  float lowest = inliers.back().disparityX;
  for (auto it = inliers.rbegin(); it != inliers.rend() && share < 0.1f; ++it) {
    share += it->weight;
    lowest = it->disparityX;
  }
  return {lowest, inliers.back().disparityX};
}

void PrintTo(const RealPair& c, std::ostream* os) { *os << c.name; }

class RealPairs : public ::testing::TestWithParam<RealPair> {};

TEST_P(RealPairs, VerticalAsSetByEyeAndNearestTenthAtTheScreen) {
  const RealPair c = GetParam();
  const std::string folder = pairFolder(c.name);
  if (folder.empty()) GTEST_SKIP() << "no test data for " << c.name;
  const auto pair = loadStereoPairFiles(folder + "/left.jpg", folder + "/right.jpg", 100);
  ASSERT_TRUE(pair) << pair.error().message;
  const auto a = analyseAlignment(pair->leftImage(), pair->rightImage());
  ASSERT_TRUE(a) << a.error().message;
  ASSERT_FALSE(a->inliers.empty());

  const AlignmentSuggestion& s = a->suggestion;
  EXPECT_EQ(s.confidence >= kMinimumAlignmentConfidence, c.confident) << s.confidence;
  if (c.confident) {
    EXPECT_NEAR(s.dy, c.personDy, 2);
  }
  const auto [lowest, highest] = nearestTenth(a->inliers);
  EXPECT_GE(s.dx, std::floor(lowest));
  EXPECT_LE(s.dx, std::ceil(highest));
  EXPECT_GE(s.dx, c.nearestMin);
  EXPECT_LE(s.dx, c.nearestMax);
}

INSTANTIATE_TEST_SUITE_P(
    ByEye, RealPairs,
    ::testing::Values(
        // Rendered by parallel pinhole cameras: no vertical disparity at all; the striped ball,
        // the nearest object, shifts by about 50 pixels (its visible features by 40 to 47).
        RealPair{"sample", 0, true, 40, 52},
        // Hand-held, slightly turned: the wall top on the right lines up at 15, the house roof
        // in the middle at 16.
        RealPair{"night-street", 15, true, -1000, 1000},
        // The far peak lines up at -1, the cottongrass at the bottom at -4, the meadow that fills
        // most of the frame at -3.
        RealPair{"gx8-split", -3, true, -1000, 1000},
        // A converging calibration rig: the vertical disparity runs from -7 (keyboard, hand) to
        // -17 (the board's top-left corner), so no offset aligns it and the suggestion is
        // unsure. Its repeated squares must still not fool the horizontal estimate: corners of
        // the board, the nearest object, shift by 116 to 130 pixels (measured on zoomed crops).
        RealPair{"chessboard", -14, false, 112, 134}));

TEST(AutoAlign, PairsWithoutCommonFeaturesGiveNoConfidence) {
  const auto sample = decodeImageFile((kSampleDir / "left.jpg").string());
  ASSERT_TRUE(sample);
  Image grey = *Image::create(800, 600);
  std::memset(grey.data(), 128, grey.byteCount());
  Image noise1 = *Image::create(800, 600);
  Image noise2 = *Image::create(800, 600);
  std::mt19937 rng(7);
  for (std::size_t i = 0; i < noise1.byteCount(); ++i) {
    noise1.data()[i] = static_cast<std::uint8_t>(rng());
    noise2.data()[i] = static_cast<std::uint8_t>(rng());
  }
  // A repeated pattern with nothing else: any copy matches any other.
  Image squares = *Image::create(800, 600);
  for (int y = 0; y < 600; ++y) {
    for (int x = 0; x < 800; ++x) {
      std::memset(squares.pixel(x, y), (x / 40 + y / 40) % 2 ? 230 : 20, 3);
    }
  }
  const struct {
    const char* what;
    Image left;
    Image right;
  } cases[] = {
      {"flat grey", grey, grey},
      {"independent noise", noise1, noise2},
      {"different scenes", window(*sample, 0, 0, 480, 360), window(*sample, 480, 360, 480, 360)},
      {"repeated squares", window(squares, 40, 40, 700, 500), window(squares, 52, 45, 700, 500)},
  };
  for (const auto& c : cases) {
    const auto s = suggestAlignment(c.left, c.right);
    ASSERT_TRUE(s) << c.what;
    EXPECT_LT(s->confidence, kMinimumAlignmentConfidence) << c.what;
  }
}

TEST(AutoAlign, RefusesImagesItCannotCompare) {
  const Image photo = test::makeSmoothImage(200, 150);
  const struct {
    const char* what;
    Image left;
    Image right;
    const char* message;
  } cases[] = {
      {"sizes differ", photo, window(photo, 0, 0, 200, 149),
       "differ in size (200x150 and 200x149)"},
      {"too small", window(photo, 0, 0, 63, 150), window(photo, 0, 0, 63, 150), "too small"},
      {"no pixels", Image(), Image(), "missing"},
  };
  for (const auto& c : cases) {
    const auto s = suggestAlignment(c.left, c.right);
    ASSERT_FALSE(s) << c.what;
    EXPECT_EQ(s.error().code, ErrorCode::InvalidArgument) << c.what;
    EXPECT_NE(s.error().message.find(c.message), std::string::npos) << s.error().message;
  }
}

TEST(AutoAlign, SamePairGivesTheSameAnalysisEveryTime) {
  const auto pair = loadStereoPairFiles((kSampleDir / "left.jpg").string(),
                                        (kSampleDir / "right.jpg").string(), 50);
  ASSERT_TRUE(pair);
  const auto first = analyseAlignment(pair->leftImage(), pair->rightImage());
  const auto second = analyseAlignment(pair->leftImage(), pair->rightImage());
  ASSERT_TRUE(first && second);
  EXPECT_EQ(first->suggestion.confidence, second->suggestion.confidence);
  ASSERT_EQ(first->inliers.size(), second->inliers.size());
  EXPECT_EQ(std::memcmp(first->inliers.data(), second->inliers.data(),
                        first->inliers.size() * sizeof(FeatureDisparity)),
            0);
}

}  // namespace
}  // namespace duo

#endif  // DUOSCOPE_HAVE_AUTO_ALIGN
