#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "codec_fixtures.h"
#include "io/exif_orientation.h"
#include "io/image_codec.h"
#include "io/png_writer.h"
#include "support/test_support.h"

namespace duo {
namespace {

using Rgb = std::array<int, 3>;

Rgb rgbAt(const Image& image, int x, int y) {
  const std::uint8_t* p = image.pixel(x, y);
  return {p[0], p[1], p[2]};
}

TEST(PngCodec, EncodeThenDecodeIsLossless) {
  const Image original = test::makeCoordinateImage(301, 263);
  const auto png = encodePng(original);
  ASSERT_TRUE(png) << png.error().message;
  const auto decoded = decodeImage(*png, "round.png");
  ASSERT_TRUE(decoded) << decoded.error().message;
  EXPECT_TRUE(decoded->samePixels(original));
  const auto info = readImageInfo(*png, "round.png");
  ASSERT_TRUE(info);
  EXPECT_EQ(info->format, ImageFormat::Png);
  EXPECT_EQ((Rgb{info->width, info->height, info->orientationTag}), (Rgb{301, 263, 0}));
}

// The file's layout: signature, IHDR (8-bit RGB), the IDAT chunks, IEND and nothing else; one
// IDAT from the one-shot compressor, several from the streaming one on a large noisy image;
// one zlib stream whose every row is UP-filtered.
TEST(PngCodec, WritesHeaderImageDataAndEndOnlyWithUpFilteredRows) {
  Image noise = *Image::create(701, 517);
  std::uint32_t state = 1;
  for (std::size_t i = 0; i < noise.byteCount(); ++i) {
    state = state * 1103515245u + 12345u;
    noise.data()[i] = static_cast<std::uint8_t>(state >> 24);
  }
  for (const bool streaming : {false, true}) {
    SCOPED_TRACE(streaming ? "streaming" : "one shot");
    const auto png = png::encode(noise, streaming ? 0 : png::kMaxOneShotPixels);
    ASSERT_TRUE(png);
    const auto chunks = test::pngChunks(*png);
    ASSERT_GE(chunks.size(), 3u);
    EXPECT_EQ(chunks.front().type, "IHDR");
    EXPECT_EQ(chunks.front().data,
              (std::vector<std::uint8_t>{0, 0, 2, 189, 0, 0, 2, 5, 8, 2, 0, 0, 0}));
    EXPECT_EQ(chunks.back().type, "IEND");
    std::vector<std::uint8_t> stream;
    for (const auto& chunk : chunks) EXPECT_TRUE(chunk.crcMatches) << chunk.type;
    for (std::size_t i = 1; i + 1 < chunks.size(); ++i) {
      EXPECT_EQ(chunks[i].type, "IDAT");
      stream.insert(stream.end(), chunks[i].data.begin(), chunks[i].data.end());
    }
    EXPECT_EQ(chunks.size() > 3, streaming);
    const std::size_t rowBytes = 1 + 701 * 3;
    std::vector<std::uint8_t> rows(rowBytes * 517 + 1);
    uLongf length = rows.size();
    ASSERT_EQ(uncompress(rows.data(), &length, stream.data(), stream.size()), Z_OK);
    ASSERT_EQ(length, rowBytes * 517);
    for (int y = 0; y < 517; ++y) ASSERT_EQ(rows[y * rowBytes], 2) << "row " << y;
  }
}

// Three by two pixels of each colour type and depth, plain and interlaced, expected RGB worked
// out by hand: alpha over black is (c * a + 127) / 255, 16-bit k * 257 scales to k.
TEST(PngCodec, DecodesEveryVariantToRgbOverBlack) {
  struct Case {
    const char* name;
    int colorType, bitDepth;
    std::vector<std::uint16_t> samples;
    std::vector<Rgb> expected;
    std::vector<png_color> palette = {};
    std::vector<std::uint8_t> transparency = {};
  };
  constexpr int kGrey = PNG_COLOR_TYPE_GRAY, kGreyAlpha = PNG_COLOR_TYPE_GRAY_ALPHA,
                kPalette = PNG_COLOR_TYPE_PALETTE, kRgb = PNG_COLOR_TYPE_RGB,
                kRgba = PNG_COLOR_TYPE_RGB_ALPHA;
  // clang-format off
  const std::vector<Case> cases = {
    {"grey 8", kGrey, 8, {0, 77, 255, 1, 128, 200},
     {{0, 0, 0}, {77, 77, 77}, {255, 255, 255}, {1, 1, 1}, {128, 128, 128}, {200, 200, 200}}},
    {"grey 1", kGrey, 1, {0, 1, 1, 0, 1, 0},
     {{0, 0, 0}, {255, 255, 255}, {255, 255, 255}, {0, 0, 0}, {255, 255, 255}, {0, 0, 0}}},
    {"grey 16", kGrey, 16, {0, 0xFFFF, 0x8080, 0x0101, 0x3333, 0xFEFE},
     {{0, 0, 0}, {255, 255, 255}, {128, 128, 128}, {1, 1, 1}, {51, 51, 51}, {254, 254, 254}}},
    {"grey+alpha 8", kGreyAlpha, 8, {200, 64, 255, 255, 90, 0, 100, 128, 255, 1, 10, 254},
     {{50, 50, 50}, {255, 255, 255}, {0, 0, 0}, {50, 50, 50}, {1, 1, 1}, {10, 10, 10}}},
    {"palette 8 + tRNS", kPalette, 8, {0, 1, 2, 0, 2, 1},
     {{255, 0, 0}, {0, 0, 0}, {5, 10, 15}, {255, 0, 0}, {5, 10, 15}, {0, 0, 0}},
     {{255, 0, 0}, {0, 255, 0}, {10, 20, 30}}, {255, 0, 128}},
    {"palette 2", kPalette, 2, {0, 1, 2, 2, 1, 0},
     {{1, 2, 3}, {40, 50, 60}, {200, 100, 0}, {200, 100, 0}, {40, 50, 60}, {1, 2, 3}},
     {{1, 2, 3}, {40, 50, 60}, {200, 100, 0}}},
    {"rgb 8", kRgb, 8, {1, 2, 3, 250, 0, 9, 0, 0, 0, 255, 255, 255, 17, 34, 51, 128, 64, 32},
     {{1, 2, 3}, {250, 0, 9}, {0, 0, 0}, {255, 255, 255}, {17, 34, 51}, {128, 64, 32}}},
    {"rgba 8", kRgba, 8, {200, 100, 50, 128, 255, 255, 255, 0, 1, 2, 3, 255,
                          255, 0, 0, 1, 40, 80, 120, 191, 255, 255, 255, 255},
     {{100, 50, 25}, {0, 0, 0}, {1, 2, 3}, {1, 0, 0}, {30, 60, 90}, {255, 255, 255}}},
    {"rgb 16", kRgb, 16, {0xFFFF, 0x8080, 0x0101, 0, 0x3333, 0xFFFF, 0x0202, 0x0303, 0x0404,
                          0xFFFF, 0xFFFF, 0xFFFF, 0, 0, 0, 0x6464, 0xC8C8, 0x1010},
     {{255, 128, 1}, {0, 51, 255}, {2, 3, 4}, {255, 255, 255}, {0, 0, 0}, {100, 200, 16}}},
    {"rgba 16", kRgba, 16, {0xFFFF, 0, 0x8080, 0x8080, 0xFFFF, 0xFFFF, 0xFFFF, 0,
                            0x6464, 0x6464, 0x6464, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF,
                            0xC8C8, 0, 0, 0x4040, 0, 0, 0, 0},
     {{128, 0, 64}, {0, 0, 0}, {100, 100, 100}, {255, 255, 255}, {50, 0, 0}, {0, 0, 0}}},
  };
  // clang-format on
  for (const Case& c : cases) {
    for (const bool interlaced : {false, true}) {
      const test::PngSpec recipe{3,          2,         c.colorType, c.bitDepth,
                                 interlaced, c.samples, c.palette,   c.transparency};
      const auto decoded = decodeImage(test::writePng(recipe), "variant.png");
      ASSERT_TRUE(decoded) << c.name << ": " << decoded.error().message;
      ASSERT_EQ(decoded->width() * decoded->height(), 6);
      for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(rgbAt(*decoded, i % 3, i / 3), c.expected[i])
            << c.name << (interlaced ? " interlaced" : "") << ", pixel " << i;
      }
    }
  }
}

TEST(PngCodec, OrientationComesFromTheExifChunk) {
  test::PngSpec recipe{2, 1, PNG_COLOR_TYPE_RGB, 8, false, {1, 2, 3, 4, 5, 6}};
  EXPECT_EQ(decodeImage(test::writePng(recipe), "plain.png")->orientationTag(), 0);
  recipe.exif =
      test::exifTiffOf(test::withExifOrientation(*encodeJpeg(*Image::create(8, 8), 90), 6));
  const auto tagged = test::writePng(recipe);
  EXPECT_EQ(decodeImage(tagged, "tagged.png")->orientationTag(), int(Orientation::Right));
  EXPECT_EQ(readImageInfo(tagged, "tagged.png")->orientationTag, int(Orientation::Right));
}

TEST(JpegCodec, RoundTripAndProgressiveStayCloseToTheOriginal) {
  const Image original = test::makeSmoothImage(320, 240);
  test::JpegRecipe progressiveSpec;
  progressiveSpec.progressive = true;
  const auto progressive = test::writeJpeg(original, progressiveSpec);
  ASSERT_NE(test::findMarker(progressive, 0xC2), std::string::npos);  // SOF2
  for (const auto& bytes : {*encodeJpeg(original, 90), progressive}) {
    const auto decoded = decodeImage(bytes, "photo.jpg");
    ASSERT_TRUE(decoded) << decoded.error().message;
    ASSERT_EQ(decoded->width(), 320);
    ASSERT_EQ(decoded->height(), 240);
    // The source's pixel noise (up to ±6) is what JPEG drops first; a swapped or shifted
    // channel would be off by tens.
    EXPECT_LT(test::meanAbsDifference(*decoded, original), 6.0);
  }
  // Quality is clamped to 1..100.
  EXPECT_EQ(*encodeJpeg(original, -20), *encodeJpeg(original, 1));
  EXPECT_EQ(*encodeJpeg(original, 1000), *encodeJpeg(original, 100));
}

TEST(JpegCodec, GreyscaleDecodesToEqualChannelsHoldingTheLuma) {
  const Image original = test::makeSmoothImage(64, 48);
  test::JpegRecipe recipe;
  recipe.stored = JCS_GRAYSCALE;
  const auto decoded = decodeImage(test::writeJpeg(original, recipe), "grey.jpg");
  ASSERT_TRUE(decoded) << decoded.error().message;
  int coloured = 0;
  double lumaError = 0;
  for (int y = 0; y < 48; ++y) {
    for (int x = 0; x < 64; ++x) {
      const Rgb p = rgbAt(*decoded, x, y), s = rgbAt(original, x, y);
      coloured += p[0] != p[1] || p[1] != p[2];
      lumaError += std::abs(p[0] - (0.299 * s[0] + 0.587 * s[1] + 0.114 * s[2]));
    }
  }
  EXPECT_EQ(coloured, 0);
  EXPECT_LT(lumaError / (64 * 48), 3.0);
}

// Inks as Photoshop stores them, inverted (255 is no ink), one flat 16 x 16 block per colour.
TEST(JpegCodec, CmykAndYcckDecodeToTheirRgbColours) {
  const std::vector<std::pair<std::array<std::uint8_t, 4>, Rgb>> patches = {
      {{255, 0, 0, 255}, {255, 0, 0}},     {{255, 255, 255, 255}, {255, 255, 255}},
      {{255, 255, 255, 0}, {0, 0, 0}},     {{255, 255, 255, 128}, {128, 128, 128}},
      {{0, 255, 128, 255}, {0, 255, 128}},
  };
  Image inks = *Image::create(16 * int(patches.size()), 16);
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < inks.width(); ++x) {
      std::copy_n(patches[x / 16].first.begin(), 4, inks.pixel(x, y));
    }
  }
  for (const J_COLOR_SPACE stored : {JCS_CMYK, JCS_YCCK}) {
    const auto decoded = decodeImage(test::writeJpeg(inks, {JCS_CMYK, stored}), "print.jpg");
    ASSERT_TRUE(decoded) << decoded.error().message;
    for (std::size_t k = 0; k < patches.size(); ++k) {
      const Rgb p = rgbAt(*decoded, int(k) * 16 + 8, 8);
      for (int c = 0; c < 3; ++c) {
        EXPECT_NEAR(p[c], patches[k].second[c], 4) << "patch " << k << " stored as " << stored;
      }
    }
  }
}

