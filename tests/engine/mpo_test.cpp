#include <gtest/gtest.h>

#include <functional>

#include "io/image_codec.h"
#include "io/mpo.h"
#include "test_support.h"

namespace duo {
namespace {

std::vector<std::uint8_t> testdataBytes(const std::string& relative) {
  const std::string path = test::testdataPath(relative);
  if (path.empty() || !std::filesystem::exists(path)) return {};
  return test::readBytes(path);
}

struct RealMpo {
  const char* file;
  int width;
  int height;
  std::uint64_t secondOffset;  // from the start of the file
};

class RealMpoTest : public ::testing::TestWithParam<RealMpo> {};

TEST_P(RealMpoTest, DecodesTwoDifferentViewsOfTheSameSize) {
  const RealMpo& c = GetParam();
  const auto bytes = testdataBytes(std::string("mpo/") + c.file);
  if (bytes.empty()) GTEST_SKIP() << "no shared test data";
  ASSERT_TRUE(looksLikeMpo(bytes));
  const auto entries = readMpoEntries(bytes, c.file);
  ASSERT_TRUE(entries) << entries.error().message;
  ASSERT_EQ(entries->size(), 2u);
  EXPECT_EQ((*entries)[1].offset, c.secondOffset);
  const auto fromHeader =
      readMpoEntriesFromHeader(test::testdataPath(std::string("mpo/") + c.file));
  ASSERT_TRUE(fromHeader) << fromHeader.error().message;
  EXPECT_EQ(*fromHeader, *entries);

  const auto pair = decodeMpoPair(bytes, c.file);
  ASSERT_TRUE(pair) << pair.error().message;
  for (const Image* view : {&pair->first, &pair->second}) {
    EXPECT_EQ(view->width(), c.width);
    EXPECT_EQ(view->height(), c.height);
    EXPECT_EQ(view->orientationTag(), 0);
  }
  EXPECT_FALSE(pair->first.samePixels(pair->second));
}

INSTANTIATE_TEST_SUITE_P(SharedFiles, RealMpoTest,
                         ::testing::Values(RealMpo{"panasonic-gx8.mpo", 1824, 1368, 1251328},
                                           RealMpo{"3ds-sugarshack.mpo", 640, 480, 60008},
                                           RealMpo{"3ds-frozenpond.mpo", 640, 480, 82452}));

TEST(Mpo, PlainJpegsAreNotMpoEvenWithOtherApp2Segments) {
  const auto jpeg = encodeJpeg(test::makeSmoothImage(32, 16), 80);
  ASSERT_TRUE(jpeg);
  EXPECT_FALSE(looksLikeMpo(*jpeg));
  EXPECT_EQ(readMpoEntries(*jpeg, "x.jpg").error().code, ErrorCode::Unsupported);
  // An ICC profile also lives in APP2.
  const auto card = testdataBytes("pairs/stereograph-card-sbs.jpg");
  if (card.empty()) return;
  EXPECT_FALSE(looksLikeMpo(card));
  EXPECT_EQ(readMpoEntries(card, "card.jpg").error().message,
            "card.jpg: not an MPO file (no MP index in the first image)");
}

// Places in 3ds-sugarshack.mpo: the MP header (big-endian) and the fields of its index.
constexpr std::size_t kMpHeader = 6018;
constexpr std::size_t kNumberOfImages = kMpHeader + 30;
constexpr std::size_t kEntryListBytes = kMpHeader + 38;
constexpr std::size_t kFirstSize = kMpHeader + 54;
constexpr std::size_t kFirstOffset = kMpHeader + 58;
constexpr std::size_t kSecondOffset = kMpHeader + 74;

void put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}

struct Damage {
  const char* what;
  std::function<void(std::vector<std::uint8_t>&)> edit;
  ErrorCode code;
  const char* says;
};

TEST(Mpo, DamagedOrLyingIndexIsAClearError) {
  const auto original = testdataBytes("mpo/3ds-sugarshack.mpo");
  if (original.empty()) GTEST_SKIP() << "no shared test data";
  using B = std::vector<std::uint8_t>;
  const std::vector<Damage> cases = {
      {"empty", [](B& b) { b.clear(); }, ErrorCode::Empty, "empty file"},
      {"cut in image 2", [](B& b) { b.resize(90000); }, ErrorCode::Truncated, "image 2 ends"},
      {"cut in the index", [](B& b) { b.resize(kMpHeader + 20); }, ErrorCode::Truncated,
       "ends inside"},
      {"offset past the end", [](B& b) { put32(b, kSecondOffset, 200000); }, ErrorCode::Truncated,
       "image 2 would start at byte 206018"},
      {"size overlapping image 2", [](B& b) { put32(b, kFirstSize, 60100); }, ErrorCode::Corrupt,
       "image 1 and image 2 overlap"},
      {"zero images", [](B& b) { put32(b, kNumberOfImages, 0); }, ErrorCode::Corrupt,
       "lists no images"},
      {"huge count", [](B& b) { put32(b, kNumberOfImages, 0xFFFFFFFF); }, ErrorCode::Corrupt,
       "4294967295 images"},
      {"count beyond the segment",
       [](B& b) {
         put32(b, kNumberOfImages, 1000);
         put32(b, kEntryListBytes, 16000);
       },
       ErrorCode::Corrupt, "1000 images listed, room for"},
      {"no byte order mark", [](B& b) { b[kMpHeader] = 'X'; }, ErrorCode::Corrupt,
       "neither II nor MM"},
      {"wrong byte order", [](B& b) { b[kMpHeader] = b[kMpHeader + 1] = 'I'; }, ErrorCode::Corrupt,
       "does not read 42"},
      {"image 2 not a JPEG", [](B& b) { put32(b, kSecondOffset, 53989); }, ErrorCode::Corrupt,
       "image 2 at byte 60007 does not start like a JPEG"},
      {"image 1 elsewhere", [](B& b) { put32(b, kFirstOffset, 4); }, ErrorCode::Corrupt,
       "must start the file"},
      {"image 1 shorter than its index", [](B& b) { put32(b, kFirstSize, 100); },
       ErrorCode::Corrupt, "ends before its own MP index"},
      {"no MPF identifier", [](B& b) { b[kMpHeader - 2] = 'X'; }, ErrorCode::Unsupported,
       "not an MPO file"},
  };
  for (const Damage& c : cases) {
    auto bytes = original;
    c.edit(bytes);
    const auto entries = readMpoEntries(bytes, "s.mpo");
    ASSERT_FALSE(entries) << c.what;
    EXPECT_EQ(entries.error().code, c.code) << c.what;
    EXPECT_EQ(entries.error().message.rfind("s.mpo: ", 0), 0u) << entries.error().message;
    EXPECT_NE(entries.error().message.find(c.says), std::string::npos)
        << c.what << ": " << entries.error().message;
    EXPECT_FALSE(decodeMpoPair(bytes, "s.mpo")) << c.what;
  }
}

TEST(Mpo, BrokenViewIsNamedByItsNumber) {
  auto bytes = testdataBytes("mpo/3ds-sugarshack.mpo");
  if (bytes.empty()) GTEST_SKIP() << "no shared test data";
  // Image 2 keeps its SOI but the rest of it is noise.
  std::fill(bytes.begin() + 60010, bytes.end(), std::uint8_t{0x5A});
  const auto pair = decodeMpoPair(bytes, "s.mpo");
  ASSERT_FALSE(pair);
  EXPECT_EQ(pair.error().message.rfind("s.mpo (image 2): ", 0), 0u) << pair.error().message;
}

struct ViewCase {
  std::vector<std::uint32_t> types;
  int left;  // -1: no pair
  int right;
};

TEST(Mpo, ViewsAreTheFirstTwoMultiViewImagesNeverThumbnails) {
  const std::vector<ViewCase> cases = {
      {{kMpoTypeBaselinePrimary, kMpoTypeDisparity}, 0, 1},
      {{kMpoTypeDisparity, kMpoTypeLargeThumbnailVga, kMpoTypeDisparity, kMpoTypeDisparity}, 0, 2},
      {{kMpoTypeLargeThumbnailFullHd, kMpoTypeMultiAngle, kMpoTypeMultiAngle}, 1, 2},
      {{kMpoTypeBaselinePrimary, kMpoTypeLargeThumbnailVga, kMpoTypeUndefined}, -1, -1},
      {{kMpoTypeDisparity}, -1, -1},
  };
  for (const ViewCase& c : cases) {
    std::vector<MpoEntry> entries;
    for (const std::uint32_t type : c.types) entries.push_back({type, 0, 0, 1});
    const auto views = mpoStereoViews(entries, "m.mpo");
    if (c.left < 0) {
      ASSERT_FALSE(views);
      EXPECT_EQ(views.error().code, ErrorCode::Unsupported);
      EXPECT_NE(views.error().message.find("no stereo pair"), std::string::npos);
      continue;
    }
    ASSERT_TRUE(views) << views.error().message;
    EXPECT_EQ(views->first, std::size_t(c.left));
    EXPECT_EQ(views->second, std::size_t(c.right));
  }
  // A view stored in a format other than JPEG cannot be decoded.
  const std::vector<MpoEntry> other = {{kMpoTypeDisparity, 0, 0, 1}, {kMpoTypeDisparity, 1, 9, 1}};
  EXPECT_NE(mpoStereoViews(other, "m.mpo").error().message.find("m.mpo (image 2)"),
            std::string::npos);
}

}  // namespace
}  // namespace duo
