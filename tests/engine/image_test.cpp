#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "image/image.h"
#include "image/pixel_pool.h"

namespace duo {
namespace {

TEST(ImageMemory, ReusedBuffersStillGiveBlackCanvases) {
  pixel_pool::trim();
  const std::uint8_t* first = nullptr;
  {
    Image dirty = *Image::createUninitialized(1200, 1000);  // 4.8 MB: pooled when freed
    std::fill_n(dirty.data(), dirty.byteCount(), 0xAB);
    first = dirty.data();
  }
  Image canvas = *Image::create(1200, 1000);
  EXPECT_EQ(canvas.data(), first) << "the freed buffer is reused";
  for (std::size_t i = 0; i < canvas.byteCount(); i += 4099) ASSERT_EQ(canvas.data()[i], 0) << i;

  // Copies get their own memory.
  Image copy = canvas;
  EXPECT_NE(copy.data(), canvas.data());
  EXPECT_TRUE(copy.samePixels(canvas));
  pixel_pool::trim();
}

// A larger buffer handed to a smaller image comes back under the smaller size, and the pool
// would then hold more memory than its cap counts.
TEST(ImageMemory, PooledBufferGoesOnlyToAnImageOfItsOwnSize) {
  pixel_pool::trim();
  const std::uint8_t* pooled = Image::createUninitialized(1200, 1000)->data();
  EXPECT_NE(Image::createUninitialized(1100, 1000)->data(), pooled);
  EXPECT_EQ(Image::createUninitialized(1200, 1000)->data(), pooled) << "still pooled";
  pixel_pool::trim();
}

// Scratch memory (an encoder's) may be a larger pooled buffer, up to twice the request, and goes
// back under the size it was granted, still fit for an image of that size.
TEST(ImageMemory, ScratchReusesPooledBuffersUpToTwiceTheRequest) {
  pixel_pool::trim();
  const std::uint8_t* pooled = Image::createUninitialized(2000, 1500)->data();  // 12 MB
  std::size_t granted = 0;
  std::uint8_t* scratch = pixel_pool::takeAtLeast(6'500'000, granted);
  EXPECT_EQ(scratch, pooled);
  EXPECT_EQ(granted, 12'000'000u);
  pixel_pool::give(scratch, granted);
  EXPECT_EQ(Image::createUninitialized(2000, 1500)->data(), pooled);

  scratch = pixel_pool::takeAtLeast(5'000'000, granted);
  EXPECT_NE(scratch, pooled) << "a buffer over twice the request stays pooled";
  EXPECT_EQ(granted, 5'000'000u);
  pixel_pool::give(scratch, granted);
  EXPECT_EQ(Image::createUninitialized(2000, 1500)->data(), pooled);
  pixel_pool::trim();
}

TEST(ImageMemory, PoolKeepsFewBuffersAndSurvivesConcurrentUse) {
  pixel_pool::trim();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < 50; ++i) {
        Image a = *Image::create(1100 + t, 1000);
        Image b = *Image::createUninitialized(1100 + t, 1000);
        a.data()[0] = static_cast<std::uint8_t>(i);
        b.data()[b.byteCount() - 1] = a.data()[0];
        ASSERT_EQ(b.data()[b.byteCount() - 1], static_cast<std::uint8_t>(i));
      }
    });
  }
  for (auto& t : threads) t.join();
  pixel_pool::trim();
}

TEST(ImageMemory, SizesOutsideTheLimitsAreRefused) {
  EXPECT_FALSE(Image::create(0, 10));
  EXPECT_FALSE(Image::create(70000, 1));
  EXPECT_FALSE(Image::createUninitialized(20000, 20000));  // 400 megapixels
  EXPECT_TRUE(Image::create(1, 1));
}

}  // namespace
}  // namespace duo
