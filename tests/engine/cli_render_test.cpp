#include <gtest/gtest.h>

#include <filesystem>

#include "io/image_codec.h"
#include "render/anaglyph.h"
#include "test_support.h"
#include "transform/image_tools.h"

namespace duo {
namespace {

namespace fs = std::filesystem;
using test::runCli;

class CliRenderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    left = (dir / "scene_L.png").string();
    right = (dir / "scene_R.png").string();
    ASSERT_TRUE(writeImageFile(test::makeSmoothImage(240, 160, 1), left));
    ASSERT_TRUE(writeImageFile(test::makeSmoothImage(240, 160, 2), right));
  }

  static std::size_t filesIn(const fs::path& folder) {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& e : fs::recursive_directory_iterator(folder)) ++n;
    return n;
  }

  test::TempDir dir;
  std::string left;
  std::string right;
};

TEST_F(CliRenderTest, AllWritesTheFourOutputsUnderTheirCacheNames) {
  const auto out = dir / "out";
  const auto run = runCli({"render", left, right, "--kind", "all", "-o", out.string(), "--offset",
                           "-6,4", "--image-size", "100", "--dots", "on"});
  ASSERT_EQ(run.status, 0) << run.err;
  for (const char* name : {"Color Anaglyph.png", "Grey Anaglyph.png", "Stereogram.png"}) {
    EXPECT_TRUE(decodeImageFile((out / name).string())) << name;
  }
  EXPECT_EQ(decodeImageFile((out / "Color Anaglyph.png").string())->width(), 234);
  EXPECT_EQ(decodeImageFile((out / "Grey Anaglyph.png").string())->height(), 156);
  // The card is upright: wider than high for a landscape pair.
  const auto card = decodeImageFile((out / "Stereogram.png").string());
  EXPECT_GT(card->width(), card->height());
  const auto gif = test::readBytes(out / "Wigglegram.gif");
  ASSERT_GT(gif.size(), 6u);
  EXPECT_EQ(std::string(gif.begin(), gif.begin() + 6), "GIF89a");
  EXPECT_EQ(gif.back(), 0x3B);
}

TEST_F(CliRenderTest, ColourOutputIsTheEngineRenderOfTheWorkingCopies) {
  struct Case {
    std::vector<std::string> options;
    bool swapped;
    PixelOffset offset;
    int method;
    bool enhance;
  };
  const std::vector<Case> cases = {
      {{"--offset", "3,-2", "--color-method", "2", "--enhance", "off"}, false, {3, -2}, 2, false},
      // Swapped, the red channel comes from the right photograph.
      {{"--offset", "3,-2", "--color-method", "2", "--enhance", "off", "--swap"},
       true,
       {3, -2},
       2,
       false},
      {{"--color-method", "4"}, false, {0, 0}, 4, true},
      {{}, false, {0, 0}, 4, true},  // the defaults
  };
  // 50 % of 240 is 120: working copies of 120 × 80.
  const Image l = ImageTools::scaleAndRotateImage(*decodeImageFile(left), -1, 120);
  const Image r = ImageTools::scaleAndRotateImage(*decodeImageFile(right), -1, 120);
  const auto out = (dir / "color.png").string();
  for (const Case& c : cases) {
    std::vector<std::string> args = {"render", left, right, "--kind", "color", "-o", out};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const auto run = runCli(args);
    ASSERT_EQ(run.status, 0) << ::testing::PrintToString(c.options) << run.err;
    const auto expected = blendImagesReference(c.swapped ? r : l, c.swapped ? l : r, c.offset,
                                               alignmentBoundsFor(120, 80, c.offset), 1, c.method,
                                               c.enhance, updateGammaTable(0.8));
    ASSERT_TRUE(expected);
    const auto written = decodeImageFile(out);
    ASSERT_TRUE(written);
    EXPECT_TRUE(written->samePixels(*expected)) << ::testing::PrintToString(c.options);
  }
}

TEST_F(CliRenderTest, MismatchedOrBadInputExitsOneAndWritesNothing) {
  const auto portrait = (dir / "portrait.png").string();
  ASSERT_TRUE(writeImageFile(test::makeSmoothImage(160, 240), portrait));
  const auto out = dir / "out";
  auto run = runCli({"render", left, portrait, "-o", out.string()});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("Both images must be the same size and orientation."), std::string::npos);
  EXPECT_NE(run.err.find("240x160"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("160x240"), std::string::npos) << run.err;

  run = runCli({"render", left, (dir / "absent.jpg").string(), "-o", out.string()});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("absent.jpg"), std::string::npos);

  run = runCli({"render", left, right, "--offset", "500,0", "-o", out.string()});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("overlap"), std::string::npos);
  EXPECT_FALSE(fs::exists(out));
}

