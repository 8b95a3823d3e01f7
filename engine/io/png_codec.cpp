#include "io/png_codec.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <string>

#include "core/limits.h"
#include "io/exif_orientation.h"

namespace duo::png {

namespace {

// Messages from libpng and the state of the in-memory reader. libpng jumps back to the setjmp
// in guarded() after our error function has recorded the message.
struct PngState {
  std::span<const std::uint8_t> input;
  std::size_t position = 0;
  bool truncated = false;
  char message[200] = {};
};

[[noreturn]] void onError(png_structp png, png_const_charp message) {
  auto* state = static_cast<PngState*>(png_get_error_ptr(png));
  (void)std::snprintf(state->message, sizeof state->message, "%s", message ? message : "");
  png_longjmp(png, 1);
}

// libpng warns about things it repairs or skips (a bad ancillary chunk's CRC, for example):
// nothing the user needs to hear about.
void onWarning(png_structp, png_const_charp) {}

void readFromMemory(png_structp png, png_bytep out, std::size_t length) {
  auto* state = static_cast<PngState*>(png_get_io_ptr(png));
  if (length > state->input.size() - state->position) {
    state->truncated = true;
    png_error(png, "premature end of file");
  }
  std::memcpy(out, state->input.data() + state->position, length);
  state->position += length;
}

// Runs libpng calls under its error handler; false when libpng reported an error. Whatever body
// does must leave nothing with a destructor on the stack while libpng runs.
template <typename Body>
bool guarded(png_structp png, Body&& body) {
  if (setjmp(png_jmpbuf(png)) != 0) return false;
  body();
  return true;
}

struct Reader {
  Reader() {
    png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &state, onError, onWarning);
    if (png) info = png_create_info_struct(png);
  }
  ~Reader() { png_destroy_read_struct(&png, &info, nullptr); }
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  PngState state;
  png_structp png = nullptr;
  png_infop info = nullptr;
};

Error outOfMemory(std::string_view name) {
  return makeError(ErrorCode::TooLarge, std::string(name) + ": not enough memory to read PNG");
}

Error tooLarge(std::string_view name, std::uint64_t width, std::uint64_t height) {
  return makeError(ErrorCode::TooLarge, std::string(name) + ": PNG image too large (" +
                                            std::to_string(width) + " x " + std::to_string(height) +
                                            " pixels)");
}

std::uint32_t bigEndian32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

// The size in the IHDR chunk as stored, when the file starts with one.
std::optional<std::pair<std::uint32_t, std::uint32_t>> claimedSize(
    std::span<const std::uint8_t> bytes) {
  if (bytes.size() < 24 || std::memcmp(bytes.data() + 12, "IHDR", 4) != 0) return std::nullopt;
  return std::pair{bigEndian32(bytes.data() + 16), bigEndian32(bytes.data() + 20)};
}

Error readError(const PngState& state, std::span<const std::uint8_t> bytes, std::string_view name) {
  if (state.truncated) {
    return makeError(ErrorCode::Truncated,
                     std::string(name) + ": truncated PNG data (premature end of file)");
  }
  // libpng's user limits reject an oversized header with a generic "Invalid IHDR data"; say what
  // was wrong with it.
  if (const auto size = claimedSize(bytes); size && size->first > 0 && size->second > 0 &&
                                            !limits::imageSizeAllowed(size->first, size->second)) {
    return tooLarge(name, size->first, size->second);
  }
  return makeError(ErrorCode::Corrupt,
                   std::string(name) + ": corrupt PNG data (" + state.message + ")");
}

// Reads the chunks up to the first IDAT and checks the header against the limits.
Result<ImageInfo> readHeader(Reader& r, std::span<const std::uint8_t> bytes,
                             std::string_view name) {
  if (bytes.empty()) return makeError(ErrorCode::Empty, std::string(name) + ": empty file");
  if (!r.png || !r.info) return outOfMemory(name);
  r.state.input = bytes;
  const bool ok = guarded(r.png, [&] {
    png_set_read_fn(r.png, &r.state, readFromMemory);
    png_set_user_limits(r.png, limits::kMaxImageSide, limits::kMaxImageSide);
    png_read_info(r.png, r.info);
  });
  if (!ok) return readError(r.state, bytes, name);

  const png_uint_32 width = png_get_image_width(r.png, r.info);
  const png_uint_32 height = png_get_image_height(r.png, r.info);
  if (!limits::imageSizeAllowed(width, height)) return tooLarge(name, width, height);

  ImageInfo info;
  info.format = ImageFormat::Png;
  info.width = static_cast<int>(width);
  info.height = static_cast<int>(height);
  // Only an eXIf before the image data is seen: reading past the pixels just for it would make
  // readInfo as slow as a decode.
  png_uint_32 exifSize = 0;
  png_bytep exif = nullptr;
  if (png_get_eXIf_1(r.png, r.info, &exifSize, &exif) != 0 && exif && exifSize > 0) {
    info.orientationTag = orientationFromExifBlock({exif, exifSize});
  }
  return info;
}

// Over black: what remains of each channel is its share by alpha, rounded.
void compositeOverBlack(Image& image) {
  for (int y = 0; y < image.height(); ++y) {
    std::uint8_t* p = image.row(y);
    for (int x = 0; x < image.width(); ++x, p += Image::kBytesPerPixel) {
      const unsigned a = p[3];
      p[0] = static_cast<std::uint8_t>((p[0] * a + 127) / 255);
      p[1] = static_cast<std::uint8_t>((p[1] * a + 127) / 255);
      p[2] = static_cast<std::uint8_t>((p[2] * a + 127) / 255);
      p[3] = 255;
    }
  }
}

}  // namespace

