#include "io/jpeg_codec.h"

// jpeglib.h needs size_t and FILE declared before it.
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
// clang-format off
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include <algorithm>
#include <array>
#include <cctype>
#include <optional>
#include <string>

#include "core/limits.h"
#include "image/orientation.h"
#include "io/exif_orientation.h"

namespace duo::jpeg {

namespace {

static_assert(limits::kMaxJpegSide == JPEG_MAX_DIMENSION, "limits.h must match libjpeg");

// A progressive file may hold any number of scans, and each one makes the decoder pass over the
// whole coefficient buffer: a few kilobytes of tiny scans can keep it busy for minutes. Cameras
// and editors write about ten.
constexpr int kMaxScans = 500;

// Rows handed to libjpeg per call; its buffers hold at most this many at a time anyway.
constexpr int kRowsPerCall = 16;

// libjpeg's default error handler prints and calls exit(). Ours records the message and jumps
// back to the setjmp in guarded(), so bad data is an ordinary error.
struct JpegError {
  jpeg_error_mgr manager;  // first, so that the pointer libjpeg hands back is ours
  std::jmp_buf jump;
  ErrorCode code = ErrorCode::Corrupt;
  char message[JMSG_LENGTH_MAX] = {};
  // Set while the pixels of a single-scan image are read: there the end of the data is only a
  // loss if the decoder goes on to need bits that are not there (see onMessage).
  bool waitForMissingBits = false;
  bool reachedEnd = false;
};

JpegError& errorOf(j_common_ptr cinfo) { return *reinterpret_cast<JpegError*>(cinfo->err); }

[[noreturn]] void fail(j_common_ptr cinfo, ErrorCode code) {
  JpegError& error = errorOf(cinfo);
  error.code = code;
  (*cinfo->err->format_message)(cinfo, error.message);
  std::longjmp(error.jump, 1);
}

ErrorCode codeForError(int messageCode) {
  switch (messageCode) {
    case JERR_INPUT_EMPTY:
      return ErrorCode::Truncated;
    case JERR_IMAGE_TOO_BIG:
    case JERR_WIDTH_OVERFLOW:
    case JERR_OUT_OF_MEMORY:
      return ErrorCode::TooLarge;
    case JERR_BAD_PRECISION:  // 12- and 16-bit samples
    case JERR_ARITH_NOTIMPL:
    case JERR_NOT_COMPILED:
    case JERR_CONVERSION_NOTIMPL:
    case JERR_EMPTY_IMAGE:  // height given by a DNL marker
      return ErrorCode::Unsupported;
    default:
      return ErrorCode::Corrupt;
  }
}

[[noreturn]] void onError(j_common_ptr cinfo) { fail(cinfo, codeForError(cinfo->err->msg_code)); }

void onMessage(j_common_ptr cinfo, int level) {
  if (level >= 0) return;  // trace output
  JpegError& error = errorOf(cinfo);
  switch (cinfo->err->msg_code) {
    // With an in-memory source libjpeg pads missing data with an EOI marker and carries on,
    // which would hand back a grey lower part instead of the picture.
    case JWRN_JPEG_EOF:
      if (!error.waitForMissingBits) fail(cinfo, ErrorCode::Truncated);
      // The Huffman decoder reads ahead, so a file that lacks only its EOI marker ends up here
      // too. If bits are really missing, the decoder says so next (JWRN_HIT_MARKER); if not,
      // every pixel was in the file.
      error.reachedEnd = true;
      (*cinfo->err->format_message)(cinfo, error.message);
      return;
    case JWRN_HIT_MARKER:
    case JWRN_MUST_RESYNC:
      if (error.reachedEnd) {
        error.code = ErrorCode::Truncated;  // keeps the end-of-file message
        std::longjmp(error.jump, 1);
      }
      fail(cinfo, ErrorCode::Corrupt);
    default:
      // Extraneous bytes between markers and the like: common in camera files and harmless.
      ++cinfo->err->num_warnings;
  }
}

void onOutput(j_common_ptr) {}

void checkScanCount(j_common_ptr cinfo) {
  if (!cinfo->is_decompressor) return;
  if (reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number <= kMaxScans) return;
  JpegError& error = errorOf(cinfo);
  error.code = ErrorCode::Corrupt;
  (void)std::snprintf(error.message, sizeof error.message, "More than %d progressive scans",
                      kMaxScans);
  std::longjmp(error.jump, 1);
}

void installErrorHandler(JpegError& error) {
  jpeg_std_error(&error.manager);
  error.manager.error_exit = onError;
  error.manager.emit_message = onMessage;
  error.manager.output_message = onOutput;
}

// Runs libjpeg calls under the error handler; false when libjpeg reported an error.
// Whatever body does must leave nothing with a destructor on the stack while libjpeg runs: the
// jump back skips destructors.
template <typename Body>
bool guarded(JpegError& error, Body&& body) {
  if (setjmp(error.jump) != 0) return false;
  body();
  return true;
}

// libjpeg's own message, tidied to read as the detail of ours.
std::string detailOf(const JpegError& error) {
  std::string_view text = error.message;
  constexpr std::string_view kCorruptPrefix = "Corrupt JPEG data: ";
  if (text.starts_with(kCorruptPrefix)) text.remove_prefix(kCorruptPrefix.size());
  std::string detail(text);
  // "Premature end…" reads better lower-cased mid-sentence; "JPEG datastream…" does not.
  if (detail.size() > 1 && std::isupper(static_cast<unsigned char>(detail[0])) &&
      std::islower(static_cast<unsigned char>(detail[1]))) {
    detail[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(detail[0])));
  }
  return detail;
}

// "left.jpg: truncated JPEG data (premature end of JPEG file)"
Error decodeError(const JpegError& error, std::string_view name) {
  std::string_view summary = "corrupt JPEG data";
  switch (error.code) {
    case ErrorCode::Truncated:
      summary = "truncated JPEG data";
      break;
    case ErrorCode::TooLarge:
      summary = "JPEG image too large";
      break;
    case ErrorCode::Unsupported:
      summary = "unsupported JPEG file";
      break;
    default:
      break;
  }
  return makeError(error.code,
                   std::string(name) + ": " + std::string(summary) + " (" + detailOf(error) + ")");
}

Error encodeError(const JpegError& error) {
  // Corrupt describes input data; what the encoder rejects is the image it was given.
  const ErrorCode code = error.code == ErrorCode::Corrupt ? ErrorCode::InvalidArgument : error.code;
  return makeError(code, "cannot encode JPEG (" + detailOf(error) + ")");
}

struct Decompressor {
  Decompressor() { installErrorHandler(error); }
  ~Decompressor() { jpeg_destroy_decompress(&cinfo); }  // safe on a never-created struct
  Decompressor(const Decompressor&) = delete;
  Decompressor& operator=(const Decompressor&) = delete;

