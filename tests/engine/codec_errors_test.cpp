#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "codec_fixtures.h"
#include "io/file_io.h"
#include "io/image_codec.h"
#include "support/test_support.h"

namespace duo {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Right code, and a one-line message that starts with the file's name.
template <typename T>
::testing::AssertionResult failsWith(const Result<T>& result, ErrorCode code,
                                     const std::string& name) {
  if (result.ok()) return ::testing::AssertionFailure() << name << " succeeded";
  const Error& e = result.error();
  if (e.code != code || e.message.rfind(name + ": ", 0) != 0 ||
      e.message.find('\n') != std::string::npos) {
    return ::testing::AssertionFailure() << toString(e.code) << ": " << e.message;
  }
  return ::testing::AssertionSuccess();
}

Bytes firstBytes(const Bytes& bytes, std::size_t count) {
  return {bytes.begin(), bytes.begin() + std::ptrdiff_t(count)};
}

TEST(FileErrors, MissingEmptyFolderAndOversizedFilesNameThePath) {
  test::TempDir dir;
  const std::string missing = (dir / "missing.jpg").string();
  EXPECT_TRUE(failsWith(decodeImageFile(missing), ErrorCode::Io, missing));
  EXPECT_TRUE(failsWith(readImageInfoFile(missing), ErrorCode::Io, missing));
  EXPECT_NE(decodeImageFile(missing).error().message.find("No such file"), std::string::npos);

  const std::string empty = (dir / "empty.png").string();
  test::writeBytes(empty, {});
  EXPECT_TRUE(failsWith(decodeImageFile(empty), ErrorCode::Empty, empty));
  EXPECT_EQ(readImageInfoFile(empty).error().message, empty + ": empty file");

  const std::string folder = (dir / "folder.jpg").string();
  std::filesystem::create_directory(folder);
  EXPECT_TRUE(failsWith(decodeImageFile(folder), ErrorCode::Io, folder));

  const std::string ten = (dir / "ten.bin").string();
  test::writeBytes(ten, Bytes(10, 7));
  EXPECT_EQ(*readFileBytes(ten, 10), Bytes(10, 7));
  EXPECT_TRUE(failsWith(readFileBytes(ten, 9), ErrorCode::TooLarge, ten));
}

TEST(FileErrors, AtomicWriteReplacesContentAndKeepsPermissions) {
  test::TempDir dir;
  const std::string path = (dir / "settings.bin").string();
  struct stat info {};
  const test::ScopedUmask usualMask(022);
  ASSERT_TRUE(writeFileAtomically(path, Bytes{1, 2, 3}));
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0644u);
  ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
  ASSERT_TRUE(writeFileAtomically(path, Bytes{9, 8}, /*durable=*/true));
  EXPECT_EQ(test::readBytes(path), (Bytes{9, 8}));
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_FALSE(test::hasTemporaryFiles(dir.path()));
}

TEST(FileErrors, FailedWritesLeaveNothingBehind) {
  test::TempDir dir;
  const std::string inMissingFolder = (dir / "no-such-folder" / "out.png").string();
  EXPECT_TRUE(
      failsWith(writeFileAtomically(inMissingFolder, Bytes{1}), ErrorCode::Io, inMissingFolder));
  // The temporary file gets written, then the rename fails: a folder is in the way.
  const std::string folder = (dir / "taken.png").string();
  std::filesystem::create_directory(folder);
  EXPECT_TRUE(failsWith(writeFileAtomically(folder, Bytes{1, 2}), ErrorCode::Io, folder));
  EXPECT_FALSE(test::hasTemporaryFiles(dir.path()));

  const std::string tiff = (dir / "picture.tiff").string();
  EXPECT_TRUE(failsWith(writeImageFile(*Image::create(4, 4), tiff), ErrorCode::Unsupported, tiff));
  EXPECT_FALSE(std::filesystem::exists(tiff));
  EXPECT_FALSE(test::hasTemporaryFiles(dir.path()));
}

