#include <gtest/gtest.h>

#include <filesystem>

#include "io/image_codec.h"
#include "test_support.h"
#include "transform/image_tools.h"

namespace duo {
namespace {

namespace fs = std::filesystem;
using test::runCli;

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    photo = test::makeCoordinateImage(300, 200);
    auto jpeg = encodeJpeg(test::makeSmoothImage(300, 200), 90);
    ASSERT_TRUE(jpeg);
    rightTagged = (dir / "right-tagged.jpg").string();
    test::writeBytes(rightTagged, test::withExifOrientation(*jpeg, 6));
    png = (dir / "photo.png").string();
    ASSERT_TRUE(writeImageFile(photo, png));
  }

  test::TempDir dir;
  Image photo;
  std::string rightTagged;
  std::string png;
};

TEST_F(CliTest, InfoShowsStoredSizeBothTagNumberingsAndUprightSize) {
  const auto run = runCli({"info", rightTagged, png});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("right-tagged.jpg: JPEG 300x200, orientation Right (tag 3, EXIF 6), "
                         "upright 200x300"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("photo.png: PNG 300x200, orientation Up (tag 0, EXIF 1), upright 300x200"),
            std::string::npos)
      << run.out;

  // A bad file among good ones: reported, the others still listed, status 1.
  const auto mixed = runCli({"info", (dir / "missing.jpg").string(), png});
  EXPECT_EQ(mixed.status, 1);
  EXPECT_NE(mixed.err.find("missing.jpg"), std::string::npos);
  EXPECT_NE(mixed.out.find("photo.png"), std::string::npos);
}

TEST_F(CliTest, NormalizeWritesExactlyWhatScaleAndRotateGives) {
  const auto out = (dir / "out.png").string();
  auto run = runCli({"normalize", png, "-o", out, "--override-orientation", "Right"});
  ASSERT_EQ(run.status, 0) << run.err;
  auto written = decodeImageFile(out);
  ASSERT_TRUE(written);
  EXPECT_TRUE(written->samePixels(ImageTools::scaleAndRotateImage(photo, 3, 65535)));

  run = runCli({"normalize", rightTagged, "-o", out, "--max-resolution", "150"});
  ASSERT_EQ(run.status, 0) << run.err;
  written = decodeImageFile(out);
  ASSERT_TRUE(written);
  EXPECT_EQ(written->width(), 100);  // upright, longer side 150
  EXPECT_EQ(written->height(), 150);

  const auto jpg = (dir / "out.JPG").string();
  run = runCli({"normalize", png, "-o", jpg, "--quality", "80"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(readImageInfoFile(jpg)->format, ImageFormat::Jpeg);
}

TEST_F(CliTest, BadInputExitsOneNamesTheFileAndLeavesNoOutput) {
  const auto broken = (dir / "broken.jpg").string();
  auto bytes = test::readBytes(rightTagged);
  bytes.resize(bytes.size() / 2);
  test::writeBytes(broken, bytes);
  const auto out = dir / "out.png";
  for (const std::string& input : {broken, (dir / "nothing-here.png").string()}) {
    const auto run = runCli({"normalize", input, "-o", out.string()});
    EXPECT_EQ(run.status, 1) << input;
    EXPECT_NE(run.err.find(fs::path(input).filename().string()), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << "one line: " << run.err;
  }
  std::size_t files = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir.path())) ++files;
  EXPECT_EQ(files, 3u) << "only the inputs remain";

  // An unwritable destination is bad input too, and leaves nothing behind.
  const auto run = runCli({"normalize", png, "-o", (dir / "no-such-folder" / "x.png").string()});
  EXPECT_EQ(run.status, 1);
}

TEST_F(CliTest, BadUsageExitsTwo) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"frobnicate"},
      {"info"},
      {"normalize", png},
      {"normalize", "-o", "x.png"},
      {"normalize", png, "-o", (dir / "x.gif").string()},
      {"normalize", png, "-o", "x.png", "--max-resolution", "0"},
      {"normalize", png, "-o", "x.png", "--max-resolution", "abc"},
      {"normalize", png, "-o", "x.png", "--override-orientation", "8"},
      {"normalize", png, "-o", "x.png", "--quality", "101"},
      {"normalize", png, "-o", "x.png", "--bogus"},
      {"normalize", png, "-o"},
  };
  for (const auto& args : cases) {
    const auto run = runCli(args);
    EXPECT_EQ(run.status, 2) << ::testing::PrintToString(args) << run.err;
  }
  EXPECT_FALSE(fs::exists(dir / "x.gif"));

  const auto help = runCli({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("normalize IN -o OUT"), std::string::npos);
  const auto version = runCli({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("duoscope-cli ", 0), 0u);
}

}  // namespace
}  // namespace duo
