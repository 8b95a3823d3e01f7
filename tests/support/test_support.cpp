#include "test_support.h"

#include <libexif/exif-data.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace duo::test {

Image makeCoordinateImage(int width, int height) {
  Image image = *Image::create(width, height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      std::uint8_t* p = image.pixel(x, y);
      p[0] = static_cast<std::uint8_t>(x);
      p[1] = static_cast<std::uint8_t>(y);
      p[2] = static_cast<std::uint8_t>((x >> 8) * 16 + (y >> 8) + 1);
    }
  }
  return image;
}

Image makeSmoothImage(int width, int height, std::uint32_t seed) {
  Image image = *Image::create(width, height);
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> noise(-6, 6);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      std::uint8_t* p = image.pixel(x, y);
      const int r = 40 + 160 * x / std::max(1, width - 1) + noise(rng);
      const int g = 30 + 180 * y / std::max(1, height - 1) + noise(rng);
      const int b = 128 + ((x / 16 + y / 16) % 2 ? 50 : -50) + noise(rng);
      p[0] = static_cast<std::uint8_t>(std::clamp(r, 0, 255));
      p[1] = static_cast<std::uint8_t>(std::clamp(g, 0, 255));
      p[2] = static_cast<std::uint8_t>(std::clamp(b, 0, 255));
    }
  }
  return image;
}

std::vector<std::uint8_t> withExifOrientation(const std::vector<std::uint8_t>& jpeg,
                                              int exifValue) {
  if (jpeg.size() < 2 || jpeg[0] != 0xFF || jpeg[1] != 0xD8) throw std::runtime_error("not a JPEG");
  ExifData* exif = exif_data_new();
  exif_data_set_byte_order(exif, EXIF_BYTE_ORDER_INTEL);
  ExifEntry* entry = exif_entry_new();
  exif_content_add_entry(exif->ifd[EXIF_IFD_0], entry);
  exif_entry_initialize(entry, EXIF_TAG_ORIENTATION);
  exif_set_short(entry->data, EXIF_BYTE_ORDER_INTEL, static_cast<ExifShort>(exifValue));
  exif_entry_unref(entry);
  unsigned char* block = nullptr;
  unsigned int blockSize = 0;
  exif_data_save_data(exif, &block, &blockSize);  // starts with "Exif\0\0"
  exif_data_unref(exif);
  if (!block) throw std::runtime_error("libexif could not save");

  std::vector<std::uint8_t> out = {0xFF, 0xD8, 0xFF, 0xE1};
  const unsigned length = blockSize + 2;
  out.push_back(static_cast<std::uint8_t>(length >> 8));
  out.push_back(static_cast<std::uint8_t>(length & 0xFF));
  out.insert(out.end(), block, block + blockSize);
  out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
  std::free(block);
  return out;
}

std::string testdataPath(const std::string& relative) {
  const std::filesystem::path dir(DUOSCOPE_TESTDATA_DIR);
  if (!std::filesystem::is_directory(dir)) return {};
  return (dir / relative).string();
}

std::vector<std::uint8_t> readBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "duoscope-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  m_path = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(m_path, ignored);
}

std::string cliPath() { return DUOSCOPE_CLI_PATH; }

namespace {

std::string shellQuote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  return out + "'";
}

}  // namespace

CliRun runCli(const std::vector<std::string>& args, const std::filesystem::path& program) {
  TempDir dir;
  std::string command = shellQuote(program.empty() ? cliPath() : program.string());
  for (const auto& a : args) command += " " + shellQuote(a);
  command += " >" + shellQuote((dir / "out").string()) + " 2>" + shellQuote((dir / "err").string());
  CliRun run;
  const int raw = std::system(command.c_str());
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  const auto out = readBytes(dir / "out");
  const auto err = readBytes(dir / "err");
  run.out.assign(out.begin(), out.end());
  run.err.assign(err.begin(), err.end());
  return run;
}

}  // namespace duo::test
