#include <gtest/gtest.h>

#include "io/image_codec.h"
#include "stereo/pair_loader.h"
#include "stereo/side_by_side.h"
#include "test_support.h"
#include "transform/crop.h"
#include "transform/image_tools.h"

namespace duo {
namespace {

/// width × height, columns [0, split) red, [split, 2·split) blue, any beyond green.
Image twoColours(int width, int height, int split) {
  Image image = *Image::create(width, height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      std::uint8_t* p = image.pixel(x, y);
      p[x < split ? 0 : x < 2 * split ? 2 : 1] = 255;
    }
  }
  return image;
}

bool allOneColour(const Image& image, int channel) {
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      for (int c = 0; c < 3; ++c) {
        if (image.pixel(x, y)[c] != (c == channel ? 255 : 0)) return false;
      }
    }
  }
  return true;
}

TEST(SideBySide, ParallelKeepsTheHalvesCrossSwapsThemAndAnOddColumnGoes) {
  const Image whole = twoColours(9, 3, 4);  // the ninth column is green
  const auto parallel = splitSideBySide(whole, SideBySideLayout::Parallel);
  ASSERT_TRUE(parallel);
  EXPECT_EQ(parallel->first.width(), 4);
  EXPECT_EQ(parallel->first.height(), 3);
  EXPECT_TRUE(allOneColour(parallel->first, 0));
  EXPECT_TRUE(allOneColour(parallel->second, 2));

  const auto cross = splitSideBySide(whole, SideBySideLayout::Cross);
  ASSERT_TRUE(cross);
  EXPECT_TRUE(cross->first.samePixels(parallel->second));
  EXPECT_TRUE(cross->second.samePixels(parallel->first));
}

TEST(SideBySide, SplitsTheUprightImageNotTheStoredGrid) {
  Image stored = test::makeCoordinateImage(6, 10);
  stored.setOrientationTag(static_cast<int>(Orientation::Right));
  const auto views = splitSideBySide(stored, SideBySideLayout::Parallel);
  ASSERT_TRUE(views);
  const Image upright = ImageTools::scaleAndRotateImage(stored, -1, 100);
  ASSERT_EQ(upright.width(), 10);
  EXPECT_TRUE(views->first.samePixels(*cropImage(upright, {0, 0, 5, 6})));
  EXPECT_TRUE(views->second.samePixels(*cropImage(upright, {5, 0, 5, 6})));
  EXPECT_EQ(views->second.orientationTag(), 0);
}

TEST(SideBySide, RefusesWhatCannotBeHalved) {
  Image tall = *Image::create(5, 1);  // one pixel wide once turned upright
  tall.setOrientationTag(static_cast<int>(Orientation::Left));
  for (const Image& image : {*Image::create(1, 8), tall}) {
    const auto views = splitSideBySide(image, SideBySideLayout::Parallel);
    ASSERT_FALSE(views);
    EXPECT_EQ(views.error().code, ErrorCode::InvalidArgument);
    EXPECT_NE(views.error().message.find("at least 2 pixels wide"), std::string::npos);
  }
  EXPECT_TRUE(splitSideBySide(*Image::create(2, 1), SideBySideLayout::Cross));
  Image badTag = *Image::create(4, 4);
  badTag.setOrientationTag(8);
  EXPECT_EQ(splitSideBySide(badTag, SideBySideLayout::Cross).error().code,
            ErrorCode::InvalidArgument);
}

TEST(SideBySide, LayoutNamesAndTheJpsDefault) {
  for (const auto layout : {SideBySideLayout::Parallel, SideBySideLayout::Cross}) {
    EXPECT_EQ(sideBySideLayoutFromString(toString(layout)), layout);
  }
  EXPECT_EQ(sideBySideLayoutFromString("Cross"), std::nullopt);
  EXPECT_EQ(sideBySideLayoutForPath("/a/b.JPS"), SideBySideLayout::Cross);
  EXPECT_EQ(sideBySideLayoutForPath("b.jps"), SideBySideLayout::Cross);
  EXPECT_EQ(sideBySideLayoutForPath("jps.jpg"), std::nullopt);
  EXPECT_EQ(sideBySideLayoutForPath("b.mpo"), std::nullopt);
}

TEST(SideBySideFile, WorkingCopiesTakeTheirSizeFromOneHalf) {
  test::TempDir dir;
  const std::string png = (dir / "sbs.png").string();
  ASSERT_TRUE(writeImageFile(twoColours(400, 100, 200), png));
  const auto parallel = loadStereoPairFile(png, SideBySideLayout::Parallel, 50);
  ASSERT_TRUE(parallel) << parallel.error().message;
  EXPECT_EQ(parallel->maximumResolution(), 100.0f);
  EXPECT_EQ(parallel->leftImage().width(), 100);
  EXPECT_EQ(parallel->rightImage().height(), 50);
  EXPECT_TRUE(allOneColour(parallel->leftImage(), 0));
  EXPECT_TRUE(allOneColour(parallel->rightImage(), 2));
  const auto cross = loadStereoPairFile(png, SideBySideLayout::Cross, 100);
  ASSERT_TRUE(cross);
  EXPECT_EQ(cross->leftImage().width(), 200);
  EXPECT_TRUE(allOneColour(cross->leftImage(), 2));

  const auto unmarked = loadStereoPairFile(png, std::nullopt, 50);
  ASSERT_FALSE(unmarked);
  EXPECT_EQ(unmarked.error().code, ErrorCode::InvalidArgument);
  EXPECT_NE(unmarked.error().message.find("use --sbs parallel|cross"), std::string::npos);
}

TEST(SideBySideFile, JpsIsAJpegViewedCrossEyedUnlessToldOtherwise) {
  test::TempDir dir;
  const std::string jps = (dir / "card.JPS").string();
  const auto jpeg = encodeJpeg(twoColours(64, 32, 32), 95);
  ASSERT_TRUE(jpeg);
  test::writeBytes(jps, *jpeg);
  ASSERT_TRUE(isSingleFilePair(jps));
  for (const auto& [layout, channel] : {std::pair{std::optional<SideBySideLayout>{}, 2},
                                        std::pair{std::optional{SideBySideLayout::Parallel}, 0}}) {
    const auto pair = loadStereoPairFile(jps, layout, 100);
    ASSERT_TRUE(pair) << pair.error().message;
    const std::uint8_t* middle = pair->leftImage().pixel(16, 16);
    EXPECT_GT(middle[channel], 200) << channel;
    EXPECT_LT(middle[channel == 0 ? 2 : 0], 60) << channel;
  }
}

TEST(SideBySideFile, TheStereographCardSplitsIntoTwoHalvesOfTheOddWidth) {
  const std::string card = test::testdataPath("pairs/stereograph-card-sbs.jpg");
  if (card.empty()) GTEST_SKIP() << "no shared test data";
  EXPECT_FALSE(isSingleFilePair(card));
  const auto parallel = loadStereoPairFile(card, SideBySideLayout::Parallel, 100);
  ASSERT_TRUE(parallel) << parallel.error().message;
  EXPECT_EQ(parallel->leftImage().width(), 1821);
  EXPECT_EQ(parallel->rightImage().width(), 1821);
  EXPECT_EQ(parallel->leftImage().height(), 1574);
  const auto cross = loadStereoPairFile(card, SideBySideLayout::Cross, 100);
  ASSERT_TRUE(cross);
  EXPECT_TRUE(cross->leftImage().samePixels(parallel->rightImage()));
  EXPECT_FALSE(cross->leftImage().samePixels(parallel->leftImage()));
}

}  // namespace
}  // namespace duo
