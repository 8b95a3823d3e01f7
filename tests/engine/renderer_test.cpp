#include <gtest/gtest.h>

#include <filesystem>

#include "render/renderer.h"
#include "render/stereogram.h"
#include "test_support.h"
#include "transform/image_tools.h"

namespace duo {
namespace {

namespace fs = std::filesystem;

class RendererTest : public ::testing::Test {
 protected:
  RendererTest()
      : pair(test::makeSmoothImage(400, 300, 3), test::makeSmoothImage(400, 300, 4), 200.0f),
        cache(dir.path().string()) {
    cache.resetCacheDirectory();
    pair.setAlignOffsetX(5);
    pair.setAlignOffsetY(-3);
  }

  test::TempDir dir;
  StereoPair pair;
  RenderCache cache;
  GammaTable gamma = updateGammaTable(0.8);
  RenderSettings settings;
};

TEST_F(RendererTest, StillsAreRenderedFromTheWorkingCopiesAndTheStereogramIsShownTurned) {
  const auto colour = renderStill(pair, OutputKind::ColorAnaglyph, settings, gamma);
  ASSERT_TRUE(colour);
  EXPECT_TRUE(pair.resizedOriginalImages());
  EXPECT_EQ(colour->width(), 195);  // working copies of 200 × 150, offset (5, −3)
  EXPECT_EQ(colour->height(), 147);

  const auto shown = renderStill(pair, OutputKind::Stereogram, settings, gamma);
  ASSERT_TRUE(shown);
  const auto card = renderStereogramCard(pair.leftImage(), pair.rightImage(), pair.pixelOffset(),
                                         pair.getAlignmentBounds(200, 150), settings);
  ASSERT_TRUE(card);
  EXPECT_EQ(shown->width(), card->height());
  const auto still = stillImageForExport(OutputKind::Stereogram, &*shown);
  ASSERT_TRUE(still);
  EXPECT_TRUE(still->samePixels(*card)) << "export gives the upright card";

  EXPECT_FALSE(renderStill(pair, OutputKind::Alignment, settings, gamma));
  EXPECT_FALSE(renderStill(pair, OutputKind::Wigglegram, settings, gamma));
  pair.setAlignOffsetX(250);
  EXPECT_FALSE(renderStill(pair, OutputKind::GreyAnaglyph, settings, gamma)) << "no overlap";
}

TEST_F(RendererTest, SecondVisitLoadsTheCachedFileAndARemovalRendersAgain) {
  const auto first = renderOrLoadStill(pair, OutputKind::GreyAnaglyph, settings, gamma, cache);
  ASSERT_TRUE(first);
  EXPECT_FALSE(first->fromCache);
  cache.waitForPendingWrites();
  const std::string path = cache.fullPathToCachedImageForImageType(2);
  ASSERT_TRUE(fs::exists(path));

  // A changed setting does not reach a cached output: the file is trusted until removed.
  settings.colorMethod = 0;
  const auto second = renderOrLoadStill(pair, OutputKind::GreyAnaglyph, settings, gamma, cache);
  ASSERT_TRUE(second);
  EXPECT_TRUE(second->fromCache);
  EXPECT_TRUE(second->image->samePixels(*first->image));
  // The image written is shown again as it is, without decoding the file.
  EXPECT_EQ(second->image, first->image);

  cache.removeCachedFilesForMask(kCacheMaskAll);
  const auto third = renderOrLoadStill(pair, OutputKind::GreyAnaglyph, settings, gamma, cache);
  ASSERT_TRUE(third);
  EXPECT_FALSE(third->fromCache);

  // A damaged cache file is rendered again instead of failing the view.
  cache.waitForPendingWrites();
  test::writeBytes(path, {1, 2, 3});
  const auto fourth = renderOrLoadStill(pair, OutputKind::GreyAnaglyph, settings, gamma, cache);
  ASSERT_TRUE(fourth);
  EXPECT_FALSE(fourth->fromCache);
  EXPECT_TRUE(fourth->image->samePixels(*first->image));
}

TEST_F(RendererTest, WigglegramGifIsBuiltOnceWhileSelectedThenReadFromTheCache) {
  EXPECT_FALSE(animatedGifDataToSend(pair, OutputKind::ColorAnaglyph, cache))
      << "nothing cached and another kind selected";
  const auto built = animatedGifDataToSend(pair, OutputKind::Wigglegram, cache);
  ASSERT_TRUE(built) << built.error().message;
  cache.waitForPendingWrites();
  const std::string path = cache.fullPathToCachedImageForImageType(4);
  EXPECT_EQ(test::readBytes(path), *built);

  // Once cached, any selected kind gets the same bytes without a build.
  test::writeBytes(path, {'G', 'I', 'F', '8', '9', 'a', ';'});
  const auto again = animatedGifDataToSend(pair, OutputKind::Stereogram, cache);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->size(), 7u);
}

}  // namespace
}  // namespace duo