TEST_F(CliRenderTest, BadRenderUsageExitsTwo) {
  const std::vector<std::vector<std::string>> cases = {
      {"render", left},
      {"render", left, right, "--kind", "anaglyph"},
      {"render", left, right, "--kind", "align"},
      {"render", left, right, "--kind", "wiggle", "-o", "w.png"},
      {"render", left, right, "--kind", "color", "-o", "c.gif"},
      {"render", left, right, "--color-method", "5"},
      {"render", left, right, "--enhance", "yes"},
      {"render", left, right, "--offset", "3"},
      {"render", left, right, "--image-size", "-5"},
      {"render", left, right, "--border", "-1"},
      {"batch", left},
      {"batch", "-o", "x"},
      {"batch", left, "-o", "x", "--format", "gif"},
  };
  for (const auto& args : cases) {
    EXPECT_EQ(runCli(args).status, 2) << ::testing::PrintToString(args);
  }
}

TEST_F(CliRenderTest, BatchRendersEveryGoodPairAndSumsUpTheRest) {
  const auto src = dir / "src";
  fs::create_directory(src);
  fs::copy_file(left, src / "good_L.png");
  fs::copy_file(right, src / "good_R.png");
  fs::copy_file(left, src / "odd_L.png");
  ASSERT_TRUE(writeImageFile(test::makeSmoothImage(100, 100), (src / "odd_R.png").string()));
  fs::copy_file(left, src / "lonely_L.png");
  fs::copy_file(right, src / "Also-Good-right.PNG");
  fs::copy_file(left, src / "Also-Good-left.png");

  const auto out = dir / "out";
  auto run = runCli({"batch", src.string(), "-o", out.string(), "--kind", "grey"});
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(decodeImageFile((out / "good.png").string()));
  EXPECT_TRUE(decodeImageFile((out / "Also-Good.png").string()));
  EXPECT_EQ(filesIn(out), 2u);
  EXPECT_NE(run.out.find("2 of 4 pairs"), std::string::npos) << run.out;
  EXPECT_NE(run.err.find("odd: Both images must be the same size"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("lonely: no right image"), std::string::npos) << run.err;

  // A list file: paths relative to it, optional names, comments, a malformed line.
  test::writeBytes(src / "pairs.txt", [] {
    const std::string text =
        "# pairs\n"
        "good_L.png\tgood_R.png\tfirst\n"
        "good_L.png good_R.png\n"
        "just-one-field.png\n"
        "\n";
    return std::vector<std::uint8_t>(text.begin(), text.end());
  }());
  const auto listed = dir / "listed";
  run = runCli({"batch", (src / "pairs.txt").string(), "-o", listed.string(), "--kind", "all"});
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(fs::exists(listed / "first" / "Stereogram.png"));
  EXPECT_TRUE(fs::exists(listed / "good" / "Wigglegram.gif"));
  EXPECT_NE(run.err.find("expected LEFT RIGHT [NAME]"), std::string::npos) << run.err;
}

TEST(CliRenderRealPairs, RenderTheSharedTestPairs) {
  const std::string base = test::testdataPath("pairs");
  if (base.empty()) GTEST_SKIP() << "no shared test data";
  test::TempDir dir;
  for (const char* name : {"night-street", "chessboard", "gx8-split"}) {
    const std::string folder = base + "/" + name;
    const auto run = runCli({"render", folder + "/left.jpg", folder + "/right.jpg", "--kind", "all",
                             "--offset", "10,-7", "-o", (dir / name).string()});
    EXPECT_EQ(run.status, 0) << name << ": " << run.err;
    EXPECT_TRUE(fs::exists(dir / name / "Wigglegram.gif")) << name;
  }
  // Photographs of different sizes are refused.
  const auto run = runCli({"render", base + "/night-street/left.jpg",
                           base + "/stereograph-card-sbs.jpg", "-o", (dir / "x").string()});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("Both images must be the same size"), std::string::npos);
}

}  // namespace
}  // namespace duo