  JpegError error;
  jpeg_progress_mgr progress = {checkScanCount, 0, 0, 0, 0};
  jpeg_decompress_struct cinfo = {};
};

bool readHeader(Decompressor& d, std::span<const std::uint8_t> bytes) {
  return guarded(d.error, [&] {
    d.cinfo.err = &d.error.manager;
    jpeg_create_decompress(&d.cinfo);
    d.cinfo.progress = &d.progress;
    jpeg_mem_src(&d.cinfo, bytes.data(), bytes.size());
    jpeg_save_markers(&d.cinfo, JPEG_APP0 + 1, 0xFFFF);
    jpeg_read_header(&d.cinfo, TRUE);
  });
}

int orientationFromMarkers(const jpeg_decompress_struct& cinfo) {
  static constexpr std::uint8_t kExifId[] = {'E', 'x', 'i', 'f', 0, 0};
  // APP1 also carries XMP; the EXIF one starts with its identifier.
  for (jpeg_saved_marker_ptr m = cinfo.marker_list; m; m = m->next) {
    if (m->marker != JPEG_APP0 + 1 || m->data_length < sizeof kExifId) continue;
    if (std::memcmp(m->data, kExifId, sizeof kExifId) != 0) continue;
    return orientationFromExifBlock({m->data, m->data_length});
  }
  return 0;
}

Error tooLarge(const jpeg_decompress_struct& cinfo, std::string_view name) {
  return makeError(ErrorCode::TooLarge, std::string(name) + ": JPEG image too large (" +
                                            std::to_string(cinfo.image_width) + " x " +
                                            std::to_string(cinfo.image_height) + " pixels)");
}

bool overJpegSide(const jpeg_decompress_struct& cinfo) {
  return cinfo.image_width > JDIMENSION{limits::kMaxJpegSide} ||
         cinfo.image_height > JDIMENSION{limits::kMaxJpegSide};
}

// libjpeg refuses sides beyond its ceiling while it reads the header, once it knows the size;
// those get the same message as any other image over our limits.
Error headerError(const Decompressor& d, std::string_view name) {
  if (d.error.code == ErrorCode::TooLarge && overJpegSide(d.cinfo)) return tooLarge(d.cinfo, name);
  return decodeError(d.error, name);
}

Result<ImageInfo> inspectHeader(const jpeg_decompress_struct& cinfo, std::string_view name) {
  const auto width = static_cast<std::int64_t>(cinfo.image_width);
  const auto height = static_cast<std::int64_t>(cinfo.image_height);
  if (!limits::imageSizeAllowed(width, height) || overJpegSide(cinfo)) {
    return tooLarge(cinfo, name);
  }
  switch (cinfo.jpeg_color_space) {
    case JCS_GRAYSCALE:
    case JCS_RGB:
    case JCS_YCbCr:
    case JCS_CMYK:
    case JCS_YCCK:
      break;
    default:
      return makeError(ErrorCode::Unsupported,
                       std::string(name) + ": unsupported JPEG colour space (" +
                           std::to_string(cinfo.num_components) + " components)");
  }
  ImageInfo info;
  info.format = ImageFormat::Jpeg;
  info.width = static_cast<int>(width);
  info.height = static_cast<int>(height);
  info.orientationTag = orientationFromMarkers(cinfo);
  return info;
}

// The smallest of 1/8, 1/4 and 1/2 that still covers the requested size; full size otherwise.
void chooseScale(jpeg_decompress_struct& cinfo, const DecodeOptions& options) {
  cinfo.scale_num = 1;
  cinfo.scale_denom = 1;
  if (options.minWidth <= 0 && options.minHeight <= 0) return;
  for (const unsigned denom : {8u, 4u, 2u}) {
    cinfo.scale_denom = denom;
    jpeg_calc_output_dimensions(&cinfo);
    if (static_cast<std::int64_t>(cinfo.output_width) >= options.minWidth &&
        static_cast<std::int64_t>(cinfo.output_height) >= options.minHeight) {
      return;
    }
  }
  cinfo.scale_denom = 1;
}

// CMYK arrives in the four bytes of each pixel; turn it into RGB in place. Photoshop (and
// libjpeg, whenever it writes an Adobe marker) stores the inks inverted: 255 is no ink.
void cmykToRgb(Image& image, bool inverted) {
  for (int y = 0; y < image.height(); ++y) {
    std::uint8_t* p = image.row(y);
    for (int x = 0; x < image.width(); ++x, p += Image::kBytesPerPixel) {
      unsigned c = p[0], m = p[1], yel = p[2], k = p[3];
      if (!inverted) {
        c = 255 - c;
        m = 255 - m;
        yel = 255 - yel;
        k = 255 - k;
      }
      p[0] = static_cast<std::uint8_t>((c * k + 127) / 255);
      p[1] = static_cast<std::uint8_t>((m * k + 127) / 255);
      p[2] = static_cast<std::uint8_t>((yel * k + 127) / 255);
      p[3] = 255;
    }
  }
}

}  // namespace

