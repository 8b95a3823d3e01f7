#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "align/auto_align.h"
#include "io/image_codec.h"
#include "test_support.h"

namespace duo {
namespace {

namespace fs = std::filesystem;
using test::runCli;

const fs::path kSample =
    fs::path(__FILE__).parent_path().parent_path().parent_path() / "resources/sample/left.jpg";

Image window(const Image& source, int x, int y, int width, int height) {
  Image out = *Image::create(width, height);
  for (int row = 0; row < height; ++row) {
    std::memcpy(out.row(row), source.pixel(x, y + row), std::size_t(width) * 4);
  }
  return out;
}

// Two windows of the bundled sample photograph, the right one's content 12 pixels right of and
// 8 pixels above the left one's: the offset to suggest is -12,8 (PNG, so no JPEG noise).
class CliAlignTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto photo = decodeImageFile(kSample.string());
    ASSERT_TRUE(photo);
    left = (dir / "shifted_L.png").string();
    right = (dir / "shifted_R.png").string();
    ASSERT_TRUE(writeImageFile(window(*photo, 40, 40, 800, 600), left));
    ASSERT_TRUE(writeImageFile(window(*photo, 28, 48, 800, 600), right));
    Image grey = *Image::create(400, 300);
    std::memset(grey.data(), 128, grey.byteCount());
    flat = (dir / "flat.png").string();
    ASSERT_TRUE(writeImageFile(grey, flat));
  }

  test::TempDir dir;
  std::string left;
  std::string right;
  std::string flat;
};

TEST_F(CliAlignTest, AlignPrintsTheOffsetThenTheConfidence) {
  const auto run = runCli({"align", left, right, "--image-size", "100"});
  if (!autoAlignmentAvailable()) {
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("not available in this build"), std::string::npos) << run.err;
    return;
  }
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out.substr(0, run.out.find('\n')), "-12,8");
  double confidence = 0;
  int agree = 0;
  int matches = 0;
  ASSERT_EQ(std::sscanf(run.out.c_str(), "%*s\nconfidence %lf (%d of %d matches agree)",
                        &confidence, &agree, &matches),
            3)
      << run.out;
  EXPECT_GE(confidence, kMinimumAlignmentConfidence);
  EXPECT_LE(agree, matches);
  // Half size: the same shift in half-size pixels.
  const auto half = runCli({"align", left, right, "--image-size", "50"});
  ASSERT_EQ(half.status, 0) << half.err;
  EXPECT_EQ(half.out.substr(0, half.out.find('\n')), "-6,4");
}

TEST_F(CliAlignTest, RenderAutoRendersWithTheSuggestionForThePairAsRendered) {
  if (!autoAlignmentAvailable()) GTEST_SKIP() << "this build has no automatic alignment";
  // Swapped, the suggestion is worked out for the exchanged pair: the opposite shift.
  const struct {
    std::vector<std::string> extra;
    const char* offset;
  } cases[] = {{{}, "-12,8"}, {{"--swap"}, "12,-8"}};
  for (const auto& c : cases) {
    std::vector<std::string> common = {"render", left,           right, "--kind",
                                       "color",  "--image-size", "100"};
    common.insert(common.end(), c.extra.begin(), c.extra.end());
    auto automatic = common;
    automatic.insert(automatic.end(), {"--offset", "auto", "-o", (dir / "auto.png").string()});
    auto given = common;
    given.insert(given.end(), {"--offset", c.offset, "-o", (dir / "given.png").string()});
    const auto a = runCli(automatic);
    const auto g = runCli(given);
    ASSERT_EQ(a.status, 0) << a.err;
    ASSERT_EQ(g.status, 0) << g.err;
    EXPECT_EQ(test::readBytes(dir / "auto.png"), test::readBytes(dir / "given.png")) << c.offset;
  }
}

