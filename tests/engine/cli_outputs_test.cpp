#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

#include "io/image_codec.h"
#include "test_support.h"

namespace duo {
namespace {

namespace fs = std::filesystem;
using test::runCli;

/// Every file under a folder with its bytes, to tell that a run wrote nothing at all.
std::map<std::string, std::vector<std::uint8_t>> snapshot(const fs::path& folder) {
  std::map<std::string, std::vector<std::uint8_t>> files;
  for (const auto& e : fs::recursive_directory_iterator(folder)) {
    const std::string name = fs::relative(e.path(), folder).string();
    files[name] = e.is_regular_file() ? test::readBytes(e.path()) : std::vector<std::uint8_t>{};
  }
  return files;
}

std::set<std::string> entriesOf(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.insert(e.path().filename().string());
  return names;
}

void writeText(const fs::path& path, const std::string& text) {
  test::writeBytes(path, std::vector<std::uint8_t>(text.begin(), text.end()));
}

class CliOutputsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(writeImageFile(test::makeSmoothImage(240, 160, 1), path("L.png")));
    ASSERT_TRUE(writeImageFile(test::makeSmoothImage(240, 160, 2), path("R.png")));
  }
  std::string path(const std::string& name) const { return (dir / name).string(); }

  test::TempDir dir;
};

TEST_F(CliOutputsTest, AnOutputThatIsAnInputIsRefusedAndNothingIsWritten) {
  fs::create_hard_link(dir / "L.png", dir / "hard.png");
  fs::create_symlink(dir / "R.png", dir / "soft.png");
  fs::create_directory(dir / "old");
  fs::copy_file(dir / "L.png", dir / "old" / "Grey Anaglyph.png");
  struct Case {
    std::vector<std::string> args;
    std::string output;
    std::string input;
  };
  const std::vector<Case> cases = {
      {{"render", path("L.png"), path("R.png"), "--kind", "color", "-o", path("L.png")},
       path("L.png"),
       path("L.png")},
      {{"render", path("L.png"), path("R.png"), "--kind", "grey", "-o", path("hard.png")},
       path("hard.png"),
       path("L.png")},
      {{"render", path("L.png"), path("R.png"), "--kind", "stereogram", "-o", path("soft.png")},
       path("soft.png"),
       path("R.png")},
      {{"render", path("L.png"), path("soft.png"), "--kind", "color", "-o", path("R.png")},
       path("R.png"),
       path("soft.png")},
      {{"render", path("old/Grey Anaglyph.png"), path("R.png"), "--kind", "all", "-o", path("old")},
       path("old/Grey Anaglyph.png"),
       path("old/Grey Anaglyph.png")},
      {{"render", path("L.png"), path("R.png"), "-o", path("L.png")}, path("L.png"), path("L.png")},
      {{"normalize", path("L.png"), "-o", path("hard.png")}, path("hard.png"), path("L.png")},
  };
  const auto before = snapshot(dir.path());
  for (const Case& c : cases) {
    const auto run = runCli(c.args);
    EXPECT_EQ(run.status, 1) << ::testing::PrintToString(c.args);
    EXPECT_EQ(run.err, c.output + ": the output would overwrite the input " + c.input +
                           " (the same file); nothing was written\n");
    EXPECT_TRUE(snapshot(dir.path()) == before) << ::testing::PrintToString(c.args);
  }
}

