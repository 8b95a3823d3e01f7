#include <gtest/gtest.h>
#include <sys/stat.h>

#include "io/image_codec.h"
#include "io/mpo.h"
#include "stereo/pair_loader.h"
#include "test_support.h"

namespace duo {
namespace {

namespace fs = std::filesystem;

class MpoPairFile : public ::testing::TestWithParam<const char*> {};

TEST_P(MpoPairFile, LoadsExactlyLikeItsTwoViewsAsSeparateFiles) {
  const std::string mpo = test::testdataPath(std::string("mpo/") + GetParam());
  if (mpo.empty()) GTEST_SKIP() << "no shared test data";
  test::TempDir dir;
  const auto bytes = test::readBytes(mpo);
  const auto entries = readMpoEntries(bytes, mpo);
  ASSERT_TRUE(entries);
  const auto view = [&](std::size_t i) {
    const auto part = mpoImageBytes(bytes, (*entries)[i]);
    return std::vector<std::uint8_t>(part.begin(), part.end());
  };
  test::writeBytes(dir / "l.jpg", view(0));
  test::writeBytes(dir / "r.jpg", view(1));
  const auto separate = loadStereoPairFiles((dir / "l.jpg").string(), (dir / "r.jpg").string(), 50);
  ASSERT_TRUE(separate) << separate.error().message;

  // The content decides, not the name; an MPO stays one even when called side by side.
  test::writeBytes(dir / "renamed.jpg", bytes);
  for (const auto& [path, layout] :
       {std::pair{mpo, std::optional<SideBySideLayout>{}},
        std::pair{(dir / "renamed.jpg").string(), std::optional{SideBySideLayout::Cross}}}) {
    EXPECT_TRUE(isSingleFilePair(path)) << path;
    const auto single = loadStereoPairFile(path, layout, 50);
    ASSERT_TRUE(single) << single.error().message;
    EXPECT_EQ(single->maximumResolution(), separate->maximumResolution());
    EXPECT_TRUE(single->leftImage().samePixels(separate->leftImage())) << path;
    EXPECT_TRUE(single->rightImage().samePixels(separate->rightImage())) << path;
  }
}

INSTANTIATE_TEST_SUITE_P(SharedFiles, MpoPairFile,
                         ::testing::Values("panasonic-gx8.mpo", "3ds-sugarshack.mpo"));

TEST(MpoPairFile, AnIndexWithoutAStereoPairNeedsALayout) {
  const std::string mpo = test::testdataPath("mpo/3ds-sugarshack.mpo");
  if (mpo.empty()) GTEST_SKIP() << "no shared test data";
  test::TempDir dir;
  auto bytes = test::readBytes(mpo);
  bytes[6018 + 67] = 0x01;  // image 2 becomes a large thumbnail (0x010001)
  bytes[6018 + 69] = 0x01;
  const std::string path = (dir / "thumb.mpo").string();
  test::writeBytes(path, bytes);
  EXPECT_FALSE(isSingleFilePair(path));
  const auto refused = loadStereoPairFile(path, std::nullopt, 50);
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().code, ErrorCode::Unsupported);
  EXPECT_NE(refused.error().message.find("Multi-frame disparity, Large thumbnail (VGA)"),
            std::string::npos)
      << refused.error().message;
  EXPECT_NE(refused.error().message.find("--sbs"), std::string::npos);
  // With a layout the first image is taken as side by side.
  const auto split = loadStereoPairFile(path, SideBySideLayout::Parallel, 100);
  ASSERT_TRUE(split) << split.error().message;
  EXPECT_EQ(split->leftImage().width(), 320);

  // A damaged index stays an error whatever the layout.
  bytes[6018] = 'X';
  test::writeBytes(path, bytes);
  EXPECT_EQ(loadStereoPairFile(path, SideBySideLayout::Parallel, 100).error().code,
            ErrorCode::Corrupt);
}

TEST(MpoPairFile, OnlyJpegsNamedJpsAndMpoPairsAreWholePairs) {
  test::TempDir dir;
  const auto jpeg = encodeJpeg(test::makeSmoothImage(16, 8), 80);
  ASSERT_TRUE(jpeg);
  test::writeBytes(dir / "plain.jpg", *jpeg);
  test::writeBytes(dir / "plain.jps", *jpeg);
  ASSERT_TRUE(writeImageFile(test::makeSmoothImage(16, 8), (dir / "png.png").string()));
  fs::rename(dir / "png.png", dir / "png.jps");
  ASSERT_EQ(::mkfifo((dir / "fifo.jps").c_str(), 0600), 0);
  ASSERT_EQ(::mkfifo((dir / "fifo.mpo").c_str(), 0600), 0);
  const std::vector<std::pair<std::string, bool>> cases = {
      {"plain.jpg", false}, {"plain.jps", true}, {"png.jps", false},
      {"fifo.jps", false},  {"fifo.mpo", false}, {"missing.mpo", false},
  };
  for (const auto& [name, expected] : cases) {
    EXPECT_EQ(isSingleFilePair((dir / name).string()), expected) << name;
  }
}

}  // namespace
}  // namespace duo
