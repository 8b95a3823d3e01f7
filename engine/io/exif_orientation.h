#pragma once

#include <cstdint>
#include <span>

namespace duo {

/// Orientation tag (0 Up … 7 RightMirrored) from an EXIF block: either a JPEG APP1 payload
/// starting "Exif\0\0" or a bare TIFF structure as in PNG's eXIf chunk. Up when the block is
/// unreadable or holds no valid Orientation.
int orientationFromExifBlock(std::span<const std::uint8_t> block);

}  // namespace duo
