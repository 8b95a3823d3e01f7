#pragma once

// Files written with libpng and libjpeg directly, in variants our own encoders never produce,
// byte patches that make valid files lie about themselves, and a PNG chunk lister.

#include <png.h>
#include <sys/stat.h>
#include <zlib.h>

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>
// clang-format off
#include <jpeglib.h>
// clang-format on

#include "image/image.h"

namespace duo::test {

/// True for the name of an unfinished write's temporary file.
inline bool isTemporaryFileName(const std::string& name) {
  return std::regex_match(name, std::regex(R"(\..+\.duoscope-tmp-[A-Za-z0-9]{6})"));
}

inline bool hasTemporaryFiles(const std::filesystem::path& dir) {
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (isTemporaryFileName(entry.path().filename())) return true;
  }
  return false;
}

/// Sets the process's umask for one scope.
struct ScopedUmask {
  explicit ScopedUmask(mode_t mask) : previous(::umask(mask)) {}
  ~ScopedUmask() { ::umask(previous); }
  mode_t previous;
};

/// `samples` holds every channel of every pixel at the file's bit depth (palette indices for
/// palette images).
struct PngSpec {
  int width = 0, height = 0, colorType = PNG_COLOR_TYPE_RGB, bitDepth = 8;
  bool interlaced = false;
  std::vector<std::uint16_t> samples;
  std::vector<png_color> palette;
  std::vector<std::uint8_t> transparency;
  std::vector<std::uint8_t> exif;  ///< eXIf chunk: a bare TIFF structure
};

inline void appendToVector(png_structp png, png_bytep data, std::size_t length) {
  auto* out = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}

inline std::vector<std::uint8_t> writePng(const PngSpec& s) {
  const std::size_t perRow = s.samples.size() / s.height;
  std::vector<std::vector<png_byte>> rows(s.height);
  std::vector<png_bytep> pointers;
  for (int y = 0; y < s.height; ++y) {
    // Most significant bits first below 8 bits, big-endian at 16.
    rows[y].assign((perRow * s.bitDepth + 7) / 8, 0);
    for (std::size_t i = 0; i < perRow; ++i) {
      const unsigned v = s.samples[y * perRow + i];
      if (s.bitDepth == 16) {
        rows[y][2 * i] = png_byte(v >> 8);
        rows[y][2 * i + 1] = png_byte(v);
      } else {
        rows[y][i * s.bitDepth / 8] |= png_byte(v << (8 - s.bitDepth - i * s.bitDepth % 8));
      }
    }
    pointers.push_back(rows[y].data());
  }
  std::vector<std::uint8_t> out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png)) != 0) throw std::runtime_error("libpng could not write");
  png_set_write_fn(png, &out, appendToVector, nullptr);
  png_set_IHDR(png, info, s.width, s.height, s.bitDepth, s.colorType,
               s.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, 0, 0);
  if (!s.palette.empty()) png_set_PLTE(png, info, s.palette.data(), int(s.palette.size()));
  if (!s.transparency.empty()) {
    png_set_tRNS(png, info, s.transparency.data(), int(s.transparency.size()), nullptr);
  }
  if (!s.exif.empty()) {
    png_set_eXIf_1(png, info, png_uint_32(s.exif.size()), const_cast<png_bytep>(s.exif.data()));
  }
  png_write_info(png, info);
  if (s.interlaced) png_set_interlace_handling(png);
  png_write_image(png, pointers.data());
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return out;
}

struct JpegRecipe {
  J_COLOR_SPACE input = JCS_EXT_RGBX;  ///< or JCS_CMYK, the inks in the four bytes
  J_COLOR_SPACE stored = JCS_YCbCr;
  bool progressive = false;
  int restartRows = 0;
  std::vector<jpeg_scan_info> scans;  ///< a custom progressive script
};

inline std::vector<std::uint8_t> writeJpeg(const Image& image, const JpegRecipe& recipe) {
  // Valid input only: libjpeg's default handler (exit) is fine here.
  jpeg_error_mgr error;
  jpeg_compress_struct cinfo{};
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  cinfo.err = jpeg_std_error(&error);
  jpeg_create_compress(&cinfo);
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = image.width();
  cinfo.image_height = image.height();
  cinfo.input_components = 4;
  cinfo.in_color_space = recipe.input;
  jpeg_set_defaults(&cinfo);
  jpeg_set_colorspace(&cinfo, recipe.stored);
  jpeg_set_quality(&cinfo, 95, TRUE);
  if (recipe.progressive) jpeg_simple_progression(&cinfo);
  if (!recipe.scans.empty()) {
    cinfo.scan_info = recipe.scans.data();
    cinfo.num_scans = int(recipe.scans.size());
  }
  cinfo.restart_in_rows = recipe.restartRows;
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(image.row(int(cinfo.next_scanline)));
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  std::vector<std::uint8_t> out(buffer, buffer + size);
  jpeg_destroy_compress(&cinfo);
  std::free(buffer);
  return out;
}

