// Helper of png_pil_test.py. Writes PNGs of random pixels at awkward sizes into FOLDER through
// both compressors of the PNG writer (failing unless libpng gives back exactly the pixels
// written), then, for every .png in FOLDER (those and any the script put there), writes
// NAME.rgb: the pixels as libpng decodes them, three bytes each, rows top first. The script
// compares those with what PIL decodes.
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "io/file_io.h"
#include "io/image_codec.h"
#include "io/png_writer.h"

namespace {

namespace fs = std::filesystem;

struct Sample {
  int width;
  int height;
  bool streaming;  // the zlib path that images above the one-shot limit take
};

// 1 x 1, a single column and a single row, widths that are not a multiple of 4, and on the
// streaming path an image whose stream needs several IDAT chunks.
constexpr Sample kSamples[] = {{1, 1, false},     {1, 57, false},  {57, 1, false}, {3, 5, false},
                               {301, 263, false}, {1, 1, true},    {1, 57, true},  {57, 1, true},
                               {5, 3, true},      {701, 517, true}};

bool writeSamples(const fs::path& folder) {
  std::mt19937 rng(17);
  for (const Sample& s : kSamples) {
    auto image = duo::Image::createUninitialized(s.width, s.height);
    if (!image) return false;
    for (std::size_t i = 0; i < image->byteCount(); ++i) {
      image->data()[i] = static_cast<std::uint8_t>(rng());
    }
    const auto png = duo::png::encode(*image, s.streaming ? 0 : duo::png::kMaxOneShotPixels);
    const std::string name = "random-" + std::to_string(s.width) + "x" + std::to_string(s.height) +
                             (s.streaming ? "-streaming" : "") + ".png";
    if (!png || !duo::writeFileAtomically((folder / name).string(), *png)) {
      std::fprintf(stderr, "%s: could not be written\n", name.c_str());
      return false;
    }
    // The chain is closed here: libpng gives back the image written, PIL must give libpng's.
    const auto decoded = duo::decodeImage(*png, name);
    if (!decoded || !decoded->samePixels(*image)) {
      std::fprintf(stderr, "%s: libpng does not give back the pixels written\n", name.c_str());
      return false;
    }
  }
  return true;
}

bool dumpPixels(const fs::path& png) {
  const auto image = duo::decodeImageFile(png.string());
  if (!image) {
    std::fprintf(stderr, "%s\n", image.error().message.c_str());
    return false;
  }
  std::vector<std::uint8_t> rgb;
  rgb.reserve(std::size_t(image->width()) * std::size_t(image->height()) * 3);
  for (int y = 0; y < image->height(); ++y) {
    for (int x = 0; x < image->width(); ++x) {
      const std::uint8_t* p = image->pixel(x, y);
      rgb.insert(rgb.end(), p, p + 3);
    }
  }
  fs::path out = png;
  out.replace_extension(".rgb");
  return bool(duo::writeFileAtomically(out.string(), rgb));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
    return 2;
  }
  const fs::path folder = argv[1];
  if (!writeSamples(folder)) return 1;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().extension() == ".png" && !dumpPixels(entry.path())) return 1;
  }
  return 0;
}
