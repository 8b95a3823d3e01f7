#include <gd.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "render/animated_gif.h"
#include "render/wigglegram.h"
#include "test_support.h"

namespace duo {
namespace {

using test::makeCoordinateImage;
using test::makeSmoothImage;
using Bytes = std::vector<std::uint8_t>;

// A GIF's blocks in order, read without libgd, e.g. "GIF89a 4x3 global, loop 0, gce 1/10,
// image, end": screen size and global table flag, the looping extension's count, each graphic
// control extension's disposal/delay (plus " transparent"), each image (plus " local" for a
// local table), and "end" for a trailer that is the last byte.
struct GifLayout {
  std::string blocks;
  struct Rect {
    int x, y, width, height;
  };
  std::vector<Rect> images;
};

GifLayout walkGif(const Bytes& b) {
  GifLayout g;
  std::size_t p = 13;
  auto need = [&](std::size_t n) { return p + n <= b.size(); };
  auto u16 = [&](std::size_t at) { return b[at] | b[at + 1] << 8; };
  auto skipTable = [&](int packed) { p += 3u << ((packed & 7) + 1); };
  if (b.size() < 13 || std::memcmp(b.data(), "GIF89a", 6) != 0) return {"no header", {}};
  g.blocks = "GIF89a " + std::to_string(u16(6)) + "x" + std::to_string(u16(8));
  if (b[10] & 0x80) g.blocks += " global", skipTable(b[10]);
  while (need(1)) {
    const int block = b[p++];
    if (block == 0x3B) {
      g.blocks += p == b.size() ? ", end" : ", bytes after the trailer";
      return g;
    }
    if (block == 0x21 && need(1)) {
      const int label = b[p++];
      if (label == 0xF9 && need(6) && b[p] == 4) {
        g.blocks += ", gce " + std::to_string(b[p + 1] >> 2 & 7) + "/" + std::to_string(u16(p + 2));
        if (b[p + 1] & 1) g.blocks += " transparent";
      } else if (label == 0xFF && need(16) &&
                 std::memcmp(&b[p], "\x0bNETSCAPE2.0\x03\x01", 14) == 0) {
        g.blocks += ", loop " + std::to_string(u16(p + 14));
      } else {
        g.blocks += ", extension " + std::to_string(label);
      }
    } else if (block == 0x2C && need(10)) {
      g.images.push_back({u16(p), u16(p + 2), u16(p + 4), u16(p + 6)});
      g.blocks += ", image";
      p += 9;
      if (b[p - 1] & 0x80) g.blocks += " local", skipTable(b[p - 1]);
      ++p;  // LZW minimum code size
    } else {
      g.blocks += ", unknown block";
      return g;
    }
    while (need(1) && b[p] != 0) p += b[p] + 1;  // data sub-blocks up to the terminator
    ++p;
  }
  g.blocks += ", no trailer";
  return g;
}

// Mean absolute difference per channel between a GIF's first frame, as libgd decodes it, and
// an image; infinite when the sizes differ.
double firstFrameError(const Bytes& gif, const Image& expected) {
  gdImagePtr im = gdImageCreateFromGifPtr(int(gif.size()), const_cast<std::uint8_t*>(gif.data()));
  double sum = INFINITY;
  if (im && gdImageSX(im) == expected.width() && gdImageSY(im) == expected.height()) {
    sum = 0;
    for (int y = 0; y < expected.height(); ++y) {
      for (int x = 0; x < expected.width(); ++x) {
        const int c = gdImageGetTrueColorPixel(im, x, y);
        const std::uint8_t* e = expected.pixel(x, y);
        sum += std::abs(gdTrueColorGetRed(c) - e[0]) + std::abs(gdTrueColorGetGreen(c) - e[1]) +
               std::abs(gdTrueColorGetBlue(c) - e[2]);
      }
    }
  }
  if (im) gdImageDestroy(im);
  return sum / (3.0 * expected.width() * expected.height());
}

Image withRectangle(Image image, int x0, int y0, int w, int h) {
  for (int y = y0; y < y0 + h; ++y)
    for (int x = x0; x < x0 + w; ++x) std::memcpy(image.pixel(x, y), "\xff\x10\xe0", 3);
  return image;
}

TEST(Wigglegram, GifFramesCapTheLongerSideAt1024WithoutEnlarging) {
  const Image wide = makeSmoothImage(1600, 1200, 5);
  const Image reduced = gifFrame(wide);
  EXPECT_EQ(reduced.width(), 1024);
  EXPECT_EQ(reduced.height(), 768);
  EXPECT_EQ(gifFrame(makeSmoothImage(1200, 1600)).width(), 768);
  EXPECT_EQ(gifFrame(makeSmoothImage(1200, 1600)).height(), 1024);
  const Image small = makeSmoothImage(1000, 800);
  EXPECT_TRUE(gifFrame(small).samePixels(small));
  EXPECT_TRUE(gifFrame(Image()).isNull());

  const auto gif = wigglegramGif({wide, withRectangle(wide, 800, 600, 100, 100)});
  ASSERT_TRUE(gif) << gif.error().message;
  EXPECT_EQ(walkGif(*gif).blocks.substr(0, 16), "GIF89a 1024x768 ");
  EXPECT_LT(firstFrameError(*gif, reduced), 8.0);
}

TEST(Wigglegram, FramesShowTheSameScenePointsAndAnEmptyCropGivesNone) {
  const Image left = makeCoordinateImage(40, 30);
  const Image right = makeCoordinateImage(40, 30);
  const PixelOffset offset{-3, 2};
  const auto frames = wiggleFrames(left, right, offset, alignmentBoundsFor(40, 30, offset));
  ASSERT_TRUE(frames);
  ASSERT_EQ(frames->left.width(), 37);
  ASSERT_EQ(frames->right.height(), 28);
  // Frame pixel (0, 0) is left pixel (0, 2) and right pixel (3, 0).
  EXPECT_EQ(frames->left.pixel(0, 0)[0], 0);
  EXPECT_EQ(frames->left.pixel(0, 0)[1], 2);
  EXPECT_EQ(frames->right.pixel(0, 0)[0], 3);
  EXPECT_EQ(frames->right.pixel(0, 0)[1], 0);
  EXPECT_FALSE(wiggleFrames(left, right, {40, 0}, alignmentBoundsFor(40, 30, {40, 0})));
}

TEST(AnimatedGif, OneGlobalTableLoopsForeverAndShowsEachFrameForATenthOfASecond) {
  const Image left = makeSmoothImage(200, 150, 3);
  const Image right = makeCoordinateImage(200, 150);
  const auto gif = AnimatedGif::createGif(left, right);
  ASSERT_TRUE(gif) << gif.error().message;
  const GifLayout g = walkGif(*gif);
  EXPECT_EQ(g.blocks, "GIF89a 200x150 global, loop 0, gce 1/10, image, gce 1/10, image, end");
  ASSERT_EQ(g.images.size(), 2u);
  EXPECT_EQ(g.images[0].x | g.images[0].y, 0);
  EXPECT_EQ(g.images[0].width, 200);
  EXPECT_EQ(g.images[0].height, 150);
  EXPECT_LT(firstFrameError(*gif, left), 8.0);
  EXPECT_GT(firstFrameError(*gif, right), 30.0);

  // A swapped pair shows the other photograph first.
  const auto swapped = AnimatedGif::createGif(right, left);
  ASSERT_TRUE(swapped);
  EXPECT_LT(firstFrameError(*swapped, right), 8.0);
}

// Photographs give dithering differences everywhere; frames of two flat colours survive the
// palette reduction unchanged, so only the painted rectangle differs between them.
TEST(AnimatedGif, SecondFrameIsStoredOverTheChangedRectangleOnly) {
  Image left = *Image::create(90, 70);
  left = withRectangle(std::move(left), 45, 0, 45, 70);
  const auto gif = AnimatedGif::createGif(left, withRectangle(left, 10, 20, 15, 30));
  ASSERT_TRUE(gif) << gif.error().message;
  const GifLayout g = walkGif(*gif);
  ASSERT_EQ(g.images.size(), 2u);
  const GifLayout::Rect second = g.images[1];
  EXPECT_LE(second.x, 10);
  EXPECT_LE(second.y, 20);
  EXPECT_GE(second.x + second.width, 25);
  EXPECT_GE(second.y + second.height, 50);
  EXPECT_LE(second.x + second.width, 45) << "stored beyond the change";
  EXPECT_LE(second.y + second.height, 70);

  // libgd drops a frame equal to its predecessor; identical crops still make two frames.
  const auto same = AnimatedGif::createGif(left, left);
  ASSERT_TRUE(same) << same.error().message;
  EXPECT_EQ(walkGif(*same).blocks,
            "GIF89a 90x70 global, loop 0, gce 1/10, image, gce 1/10, image, end");
}

TEST(AnimatedGif, ConcurrentBuildsEachGetTheirOwnBytes) {
  constexpr int kThreads = 4, kRounds = 3;
  std::vector<Image> lefts, rights;
  std::vector<Bytes> expected;
  for (int i = 0; i < kThreads; ++i) {
    lefts.push_back(makeSmoothImage(160 + 8 * i, 120, 10 + i));
    rights.push_back(withRectangle(lefts.back(), 10 * i, 5, 20, 30));
    expected.push_back(*AnimatedGif::createGif(lefts[i], rights[i]));
  }
  std::vector<std::vector<Bytes>> got(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      for (int r = 0; r < kRounds; ++r) {
        auto gif = AnimatedGif::createGif(lefts[i], rights[i]);
        got[i].push_back(gif ? std::move(*gif) : Bytes{});
      }
    });
  }
  for (auto& t : threads) t.join();
  for (int i = 0; i < kThreads; ++i) {
    EXPECT_EQ(walkGif(expected[i]).images.size(), 2u);
    for (const Bytes& bytes : got[i]) EXPECT_TRUE(bytes == expected[i]) << "thread " << i;
  }
}

TEST(AnimatedGif, RejectsNullOrMismatchedFramesWithoutData) {
  const Image frame = makeSmoothImage(64, 48);
  for (const auto& [left, right] : {std::pair{Image(), frame}, std::pair{frame, Image()},
                                    std::pair{frame, makeSmoothImage(64, 47)}}) {
    const auto gif = AnimatedGif::createGif(left, right);
    ASSERT_FALSE(gif);
    EXPECT_EQ(gif.error().code, ErrorCode::InvalidArgument);
  }
  EXPECT_FALSE(wigglegramGif({Image(), frame}));
}

}  // namespace
}  // namespace duo