TEST(DecodeErrors, TruncatedFilesAreTruncated) {
  const Image image = test::makeSmoothImage(160, 120);
  test::JpegRecipe recipe;
  recipe.progressive = true;
  const Bytes baseline = *encodeJpeg(image, 90), png = *encodePng(image);
  const Bytes progressive = test::writeJpeg(image, recipe);
  recipe = {};
  recipe.restartRows = 1;
  const Bytes restarts = test::writeJpeg(image, recipe);
  const std::tuple<const char*, Bytes, bool> cases[] = {
      // name, bytes, header complete
      {"half.jpg", firstBytes(baseline, baseline.size() / 2), true},
      {"half-progressive.jpg", firstBytes(progressive, progressive.size() / 2), true},
      // Every MCU before the cut is whole; the restart marker after it is missing.
      {"before-restart.jpg", firstBytes(restarts, test::findMarker(restarts, 0xD2)), true},
      {"header.jpg", firstBytes(baseline, 40), false},
      {"half.png", firstBytes(png, png.size() / 2), true},
      {"ihdr.png", firstBytes(png, 20), false},
  };
  for (const auto& [name, bytes, headerComplete] : cases) {
    EXPECT_TRUE(failsWith(decodeImage(bytes, name), ErrorCode::Truncated, name));
    EXPECT_EQ(readImageInfo(bytes, name).ok(), headerComplete) << name;
  }
  EXPECT_EQ(decodeImage(firstBytes(baseline, 100), "cut.jpg").error().message,
            "cut.jpg: truncated JPEG data (premature end of JPEG file)");
}

// The decoder reads ahead past the last pixel, so a missing EOI marker looks like missing data
// until no bits turn out to be needed. A progressive file cut between two scans would look the
// same and decode blurred, so there the missing end stays an error.
TEST(DecodeErrors, SingleScanFileMissingOnlyItsEndMarkerDecodesWhole) {
  const Image image = test::makeSmoothImage(64, 48);
  const Bytes jpeg = *encodeJpeg(image, 90);
  const auto whole = decodeImage(jpeg, "whole.jpg");
  for (const std::size_t missing : {1, 2}) {
    const auto cut = decodeImage(firstBytes(jpeg, jpeg.size() - missing), "no-eoi.jpg");
    ASSERT_TRUE(cut) << cut.error().message;
    EXPECT_TRUE(cut->samePixels(*whole));
  }
  EXPECT_TRUE(failsWith(decodeImage(firstBytes(jpeg, jpeg.size() - 3), "short.jpg"),
                        ErrorCode::Truncated, "short.jpg"));
  const Bytes progressive = test::writeJpeg(image, {.progressive = true});
  EXPECT_TRUE(failsWith(decodeImage(firstBytes(progressive, progressive.size() - 2), "p.jpg"),
                        ErrorCode::Truncated, "p.jpg"));
}

TEST(DecodeErrors, GarbageIsNotAnImage) {
  Bytes noise(500);
  for (std::size_t i = 0; i < noise.size(); ++i) noise[i] = std::uint8_t(i * 131 + 7);
  EXPECT_TRUE(failsWith(decodeImage(noise, "junk.jpg"), ErrorCode::Unsupported, "junk.jpg"));
  EXPECT_EQ(readImageInfo(noise, "junk.jpg").error().message, "junk.jpg: not a JPEG or PNG file");
  noise.insert(noise.begin(), {0xFF, 0xD8, 0xFF, 0xE0});  // the right magic, then nonsense
  EXPECT_FALSE(decodeImage(noise, "fake.jpg").ok());
}

// Refused before any pixel memory is asked for: the sanitizer build aborts on a 14 GB request.
TEST(DecodeErrors, OversizedHeadersAreTooLarge) {
  const Bytes jpeg = *encodeJpeg(*Image::create(16, 16), 90);
  const Bytes png = *encodePng(*Image::create(16, 16));
  const std::tuple<const char*, Bytes, const char*> cases[] = {
      {"wide.jpg", test::withJpegSize(jpeg, 60000, 60000), "(60000 x 60000 pixels)"},
      {"many.jpg", test::withJpegSize(jpeg, 20000, 20000), "(20000 x 20000 pixels)"},
      {"long.jpg", test::withJpegSize(jpeg, 65501, 16), "(65501 x 16 pixels)"},
      {"huge.png", test::withPngSize(png, 100000, 100000), "(100000 x 100000 pixels)"},
      {"many.png", test::withPngSize(png, 20000, 20000), "(20000 x 20000 pixels)"},
  };
  for (const auto& [name, bytes, claim] : cases) {
    EXPECT_TRUE(failsWith(readImageInfo(bytes, name), ErrorCode::TooLarge, name));
    const auto decoded = decodeImage(bytes, name);
    EXPECT_TRUE(failsWith(decoded, ErrorCode::TooLarge, name));
    if (!decoded) {
      EXPECT_NE(decoded.error().message.find(claim), std::string::npos) << name;
    }
  }
}

