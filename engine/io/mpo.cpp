#include "io/mpo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <numeric>
#include <optional>

#include "core/limits.h"
#include "io/jpeg_codec.h"

namespace duo {

namespace {

constexpr std::uint8_t kMarkerPrefix = 0xFF;
constexpr std::uint8_t kSoi = 0xD8;
constexpr std::uint8_t kEoi = 0xD9;
constexpr std::uint8_t kSos = 0xDA;
constexpr std::uint8_t kApp2 = 0xE2;
constexpr std::uint8_t kTem = 0x01;
constexpr std::uint8_t kRst0 = 0xD0;
constexpr std::uint8_t kRst7 = 0xD7;
constexpr std::array<std::uint8_t, 4> kMpfId = {'M', 'P', 'F', 0};

constexpr std::size_t kMpHeaderBytes = 8;  // byte order, 42, offset of the first IFD
constexpr std::uint16_t kTiffMagic = 42;
constexpr std::size_t kIfdEntryBytes = 12;
constexpr std::size_t kMpEntryBytes = 16;
constexpr std::uint16_t kTagNumberOfImages = 0xB001;
constexpr std::uint16_t kTagMpEntry = 0xB002;
constexpr std::uint16_t kTiffLong = 4;
constexpr std::uint16_t kTiffUndefined = 7;
constexpr std::uint32_t kTypeMask = 0x00FFFFFF;
constexpr std::uint32_t kFormatMask = 0x7;
constexpr int kFormatShift = 24;

// The header of the first image is read in growing steps; an MP index further in than this is
// not looked for (real headers take a few hundred kilobytes at most).
constexpr std::size_t kFirstHeaderRead = std::size_t{64} << 10;
constexpr std::size_t kMaxHeaderRead = std::size_t{16} << 20;
// Types named in the message of a file without a stereo pair.
constexpr std::size_t kTypesNamed = 6;

enum class Search { Found, Absent, NeedMore };

struct MpfSegment {
  Search state = Search::Absent;
  std::size_t mpHeader = 0;  // first byte after "MPF\0": the MP header, origin of its offsets
  std::uint64_t end = 0;     // first byte after the segment by its length; may lie past the data
};

// Walks the markers of the first image from its SOI up to its first scan, the only place an MP
// index may be. Byte patterns are never searched for: an EXIF thumbnail holds markers of its
// own. NeedMore when the data ends before the answer is known.
MpfSegment findMpfSegment(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < 2) return {Search::NeedMore};
  if (bytes[0] != kMarkerPrefix || bytes[1] != kSoi) return {Search::Absent};
  std::size_t pos = 2;
  for (;;) {
    if (pos >= bytes.size()) return {Search::NeedMore};
    if (bytes[pos] != kMarkerPrefix) return {Search::Absent};
    // Any number of fill bytes may come before a marker code.
    while (pos < bytes.size() && bytes[pos] == kMarkerPrefix) ++pos;
    if (pos >= bytes.size()) return {Search::NeedMore};
    const std::uint8_t marker = bytes[pos++];
    if (marker == kSos || marker == kEoi || marker == kSoi || marker == 0) {
      return {Search::Absent};
    }
    if (marker == kTem || (marker >= kRst0 && marker <= kRst7)) continue;  // no length
    if (bytes.size() - pos < 2) return {Search::NeedMore};
    const std::size_t length = (std::size_t{bytes[pos]} << 8) | bytes[pos + 1];
    if (length < 2) return {Search::Absent};
    if (marker == kApp2 && length >= 2 + kMpfId.size()) {
      if (bytes.size() - pos < 2 + kMpfId.size()) return {Search::NeedMore};
      if (std::equal(kMpfId.begin(), kMpfId.end(), bytes.begin() + pos + 2)) {
        return {Search::Found, pos + 2 + kMpfId.size(), std::uint64_t{pos} + length};
      }
    }
    pos += length;
  }
}

class ByteOrder {
 public:
  explicit ByteOrder(bool bigEndian) : m_big(bigEndian) {}
  std::uint16_t u16(std::span<const std::uint8_t> b, std::size_t at) const {
    return static_cast<std::uint16_t>(m_big ? (b[at] << 8) | b[at + 1] : (b[at + 1] << 8) | b[at]);
  }
  std::uint32_t u32(std::span<const std::uint8_t> b, std::size_t at) const {
    const std::uint32_t hi = u16(b, m_big ? at : at + 2);
    const std::uint32_t lo = u16(b, m_big ? at + 2 : at);
    return (hi << 16) | lo;
  }

