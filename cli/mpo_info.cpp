#include "mpo_info.h"

#include <cstdio>

#include "image/orientation.h"
#include "io/file_io.h"
#include "io/image_codec.h"
#include "io/mpo.h"

namespace duo::cli {

bool printMpoImages(const std::string& path) {
  const auto bytes = readFileBytes(path);
  if (!bytes) {
    std::fprintf(stderr, "%s\n", bytes.error().message.c_str());
    return false;
  }
  if (!looksLikeMpo(*bytes)) return true;
  const auto entries = readMpoEntries(*bytes, path);
  if (!entries) {
    std::fprintf(stderr, "%s\n", entries.error().message.c_str());
    return false;
  }
  bool ok = true;
  for (std::size_t i = 0; i < entries->size(); ++i) {
    const MpoEntry& e = (*entries)[i];
    std::printf("  image %zu: %s (0x%06X), %llu bytes at %llu", i + 1,
                std::string(mpoTypeName(e.type)).c_str(), static_cast<unsigned>(e.type),
                static_cast<unsigned long long>(e.size), static_cast<unsigned long long>(e.offset));
    const auto info = readImageInfo(mpoImageBytes(*bytes, e), mpoImageName(path, i));
    if (!info) {
      std::printf(", unreadable\n");
      std::fprintf(stderr, "%s\n", info.error().message.c_str());
      ok = false;
      continue;
    }
    const auto o = static_cast<Orientation>(info->orientationTag);
    std::printf(", %s %dx%d, orientation %s (EXIF %d)\n",
                std::string(toString(info->format)).c_str(), info->width, info->height,
                std::string(toString(o)).c_str(), exifFromOrientation(o));
  }
  return ok;
}

}  // namespace duo::cli
