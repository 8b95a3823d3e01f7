// The EXIF block of a JPEG's APP1 segment or a PNG's eXIf chunk, as the decoders hand it over.
// Whatever the block holds, the answer is one of the eight orientation tags.
#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz_support.h"
#include "io/exif_orientation.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const int tag = duo::orientationFromExifBlock(std::span<const std::uint8_t>(data, size));
  FUZZ_CHECK(tag >= 0 && tag <= 7);
  return 0;
}
