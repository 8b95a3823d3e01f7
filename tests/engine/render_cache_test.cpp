#include "cache/render_cache.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <sys/stat.h>

#include "codec_fixtures.h"
#include "io/image_codec.h"
#include "test_support.h"

namespace duo {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

constexpr unsigned kAllKinds[] = {1, 2, 3, 4};

std::shared_ptr<const Bytes> bytesOf(const std::string& text) {
  return std::make_shared<const Bytes>(text.begin(), text.end());
}

std::vector<std::string> folderEntries(const fs::path& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

void fillEveryKind(const RenderCache& cache) {
  for (unsigned kind : kAllKinds) {
    test::writeBytes(cache.fullPathToCachedImageForImageType(kind), {'o', 'l', 'd'});
  }
}

// Big enough that encoding it takes several milliseconds, so a removal can land mid-encode.
std::shared_ptr<const Image> slowToEncodeImage() {
  static const auto image = std::make_shared<const Image>(test::makeSmoothImage(640, 480, 7));
  return image;
}

// Big enough that writing it takes a few milliseconds, so a removal can land between the
// temporary file appearing and its rename.
std::shared_ptr<const Bytes> slowToWriteBytes() {
  static const auto bytes = std::make_shared<const Bytes>(8u << 20, std::uint8_t{'o'});
  return bytes;
}

using Clock = std::chrono::steady_clock;

std::chrono::microseconds since(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start);
}

// How long encoding takes in this build (sanitizers slow it a lot).
std::chrono::microseconds encodeDuration() {
  const auto start = Clock::now();
  EXPECT_TRUE(encodePng(*slowToEncodeImage()).ok());
  return since(start);
}

// Spins until a write has its temporary file in the folder (the window between creating it and
// renaming it over the target), or gives up once a target exists or a second has passed.
void waitForTemporaryFile(const RenderCache& cache, const std::vector<unsigned>& kinds) {
  const auto start = Clock::now();
  while (since(start) < std::chrono::seconds(1)) {
    for (const std::string& name : folderEntries(cache.cacheDirectory())) {
      if (test::isTemporaryFileName(name)) return;
    }
    for (unsigned kind : kinds) {
      if (fs::exists(cache.fullPathToCachedImageForImageType(kind))) return;
    }
  }
}

TEST(RenderCache, PathsNameOneFileOfEachKindInsideItsOwnFolder) {
  test::TempDir caches;
  const RenderCache cache(caches.path().string());
  const std::string folder = (caches / "QSDuoscopeCache").string();
  EXPECT_EQ(cache.cacheDirectory(), folder);
  EXPECT_EQ(cache.fullPathToCachedImageForImageType(1), folder + "/Color Anaglyph.png");
  EXPECT_EQ(cache.fullPathToCachedImageForImageType(2), folder + "/Grey Anaglyph.png");
  EXPECT_EQ(cache.fullPathToCachedImageForImageType(3), folder + "/Stereogram.png");
  EXPECT_EQ(cache.fullPathToCachedImageForImageType(4), folder + "/Wigglegram.gif");
  EXPECT_EQ(cache.fullPathToCachedImageForImageType(0), "");
  EXPECT_EQ(cache.fullPathToCachedImageForImageType(5), "");
  EXPECT_EQ(cache.fullPathToCachedImageForImageType(0xFFFFFFFFu), "");
  // Only a reset makes the folder; constructing the cache leaves the disk alone.
  EXPECT_FALSE(fs::exists(folder));
}

TEST(RenderCache, ResetLeavesAnEmptyFolderWhateverAnEarlierPairLeftBehind) {
  test::TempDir caches;
  RenderCache cache(caches.path().string());
  cache.resetCacheDirectory();
  ASSERT_TRUE(fs::is_directory(cache.cacheDirectory()));
  fillEveryKind(cache);
  const fs::path folder(cache.cacheDirectory());
  test::writeBytes(folder / ".Stereogram.png.duoscope-tmp-a1b2c3", {1});
  fs::create_directory(folder / "stray");
  test::writeBytes(folder / "stray" / "inner.png", {2});

  cache.resetCacheDirectory();
  EXPECT_TRUE(fs::is_directory(folder));
  EXPECT_EQ(folderEntries(folder), std::vector<std::string>{});
}

TEST(RenderCache, MissingCachesDirectoryIsNotCreatedAndWritesFailQuietly) {
  test::TempDir temp;
  const fs::path caches = temp / "absent";
  RenderCache cache(caches.string());
  cache.resetCacheDirectory();
  EXPECT_FALSE(fs::exists(caches));

  cache.cacheImage(nullptr, bytesOf("data"), cache.fullPathToCachedImageForImageType(1));
  cache.removeCachedFilesForMask(kCacheMaskAll);
  cache.waitForPendingWrites();
  EXPECT_FALSE(fs::exists(caches));
}

TEST(RenderCache, MaskRemovesExactlyTheKindsWhoseBitsAreSet) {
  struct Case {
    CacheMask mask;
    std::vector<unsigned> removed;
  };
  const Case cases[] = {
      {0, {}},
      {1, {1}},
      {2, {2}},
      {3, {1, 2}},
      {4, {3}},
      {8, {4}},
      {5, {1, 3}},
      {12, {3, 4}},
      {16, {}},
      {0xFFFFFFF0u, {}},
      {kCacheMaskAll, {1, 2, 3, 4}},
  };
  test::TempDir caches;
  RenderCache cache(caches.path().string());
  for (const Case& c : cases) {
    SCOPED_TRACE("mask " + std::to_string(c.mask));
    cache.resetCacheDirectory();
    fillEveryKind(cache);
    cache.removeCachedFilesForMask(c.mask);
    for (unsigned kind : kAllKinds) {
      const bool removed = std::find(c.removed.begin(), c.removed.end(), kind) != c.removed.end();
      EXPECT_EQ(fs::exists(cache.fullPathToCachedImageForImageType(kind)), !removed)
          << "kind " << kind;
    }
  }
}

TEST(RenderCache, RemovingOneKindLeavesTheOthersAndOutOfRangeKindsRemoveNothing) {
  test::TempDir caches;
  RenderCache cache(caches.path().string());
  cache.resetCacheDirectory();
  fillEveryKind(cache);
  cache.removeCachedImageForImageType(0);
  cache.removeCachedImageForImageType(5);
  cache.removeCachedImageForImageType(3);
  cache.removeCachedImageForImageType(3);  // already gone: nothing happens
  EXPECT_EQ(
      folderEntries(cache.cacheDirectory()),
      (std::vector<std::string>{"Color Anaglyph.png", "Grey Anaglyph.png", "Wigglegram.gif"}));
}

TEST(RenderCache, WritesAnImageAsPngAndBytesAsGiven) {
  test::TempDir caches;
  RenderCache cache(caches.path().string());
  cache.resetCacheDirectory();
  const auto image = std::make_shared<const Image>(test::makeSmoothImage(67, 45, 3));
  const auto gif = bytesOf("GIF89a not really");
  cache.cacheImage(image, nullptr, cache.fullPathToCachedImageForImageType(1));
  cache.cacheImage(nullptr, gif, cache.fullPathToCachedImageForImageType(4));
  cache.waitForPendingWrites();

  const auto decoded = decodeImageFile(cache.fullPathToCachedImageForImageType(1));
  ASSERT_TRUE(decoded.ok()) << decoded.error().message;
  EXPECT_TRUE(decoded->samePixels(*image));
  EXPECT_EQ(test::readBytes(cache.fullPathToCachedImageForImageType(4)), *gif);
  // The temporary files are gone.
  EXPECT_EQ(folderEntries(cache.cacheDirectory()),
            (std::vector<std::string>{"Color Anaglyph.png", "Wigglegram.gif"}));
  // The outputs show the user's photographs: nobody else may list or read them.
  const auto modeOf = [](const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0u;
  };
  EXPECT_EQ(modeOf(cache.cacheDirectory()), 0700u);
  EXPECT_EQ(modeOf(cache.fullPathToCachedImageForImageType(1)), 0600u);
  EXPECT_EQ(modeOf(cache.fullPathToCachedImageForImageType(4)), 0600u);
}

TEST(RenderCache, WritesOnlyInsideItsOwnFolder) {
  test::TempDir caches;
  RenderCache cache(caches.path().string());
  cache.resetCacheDirectory();
  const auto gif = bytesOf("GIF89a");
  const std::string inside = cache.fullPathToCachedImageForImageType(4);
  for (const std::string& outside :
       {(caches / "Wigglegram.gif").string(), cache.cacheDirectory() + "/../escaped.gif",
        cache.cacheDirectory() + "/sub/Wigglegram.gif", cache.cacheDirectory()}) {
    cache.cacheImage(nullptr, gif, outside);
  }
  cache.cacheImage(nullptr, gif, inside);
  cache.waitForPendingWrites();
  EXPECT_TRUE(fs::exists(inside));
  EXPECT_FALSE(fs::exists(caches / "Wigglegram.gif"));
  EXPECT_FALSE(fs::exists(caches / "escaped.gif"));
  EXPECT_FALSE(fs::exists(cache.cacheDirectory() + "/sub"));
}

TEST(RenderCache, RemembersTheWrittenImageOnlyWhileItsFileIsTheOneWritten) {
  test::TempDir caches;
  RenderCache cache(caches.path().string());
  cache.resetCacheDirectory();
  const std::string colour = cache.fullPathToCachedImageForImageType(1);
  const std::string grey = cache.fullPathToCachedImageForImageType(2);
  const auto image = std::make_shared<const Image>(test::makeSmoothImage(40, 30, 1));
  EXPECT_EQ(cache.rememberedImage(colour), nullptr);  // nothing written yet
  cache.cacheImage(image, nullptr, colour);
  cache.cacheImage(image, nullptr, grey);
  cache.cacheImage(nullptr, bytesOf("GIF89a"), cache.fullPathToCachedImageForImageType(4));
  cache.waitForPendingWrites();
  EXPECT_EQ(cache.rememberedImage(colour), image);
  EXPECT_EQ(cache.rememberedImage(cache.fullPathToCachedImageForImageType(4)), nullptr);

  cache.removeCachedImageForImageType(1);
  EXPECT_EQ(cache.rememberedImage(colour), nullptr);
  test::writeBytes(grey, {1, 2, 3});  // replaced behind the cache's back
  EXPECT_EQ(cache.rememberedImage(grey), nullptr);

  cache.cacheImage(image, nullptr, colour);
  cache.waitForPendingWrites();
  cache.resetCacheDirectory();
  EXPECT_EQ(cache.rememberedImage(colour), nullptr);
}

TEST(RenderCache, ImageBudgetLetsTheOlderImagesGoButKeepsTheirFiles) {
  const auto image = std::make_shared<const Image>(test::makeSmoothImage(40, 30, 1));
  for (const bool limited : {true, false}) {
    SCOPED_TRACE(limited ? "room for one image" : "unlimited");
    test::TempDir caches;
    RenderCache cache(caches.path().string());
    cache.resetCacheDirectory();
    if (limited) cache.setRememberedImageBudget(image->byteCount());
    const std::string colour = cache.fullPathToCachedImageForImageType(1);
    const std::string stereogram = cache.fullPathToCachedImageForImageType(3);
    cache.cacheImage(image, nullptr, colour);
    cache.waitForPendingWrites();
    cache.cacheImage(image, nullptr, stereogram);
    cache.waitForPendingWrites();
    EXPECT_TRUE(fs::exists(colour));
    EXPECT_EQ(cache.rememberedImage(colour), limited ? nullptr : image);
    EXPECT_EQ(cache.rememberedImage(stereogram), image);
  }
}

TEST(RenderCache, FailedWriteLeavesNoTemporaryFileBehind) {
  test::TempDir caches;
  RenderCache cache(caches.path().string());
  cache.resetCacheDirectory();
  // A folder where the file should go makes the final rename fail.
  const std::string path = cache.fullPathToCachedImageForImageType(2);
  fs::create_directory(path);
  cache.cacheImage(nullptr, bytesOf("data"), path);
  cache.waitForPendingWrites();
  EXPECT_EQ(folderEntries(cache.cacheDirectory()), std::vector<std::string>{"Grey Anaglyph.png"});
  EXPECT_TRUE(fs::is_directory(path));
}

// Queues slow writes, then removes them. Image writes are removed after a delay that sweeps
// across the encode, so removals land before the worker starts and while it encodes; byte writes
// are removed while their temporary file is being written. A removal must win every time and no
// temporary file may be left.
void expectRemovalWins(const std::vector<unsigned>& kinds,
                       const std::function<void(RenderCache&)>& remove) {
  test::TempDir caches;
  RenderCache cache(caches.path().string());
  const auto sweep = encodeDuration() * 5 / 4;
  cache.resetCacheDirectory();
  constexpr int kSteps = 10;
  for (int i = 0; i < 2 * kSteps; ++i) {
    const bool image = i % 2 == 0;
    for (unsigned kind : kinds) {
      cache.cacheImage(image ? slowToEncodeImage() : nullptr, image ? nullptr : slowToWriteBytes(),
                       cache.fullPathToCachedImageForImageType(kind));
    }
    if (image) {
      std::this_thread::sleep_for(sweep * (i / 2) / kSteps);
    } else {
      waitForTemporaryFile(cache, kinds);
    }
    remove(cache);
    cache.waitForPendingWrites();
    for (unsigned kind : kinds) {
      ASSERT_FALSE(fs::exists(cache.fullPathToCachedImageForImageType(kind)))
          << "kind " << kind << " came back in iteration " << i;
    }
    ASSERT_EQ(folderEntries(cache.cacheDirectory()), std::vector<std::string>{})
        << "iteration " << i;
  }
}

TEST(RenderCache, RemovalByKindWinsOverWritesInFlight) {
  expectRemovalWins({3}, [](RenderCache& cache) { cache.removeCachedImageForImageType(3); });
}

TEST(RenderCache, RemovalByMaskWinsOverWritesInFlight) {
  expectRemovalWins({1, 2}, [](RenderCache& cache) { cache.removeCachedFilesForMask(3); });
  expectRemovalWins({2, 4},
                    [](RenderCache& cache) { cache.removeCachedFilesForMask(kCacheMaskAll); });
}

TEST(RenderCache, ResetWinsOverWritesInFlight) {
  expectRemovalWins({1, 4}, [](RenderCache& cache) { cache.resetCacheDirectory(); });
}

TEST(RenderCache, WriteQueuedAfterARemovalOrResetLands) {
  test::TempDir caches;
  RenderCache cache(caches.path().string());
  cache.resetCacheDirectory();
  const std::string path = cache.fullPathToCachedImageForImageType(1);
  for (int i = 0; i < 10; ++i) {
    cache.cacheImage(slowToEncodeImage(), nullptr, path);
    if (i % 2) {
      cache.resetCacheDirectory();
    } else {
      cache.removeCachedImageForImageType(1);
    }
    const auto fresh = bytesOf("fresh " + std::to_string(i));
    cache.cacheImage(nullptr, fresh, path);
    cache.waitForPendingWrites();
    ASSERT_TRUE(fs::exists(path)) << "iteration " << i;
    EXPECT_EQ(test::readBytes(path), *fresh) << "iteration " << i;
  }
}

TEST(RenderCache, NewestWriteForAPathWinsOverAnOlderOneFinishingLater) {
  test::TempDir caches;
  RenderCache cache(caches.path().string());
  cache.resetCacheDirectory();
  const std::string path = cache.fullPathToCachedImageForImageType(2);
  // The older write is slow (a PNG encode, or many bytes), the newer one quick, so with two
  // writer threads the older one usually finishes last.
  for (int i = 0; i < 12; ++i) {
    if (i % 2) {
      cache.cacheImage(slowToEncodeImage(), nullptr, path);
    } else {
      cache.cacheImage(nullptr, slowToWriteBytes(), path);
    }
    const auto newest = bytesOf("newest " + std::to_string(i));
    cache.cacheImage(nullptr, newest, path);
    cache.waitForPendingWrites();
    ASSERT_EQ(test::readBytes(path), *newest) << "iteration " << i;
    ASSERT_EQ(folderEntries(cache.cacheDirectory()), std::vector<std::string>{"Grey Anaglyph.png"});
  }
}

TEST(RenderCache, DestructionFinishesQueuedWrites) {
  test::TempDir caches;
  std::string path;
  {
    RenderCache cache(caches.path().string(), 1);
    cache.resetCacheDirectory();
    path = cache.fullPathToCachedImageForImageType(3);
    cache.cacheImage(slowToEncodeImage(), nullptr, path);
  }
  const auto decoded = decodeImageFile(path);
  ASSERT_TRUE(decoded.ok()) << decoded.error().message;
  EXPECT_TRUE(decoded->samePixels(*slowToEncodeImage()));
}

}  // namespace
}  // namespace duo
