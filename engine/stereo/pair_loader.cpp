#include "stereo/pair_loader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <optional>
#include <span>
#include <thread>
#include <utility>
#include <vector>

#include "image/orientation.h"
#include "io/file_io.h"
#include "io/image_codec.h"
#include "io/mpo.h"
#include "transform/image_tools.h"

namespace duo {

namespace {

// How a file is marked as side by side, in the words of the command-line tool's option.
constexpr char kMarkHint[] = "use --sbs parallel|cross";

// One encoded view and what its header says; the bytes belong to the caller.
struct ViewHeader {
  std::span<const std::uint8_t> bytes;
  std::string name;
  ImageInfo info;
  int uprightWidth = 0;
  int uprightHeight = 0;
};

Result<ViewHeader> inspectView(std::span<const std::uint8_t> bytes, std::string name) {
  auto info = readImageInfo(bytes, name);
  if (!info) return info.error();
  ViewHeader view{bytes, std::move(name), *info, info->width, info->height};
  if (swapsSides(static_cast<Orientation>(info->orientationTag))) {
    std::swap(view.uprightWidth, view.uprightHeight);
  }
  return view;
}

std::string sizeText(int width, int height) {
  return std::to_string(width) + "x" + std::to_string(height);
}

Error sizeMismatch(const std::string& leftName, int lw, int lh, const std::string& rightName,
                   int rw, int rh) {
  return makeError(ErrorCode::InvalidArgument,
                   "Both images must be the same size and orientation. " + leftName + " is " +
                       sizeText(lw, lh) + ", " + rightName + " is " + sizeText(rw, rh) + ".");
}

Error badSize() {
  return makeError(ErrorCode::InvalidArgument, "the working size must be above 0 %");
}

Result<Image> decodeGuarded(std::span<const std::uint8_t> bytes, const std::string& name,
                            float maxResolution) noexcept {
  try {
    return ImageTools::decodeScaledAndRotatedImage(bytes, name, -1, maxResolution);
  } catch (const std::bad_alloc&) {
    return makeError(ErrorCode::TooLarge, name + ": not enough memory to read it");
  } catch (const std::exception& e) {
    return makeError(ErrorCode::Corrupt, name + ": " + e.what());
  }
}

Result<StereoPair> decodeViews(const ViewHeader& left, const ViewHeader& right,
                               float imageSizePercent) {
  if (left.uprightWidth != right.uprightWidth || left.uprightHeight != right.uprightHeight) {
    return sizeMismatch(left.name, left.uprightWidth, left.uprightHeight, right.name,
                        right.uprightWidth, right.uprightHeight);
  }
  const float m =
      ImageTools::maximumResolutionForPair(left.uprightWidth, left.uprightHeight, imageSizePercent);
  // The two decodes are independent; run the right one beside the left one. Neither may let an
  // exception out: one escaping a thread, or passing a thread not yet joined, ends the program.
  std::optional<Result<Image>> rightImage;
  std::thread worker([&] { rightImage.emplace(decodeGuarded(right.bytes, right.name, m)); });
  auto leftImage = decodeGuarded(left.bytes, left.name, m);
  worker.join();
  if (!leftImage) return leftImage.error();
  if (!*rightImage) return rightImage->error();
  return StereoPair::fromWorkingCopies(std::move(*leftImage), std::move(**rightImage), m);
}

// The working copy of an upright view: the very image when it is small enough already.
Image workingCopy(Image&& upright, float maxResolution) {
  const NormalizeGeometry g =
      ImageTools::normalizeGeometry(upright.width(), upright.height(), upright.orientationTag(),
                                    ImageTools::kKeepOrientation, maxResolution);
  if (g.orientation == Orientation::Up && g.canvasWidth == upright.width() &&
      g.canvasHeight == upright.height()) {
    return std::move(upright);
  }
  return ImageTools::scaleAndRotateImage(upright, ImageTools::kKeepOrientation, maxResolution);
}

Result<std::pair<Image, Image>> decodeAndSplit(std::span<const std::uint8_t> bytes,
                                               const std::string& path, SideBySideLayout layout) {
  // Full size: the halves are cut from the upright image, and an odd width must lose exactly
  // its last column, which a reduced decode would blur into its neighbours.
  auto whole = decodeImage(bytes, path);
  if (!whole) return whole.error();
  auto views = splitSideBySide(*whole, layout);
  if (!views) return makeError(views.error().code, path + ": " + views.error().message);
  return views;
}

Result<StereoPair> loadSideBySide(std::span<const std::uint8_t> bytes, const std::string& path,
                                  SideBySideLayout layout, float imageSizePercent) noexcept {
  try {
    auto views = decodeAndSplit(bytes, path, layout);
    if (!views) return views.error();
    auto& [left, right] = *views;
    const float m =
        ImageTools::maximumResolutionForPair(left.width(), left.height(), imageSizePercent);
    Image leftCopy = workingCopy(std::move(left), m);
    Image rightCopy = workingCopy(std::move(right), m);
    return StereoPair::fromWorkingCopies(std::move(leftCopy), std::move(rightCopy), m);
  } catch (const std::bad_alloc&) {
    return makeError(ErrorCode::TooLarge, path + ": not enough memory to read it");
  } catch (const std::exception& e) {
    return makeError(ErrorCode::Corrupt, path + ": " + e.what());
  }
}

// The start of a regular file, never waiting on a FIFO or device; empty when unreadable.
std::vector<std::uint8_t> fileStart(const std::string& path, std::size_t count) {
  std::vector<std::uint8_t> bytes;
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return bytes;
  struct stat info {};
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
    bytes.resize(count);
    const ssize_t n = ::pread(fd, bytes.data(), count, 0);
    bytes.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  }
  ::close(fd);
  return bytes;
}

}  // namespace

