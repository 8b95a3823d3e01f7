#include "io/image_codec.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>

#include "io/file_io.h"
#include "io/jpeg_codec.h"
#include "io/png_codec.h"
#include "io/png_writer.h"

namespace duo {

namespace {

constexpr std::array<std::uint8_t, 3> kJpegMagic = {0xFF, 0xD8, 0xFF};
constexpr std::array<std::uint8_t, 8> kPngMagic = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

template <std::size_t N>
bool startsWith(std::span<const std::uint8_t> bytes, const std::array<std::uint8_t, N>& magic) {
  return bytes.size() >= N && std::equal(magic.begin(), magic.end(), bytes.begin());
}

Error emptyInput(std::string_view name) {
  return makeError(ErrorCode::Empty, std::string(name) + ": empty file");
}

Error unknownFormat(std::string_view name) {
  return makeError(ErrorCode::Unsupported, std::string(name) + ": not a JPEG or PNG file");
}

}  // namespace

std::string_view toString(ImageFormat format) {
  switch (format) {
    case ImageFormat::Jpeg:
      return "JPEG";
    case ImageFormat::Png:
      return "PNG";
  }
  return "unknown";
}

std::optional<ImageFormat> sniffImageFormat(std::span<const std::uint8_t> bytes) {
  if (startsWith(bytes, kJpegMagic)) return ImageFormat::Jpeg;
  if (startsWith(bytes, kPngMagic)) return ImageFormat::Png;
  return std::nullopt;
}

std::optional<ImageFormat> imageFormatFromPath(std::string_view path) {
  std::string extension = std::filesystem::path(path).extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (extension == ".jpg" || extension == ".jpeg") return ImageFormat::Jpeg;
  if (extension == ".png") return ImageFormat::Png;
  return std::nullopt;
}

Result<ImageInfo> readImageInfo(std::span<const std::uint8_t> bytes, std::string_view name) {
  if (bytes.empty()) return emptyInput(name);
  const auto format = sniffImageFormat(bytes);
  if (!format) return unknownFormat(name);
  return *format == ImageFormat::Jpeg ? jpeg::readInfo(bytes, name) : png::readInfo(bytes, name);
}

Result<Image> decodeImage(std::span<const std::uint8_t> bytes, std::string_view name,
                          const DecodeOptions& options) {
  if (bytes.empty()) return emptyInput(name);
  const auto format = sniffImageFormat(bytes);
  if (!format) return unknownFormat(name);
  return *format == ImageFormat::Jpeg ? jpeg::decode(bytes, name, options)
                                      : png::decode(bytes, name);
}

Result<ImageInfo> readImageInfoFile(const std::string& path) {
  auto bytes = readFileBytes(path);
  if (!bytes) return bytes.error();
  return readImageInfo(*bytes, path);
}

Result<Image> decodeImageFile(const std::string& path, const DecodeOptions& options) {
  auto bytes = readFileBytes(path);
  if (!bytes) return bytes.error();
  return decodeImage(*bytes, path, options);
}

Result<std::vector<std::uint8_t>> encodePng(const Image& image) { return png::encode(image); }

Status encodePngTo(const Image& image,
                   const std::function<Status(std::span<const std::uint8_t>)>& sink) {
  return png::encodeTo(image, sink);
}

Result<std::vector<std::uint8_t>> encodeJpeg(const Image& image, int quality,
                                             bool writeOrientationTag) {
  return jpeg::encode(image, quality, writeOrientationTag);
}

Status writeImageFile(const Image& image, const std::string& path, int jpegQuality) {
  const auto format = imageFormatFromPath(path);
  if (!format) {
    return makeError(ErrorCode::Unsupported,
                     path + ": unknown image file type (the name must end in .jpg, .jpeg or .png)");
  }
  // Not flushed to disk: these are caches and exports that can be made again, and a flush per
  // file would slow down writing a batch of them. The rename still keeps readers from ever
  // seeing half a file.
  bool encoded = false;
  const auto write = [&](std::span<const std::uint8_t> bytes) {
    encoded = true;
    return writeFileAtomically(path, bytes, /*durable=*/false);
  };
  if (*format == ImageFormat::Png) {
    const Status written = encodePngTo(image, write);
    // The write's errors name the path already; the encoder's do not.
    if (!written && !encoded) {
      return makeError(written.error().code, path + ": " + written.error().message);
    }
    return written;
  }
  auto bytes = encodeJpeg(image, jpegQuality);
  if (!bytes) return makeError(bytes.error().code, path + ": " + bytes.error().message);
  return write(*bytes);
}

}  // namespace duo