// The smallest of 1/8, 1/4 and 1/2 that still covers the request, else full size.
TEST(JpegCodec, MinimumSizePicksTheSmallestSufficientScale) {
  const auto jpeg = *encodeJpeg(test::makeSmoothImage(400, 300), 90);
  const std::array<int, 4> cases[] = {{0, 0, 400, 300},    {100, 75, 100, 75}, {101, 75, 200, 150},
                                      {100, 76, 200, 150}, {50, 0, 50, 38},    {1, 1, 50, 38},
                                      {0, 151, 400, 300},  {401, 1, 400, 300}};
  for (const auto& [minWidth, minHeight, width, height] : cases) {
    const auto image = decodeImage(jpeg, "scaled.jpg", {minWidth, minHeight});
    ASSERT_TRUE(image) << image.error().message;
    EXPECT_EQ(std::make_pair(image->width(), image->height()), std::make_pair(width, height))
        << "at least " << minWidth << " x " << minHeight;
  }
  // Scaled output is the whole picture, not a corner of it.
  const auto full = decodeImage(jpeg, "full.jpg");
  const auto quarter = decodeImage(jpeg, "quarter.jpg", {100, 75});
  EXPECT_NEAR(quarter->pixel(99, 74)[0], full->pixel(398, 298)[0], 12);
  EXPECT_EQ(decodeImage(*encodePng(*Image::create(40, 30)), "p.png", {10, 10})->width(), 40);
}