 private:
  bool m_big;
};

std::string imageLabel(std::size_t index) { return "image " + std::to_string(index + 1); }

Error corrupt(std::string_view name, const std::string& detail) {
  return makeError(ErrorCode::Corrupt, std::string(name) + ": corrupt MPO index (" + detail + ")");
}

Error truncated(std::string_view name, const std::string& detail) {
  return makeError(ErrorCode::Truncated,
                   std::string(name) + ": truncated MPO file (" + detail + ")");
}

Error noIndex(std::string_view name) {
  return makeError(ErrorCode::Unsupported,
                   std::string(name) + ": not an MPO file (no MP index in the first image)");
}

struct IndexTags {
  std::uint32_t numberOfImages = 0;
  std::uint32_t entryBytes = 0;
  std::uint32_t entryOffset = 0;
};

// The two tags of the MP index IFD we need; the rest (version, unique IDs, …) describe the
// images without placing them.
Result<IndexTags> readIndexTags(std::span<const std::uint8_t> mp, const ByteOrder& order,
                                std::string_view name) {
  const std::uint32_t ifd = order.u32(mp, 4);
  if (ifd < kMpHeaderBytes || ifd > mp.size() - 2) {
    return corrupt(name, "the index IFD at " + std::to_string(ifd) + " lies outside its segment");
  }
  const std::size_t count = order.u16(mp, ifd);
  if (count * kIfdEntryBytes > mp.size() - ifd - 2) {
    return corrupt(name, std::to_string(count) + " index tags do not fit in the segment");
  }
  std::optional<std::uint32_t> images;
  std::optional<IndexTags> tags;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t at = ifd + 2 + i * kIfdEntryBytes;
    const std::uint16_t tag = order.u16(mp, at);
    const std::uint16_t type = order.u16(mp, at + 2);
    const std::uint32_t n = order.u32(mp, at + 4);
    const std::uint32_t value = order.u32(mp, at + 8);
    if (tag == kTagNumberOfImages && !images) {
      if (type != kTiffLong || n != 1) return corrupt(name, "NumberOfImages is not one LONG");
      images = value;
    } else if (tag == kTagMpEntry && !tags) {
      if (type != kTiffUndefined) return corrupt(name, "MPEntry is not of type UNDEFINED");
      tags = IndexTags{0, n, value};
    }
  }
  if (!images) return corrupt(name, "no NumberOfImages tag");
  if (!tags) return corrupt(name, "no MPEntry tag");
  tags->numberOfImages = *images;
  return *tags;
}