Result<ImageInfo> readInfo(std::span<const std::uint8_t> bytes, std::string_view name) {
  if (bytes.empty()) return makeError(ErrorCode::Empty, std::string(name) + ": empty file");
  Decompressor d;
  if (!readHeader(d, bytes)) return headerError(d, name);
  return inspectHeader(d.cinfo, name);
}

Result<Image> decode(std::span<const std::uint8_t> bytes, std::string_view name,
                     const DecodeOptions& options) {
  if (bytes.empty()) return makeError(ErrorCode::Empty, std::string(name) + ": empty file");
  Decompressor d;
  if (!readHeader(d, bytes)) return headerError(d, name);
  auto info = inspectHeader(d.cinfo, name);
  if (!info) return info.error();

  const bool cmyk = d.cinfo.jpeg_color_space == JCS_CMYK || d.cinfo.jpeg_color_space == JCS_YCCK;
  std::optional<Image> image;
  bool stalled = false;
  const bool ok = guarded(d.error, [&] {
    // libjpeg-turbo writes RGBX rows itself (from greyscale too), straight into the image.
    d.cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_RGBX;
    chooseScale(d.cinfo, options);
    jpeg_start_decompress(&d.cinfo);
    // A progressive file has read all its scans by now; one cut between two scans would
    // decode without complaint, only blurred, so for those the end of data stays an error.
    d.error.waitForMissingBits = !jpeg_has_multiple_scans(&d.cinfo);
    if (d.cinfo.output_components != Image::kBytesPerPixel) return;
    image = Image::createUninitialized(static_cast<int>(d.cinfo.output_width),
                                       static_cast<int>(d.cinfo.output_height));
    if (!image) return;
    JSAMPROW rows[kRowsPerCall];
    while (d.cinfo.output_scanline < d.cinfo.output_height) {
      const int first = static_cast<int>(d.cinfo.output_scanline);
      const int count = std::min(kRowsPerCall, image->height() - first);
      for (int i = 0; i < count; ++i) rows[i] = image->row(first + i);
      if (jpeg_read_scanlines(&d.cinfo, rows, static_cast<JDIMENSION>(count)) == 0) {
        stalled = true;  // cannot happen with an in-memory source; never loop forever
        return;
      }
    }
  });
  if (!ok) return decodeError(d.error, name);
  if (stalled) {
    return makeError(ErrorCode::Corrupt, std::string(name) + ": corrupt JPEG data (no progress)");
  }
  if (d.cinfo.output_components != Image::kBytesPerPixel) {
    return makeError(ErrorCode::Unsupported, std::string(name) + ": unsupported JPEG colour space");
  }
  if (!image) {
    return makeError(ErrorCode::TooLarge, std::string(name) + ": not enough memory for a " +
                                              std::to_string(d.cinfo.output_width) + " x " +
                                              std::to_string(d.cinfo.output_height) + " image");
  }
  // The rest of the file (trailing markers, EOI) carries nothing we use and is not read.
  if (cmyk) cmykToRgb(*image, d.cinfo.saw_Adobe_marker);
  image->setOrientationTag(info->orientationTag);
  return std::move(*image);
}

