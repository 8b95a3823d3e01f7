#include <gtest/gtest.h>

#include "io/image_codec.h"
#include "test_support.h"

namespace duo {
namespace {

using test::runCli;

TEST(CliSingleFile, RendersAnMpoAndListsItsImages) {
  const std::string mpo = test::testdataPath("mpo/panasonic-gx8.mpo");
  if (mpo.empty()) GTEST_SKIP() << "no shared test data";
  test::TempDir dir;
  const auto out = (dir / "gx8.png").string();
  const auto run = runCli({"render", mpo, "--kind", "color", "-o", out});
  ASSERT_EQ(run.status, 0) << run.err;
  const auto image = decodeImageFile(out);
  ASSERT_TRUE(image);
  EXPECT_EQ(image->width(), 912);
  EXPECT_EQ(image->height(), 684);

  const auto info = runCli({"info", mpo});
  EXPECT_EQ(info.status, 0) << info.err;
  EXPECT_NE(info.out.find("  image 2: Multi-frame disparity (0x020002), 1260771 bytes at 1251328, "
                          "JPEG 1824x1368, orientation Up (EXIF 1)"),
            std::string::npos)
      << info.out;

  auto bytes = test::readBytes(mpo);
  bytes.resize(2000000);
  test::writeBytes(dir / "cut.mpo", bytes);
  const auto cut = runCli({"info", (dir / "cut.mpo").string()});
  EXPECT_EQ(cut.status, 1);
  EXPECT_NE(cut.err.find("cut.mpo: truncated MPO file"), std::string::npos) << cut.err;
}

TEST(CliSingleFile, SideBySideLayoutDecidesWhichHalfIsLeft) {
  test::TempDir dir;
  Image whole = test::makeSmoothImage(120, 40, 1);
  const Image other = test::makeSmoothImage(60, 40, 2);
  for (int y = 0; y < 40; ++y) {
    std::copy(other.row(y), other.row(y) + other.bytesPerRow(), whole.pixel(60, y));
  }
  const auto sbs = (dir / "sbs.png").string();
  ASSERT_TRUE(writeImageFile(whole, sbs));
  const auto render = [&](std::vector<std::string> extra, const std::string& name) {
    std::vector<std::string> args = {"render",       sbs,   "--kind", "color",
                                     "--image-size", "100", "-o",     (dir / name).string()};
    args.insert(args.end(), extra.begin(), extra.end());
    const auto run = runCli(args);
    EXPECT_EQ(run.status, 0) << run.err;
    return decodeImageFile((dir / name).string()).value();
  };
  const Image parallel = render({"--sbs", "parallel"}, "p.png");
  const Image cross = render({"--sbs", "cross"}, "c.png");
  EXPECT_EQ(parallel.width(), 60);
  EXPECT_FALSE(parallel.samePixels(cross));
  EXPECT_TRUE(cross.samePixels(render({"--sbs", "parallel", "--swap"}, "s.png")));

  const auto unmarked = runCli({"render", sbs, "-o", (dir / "u.png").string(), "--kind", "grey"});
  EXPECT_EQ(unmarked.status, 2);
  EXPECT_NE(unmarked.err.find("use --sbs parallel|cross"), std::string::npos) << unmarked.err;
  EXPECT_FALSE(std::filesystem::exists(dir / "u.png"));

  const std::vector<std::vector<std::string>> usage = {
      {"render", sbs, "--sbs", "diagonal"},   {"render", sbs, "--sbs"},
      {"render", sbs, sbs, "--sbs", "cross"}, {"render", sbs, sbs, sbs},
      {"render", "--sbs", "cross"},
  };
  for (const auto& args : usage) {
    EXPECT_EQ(runCli(args).status, 2) << ::testing::PrintToString(args);
  }
}

}  // namespace
}  // namespace duo