// Reads and checks the index of a file of `fileSize` bytes from `bytes`, its whole or its start.
// The images themselves need not be in `bytes`.
Result<std::vector<MpoEntry>> parseEntries(std::span<const std::uint8_t> bytes,
                                           std::uint64_t fileSize, std::string_view name) {
  if (fileSize == 0) return makeError(ErrorCode::Empty, std::string(name) + ": empty file");
  const MpfSegment segment = findMpfSegment(bytes);
  // Data that ends before the segment shows up might be anything; one that ends inside the
  // segment is an MPO cut short (or, for a header read in part, one whose header is too long).
  if (segment.state != Search::Found) return noIndex(name);
  if (segment.end > bytes.size()) {
    if (bytes.size() < fileSize) return noIndex(name);
    return truncated(name, "the file ends inside its MP index");
  }
  const auto mp = bytes.subspan(segment.mpHeader, segment.end - segment.mpHeader);
  if (mp.size() < kMpHeaderBytes) return corrupt(name, "the MP header is cut short");
  const bool little = mp[0] == 'I' && mp[1] == 'I';
  const bool big = mp[0] == 'M' && mp[1] == 'M';
  if (!little && !big) return corrupt(name, "the byte order mark is neither II nor MM");
  const ByteOrder order(big);
  if (order.u16(mp, 2) != kTiffMagic) {
    return corrupt(name, "the MP header does not read 42 in the byte order it declares");
  }

  auto tags = readIndexTags(mp, order, name);
  if (!tags) return tags.error();
  const std::uint64_t n = tags->numberOfImages;
  if (n == 0) return corrupt(name, "it lists no images");
  if (tags->entryBytes != n * kMpEntryBytes) {
    return corrupt(name, std::to_string(n) + " images but " + std::to_string(tags->entryBytes) +
                             " bytes of MP entries");
  }
  const std::uint64_t room = tags->entryOffset >= kMpHeaderBytes && tags->entryOffset < mp.size()
                                 ? (mp.size() - tags->entryOffset) / kMpEntryBytes
                                 : 0;
  if (n > room) {
    return corrupt(name, std::to_string(n) + " images listed, room for " + std::to_string(room) +
                             " entries in the segment");
  }

  std::vector<MpoEntry> entries;
  entries.reserve(static_cast<std::size_t>(n));
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t at = tags->entryOffset + i * kMpEntryBytes;
    const std::uint32_t attribute = order.u32(mp, at);
    const std::uint32_t offset = order.u32(mp, at + 8);
    MpoEntry e;
    e.type = attribute & kTypeMask;
    e.format = (attribute >> kFormatShift) & kFormatMask;
    e.size = order.u32(mp, at + 4);
    // The first image is the file itself; every other offset counts from the MP header.
    if (i == 0 && offset != 0) {
      return corrupt(name,
                     "image 1 must start the file, not lie at offset " + std::to_string(offset));
    }
    if (i > 0 && offset == 0) return corrupt(name, imageLabel(i) + " has no offset");
    e.offset = i == 0 ? 0 : segment.mpHeader + std::uint64_t{offset};
    if (e.size == 0) return corrupt(name, imageLabel(i) + " has no bytes");
    if (e.offset >= fileSize) {
      return truncated(name, imageLabel(i) + " would start at byte " + std::to_string(e.offset) +
                                 " of " + std::to_string(fileSize));
    }
    if (e.size > fileSize - e.offset) {
      return truncated(name, imageLabel(i) + " ends at byte " + std::to_string(e.offset + e.size) +
                                 " of " + std::to_string(fileSize));
    }
    entries.push_back(e);
  }
  if (entries[0].size < segment.end) {
    return corrupt(name, "image 1 ends before its own MP index does");
  }
  std::vector<std::size_t> byStart(entries.size());
  std::iota(byStart.begin(), byStart.end(), std::size_t{0});
  std::sort(byStart.begin(), byStart.end(),
            [&](std::size_t a, std::size_t b) { return entries[a].offset < entries[b].offset; });
  for (std::size_t k = 1; k < byStart.size(); ++k) {
    const MpoEntry& before = entries[byStart[k - 1]];
    if (before.offset + before.size > entries[byStart[k]].offset) {
      return corrupt(name,
                     imageLabel(byStart[k - 1]) + " and " + imageLabel(byStart[k]) + " overlap");
    }
  }
  return entries;
}

Error ioError(const std::string& path, const char* what) {
  return makeError(ErrorCode::Io, path + ": " + what + " (" + std::strerror(errno) + ")");
}

// Appends bytes from `fd` until `buffer` holds `want`, or the file ends.
bool readUpTo(int fd, std::vector<std::uint8_t>& buffer, std::size_t want) {
  std::size_t have = buffer.size();
  buffer.resize(want);
  while (have < want) {
    const ssize_t n = ::pread(fd, buffer.data() + have, want - have, static_cast<off_t>(have));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    have += static_cast<std::size_t>(n);
  }
  buffer.resize(have);
  return true;
}

}  // namespace

std::string_view mpoTypeName(std::uint32_t type) {
  switch (type) {
    case kMpoTypeUndefined:
      return "Undefined";
    case kMpoTypeLargeThumbnailVga:
      return "Large thumbnail (VGA)";
    case kMpoTypeLargeThumbnailFullHd:
      return "Large thumbnail (Full HD)";
    case kMpoTypePanorama:
      return "Multi-frame panorama";
    case kMpoTypeDisparity:
      return "Multi-frame disparity";
    case kMpoTypeMultiAngle:
      return "Multi-frame multi-angle";
    case kMpoTypeBaselinePrimary:
      return "Baseline MP primary image";
    default:
      return "Unknown";
  }
}

bool isMpoViewType(std::uint32_t type) {
  return type == kMpoTypeBaselinePrimary || type == kMpoTypePanorama || type == kMpoTypeDisparity ||
         type == kMpoTypeMultiAngle;
}

bool looksLikeMpo(std::span<const std::uint8_t> file) {
  return findMpfSegment(file).state == Search::Found;
}

