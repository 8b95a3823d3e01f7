#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "core/result.h"
#include "image/image.h"
#include "io/image_codec.h"

namespace duo::jpeg {

Result<ImageInfo> readInfo(std::span<const std::uint8_t> bytes, std::string_view name);
Result<Image> decode(std::span<const std::uint8_t> bytes, std::string_view name,
                     const DecodeOptions& options);
Result<std::vector<std::uint8_t>> encode(const Image& image, int quality,
                                         bool writeOrientationTag = false);

}  // namespace duo::jpeg
