#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/limits.h"
#include "core/result.h"

namespace duo {

/// Reads a whole file. Errors name the path: missing or unreadable (Io), empty (Empty), larger
/// than maxBytes (TooLarge).
Result<std::vector<std::uint8_t>> readFileBytes(const std::string& path,
                                                std::uint64_t maxBytes = limits::kMaxFileBytes);

/// Writes bytes to path so that no reader ever sees a partial file: a temporary file in the same
/// folder is written, then renamed over the target. On failure the target is untouched and the
/// temporary file is removed. `durable` also flushes the data to disk before the rename (for
/// files whose loss matters; caches skip it).
Status writeFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes,
                           bool durable = false);

}  // namespace duo
