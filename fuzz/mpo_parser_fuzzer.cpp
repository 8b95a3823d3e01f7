// A Multi-Picture Object as a camera, an editor or an attacker may write it. Whatever the bytes,
// an index that is accepted places every image inside the file, at a JPEG start marker, the
// first at the start and none over another; reading only the header of the same file agrees.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "fuzz_support.h"
#include "io/mpo.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  const bool mpo = duo::looksLikeMpo(bytes);
  const auto entries = duo::readMpoEntries(bytes, "fuzz");
  if (!entries) return 0;
  FUZZ_CHECK(mpo);
  FUZZ_CHECK(!entries->empty() && entries->front().offset == 0);
  std::uint64_t total = 0;
  for (const duo::MpoEntry& e : *entries) {
    FUZZ_CHECK(e.size >= 2 && e.offset < size && e.size <= size - e.offset);
    FUZZ_CHECK(bytes[e.offset] == 0xFF && bytes[e.offset + 1] == 0xD8);
    total += e.size;
  }
  FUZZ_CHECK(total <= size);  // no two images share a byte

  const auto path = duo::fuzz::scratchFolder() / "input.mpo";
  duo::fuzz::writeBytes(path, bytes);
  const auto fromHeader = duo::readMpoEntriesFromHeader(path.string());
  FUZZ_CHECK(fromHeader && *fromHeader == *entries);

  if (duo::mpoStereoViews(*entries, "fuzz")) {
    // The smallest decode still runs every marker and scan of both views.
    (void)duo::decodeMpoPair(bytes, "fuzz", duo::DecodeOptions{1, 1});
  }
  return 0;
}
