#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/result.h"
#include "image/image.h"
#include "io/image_codec.h"

namespace duo {

// MP type codes of CIPA DC-007: the low 24 bits of an MP entry's individual image attribute.
inline constexpr std::uint32_t kMpoTypeUndefined = 0x000000;
inline constexpr std::uint32_t kMpoTypeLargeThumbnailVga = 0x010001;
inline constexpr std::uint32_t kMpoTypeLargeThumbnailFullHd = 0x010002;
inline constexpr std::uint32_t kMpoTypePanorama = 0x020001;
inline constexpr std::uint32_t kMpoTypeDisparity = 0x020002;
inline constexpr std::uint32_t kMpoTypeMultiAngle = 0x020003;
inline constexpr std::uint32_t kMpoTypeBaselinePrimary = 0x030000;

/// One image of a Multi-Picture Object, as its MP index lists it, placed in the file.
struct MpoEntry {
  std::uint32_t type = 0;    ///< MP type code (attribute bits 0–23)
  std::uint32_t format = 0;  ///< image data format (attribute bits 24–26); 0 is JPEG
  std::uint64_t offset = 0;  ///< first byte of the image, from the start of the file
  std::uint64_t size = 0;    ///< bytes of the image
  bool operator==(const MpoEntry&) const = default;
};

/// "Multi-frame disparity", "Large thumbnail (VGA)", … ; "Unknown" for a code DC-007 lacks.
std::string_view mpoTypeName(std::uint32_t type);

/// True for the types that are views of one scene: the baseline primary image and the
/// multi-frame types (panorama, disparity, multi-angle). Thumbnails and unknown types are not.
bool isMpoViewType(std::uint32_t type);

/// True when the first image of `file` carries an MPF APP2 segment among the markers before its
/// first scan. Says nothing about whether that index is sound or holds a stereo pair.
bool looksLikeMpo(std::span<const std::uint8_t> file);

/// Every image the MP index in the first image's APP2 "MPF" segment lists, in index order.
/// Each one is checked: inside the file, starting with a JPEG start-of-image marker, not
/// overlapping another, the first at the start of the file and large enough to hold the index.
/// A file without the segment is Unsupported; one that ends early is Truncated; an index that
/// contradicts itself or the file is Corrupt. Messages start with `name`.
Result<std::vector<MpoEntry>> readMpoEntries(std::span<const std::uint8_t> file,
                                             std::string_view name);

/// The same, reading only as much of the file at `path` as its JPEG header takes (never a
/// FIFO or device). The entries are checked against the file's size but the images themselves
/// are not read, so their first bytes are not checked.
Result<std::vector<MpoEntry>> readMpoEntriesFromHeader(const std::string& path);

/// Indices into `entries` of the left and right view: the first two entries of a view type, in
/// index order. Fewer than two is Unsupported, naming the types the file does hold; a view not
/// stored as JPEG is Unsupported too.
Result<std::pair<std::size_t, std::size_t>> mpoStereoViews(const std::vector<MpoEntry>& entries,
                                                           std::string_view name);

/// The bytes of one entry; the entry must come from readMpoEntries on the same file.
std::span<const std::uint8_t> mpoImageBytes(std::span<const std::uint8_t> file,
                                            const MpoEntry& entry);

/// How errors and messages name image `index` (0-based) of an MPO: "NAME (image 2)".
std::string mpoImageName(std::string_view name, std::size_t index);

/// Decodes the left and right views of an MPO, each with the orientation tag of its own EXIF.
/// The views are returned as stored; they may differ in size.
Result<std::pair<Image, Image>> decodeMpoPair(std::span<const std::uint8_t> file,
                                              std::string_view name,
                                              const DecodeOptions& options = {});

}  // namespace duo