Result<std::vector<MpoEntry>> readMpoEntries(std::span<const std::uint8_t> file,
                                             std::string_view name) {
  auto entries = parseEntries(file, file.size(), name);
  if (!entries) return entries;
  for (std::size_t i = 0; i < entries->size(); ++i) {
    const MpoEntry& e = (*entries)[i];
    const auto bytes = mpoImageBytes(file, e);
    if (bytes.size() < 2 || bytes[0] != kMarkerPrefix || bytes[1] != kSoi) {
      return corrupt(name, imageLabel(i) + " at byte " + std::to_string(e.offset) +
                               " does not start like a JPEG");
    }
  }
  return entries;
}

Result<std::vector<MpoEntry>> readMpoEntriesFromHeader(const std::string& path) {
  // Non-blocking, so that a FIFO in the way is reported instead of waited on.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return ioError(path, "cannot open");
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat info {};
  if (::fstat(fd, &info) != 0) return ioError(path, "cannot read");
  if (!S_ISREG(info.st_mode)) return makeError(ErrorCode::Io, path + ": not a regular file");
  const auto fileSize = static_cast<std::uint64_t>(info.st_size);
  if (fileSize > limits::kMaxFileBytes) {
    return makeError(ErrorCode::TooLarge, path + ": file too large (more than " +
                                              std::to_string(limits::kMaxFileBytes) + " bytes)");
  }
  const auto limit = static_cast<std::size_t>(std::min<std::uint64_t>(fileSize, kMaxHeaderRead));
  std::vector<std::uint8_t> header;
  std::size_t want = std::min(limit, kFirstHeaderRead);
  for (;;) {
    if (!readUpTo(fd, header, want)) return ioError(path, "cannot read");
    const MpfSegment segment = findMpfSegment(header);
    const bool complete = segment.state == Search::Absent ||
                          (segment.state == Search::Found && segment.end <= header.size());
    if (complete || header.size() < want || want == limit) break;
    want = segment.state == Search::Found
               ? static_cast<std::size_t>(std::min<std::uint64_t>(segment.end, limit))
               : std::min(limit, want * 4);
  }
  return parseEntries(header, fileSize, path);
}

Result<std::pair<std::size_t, std::size_t>> mpoStereoViews(const std::vector<MpoEntry>& entries,
                                                           std::string_view name) {
  std::vector<std::size_t> views;
  for (std::size_t i = 0; i < entries.size() && views.size() < 2; ++i) {
    if (isMpoViewType(entries[i].type)) views.push_back(i);
  }
  if (views.size() < 2) {
    std::string types;
    for (std::size_t i = 0; i < entries.size() && i < kTypesNamed; ++i) {
      types += (i == 0 ? "" : ", ") + std::string(mpoTypeName(entries[i].type));
    }
    if (entries.size() > kTypesNamed) types += ", …";
    return makeError(
        ErrorCode::Unsupported,
        std::string(name) + ": the MPO holds no stereo pair (its images: " + types + ")");
  }
  for (const std::size_t i : views) {
    if (entries[i].format != 0) {
      return makeError(ErrorCode::Unsupported, mpoImageName(name, i) + ": image data format " +
                                                   std::to_string(entries[i].format) +
                                                   " is not JPEG");
    }
  }
  return std::pair{views[0], views[1]};
}

std::span<const std::uint8_t> mpoImageBytes(std::span<const std::uint8_t> file,
                                            const MpoEntry& entry) {
  return file.subspan(static_cast<std::size_t>(entry.offset), static_cast<std::size_t>(entry.size));
}

std::string mpoImageName(std::string_view name, std::size_t index) {
  return std::string(name) + " (" + imageLabel(index) + ")";
}

Result<std::pair<Image, Image>> decodeMpoPair(std::span<const std::uint8_t> file,
                                              std::string_view name, const DecodeOptions& options) {
  auto entries = readMpoEntries(file, name);
  if (!entries) return entries.error();
  const auto views = mpoStereoViews(*entries, name);
  if (!views) return views.error();
  const auto [l, r] = *views;
  auto left = jpeg::decode(mpoImageBytes(file, (*entries)[l]), mpoImageName(name, l), options);
  if (!left) return left.error();
  auto right = jpeg::decode(mpoImageBytes(file, (*entries)[r]), mpoImageName(name, r), options);
  if (!right) return right.error();
  return std::pair{std::move(*left), std::move(*right)};
}

}  // namespace duo