TEST(ExifOrientation, EveryExifValueMapsToItsTag) {
  const auto jpeg = *encodeJpeg(test::makeSmoothImage(16, 8), 90);
  const std::array<int, 10> tagForExif = {0, 0, 4, 1, 5, 6, 3, 7, 2, 0};  // EXIF 0 … 9
  for (int exif = 0; exif <= 9; ++exif) {
    const auto tagged = test::withExifOrientation(jpeg, exif);
    const auto image = decodeImage(tagged, "tagged.jpg");
    ASSERT_TRUE(image) << image.error().message;
    EXPECT_EQ(image->orientationTag(), tagForExif[exif]) << "EXIF " << exif;
    EXPECT_EQ(image->width(), 16);  // carried, not applied
    EXPECT_EQ(readImageInfo(tagged, "tagged.jpg")->orientationTag, tagForExif[exif]);
  }
  EXPECT_EQ(decodeImage(jpeg, "plain.jpg")->orientationTag(), 0);
}

// Each tag goes in as its EXIF value in an APP1 segment straight after the JFIF APP0, and
// reads back; the pixels stay the stored grid.
TEST(JpegCodec, WritesTheOrientationTagWhenAsked) {
  struct Row {
    int tag;
    int exif;
  };
  constexpr Row kRows[] = {{0, 1}, {1, 3}, {2, 8}, {3, 6}, {4, 2}, {5, 4}, {6, 5}, {7, 7}};
  Image image = test::makeSmoothImage(24, 16);
  for (const Row& row : kRows) {
    image.setOrientationTag(row.tag);
    const auto jpeg = encodeJpeg(image, 90, true);
    ASSERT_TRUE(jpeg) << jpeg.error().message;
    const std::size_t app1 = test::findMarker(*jpeg, 0xE1);
    ASSERT_EQ(app1, 2u + 2u + 16u) << "tag " << row.tag;  // SOI, then APP0 of 16 bytes
    // Marker, length, identifier, TIFF header, entry count, then tag, type and count.
    EXPECT_EQ((*jpeg)[app1 + 4 + 6 + 8 + 2 + 8], row.exif) << "tag " << row.tag;
    EXPECT_EQ(readImageInfo(*jpeg, "tagged.jpg")->orientationTag, row.tag);
    const auto decoded = decodeImage(*jpeg, "tagged.jpg");
    ASSERT_TRUE(decoded);
    EXPECT_EQ(std::make_pair(decoded->width(), decoded->orientationTag()),
              std::make_pair(24, row.tag));
  }
  // Without the option the tag is left out, whatever it is; with it a bad tag is refused.
  for (const int bad : {-1, 8}) {
    image.setOrientationTag(bad);
    const auto plain = encodeJpeg(image, 90);
    ASSERT_TRUE(plain);
    EXPECT_EQ(test::findMarker(*plain, 0xE1), std::string::npos);
    const auto refused = encodeJpeg(image, 90, true);
    ASSERT_FALSE(refused) << "tag " << bad;
    EXPECT_EQ(refused.error().code, ErrorCode::InvalidArgument);
  }
}