TEST_F(CliAlignTest, AnUnsureSuggestionIsShownButNeverRendered) {
  const auto align = runCli({"align", flat, flat});
  EXPECT_EQ(align.status, 1);
  if (autoAlignmentAvailable()) {
    EXPECT_EQ(align.out, "0,0\nconfidence 0.00 (0 of 0 matches agree)\n");
    EXPECT_NE(align.err.find("unreliable"), std::string::npos) << align.err;
  }
  const auto out = dir / "never.png";
  const auto render =
      runCli({"render", flat, flat, "--kind", "grey", "--offset", "auto", "-o", out.string()});
  EXPECT_EQ(render.status, 1);
  EXPECT_NE(render.err.find(autoAlignmentAvailable() ? "unsure" : "not available"),
            std::string::npos)
      << render.err;
  EXPECT_FALSE(fs::exists(out));
}

TEST_F(CliAlignTest, OnePairFileIsAlignedLikeTwo) {
  if (!autoAlignmentAvailable()) GTEST_SKIP() << "this build has no automatic alignment";
  const std::string mpo = test::testdataPath("mpo/panasonic-gx8.mpo");
  if (!fs::exists(mpo)) GTEST_SKIP() << "no test data";
  const auto fromMpo = runCli({"align", mpo});
  const auto fromFiles = runCli({"align", test::testdataPath("pairs/gx8-split/left.jpg"),
                                 test::testdataPath("pairs/gx8-split/right.jpg")});
  ASSERT_EQ(fromMpo.status, 0) << fromMpo.err;
  // The same scene (the split files lost one row): the same vertical offset within a pixel.
  const int mpoY = std::stoi(fromMpo.out.substr(fromMpo.out.find(',') + 1));
  const int filesY = std::stoi(fromFiles.out.substr(fromFiles.out.find(',') + 1));
  EXPECT_LE(std::abs(mpoY - filesY), 1) << fromMpo.out << fromFiles.out;
}

// A copy of the program without the alignment module at its place beside it, as when only the
// executable is copied elsewhere: it says why it cannot align, and renders with a given offset.
TEST_F(CliAlignTest, WithoutItsModuleAlignmentIsNotAvailableAndTheRestWorks) {
  const fs::path copy = dir / "elsewhere/bin/duoscope-cli";
  fs::create_directories(copy.parent_path());
  fs::copy_file(test::cliPath(), copy);
  for (const auto& args :
       {std::vector<std::string>{"align", left, right},
        std::vector<std::string>{"render", left, right, "--kind", "color", "--offset", "auto", "-o",
                                 (dir / "never.png").string()}}) {
    const auto run = runCli(args, copy);
    EXPECT_EQ(run.status, 1) << args[0];
    EXPECT_NE(run.err.find("automatic alignment is not available"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("give --offset X,Y instead"), std::string::npos) << run.err;
  }
  EXPECT_FALSE(fs::exists(dir / "never.png"));
  const auto given = runCli({"render", left, right, "--kind", "color", "--offset", "3,1", "-o",
                             (dir / "given.png").string()},
                            copy);
  EXPECT_EQ(given.status, 0) << given.err;
  EXPECT_TRUE(fs::exists(dir / "given.png"));
}

TEST_F(CliAlignTest, BadUsageIsRefusedWithAHint) {
  const struct {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{"align", left}, "align needs LEFT and RIGHT"},
      {{"align", left, right, "--offset", "1,2"}, "align has no option '--offset'"},
      {{"align", left, right, "--image-size", "0"}, "--image-size takes a positive number"},
      {{"render", left, right, "--offset", "automatic"}, "--offset takes X,Y or auto"},
  };
  for (const auto& c : cases) {
    const auto run = runCli(c.args);
    EXPECT_EQ(run.status, 2) << c.message;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
  }
  EXPECT_NE(runCli({"--help"}).out.find("align LEFT RIGHT [--image-size P]"), std::string::npos);
}

}  // namespace
}  // namespace duo