TEST_F(CliOutputsTest, BatchListsAPairThatWouldOverwriteAnInputAndRendersTheOthers) {
  // The second pair's output is the third pair's left photograph.
  fs::copy_file(dir / "L.png", dir / "copy.png");
  writeText(dir / "pairs.txt", "L.png\tR.png\tL\nL.png\tR.png\tcopy\ncopy.png\tR.png\tgood\n");
  const auto left = test::readBytes(dir / "L.png");
  const auto run =
      runCli({"batch", path("pairs.txt"), "-o", dir.path().string(), "--kind", "color"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("1 of 3 pairs"), std::string::npos) << run.out;
  EXPECT_NE(run.err.find("  L: " + path("L.png") + ": the output would overwrite the input " +
                         path("L.png") + " "),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("  copy: " + path("copy.png") + ": the output would overwrite the input " +
                         path("copy.png") + " "),
            std::string::npos)
      << run.err;
  EXPECT_EQ(test::readBytes(dir / "L.png"), left);
  EXPECT_EQ(test::readBytes(dir / "copy.png"), left);
  EXPECT_TRUE(decodeImageFile(path("good.png")));
}

TEST_F(CliOutputsTest, AllWritesNothingUnlessEveryKindRenders) {
  // 2000 pixels wide at full size with the widest border: a card of 18624 × 10423 pixels.
  ASSERT_TRUE(writeImageFile(test::makeSmoothImage(2000, 10, 1), path("wide_L.png")));
  ASSERT_TRUE(writeImageFile(test::makeSmoothImage(2000, 10, 2), path("wide_R.png")));
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{"render", path("wide_L.png"), path("wide_R.png"), "--image-size", "100", "--border",
        "1000"},
       "the stereogram card would be 18624×10423 pixels, over the limit of 134217728 pixels\n"},
      // Working copies 120 × 80: one row in common, three quarters of a row on a borderless card.
      {{"render", path("L.png"), path("R.png"), "--offset", "0,-79", "--border", "0"},
       "the crop of 120×1 pixels is too small for a stereogram card (it would be 180×0 pixels)\n"},
  };
  for (const Case& c : cases) {
    auto args = c.args;
    args.insert(args.end(), {"--kind", "all", "-o", path("new")});
    auto run = runCli(args);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, c.message);
    EXPECT_FALSE(fs::exists(dir / "new"));

    // Outputs of an earlier run stay as they were, and no temporary file is left.
    ASSERT_EQ(runCli({"render", path("L.png"), path("R.png"), "-o", path("old")}).status, 0);
    const auto before = snapshot(dir / "old");
    args.back() = path("old");
    run = runCli(args);
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(snapshot(dir / "old") == before) << run.err;
  }

  // In a batch the failing pair leaves nothing; a taller pair takes the same offset and renders.
  ASSERT_TRUE(writeImageFile(test::makeSmoothImage(240, 480, 1), path("tall_L.png")));
  ASSERT_TRUE(writeImageFile(test::makeSmoothImage(240, 480, 2), path("tall_R.png")));
  writeText(dir / "pairs.txt", "L.png R.png\ntall_L.png tall_R.png\n");
  const auto run = runCli(
      {"batch", path("pairs.txt"), "-o", path("batch"), "--offset", "0,-79", "--border", "0"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("L: the crop of 120×1 pixels is too small"), std::string::npos) << run.err;
  EXPECT_EQ(entriesOf(dir / "batch"), std::set<std::string>{"tall"});
  EXPECT_EQ(entriesOf(dir / "batch" / "tall").size(), 4u);
}

TEST_F(CliOutputsTest, BatchGivesEveryPairItsOwnOutputInsideTheFolder) {
  writeText(dir / "pairs.txt",
            "L.png\tR.png\ta\nL.png\tR.png\ta\nL.png\tR.png\ta-2\nL.png\tR.png\tA\n"
            "L.png\tR.png\t..\nL.png\tR.png\tsub/a\n");
  for (const bool all : {false, true}) {
    const fs::path parent = dir / (all ? "all" : "color");
    const fs::path out = parent / "out";
    const auto run =
        runCli({"batch", path("pairs.txt"), "-o", out.string(), "--kind", all ? "all" : "color"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("6 of 6 pairs"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("  a → a-3\n  .. → pair\n  sub/a → a-4\n"), std::string::npos)
        << run.out;
    const std::string ext = all ? "" : ".png";
    std::set<std::string> expected;
    for (const char* name : {"a", "a-2", "a-3", "a-4", "A", "pair"}) expected.insert(name + ext);
    EXPECT_EQ(entriesOf(out), expected);
    EXPECT_EQ(entriesOf(parent), std::set<std::string>{"out"}) << "nothing beside the folder";
    if (all) {
      EXPECT_EQ(entriesOf(out / "pair").size(), 4u);
    }
  }
}

}  // namespace
}  // namespace duo
