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

/// A file written beside its target under a hidden temporary name (".name.XXXXXX", same folder,
/// so the final rename is atomic). commit() renames it over the target; destroying it
/// uncommitted removes the temporary file. Callers that must order the rename against other
/// work (the render cache) write without a lock and commit under one.
class PendingFile {
 public:
  /// Creates the temporary file; an Io error naming the target when that fails.
  static Result<PendingFile> create(const std::string& target);

  PendingFile(PendingFile&& other) noexcept;
  PendingFile& operator=(PendingFile&& other) noexcept;
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;
  ~PendingFile();

  /// Writes all bytes and closes the file (flushing it to disk first when durable). A replaced
  /// target's permissions are kept; a new file gets 0644. Call once.
  Status write(std::span<const std::uint8_t> bytes, bool durable = false);

  /// Renames the written file over the target.
  Status commit();

 private:
  PendingFile(std::string target, std::string temporary, int fd)
      : m_target(std::move(target)), m_temporary(std::move(temporary)), m_fd(fd) {}
  void discard() noexcept;

  std::string m_target;
  std::string m_temporary;  // empty once committed or discarded
  int m_fd = -1;            // open until write()
};

/// Writes bytes to path so that no reader ever sees a partial file: a temporary file in the same
/// folder is written, then renamed over the target. On failure the target is untouched and the
/// temporary file is removed. `durable` also flushes the data to disk before the rename (for
/// files whose loss matters; caches skip it).
Status writeFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes,
                           bool durable = false);

}  // namespace duo