// libjpeg stops at 65500 pixels a side, short of what the format could state.
TEST(EncodeErrors, JpegWiderOrTallerThanLibjpegAllowsSuggestsPng) {
  test::TempDir dir;
  EXPECT_TRUE(encodeJpeg(*Image::create(65500, 2), 90).ok());
  const std::string jpg = (dir / "card.jpg").string();
  for (const auto& [w, h, size] : {std::tuple{65501, 2, "65501 x 2 pixels is too wide"},
                                   std::tuple{2, 65535, "2 x 65535 pixels is too tall"}}) {
    const Status written = writeImageFile(*Image::create(w, h), jpg);
    ASSERT_TRUE(failsWith(written, ErrorCode::TooLarge, jpg));
    EXPECT_EQ(written.error().message,
              jpg + ": " + size + " for JPEG (at most 65500 pixels a side); write PNG instead");
    EXPECT_FALSE(std::filesystem::exists(jpg));
  }
}

TEST(DecodeErrors, CorruptDataIsCorruptButStrayBytesAreTolerated) {
  const Image image = test::makeSmoothImage(64, 64);
  const Bytes jpeg = *encodeJpeg(image, 90);
  Bytes endsEarly = firstBytes(jpeg, jpeg.size() / 2);  // EOI in the middle of the scan
  endsEarly.insert(endsEarly.end(), {0xFF, 0xD9});
  Bytes outOfSequence = test::writeJpeg(image, {.restartRows = 1});
  outOfSequence[test::findMarker(outOfSequence, 0xD1) + 1] = 0xD5;  // RST5 where RST1 belongs
  Bytes badIhdrCrc = *encodePng(image), badIdat = badIhdrCrc;
  badIhdrCrc[29] ^= 0x01;
  badIdat[badIdat.size() - 40] ^= 0x55;  // inside the last IDAT
  const std::pair<const char*, Bytes> cases[] = {{"ends-early.jpg", endsEarly},
                                                 {"restart.jpg", outOfSequence},
                                                 {"ihdr-crc.png", badIhdrCrc},
                                                 {"idat.png", badIdat}};
  for (const auto& [name, bytes] : cases) {
    EXPECT_TRUE(failsWith(decodeImage(bytes, name), ErrorCode::Corrupt, name));
  }
  // Bytes between two markers are skipped with a warning, as camera files often need.
  Bytes padded = jpeg;
  padded.insert(padded.begin() + std::ptrdiff_t(test::findMarker(jpeg, 0xC0)), {0x12, 0x34});
  const auto tolerated = decodeImage(padded, "padded.jpg");
  ASSERT_TRUE(tolerated) << tolerated.error().message;
  EXPECT_TRUE(tolerated->samePixels(*decodeImage(jpeg, "clean.jpg")));
}

// Each scan is a pass over all coefficients: thousands of tiny scans stall a decoder.
TEST(DecodeErrors, TooManyProgressiveScansAreRefused) {
  const Image image = test::makeSmoothImage(16, 16);
  test::JpegRecipe recipe{.stored = JCS_GRAYSCALE, .scans = test::bitPerScanScript(46)};  // 507
  EXPECT_TRUE(
      failsWith(decodeImage(test::writeJpeg(image, recipe), "s.jpg"), ErrorCode::Corrupt, "s.jpg"));
  recipe.scans = test::bitPerScanScript(40);  // 441: odd, but allowed
  EXPECT_TRUE(decodeImage(test::writeJpeg(image, recipe), "s.jpg").ok());
}

}  // namespace
}  // namespace duo