Result<StereoPair> loadStereoPairFiles(const std::string& leftPath, const std::string& rightPath,
                                       float imageSizePercent) {
  if (!(imageSizePercent > 0)) return badSize();
  auto leftBytes = readFileBytes(leftPath);
  if (!leftBytes) return leftBytes.error();
  auto left = inspectView(*leftBytes, leftPath);
  if (!left) return left.error();
  auto rightBytes = readFileBytes(rightPath);
  if (!rightBytes) return rightBytes.error();
  auto right = inspectView(*rightBytes, rightPath);
  if (!right) return right.error();
  return decodeViews(*left, *right, imageSizePercent);
}

Result<StereoPair> loadStereoPairFile(const std::string& path,
                                      std::optional<SideBySideLayout> layout,
                                      float imageSizePercent) {
  if (!(imageSizePercent > 0)) return badSize();
  auto bytes = readFileBytes(path);
  if (!bytes) return bytes.error();
  const std::optional<SideBySideLayout> sideBySide =
      layout ? layout : sideBySideLayoutForPath(path);
  if (looksLikeMpo(*bytes)) {
    const auto entries = readMpoEntries(*bytes, path);
    if (!entries) return entries.error();
    const auto views = mpoStereoViews(*entries, path);
    if (views) {
      const auto [l, r] = *views;
      auto left = inspectView(mpoImageBytes(*bytes, (*entries)[l]), mpoImageName(path, l));
      if (!left) return left.error();
      auto right = inspectView(mpoImageBytes(*bytes, (*entries)[r]), mpoImageName(path, r));
      if (!right) return right.error();
      return decodeViews(*left, *right, imageSizePercent);
    }
    // Phones put an MP index into ordinary photographs too (for a gain map or a depth map):
    // such a file may still be a side-by-side image.
    if (!sideBySide) {
      return makeError(views.error().code,
                       views.error().message + "; if it is a side-by-side image, " + kMarkHint);
    }
  }
  if (!sideBySide) {
    return makeError(ErrorCode::InvalidArgument,
                     path + ": neither an MPO file nor marked side by side (" + kMarkHint + ")");
  }
  return loadSideBySide(*bytes, path, *sideBySide, imageSizePercent);
}

bool isSingleFilePair(const std::string& path) {
  if (sideBySideLayoutForPath(path)) {
    constexpr std::size_t kMagicBytes = 3;
    const auto start = fileStart(path, kMagicBytes);
    if (sniffImageFormat(start) == ImageFormat::Jpeg) return true;
  }
  const auto entries = readMpoEntriesFromHeader(path);
  return entries && mpoStereoViews(*entries, path).ok();
}

}  // namespace duo
