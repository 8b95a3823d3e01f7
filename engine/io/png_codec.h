#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "core/result.h"
#include "image/image.h"
#include "io/image_codec.h"

namespace duo::png {

Result<ImageInfo> readInfo(std::span<const std::uint8_t> bytes, std::string_view name);
/// Alpha is composited over black; 16-bit samples are scaled to 8 bit.
Result<Image> decode(std::span<const std::uint8_t> bytes, std::string_view name);

}  // namespace duo::png
