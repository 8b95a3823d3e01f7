#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "io/image_codec.h"
#include "render/anaglyph.h"
#include "stereo/stereo_pair.h"
#include "test_support.h"
#include "transform/image_tools.h"

namespace duo {
namespace {

const GammaTable& screenGamma() {
  static const GammaTable table = updateGammaTable(0.8);
  return table;
}

GammaTable identityGamma() {
  GammaTable table;
  for (int i = 0; i < 256; ++i) table[i] = static_cast<std::uint8_t>(i);
  return table;
}

Image filled(int width, int height, Rgb8 c) {
  Image image = *Image::create(width, height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      std::uint8_t* p = image.pixel(x, y);
      p[0] = c.r, p[1] = c.g, p[2] = c.b;
    }
  }
  return image;
}

Rgb8 rgbAt(const Image& image, int x, int y) {
  const std::uint8_t* p = image.pixel(x, y);
  return {p[0], p[1], p[2]};
}

std::string str(Rgb8 c) {
  return "(" + std::to_string(c.r) + ", " + std::to_string(c.g) + ", " + std::to_string(c.b) + ")";
}

// The reference, the default fast path and every variant this CPU runs (the portable one
// always), so that each hand-worked case checks them all.
using Renderer = std::function<std::optional<Image>(
    const Image&, const Image&, PixelOffset, const CropRect&, int, int, bool, const GammaTable&)>;

const std::vector<std::pair<std::string, Renderer>>& renderers() {
  static const std::vector<std::pair<std::string, Renderer>> list = [] {
    std::vector<std::pair<std::string, Renderer>> all = {
        {"reference", blendImagesReference},
        {"default", [](const Image& l, const Image& r, PixelOffset o, const CropRect& c, int mode,
                       int method, bool enhance, const GammaTable& gamma) {
           return blendImages(l, r, o, c, mode, method, enhance, gamma);
         }}};
    for (AnaglyphKernel kernel : supportedAnaglyphKernels()) {
      all.emplace_back(std::string(toString(kernel)),
                       [kernel](const Image& l, const Image& r, PixelOffset o, const CropRect& c,
                                int mode, int method, bool enhance, const GammaTable& gamma) {
                         return blendImagesWithKernel(kernel, l, r, o, c, mode, method, enhance,
                                                      gamma, 1);
                       });
    }
    return all;
  }();
  return list;
}

// Renders a uniform 3 × 2 pair and expects one colour and an opaque fourth byte everywhere.
void expectUniformPairGives(Rgb8 left, Rgb8 right, int mode, int method, bool enhance,
                            Rgb8 expected, const GammaTable& gamma = screenGamma()) {
  const Image l = filled(3, 2, left);
  const Image r = filled(3, 2, right);
  for (const auto& [name, render] : renderers()) {
    const auto out =
        render(l, r, {0, 0}, alignmentBoundsFor(3, 2, {0, 0}), mode, method, enhance, gamma);
    ASSERT_TRUE(out) << name;
    ASSERT_EQ(out->width(), 3);
    ASSERT_EQ(out->height(), 2);
    for (int y = 0; y < 2; ++y) {
      for (int x = 0; x < 3; ++x) {
        EXPECT_EQ(rgbAt(*out, x, y), expected)
            << name << ": " << str(left) << " / " << str(right) << " mode " << mode << " method "
            << method << (enhance ? " enhanced" : "") << " gave " << str(rgbAt(*out, x, y));
        EXPECT_EQ(out->pixel(x, y)[3], 255) << name;
      }
    }
  }
}

TEST(AnaglyphGamma, BrightensTheMiddleAndKeepsBothEnds) {
  const GammaTable& g = screenGamma();
  EXPECT_EQ(g[0], 0);
  EXPECT_EQ(g[64], 84);
  EXPECT_EQ(g[128], 146);
  EXPECT_EQ(g[255], 255);
  for (int i = 1; i < 256; ++i) EXPECT_LE(g[i - 1], g[i]) << i;
}

TEST(AnaglyphPixel, LumaTruncatesTheDoubleSumSoSomeGreysLoseAStep) {
  EXPECT_EQ(luma(128, 128, 128), 127);
  EXPECT_EQ(luma(255, 255, 255), 255);
  EXPECT_EQ(luma(0, 0, 0), 0);
  EXPECT_EQ(luma(200, 120, 40), 134);  // 59.8 + 70.44 + 4.56 = 134.8
}

TEST(AnaglyphPixel, HsvRoundTripOfTheEnhancement) {
  // H 20, S 191, V 200; × 1.2 and × 1.35 give S' 229 and V' 270, clamped to 255.
  EXPECT_EQ(rgbToHsv(200, 100, 50), (Hsv16{20, 191, 200}));
  EXPECT_EQ(enhanceColour({200, 100, 50}), (Rgb8{255, 102, 25}));

  // Greys (black included) have hue −1 and stay grey, value × 1.35 clamped.
  EXPECT_EQ(rgbToHsv(0, 0, 0), (Hsv16{-1, 0, 0}));
  EXPECT_EQ(rgbToHsv(127, 127, 127), (Hsv16{-1, 0, 127}));
  EXPECT_EQ(enhanceColour({127, 127, 127}), (Rgb8{171, 171, 171}));
  EXPECT_EQ(enhanceColour({0, 0, 0}), (Rgb8{0, 0, 0}));
  EXPECT_EQ(enhanceColour({255, 255, 255}), (Rgb8{255, 255, 255}));

  // Ties go to the first channel tested: red before green before blue.
  EXPECT_EQ(rgbToHsv(200, 200, 0).h, 60);   // red formula: (g − b) / d = 1
  EXPECT_EQ(rgbToHsv(0, 200, 200).h, 180);  // green formula: (b − r) / d + 2 = 3
  EXPECT_EQ(rgbToHsv(255, 0, 1).h, 359);    // negative red hue wraps: −0.235 + 360

  // Hue 360 is sector 0; one turn either side is corrected; S and V are clamped.
  EXPECT_EQ(hsvToRgb(360, 255, 255), (RgbInt{255, 0, 0}));
  EXPECT_EQ(hsvToRgb(-240, 255, 255), (RgbInt{0, 255, 0}));
  EXPECT_EQ(hsvToRgb(480, 300, 255), (RgbInt{0, 255, 0}));
  EXPECT_EQ(hsvToRgb(200, 0, 400), (RgbInt{255, 255, 255}));
  EXPECT_EQ(hsvToRgb(200, 255, -5), (RgbInt{0, 0, 0}));
}

TEST(AnaglyphRender, HandWorkedPixelPairs) {
  struct Case {
    Rgb8 left, right;
    int mode, method;
    bool enhance;
    Rgb8 expected;
  };
  const Rgb8 black{0, 0, 0}, white{255, 255, 255}, grey{128, 128, 128};
  const Rgb8 warm{200, 120, 40}, cool{30, 160, 220};
  const int colour = kAnaglyphColour, greyMode = kAnaglyphGrey;
  const std::vector<Case> cases = {
      {grey, grey, greyMode, 4, false, {145, 145, 145}},  // luma 127
      {grey, grey, greyMode, 4, true, {185, 185, 185}},   // value 171
      {white, white, greyMode, 4, false, white},
      {white, white, greyMode, 4, true, white},
      {white, white, colour, 4, false, {254, 254, 255}},
      {{255, 0, 0}, black, colour, 4, false, {135, 0, 0}},  // trunc(116.28); the rest clamps to 0
      {black, {0, 0, 255}, colour, 4, false, {0, 0, 255}},  // 312.63 clamps; trunc(−0.51) is 0
      {{255, 0, 0}, {0, 255, 255}, colour, 0, false, white},
      {white, white, colour, 3, false, {255, 0, 255}},
      {warm, cool, greyMode, 4, false, {152, 145, 145}},
      {warm, cool, colour, 0, false, {209, 175, 226}},
      {warm, cool, colour, 1, false, {152, 175, 226}},
      {warm, cool, colour, 2, false, {116, 175, 226}},
      {warm, cool, colour, 3, false, {152, 0, 145}},
      {warm, cool, colour, 4, false, {159, 131, 245}},
      {warm, cool, greyMode, 4, true, {192, 183, 183}},
      {warm, cool, colour, 0, true, {232, 186, 255}},
      {warm, cool, colour, 1, true, {155, 187, 255}},
      {warm, cool, colour, 2, true, {103, 186, 255}},
      {warm, cool, colour, 3, true, {192, 0, 184}},
      {warm, cool, colour, 4, true, {146, 109, 255}},
      // Grey mode ignores the colour method, valid or not.
      {warm, cool, greyMode, 9, false, {152, 145, 145}},
      // A rule that assigns nothing leaves the start colour, black.
      {warm, cool, colour, 5, false, black},
      {warm, cool, colour, -1, true, black},
      {warm, cool, 0, 4, false, black},
      {warm, cool, 3, 4, true, black},
  };
  for (const Case& c : cases) {
    expectUniformPairGives(c.left, c.right, c.mode, c.method, c.enhance, c.expected);
  }
  for (bool enhance : {false, true}) {
    expectUniformPairGives(black, black, greyMode, 0, enhance, black);
    for (int method = 0; method <= 4; ++method) {
      expectUniformPairGives(black, black, colour, method, enhance, black);
    }
  }
}

TEST(AnaglyphRender, RuleThatAssignsNothingGivesGammaOfBlackOverTheCrop) {
  const Image l = test::makeCoordinateImage(9, 6);
  const Image r = test::makeSmoothImage(9, 6);
  GammaTable lifted = screenGamma();
  lifted[0] = 7;  // shows that the start colour goes through the table like any other
  const PixelOffset offset{2, -1};
  const CropRect crop = alignmentBoundsFor(9, 6, offset);
  for (const auto& [name, render] : renderers()) {
    for (const auto& [mode, method] : {std::pair{1, 5}, {1, -1}, {0, 4}, {3, 0}}) {
      for (bool enhance : {false, true}) {
        const auto out = render(l, r, offset, crop, mode, method, enhance, lifted);
        ASSERT_TRUE(out) << name;
        ASSERT_EQ(out->width(), 7);
        ASSERT_EQ(out->height(), 5);
        for (int y = 0; y < 5; ++y) {
          for (int x = 0; x < 7; ++x) {
            ASSERT_EQ(rgbAt(*out, x, y), (Rgb8{7, 7, 7})) << name << " mode " << mode;
            ASSERT_EQ(out->pixel(x, y)[3], 255);
          }
        }
      }
    }
  }
}

// Method 0 copies left red and right green and blue, so with an identity table the output
// shows which pixels were paired.
TEST(AnaglyphRender, PairsEachLeftPixelWithTheRightPixelShiftedByTheOffset) {
  const Image l = test::makeCoordinateImage(11, 8);
  const Image r = test::makeSmoothImage(11, 8, 5);
  for (const PixelOffset offset : {PixelOffset{0, 0}, PixelOffset{3, -2}, PixelOffset{-4, 1}}) {
    const CropRect crop = alignmentBoundsFor(11, 8, offset);
    const int x0 = int(crop.x), y0 = int(crop.y);
    for (const auto& [name, render] : renderers()) {
      const auto out = render(l, r, offset, crop, 1, 0, false, identityGamma());
      ASSERT_TRUE(out) << name;
      ASSERT_EQ(out->width(), 11 - std::abs(offset.x));
      ASSERT_EQ(out->height(), 8 - std::abs(offset.y));
      for (int y = 0; y < out->height(); ++y) {
        for (int x = 0; x < out->width(); ++x) {
          const Rgb8 lp = rgbAt(l, x0 + x, y0 + y);
          const Rgb8 rp = rgbAt(r, x0 + x - offset.x, y0 + y - offset.y);
          ASSERT_EQ(rgbAt(*out, x, y), (Rgb8{lp.r, rp.g, rp.b}))
              << name << " offset " << offset.x << "," << offset.y << " at " << x << "," << y;
        }
      }
    }
  }
}

TEST(AnaglyphRender, RefusesCropsWithoutPartnerPixels) {
  const Image l = test::makeSmoothImage(10, 6);
  const Image r = test::makeSmoothImage(10, 6, 2);
  const Image narrow = test::makeSmoothImage(8, 6, 3);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  struct Case {
    const char* what;
    const Image& right;
    PixelOffset offset;
    CropRect crop;
  };
  const std::vector<Case> cases = {
      {"empty crop", r, {10, 0}, alignmentBoundsFor(10, 6, {10, 0})},
      {"zero height", r, {0, 0}, {0, 0, 10, 0}},
      {"crop leaves the left image", r, {0, 0}, {1, 0, 10, 6}},
      {"negative origin", r, {0, 0}, {-1, 0, 5, 6}},
      {"partner leaves the right image", r, {2, 0}, {0, 0, 8, 6}},
      {"right image too small", narrow, {0, 0}, {0, 0, 10, 6}},
      {"not a number", r, {0, 0}, {nan, 0, 10, 6}},
      {"huge", r, {0, 0}, {0, 0, 1e30f, 6}},
  };
  for (const Case& c : cases) {
    for (const auto& [name, render] : renderers()) {
      EXPECT_FALSE(render(l, c.right, c.offset, c.crop, 1, 4, true, screenGamma()))
          << name << ": " << c.what;
    }
  }
  EXPECT_TRUE(
      blendImages(l, narrow, {2, 0}, alignmentBoundsFor(10, 6, {2, 0}), 1, 4, true, screenGamma()));
}

// Every fast variant against the plain loop on whole images: every mode (an invalid one too),
// every method, with and without enhancement, an offset of mixed signs, one and three threads.
// Successive renders alternate between the table and its complement, so a row that a variant
// forgets to write cannot pass by holding the previous render's bytes in recycled memory.
void expectFastEqualsReference(const Image& left, const Image& right, PixelOffset offset,
                               const GammaTable& gamma, const std::string& what) {
  GammaTable complement;
  for (int i = 0; i < 256; ++i) complement[i] = static_cast<std::uint8_t>(255 - gamma[i]);
  const GammaTable* tables[2] = {&gamma, &complement};
  const CropRect crop = alignmentBoundsFor(left.width(), left.height(), offset);
  for (int mode : {1, 2, 6}) {
    for (int method = -1; method <= 5; ++method) {
      for (bool enhance : {false, true}) {
        std::optional<Image> expected[2];
        for (int t = 0; t < 2; ++t) {
          expected[t] =
              blendImagesReference(left, right, offset, crop, mode, method, enhance, *tables[t]);
          ASSERT_TRUE(expected[t]);
        }
        int turn = 0;
        for (AnaglyphKernel kernel : supportedAnaglyphKernels()) {
          for (int threads : {1, 3}) {
            const int t = turn++ % 2;
            const auto actual = blendImagesWithKernel(kernel, left, right, offset, crop, mode,
                                                      method, enhance, *tables[t], threads);
            ASSERT_TRUE(actual);
            ASSERT_EQ(actual->byteCount(), expected[t]->byteCount());
            ASSERT_EQ(0, std::memcmp(actual->data(), expected[t]->data(), expected[t]->byteCount()))
                << what << ", " << toString(kernel) << ": mode " << mode << " method " << method
                << (enhance ? " enhanced" : "") << " threads " << threads;
          }
        }
      }
    }
  }
}

TEST(AnaglyphFastPath, MatchesTheReferenceOnRealPairs) {
  int pairsSeen = 0;
  for (const char* pair : {"night-street", "gx8-split", "chessboard"}) {
    const std::string leftPath = test::testdataPath(std::string("pairs/") + pair + "/left.jpg");
    const std::string rightPath = test::testdataPath(std::string("pairs/") + pair + "/right.jpg");
    if (leftPath.empty() || rightPath.empty()) continue;
    auto left = decodeImageFile(leftPath);
    auto right = decodeImageFile(rightPath);
    ASSERT_TRUE(left) << left.error().message;
    ASSERT_TRUE(right) << right.error().message;
    // Big enough for three row bands, small enough for the plain loop.
    const Image l = ImageTools::scaleAndRotateImage(*left, -1, 320);
    const Image r = ImageTools::scaleAndRotateImage(*right, -1, 320);
    ASSERT_EQ(l.width(), r.width());
    ASSERT_EQ(l.height(), r.height());
    expectFastEqualsReference(l, r, {9, -6}, screenGamma(), pair);
    ++pairsSeen;
  }
  if (pairsSeen == 0) GTEST_SKIP() << "no real stereo pairs beside the repository";
}

// Random pixel pairs with every channel value, greys (whose lumas sit exactly on integers) and
// extremes, through a shuffled table so that no channel mix-up can hide behind a monotone one.
TEST(AnaglyphFastPath, MatchesTheReferenceOnRandomPixels) {
  std::mt19937 rng(20240611);
  const auto randomImage = [&rng](int width, int height) {
    Image image = *Image::create(width, height);
    std::uniform_int_distribution<int> byte(0, 255), kind(0, 3), edge(0, 5);
    const int edges[] = {0, 1, 127, 128, 254, 255};
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        std::uint8_t* p = image.pixel(x, y);
        const int k = kind(rng);
        if (k == 0) {
          p[0] = p[1] = p[2] = static_cast<std::uint8_t>(byte(rng));
        } else {
          for (int c = 0; c < 3; ++c) {
            p[c] = static_cast<std::uint8_t>(k == 1 ? edges[edge(rng)] : byte(rng));
          }
        }
      }
    }
    return image;
  };
  const Image l = randomImage(97, 61);
  const Image r = randomImage(97, 61);
  GammaTable shuffled = identityGamma();
  std::shuffle(shuffled.begin(), shuffled.end(), rng);
  expectFastEqualsReference(l, r, {-5, 3}, shuffled, "random");
}