TEST(ExifOrientation, ReadsBigEndianBlocksAndRejectsMalformedEntries) {
  // "MM", 42, IFD at 8; one entry: Orientation (0x0112), SHORT (3), count 1, value 6.
  const std::vector<std::uint8_t> tiff = {'M', 'M', 0, 42, 0, 0, 0, 8, 0, 1, 0x01, 0x12, 0,
                                          3,   0,   0, 0,  1, 0, 6, 0, 0, 0, 0,    0,    0};
  EXPECT_EQ(orientationFromExifBlock(tiff), int(Orientation::Right));
  auto patched = [&](std::size_t at, std::uint8_t value) {
    auto copy = tiff;
    copy[at] = value;
    return orientationFromExifBlock(copy);
  };
  EXPECT_EQ(patched(13, 4), 0);     // LONG instead of SHORT
  EXPECT_EQ(patched(17, 0), 0);     // no components
  EXPECT_EQ(patched(16, 0x40), 0);  // more components than the block holds
  EXPECT_EQ(orientationFromExifBlock(std::span(tiff).first(14)), 0);
  EXPECT_EQ(orientationFromExifBlock({}), 0);
}

TEST(ImageFile, WritesByExtensionAnyCase) {
  EXPECT_EQ(imageFormatFromPath("a/left.JPG"), ImageFormat::Jpeg);
  EXPECT_EQ(imageFormatFromPath("left.jpeg"), ImageFormat::Jpeg);
  EXPECT_EQ(imageFormatFromPath("folder.png/file"), std::nullopt);
  test::TempDir dir;
  const Image image = test::makeCoordinateImage(48, 32);
  for (const char* name : {"out.Png", "out.JPEG"}) {
    const std::string path = (dir / name).string();
    ASSERT_TRUE(writeImageFile(image, path, 95));
    const auto bytes = test::readBytes(path);
    EXPECT_EQ(sniffImageFormat(bytes), imageFormatFromPath(name)) << name;
    const auto back = decodeImageFile(path);
    ASSERT_TRUE(back) << back.error().message;
    EXPECT_EQ(back->width(), 48);
  }
  EXPECT_TRUE(decodeImageFile((dir / "out.Png").string())->samePixels(image));
}

TEST(RealFiles, DecodeAtTheirSizeAndAgreeWithTheirHeaders) {
  if (test::testdataPath("").empty()) GTEST_SKIP() << "no shared test data";
  const std::tuple<const char*, int, int> cases[] = {
      {"pairs/night-street/left.jpg", 1200, 795},  // progressive 4:4:4
      {"pairs/chessboard/left.jpg", 640, 480},     // greyscale
      {"pairs/gx8-split/left.jpg", 1824, 1367},
  };
  for (const auto& [name, width, height] : cases) {
    const std::string path = test::testdataPath(name);
    const auto info = readImageInfoFile(path);
    const auto image = decodeImageFile(path);
    ASSERT_TRUE(info && image) << name;
    EXPECT_EQ(std::make_pair(info->width, info->height), std::make_pair(width, height)) << name;
    EXPECT_EQ(std::make_pair(image->width(), image->height()), std::make_pair(width, height));
    EXPECT_EQ(info->orientationTag, 0) << name;
    EXPECT_EQ(image->orientationTag(), 0) << name;
  }
}

}  // namespace
}  // namespace duo
