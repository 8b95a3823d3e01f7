#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "image/image.h"

namespace duo::test {

/// An image whose every pixel tells where it is: red = x, green = y (both mod 256), blue = a
/// checksum of the block, so orientation tests can find any stored pixel in the output.
Image makeCoordinateImage(int width, int height);

/// Smooth photo-like content (gradients plus a little texture) that survives JPEG well.
Image makeSmoothImage(int width, int height, std::uint32_t seed = 1);

/// JPEG bytes with an EXIF APP1 segment holding Orientation = exifValue, written right after
/// SOI (as cameras do). Built with libexif.
std::vector<std::uint8_t> withExifOrientation(const std::vector<std::uint8_t>& jpeg, int exifValue);

/// Absolute path inside the shared folder of real stereo pairs; empty if the folder is absent.
std::string testdataPath(const std::string& relative);

std::vector<std::uint8_t> readBytes(const std::filesystem::path& path);
void writeBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);

/// A fresh folder removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return m_path; }
  std::filesystem::path operator/(const std::string& name) const { return m_path / name; }

 private:
  std::filesystem::path m_path;
};

/// The duoscope-cli of this build.
std::string cliPath();

/// Runs duoscope-cli (or `program`, such as a copy of it elsewhere) with the arguments
/// (shell-quoted here); returns the exit status and captures stdout and stderr.
struct CliRun {
  int status = -1;
  std::string out;
  std::string err;
};
CliRun runCli(const std::vector<std::string>& args, const std::filesystem::path& program = {});

}  // namespace duo::test