/// A valid greyscale progressive script with a scan per bit of each of the first `coefficients`
/// AC coefficients: far more scans than any real file.
inline std::vector<jpeg_scan_info> bitPerScanScript(int coefficients) {
  std::vector<jpeg_scan_info> scans = {{1, {0}, 0, 0, 0, 0}};
  for (int k = 1; k <= coefficients; ++k) {
    scans.push_back({1, {0}, k, k, 0, 10});
    for (int ah = 10; ah >= 1; --ah) scans.push_back({1, {0}, k, k, ah, ah - 1});
  }
  return scans;
}

inline std::size_t findMarker(const std::vector<std::uint8_t>& jpeg, std::uint8_t code) {
  for (std::size_t i = 2; i + 1 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] == code) return i;
  }
  return std::string::npos;
}

/// The baseline JPEG with its SOF0 claiming another size.
inline std::vector<std::uint8_t> withJpegSize(std::vector<std::uint8_t> jpeg, unsigned width,
                                              unsigned height) {
  const std::size_t sof = findMarker(jpeg, 0xC0);  // FF C0, length, precision, height, width
  const std::uint8_t patch[] = {std::uint8_t(height >> 8), std::uint8_t(height),
                                std::uint8_t(width >> 8), std::uint8_t(width)};
  std::copy(std::begin(patch), std::end(patch), jpeg.begin() + std::ptrdiff_t(sof) + 5);
  return jpeg;
}

inline void putBigEndian32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = std::uint8_t(v >> (24 - 8 * i));
}

/// The PNG with its IHDR claiming another size, CRC recomputed so that libpng accepts it.
inline std::vector<std::uint8_t> withPngSize(std::vector<std::uint8_t> png, std::uint32_t width,
                                             std::uint32_t height) {
  putBigEndian32(png.data() + 16, width);  // after signature, chunk length and "IHDR"
  putBigEndian32(png.data() + 20, height);
  std::uint32_t crc = 0xFFFFFFFFu;
  for (int i = 12; i < 29; ++i) {  // CRC-32 of type and data
    crc ^= png[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  putBigEndian32(png.data() + 29, ~crc);
  return png;
}

struct PngChunk {
  std::string type;
  std::vector<std::uint8_t> data;
  bool crcMatches = false;  ///< the stored CRC-32 is zlib's of type and data
};

/// The chunks of a PNG after its signature, in order; stops at the first one cut short.
inline std::vector<PngChunk> pngChunks(const std::vector<std::uint8_t>& png) {
  std::vector<PngChunk> chunks;
  auto get32 = [&](std::size_t at) {
    return std::uint32_t{png[at]} << 24 | std::uint32_t{png[at + 1]} << 16 |
           std::uint32_t{png[at + 2]} << 8 | png[at + 3];
  };
  for (std::size_t at = 8; at + 12 <= png.size();) {
    const std::size_t length = get32(at);
    if (length > png.size() - at - 12) break;
    PngChunk chunk{std::string(png.begin() + at + 4, png.begin() + at + 8),
                   std::vector<std::uint8_t>(png.begin() + at + 8, png.begin() + at + 8 + length)};
    chunk.crcMatches = crc32(0, png.data() + at + 4, uInt(4 + length)) == get32(at + 8 + length);
    chunks.push_back(std::move(chunk));
    at += 12 + length;
  }
  return chunks;
}

/// The TIFF structure inside the APP1 that withExifOrientation puts right after SOI.
inline std::vector<std::uint8_t> exifTiffOf(const std::vector<std::uint8_t>& jpeg) {
  return {jpeg.begin() + 4 + 2 + 6, jpeg.begin() + 4 + (jpeg[4] << 8 | jpeg[5])};
}

inline double meanAbsDifference(const Image& a, const Image& b) {
  double sum = 0;
  for (int y = 0; y < a.height(); ++y) {
    for (int x = 0; x < a.width() * 4; ++x)
      sum += x % 4 == 3 ? 0 : std::abs(a.row(y)[x] - b.row(y)[x]);
  }
  return sum / (3.0 * a.width() * a.height());
}

}  // namespace duo::test
