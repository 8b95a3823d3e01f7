#include <cstddef>
#include <cstdint>
#include <span>

#include "io/image_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  (void)duo::readImageInfo(bytes, "fuzz");
  (void)duo::decodeImage(bytes, "fuzz");
  // The reduced-size JPEG path has its own buffer arithmetic.
  (void)duo::decodeImage(bytes, "fuzz", duo::DecodeOptions{1, 1});
  return 0;
}