Result<ImageInfo> readInfo(std::span<const std::uint8_t> bytes, std::string_view name) {
  Reader r;
  return readHeader(r, bytes, name);
}

Result<Image> decode(std::span<const std::uint8_t> bytes, std::string_view name) {
  Reader r;
  auto info = readHeader(r, bytes, name);
  if (!info) return info.error();

  const int colorType = png_get_color_type(r.png, r.info);
  const int bitDepth = png_get_bit_depth(r.png, r.info);
  const bool hasTransparency = png_get_valid(r.png, r.info, PNG_INFO_tRNS) != 0;
  const bool hasAlpha = (colorType & PNG_COLOR_MASK_ALPHA) != 0 || hasTransparency;

  std::optional<Image> image;
  std::vector<png_bytep> rows;
  bool badLayout = false;
  const bool ok = guarded(r.png, [&] {
    // Every variant ends up as four 8-bit samples per pixel: RGBA, or RGB plus a filler.
    if (bitDepth == 16) png_set_scale_16(r.png);
    if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(r.png);
    if (colorType == PNG_COLOR_TYPE_GRAY && bitDepth < 8) png_set_expand_gray_1_2_4_to_8(r.png);
    if (hasTransparency) png_set_tRNS_to_alpha(r.png);
    if ((colorType & PNG_COLOR_MASK_COLOR) == 0) png_set_gray_to_rgb(r.png);
    if (!hasAlpha) png_set_filler(r.png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(r.png);
    png_read_update_info(r.png, r.info);
    if (png_get_rowbytes(r.png, r.info) != std::size_t(info->width) * Image::kBytesPerPixel) {
      badLayout = true;
      return;
    }
    image = Image::createUninitialized(info->width, info->height);
    if (!image) return;
    rows.resize(static_cast<std::size_t>(info->height));
    for (int y = 0; y < info->height; ++y) rows[y] = image->row(y);
    png_read_image(r.png, rows.data());
  });
  if (!ok) return readError(r.state, bytes, name);
  if (badLayout) {
    return makeError(ErrorCode::Unsupported, std::string(name) + ": unsupported PNG pixel layout");
  }
  if (!image) return outOfMemory(name);
  // The chunks after the pixels carry nothing we use; they are not read, so a file that lacks
  // only its IEND still opens.
  if (hasAlpha) compositeOverBlack(*image);
  image->setOrientationTag(info->orientationTag);
  return std::move(*image);
}

}  // namespace duo::png
