#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.h"
#include "image/image.h"

namespace duo {

enum class ImageFormat { Jpeg, Png };

std::string_view toString(ImageFormat format);

/// Format from the first bytes of a file; nullopt when neither JPEG nor PNG.
std::optional<ImageFormat> sniffImageFormat(std::span<const std::uint8_t> bytes);

/// Format from a file name's extension (.jpg, .jpeg, .png, any case); nullopt otherwise.
std::optional<ImageFormat> imageFormatFromPath(std::string_view path);

/// What the header says, without decoding pixels.
struct ImageInfo {
  ImageFormat format = ImageFormat::Jpeg;
  int width = 0;           ///< stored grid width
  int height = 0;          ///< stored grid height
  int orientationTag = 0;  ///< 0 Up … 7 RightMirrored; Up when the file has no valid tag
};

struct DecodeOptions {
  /// When positive, the decoder may return a smaller stored grid that is still at least this
  /// wide and high (JPEG uses its DCT scaling, by 1/2, 1/4 or 1/8). Zero asks for full size.
  int minWidth = 0;
  int minHeight = 0;
};

/// Header of an in-memory JPEG or PNG. `name` only labels error messages ("name: reason").
Result<ImageInfo> readImageInfo(std::span<const std::uint8_t> bytes, std::string_view name);

/// Decodes an in-memory JPEG or PNG into an Image carrying the file's orientation tag.
/// Truncated, corrupt, unsupported or over-limit input is an error; nothing is ever fatal.
Result<Image> decodeImage(std::span<const std::uint8_t> bytes, std::string_view name,
                          const DecodeOptions& options = {});

/// readFileBytes + readImageInfo / decodeImage; messages name the path.
Result<ImageInfo> readImageInfoFile(const std::string& path);
Result<Image> decodeImageFile(const std::string& path, const DecodeOptions& options = {});

/// PNG of the red, green and blue channels (8 bit, no alpha), tuned for speed over size.
Result<std::vector<std::uint8_t>> encodePng(const Image& image);

/// encodePng() with the file handed to `sink` (valid during the call only) straight from the
/// encoder's working memory, for callers that only write it out: no copy of the file is made.
/// Returns the sink's status, or the encoder's error without calling it.
Status encodePngTo(const Image& image,
                   const std::function<Status(std::span<const std::uint8_t>)>& sink);

/// Baseline JPEG, 4:2:0, quality 1–100 (clamped). With `writeOrientationTag` the image's tag
/// goes into the file as an EXIF Orientation (a minimal APP1 segment right after the JFIF
/// header), so the stored grid is kept as it is and viewers turn it; a tag outside 0–7 is then
/// InvalidArgument. Without it no EXIF is written and the tag is ignored.
Result<std::vector<std::uint8_t>> encodeJpeg(const Image& image, int quality,
                                             bool writeOrientationTag = false);

/// Encodes by the extension of path (PNG or JPEG) and writes atomically. An unknown extension
/// is Unsupported. The orientation tag is not written: callers write upright images.
Status writeImageFile(const Image& image, const std::string& path, int jpegQuality = 90);

}  // namespace duo
