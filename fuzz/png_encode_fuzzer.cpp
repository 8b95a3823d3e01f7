// The PNG writer on images of any size and content: both of its compressors must write a file
// that libpng decodes to exactly the pixels written.
//
// Input: width - 1 and height - 1 (one byte each, so 1 to 256), then the pixel bytes, four per
// pixel, repeated as often as the image needs (zeros when there are none). The fourth byte of
// each pixel is not written to the file and must not change it.
#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz_support.h"
#include "io/image_codec.h"
#include "io/png_writer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const int width = 1 + data[0];
  const int height = 1 + data[1];
  const std::span<const std::uint8_t> pixels(data + 2, size - 2);
  auto image = duo::Image::create(width, height);
  FUZZ_CHECK(image.has_value());
  if (!pixels.empty()) {
    for (std::size_t i = 0; i < image->byteCount(); ++i) {
      image->data()[i] = pixels[i % pixels.size()];
    }
  }

  const auto oneShot = duo::png::encode(*image);
  const auto streamed = duo::png::encode(*image, /*maxOneShotPixels=*/0);
  for (const auto* png : {&oneShot, &streamed}) {
    FUZZ_CHECK(png->ok());
    const auto decoded = duo::decodeImage(**png, "encoded");
    FUZZ_CHECK(decoded.ok());
    FUZZ_CHECK(decoded->samePixels(*image));
  }

  // The ignored fourth byte changes nothing in the file.
  for (std::size_t i = 3; i < image->byteCount(); i += 4) image->data()[i] ^= 0x5A;
  const auto again = duo::png::encode(*image);
  FUZZ_CHECK(again.ok() && *again == *oneShot);
  return 0;
}