namespace {

struct Compressor {
  Compressor() { installErrorHandler(error); }
  ~Compressor() {
    jpeg_destroy_compress(&cinfo);
    std::free(buffer);  // jpeg_mem_dest allocates with malloc and leaves the buffer to us
  }
  Compressor(const Compressor&) = delete;
  Compressor& operator=(const Compressor&) = delete;

  JpegError error;
  jpeg_compress_struct cinfo = {};
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
};

// The APP1 payload of an EXIF block that says nothing but the orientation: the identifier, a
// little-endian TIFF header, and IFD0 with the one Orientation entry and no next IFD.
constexpr std::size_t kExifOrientationSize = 6 + 8 + 2 + 12 + 4;

std::array<std::uint8_t, kExifOrientationSize> exifOrientationBlock(Orientation orientation) {
  const auto value = static_cast<std::uint8_t>(exifFromOrientation(orientation));
  // clang-format off
  return {
      'E', 'x', 'i', 'f', 0, 0,                      // identifier
      'I', 'I', 42, 0, 8, 0, 0, 0,                   // byte order, magic, offset of IFD0
      1, 0,                                          // one entry
      0x12, 0x01, 3, 0, 1, 0, 0, 0, value, 0, 0, 0,  // Orientation, SHORT, count 1, value
      0, 0, 0, 0,                                    // no next IFD
  };
  // clang-format on
}

}  // namespace