// Method 0 puts any colour into the mixer (left red, right green and blue) and grey mode takes
// the luma of every left and right colour, so these cover each variant's enhancement and luma
// for all 2^24 colours, against the single-pixel functions.
TEST(AnaglyphFastPath, EnhancementAndLumaAgreeWithThePixelFunctionsForEveryColour) {
  constexpr int kRedsPerBlock = 16;
  const int width = 256 * kRedsPerBlock;
  Image pair = *Image::create(width, 256);  // used as left and as right image
  Image expectedEnhanced = *Image::create(width, 256);
  Image expectedGrey = *Image::create(width, 256);
  const CropRect crop = alignmentBoundsFor(width, 256, {0, 0});
  for (int block = 0; block < 256 / kRedsPerBlock; ++block) {
    for (int y = 0; y < 256; ++y) {
      for (int x = 0; x < width; ++x) {
        const Rgb8 c{static_cast<std::uint8_t>(block * kRedsPerBlock + x / 256),
                     static_cast<std::uint8_t>(x % 256), static_cast<std::uint8_t>(y)};
        const Rgb8 e = enhanceColour(c);
        const std::uint8_t l = luma(c.r, c.g, c.b);
        std::uint8_t* p = pair.pixel(x, y);
        std::uint8_t* pe = expectedEnhanced.pixel(x, y);
        std::uint8_t* pg = expectedGrey.pixel(x, y);
        p[0] = c.r, p[1] = c.g, p[2] = c.b;
        pe[0] = e.r, pe[1] = e.g, pe[2] = e.b;
        pg[0] = pg[1] = pg[2] = l;
      }
    }
    for (AnaglyphKernel kernel : supportedAnaglyphKernels()) {
      const auto enhanced =
          blendImagesWithKernel(kernel, pair, pair, {0, 0}, crop, 1, 0, true, identityGamma());
      const auto grey =
          blendImagesWithKernel(kernel, pair, pair, {0, 0}, crop, 2, 0, false, identityGamma());
      ASSERT_TRUE(enhanced && grey);
      if (!enhanced->samePixels(expectedEnhanced) || !grey->samePixels(expectedGrey)) {
        for (int y = 0; y < 256; ++y) {
          for (int x = 0; x < width; ++x) {
            const Rgb8 c = rgbAt(pair, x, y);
            ASSERT_EQ(rgbAt(*enhanced, x, y), rgbAt(expectedEnhanced, x, y))
                << toString(kernel) << " enhancing " << str(c);
            ASSERT_EQ(rgbAt(*grey, x, y), rgbAt(expectedGrey, x, y))
                << toString(kernel) << " luma of " << str(c);
          }
        }
      }
    }
  }
}

}  // namespace
}  // namespace duo
