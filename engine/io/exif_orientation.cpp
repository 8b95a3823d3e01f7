#include "io/exif_orientation.h"

#include <libexif/exif-data.h>

#include <algorithm>
#include <array>
#include <climits>
#include <memory>
#include <vector>

#include "image/orientation.h"

namespace duo {

namespace {

constexpr std::array<std::uint8_t, 6> kExifPrefix = {'E', 'x', 'i', 'f', 0, 0};

struct ExifDataDeleter {
  void operator()(ExifData* data) const { exif_data_unref(data); }
};

bool hasExifPrefix(std::span<const std::uint8_t> block) {
  return block.size() >= kExifPrefix.size() &&
         std::equal(kExifPrefix.begin(), kExifPrefix.end(), block.begin());
}

}  // namespace

int orientationFromExifBlock(std::span<const std::uint8_t> block) {
  constexpr int kUp = static_cast<int>(Orientation::Up);
  if (block.empty()) return kUp;

  // libexif only recognises a block that starts with the APP1 identifier; PNG's eXIf chunk holds
  // the bare TIFF structure, so give it the identifier.
  std::vector<std::uint8_t> prefixed;
  std::span<const std::uint8_t> data = block;
  if (!hasExifPrefix(block)) {
    prefixed.reserve(kExifPrefix.size() + block.size());
    prefixed.insert(prefixed.end(), kExifPrefix.begin(), kExifPrefix.end());
    prefixed.insert(prefixed.end(), block.begin(), block.end());
    data = prefixed;
  }
  if (data.size() > UINT_MAX) return kUp;

  std::unique_ptr<ExifData, ExifDataDeleter> exif(exif_data_new());
  if (!exif) return kUp;
  // By default libexif repairs the data as it loads it, inventing mandatory tags (an Orientation
  // of 1 among them) and dropping values it dislikes; we want what the camera wrote.
  exif_data_unset_option(exif.get(), EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
  exif_data_load_data(exif.get(), data.data(), static_cast<unsigned int>(data.size()));

  ExifContent* ifd0 = exif->ifd[EXIF_IFD_0];
  if (!ifd0) return kUp;
  const ExifEntry* entry = exif_content_get_entry(ifd0, EXIF_TAG_ORIENTATION);
  if (!entry || !entry->data || entry->format != EXIF_FORMAT_SHORT || entry->components < 1 ||
      entry->size < exif_format_get_size(EXIF_FORMAT_SHORT)) {
    return kUp;
  }
  const int value = exif_get_short(entry->data, exif_data_get_byte_order(exif.get()));
  const auto orientation = orientationFromExif(value);
  return orientation ? static_cast<int>(*orientation) : kUp;
}

}  // namespace duo