Result<std::vector<std::uint8_t>> encode(const Image& image, int quality,
                                         bool writeOrientationTag) {
  if (image.isNull()) return makeError(ErrorCode::InvalidArgument, "cannot encode an empty image");
  if (writeOrientationTag && !isValidOrientationTag(image.orientationTag())) {
    return makeError(ErrorCode::InvalidArgument, "cannot write orientation tag " +
                                                     std::to_string(image.orientationTag()) +
                                                     " (valid tags are 0 to 7)");
  }
  if (image.width() > limits::kMaxJpegSide || image.height() > limits::kMaxJpegSide) {
    // A side-by-side card of two wide photographs gets there; PNG has room for it.
    return makeError(
        ErrorCode::TooLarge,
        std::to_string(image.width()) + " x " + std::to_string(image.height()) + " pixels is too " +
            (image.width() > limits::kMaxJpegSide ? "wide" : "tall") + " for JPEG (at most " +
            std::to_string(limits::kMaxJpegSide) + " pixels a side); write PNG instead");
  }
  const auto exif = exifOrientationBlock(
      writeOrientationTag ? static_cast<Orientation>(image.orientationTag()) : Orientation::Up);
  Compressor c;
  const bool ok = guarded(c.error, [&] {
    c.cinfo.err = &c.error.manager;
    jpeg_create_compress(&c.cinfo);
    jpeg_mem_dest(&c.cinfo, &c.buffer, &c.size);
    c.cinfo.image_width = static_cast<JDIMENSION>(image.width());
    c.cinfo.image_height = static_cast<JDIMENSION>(image.height());
    c.cinfo.input_components = Image::kBytesPerPixel;
    c.cinfo.in_color_space = JCS_EXT_RGBX;
    jpeg_set_defaults(&c.cinfo);
    jpeg_set_quality(&c.cinfo, std::clamp(quality, 1, 100), TRUE);
    // 4:2:0: full-resolution luma, chroma halved both ways.
    c.cinfo.comp_info[0].h_samp_factor = 2;
    c.cinfo.comp_info[0].v_samp_factor = 2;
    for (int i = 1; i < 3; ++i) {
      c.cinfo.comp_info[i].h_samp_factor = 1;
      c.cinfo.comp_info[i].v_samp_factor = 1;
    }
    jpeg_start_compress(&c.cinfo, TRUE);
    // Markers written now follow SOI and the JFIF APP0, where readers look for EXIF.
    if (writeOrientationTag) {
      jpeg_write_marker(&c.cinfo, JPEG_APP0 + 1, exif.data(), static_cast<unsigned>(exif.size()));
    }
    JSAMPROW rows[kRowsPerCall];
    while (c.cinfo.next_scanline < c.cinfo.image_height) {
      const int first = static_cast<int>(c.cinfo.next_scanline);
      const int count = std::min(kRowsPerCall, image.height() - first);
      // libjpeg's row type is not const, but it only reads input rows.
      for (int i = 0; i < count; ++i) rows[i] = const_cast<JSAMPROW>(image.row(first + i));
      jpeg_write_scanlines(&c.cinfo, rows, static_cast<JDIMENSION>(count));
    }
    jpeg_finish_compress(&c.cinfo);
  });
  if (!ok) return encodeError(c.error);
  return std::vector<std::uint8_t>(c.buffer, c.buffer + c.size);
}

}  // namespace duo::jpeg
