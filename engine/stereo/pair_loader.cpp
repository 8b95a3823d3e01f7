#include "stereo/pair_loader.h"

#include <optional>
#include <span>
#include <thread>
#include <utility>
#include <vector>

#include "image/orientation.h"
#include "io/file_io.h"
#include "io/image_codec.h"
#include "transform/image_tools.h"

namespace duo {

namespace {

struct LoadedFile {
  std::vector<std::uint8_t> bytes;
  ImageInfo info;
  int uprightWidth = 0;
  int uprightHeight = 0;
};

Result<LoadedFile> loadHeader(const std::string& path) {
  auto bytes = readFileBytes(path);
  if (!bytes) return bytes.error();
  auto info = readImageInfo(*bytes, path);
  if (!info) return info.error();
  LoadedFile file{std::move(*bytes), *info, info->width, info->height};
  if (swapsSides(static_cast<Orientation>(info->orientationTag))) {
    std::swap(file.uprightWidth, file.uprightHeight);
  }
  return file;
}

std::string sizeText(const LoadedFile& f) {
  return std::to_string(f.uprightWidth) + "x" + std::to_string(f.uprightHeight);
}

Result<Image> decodeGuarded(std::span<const std::uint8_t> bytes, const std::string& path,
                            float maxResolution) noexcept {
  try {
    return ImageTools::decodeScaledAndRotatedImage(bytes, path, -1, maxResolution);
  } catch (const std::bad_alloc&) {
    return makeError(ErrorCode::TooLarge, path + ": not enough memory to read it");
  } catch (const std::exception& e) {
    return makeError(ErrorCode::Corrupt, path + ": " + e.what());
  }
}

}  // namespace

Result<StereoPair> loadStereoPairFiles(const std::string& leftPath, const std::string& rightPath,
                                       float imageSizePercent) {
  if (!(imageSizePercent > 0)) {
    return makeError(ErrorCode::InvalidArgument, "the working size must be above 0 %");
  }
  auto left = loadHeader(leftPath);
  if (!left) return left.error();
  auto right = loadHeader(rightPath);
  if (!right) return right.error();
  if (left->uprightWidth != right->uprightWidth || left->uprightHeight != right->uprightHeight) {
    return makeError(ErrorCode::InvalidArgument,
                     "Both images must be the same size and orientation. " + leftPath + " is " +
                         sizeText(*left) + ", " + rightPath + " is " + sizeText(*right) + ".");
  }
  const float m = ImageTools::maximumResolutionForPair(left->uprightWidth, left->uprightHeight,
                                                       imageSizePercent);
  // The two decodes are independent; run the right one beside the left one. Neither may let an
  // exception out: one escaping a thread, or passing a thread not yet joined, ends the program.
  std::optional<Result<Image>> rightImage;
  std::thread worker([&] { rightImage.emplace(decodeGuarded(right->bytes, rightPath, m)); });
  auto leftImage = decodeGuarded(left->bytes, leftPath, m);
  worker.join();
  if (!leftImage) return leftImage.error();
  if (!*rightImage) return rightImage->error();
  return StereoPair::fromWorkingCopies(std::move(*leftImage), std::move(**rightImage), m);
}

}  // namespace duo
