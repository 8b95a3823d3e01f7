#include <gtest/gtest.h>

#include <cmath>

#include "io/image_codec.h"
#include "stereo/pair_loader.h"
#include "stereo/stereo_pair.h"
#include "test_support.h"
#include "transform/image_tools.h"

namespace duo {
namespace {

constexpr ImageViewGeometry kPhoneView{320.0f, 416.0f, true};

void writeJpeg(const std::filesystem::path& path, int width, int height) {
  auto bytes = encodeJpeg(test::makeSmoothImage(width, height, 1), 90);
  ASSERT_TRUE(bytes.ok());
  test::writeBytes(path, *bytes);
}

TEST(PairLoader, MakesWorkingCopiesAndRefusesWhatCannotBeAPair) {
  test::TempDir dir;
  writeJpeg(dir.path() / "l.jpg", 400, 300);
  writeJpeg(dir.path() / "r.jpg", 400, 300);
  writeJpeg(dir.path() / "other.jpg", 300, 300);
  const std::string l = (dir.path() / "l.jpg").string();
  const std::string r = (dir.path() / "r.jpg").string();

  auto pair = loadStereoPairFiles(l, r, 50);
  ASSERT_TRUE(pair.ok()) << pair.error().message;
  EXPECT_EQ(pair->leftImage().width(), 200);
  EXPECT_EQ(pair->rightImage().height(), 150);
  EXPECT_TRUE(pair->resizedOriginalImages());

  auto mismatched = loadStereoPairFiles(l, (dir.path() / "other.jpg").string(), 50);
  ASSERT_FALSE(mismatched.ok());
  EXPECT_NE(mismatched.error().message.find("400x300"), std::string::npos);
  EXPECT_NE(mismatched.error().message.find("300x300"), std::string::npos);
  // A working size of nothing is refused rather than thrown from deep inside the reduction.
  for (const float bad : {0.0f, -10.0f, std::nanf("")}) {
    auto refused = loadStereoPairFiles(l, r, bad);
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().code, ErrorCode::InvalidArgument);
  }
  EXPECT_FALSE(loadStereoPairFiles(l, (dir.path() / "missing.jpg").string(), 50).ok());
}

TEST(DisplayScale, FollowsTheLimitingSideOfAnAspectFitView) {
  EXPECT_EQ(scaleForImageView(kPhoneView, 1600, 1200), 5.0f);
  // 320 / 1632 and its reciprocal are single precision: just below 5.1.
  const float s = scaleForImageView(kPhoneView, 1632, 1224);
  EXPECT_LT(static_cast<double>(s), 5.1);
  EXPECT_EQ(s, 1.0f / (320.0f / 1632.0f));
  // A tall image is limited by the height.
  EXPECT_EQ(scaleForImageView(kPhoneView, 416, 832), 2.0f);
  // No view, or a view that does not fit its content, takes the offset as pixels.
  EXPECT_EQ(scaleForImageView(std::nullopt, 1600, 1200), 1.0f);
  EXPECT_EQ(scaleForImageView(ImageViewGeometry{320, 416, false}, 1600, 1200), 1.0f);
}

TEST(PixelOffset, TruncatesTowardZeroInDoublePrecision) {
  EXPECT_EQ(pixelOffsetFor(5.0f, 10.0f, 0.0f), (PixelOffset{50, 0}));
  EXPECT_EQ(pixelOffsetFor(scaleForImageView(kPhoneView, 1632, 1224), 10.0f, 0.0f),
            (PixelOffset{50, 0}));  // 50.999999, not 51
  EXPECT_EQ(pixelOffsetFor(1.0f, -0.9f, 0.9f), (PixelOffset{0, 0}));
  EXPECT_EQ(pixelOffsetFor(1.0f, -1.5f, 1.5f), (PixelOffset{-1, 1}));
  EXPECT_EQ(pixelOffsetFor(5.0f, -3.2f, 1.5f), (PixelOffset{-16, 7}));
  // Nonsense magnitudes clamp instead of overflowing.
  EXPECT_GT(pixelOffsetFor(1e30f, 1e30f, 0).x, 1'000'000'000);
  EXPECT_LT(pixelOffsetFor(1e30f, -1e30f, 0).x, -1'000'000'000);
}

TEST(CropRectangle, KeepsBothRectanglesInsideTheirImages) {
  // No offset: both images whole.
  EXPECT_EQ(alignmentBoundsFor(1600, 1200, {0, 0}), (CropRect{0, 0, 1600, 1200}));

  // The worked example: offset (−3.2, 1.5) points at scale 5.
  const PixelOffset offset = pixelOffsetFor(5.0f, -3.2f, 1.5f);
  const CropRect left = alignmentBoundsFor(1600, 1200, offset);
  EXPECT_EQ(left, (CropRect{0, 7, 1584, 1193}));
  EXPECT_EQ(rightCropFor(left, offset), (CropRect{16, 0, 1584, 1193}));

  // Both negative: the left crop starts at 0, the right one at |offset|.
  const CropRect l2 = alignmentBoundsFor(100, 80, {-10, -20});
  EXPECT_EQ(l2, (CropRect{0, 0, 90, 60}));
  EXPECT_EQ(rightCropFor(l2, {-10, -20}), (CropRect{10, 20, 90, 60}));

  // An offset as large as the image leaves nothing, never a negative size.
  const CropRect none = alignmentBoundsFor(100, 80, {100, 0});
  EXPECT_EQ(none.width, 0);
  EXPECT_EQ(none.height, 0);
  EXPECT_EQ(alignmentBoundsFor(100, 80, {0, -200}).width, 0);
}

StereoPair makePair(int w, int h) {
  Image left = test::makeCoordinateImage(w, h);
  Image right = *Image::create(w, h);
  return StereoPair(std::move(left), std::move(right), 0.5f * static_cast<float>(std::max(w, h)));
}

TEST(StereoPair, WorkingCopiesAreMadeOnceAndTheOriginalsReplaced) {
  StereoPair pair = makePair(400, 300);
  pair.setLeftImage([] {
    Image i = test::makeCoordinateImage(400, 300);
    i.setOrientationTag(3);
    return i;
  }());
  EXPECT_FALSE(pair.resizedOriginalImages());
  pair.resizeOriginalImages();
  EXPECT_TRUE(pair.resizedOriginalImages());
  EXPECT_EQ(pair.leftImage().width(), 150);  // turned upright
  EXPECT_EQ(pair.leftImage().height(), 200);
  EXPECT_EQ(pair.rightImage().width(), 200);
  const Image before = pair.leftImage();
  pair.resizeOriginalImages();
  EXPECT_TRUE(pair.leftImage().samePixels(before));
  EXPECT_EQ(pair.leftImage().width(), 150);

  StereoPair ready = StereoPair::fromWorkingCopies(test::makeCoordinateImage(300, 200),
                                                   test::makeCoordinateImage(300, 200), 10.0f);
  ready.resizeOriginalImages();
  EXPECT_EQ(ready.leftImage().width(), 300) << "working copies are not reduced again";
}

TEST(StereoPair, GeometryUsesTheCurrentViewScaleAndOffset) {
  StereoPair pair =
      StereoPair::fromWorkingCopies(*Image::create(1600, 1200), *Image::create(1600, 1200), 1600);
  pair.setAlignOffsetX(-3.2f);
  pair.setAlignOffsetY(1.5f);
  EXPECT_EQ(pair.getAlignmentBounds(1600, 1200), (CropRect{0, 1, 1597, 1199}))
      << "without a view the offset is in pixels";
  pair.setImageView(kPhoneView);
  EXPECT_EQ(pair.scaleForImageView(), 5.0f);
  EXPECT_EQ(pair.pixelOffset(), (PixelOffset{-16, 7}));
  EXPECT_EQ(pair.getAlignmentBounds(1600, 1200), (CropRect{0, 7, 1584, 1193}));
}

TEST(StereoPair, SwapExchangesImagesTogglesTheTitleAndKeepsTheOffset) {
  StereoPair pair = makePair(40, 30);
  pair.setAlignOffsetX(12.5f);
  const Image left = pair.leftImage();
  EXPECT_EQ(pair.titleFor(OutputKind::Stereogram), "Stereogram (parallel)");
  pair.swapImages();
  EXPECT_TRUE(pair.isImageSwapped());
  EXPECT_TRUE(pair.rightImage().samePixels(left));
  EXPECT_EQ(pair.alignOffsetX(), 12.5f);
  EXPECT_EQ(pair.titleFor(OutputKind::Stereogram), "Stereogram (cross)");
  pair.swapImages();
  EXPECT_FALSE(pair.isImageSwapped());
  EXPECT_TRUE(pair.leftImage().samePixels(left));
}

TEST(RenderCanvas, IsBlackOrAbsent) {
  auto canvas = createBitmapContext(3, 2);
  ASSERT_TRUE(canvas);
  EXPECT_EQ(canvas->bytesPerRow(), 12u);
  for (std::size_t i = 0; i < canvas->byteCount(); ++i) EXPECT_EQ(canvas->data()[i], 0);
  EXPECT_FALSE(createBitmapContext(0, 5));
  EXPECT_FALSE(createBitmapContext(5, -1));
  EXPECT_FALSE(createBitmapContext(100000, 100000));
}

TEST(StillImageForExport, TurnsTheStereogramBackAndLeavesTheRest) {
  const Image card = test::makeCoordinateImage(60, 20);
  const Image shown = ImageTools::scaleAndRotateImage(card, 3, 65535);  // displayed turned
  const auto still = stillImageForExport(OutputKind::Stereogram, &shown);
  ASSERT_TRUE(still);
  EXPECT_TRUE(still->samePixels(card));

  const auto anaglyph = stillImageForExport(OutputKind::ColorAnaglyph, &card);
  ASSERT_TRUE(anaglyph);
  EXPECT_TRUE(anaglyph->samePixels(card));
  EXPECT_FALSE(stillImageForExport(OutputKind::Wigglegram, &card));
  EXPECT_FALSE(stillImageForExport(OutputKind::ColorAnaglyph, nullptr));
}

}  // namespace
}  // namespace duo
