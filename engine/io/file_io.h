#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/limits.h"
#include "core/result.h"

namespace duo {

/// Reads a whole regular file. Errors name the path: missing, unreadable or a folder (Io); a
/// FIFO, device or socket (Io, "PATH: not a regular file"; opened without waiting, never read);
/// empty (Empty); larger than maxBytes (TooLarge, before reading when its size says so).
Result<std::vector<std::uint8_t>> readFileBytes(const std::string& path,
                                                std::uint64_t maxBytes = limits::kMaxFileBytes);

/// Permission bits for an explicitly private file: the owner may read and write it.
inline constexpr unsigned kPrivateFileMode = 0600;

/// A file written beside its target under a hidden temporary name in the same folder (so the
/// final rename is atomic): ".NAME.duoscope-tmp-XXXXXX", X six random letters or digits, NAME
/// cut short (at a UTF-8 character boundary) when the whole would exceed NAME_MAX bytes.
/// commit() renames it over the target; destroying it uncommitted removes the temporary file.
/// Callers that must order the rename against other work (the render cache) write without a
/// lock and commit under one.
///
/// Permissions: by default a new file gets 0666 less the umask, and a replaced file keeps its
/// permission bits, without setuid, setgid or sticky. An explicit `mode` (permission bits, e.g.
/// kPrivateFileMode) is applied exactly, to new and replaced files alike, before any byte is
/// written.
///
/// The first time a process writes into a folder, temporary files of ours that are older than a
/// day (left by a killed write) are removed from it; only regular files whose name has exactly
/// the form above are touched, and symbolic links are never followed.
class PendingFile {
 public:
  /// Creates the temporary file; an Io error naming the target when that fails.
  static Result<PendingFile> create(const std::string& target,
                                    std::optional<unsigned> mode = std::nullopt);

  PendingFile(PendingFile&& other) noexcept;
  PendingFile& operator=(PendingFile&& other) noexcept;
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;
  ~PendingFile();

  /// Like create(), for a file that will be committed with commitWithoutReplacing(): it gets
  /// the permissions of a new file (0666 less the umask) even when a file named `target`
  /// exists now, since that file is never replaced.
  static Result<PendingFile> createNew(const std::string& target);

  /// Writes all bytes and closes the file (flushing it to disk first when durable). Call once.
  Status write(std::span<const std::uint8_t> bytes, bool durable = false);

  /// Renames the written file over the target.
  Status commit();

  /// Gives the written file the name `target` (a path in the folder of the target it was
  /// created for) only if no file, folder or link has that name, however recently it appeared:
  /// the check and the rename are one step. True when committed (after a durable write the folder
  /// is flushed too); false when the name is taken, and the file then stays pending so that
  /// the caller can try another name. Errors: nothing written, a target in another folder
  /// (InvalidArgument), or the rename failing (Io, naming the target).
  Result<bool> commitWithoutReplacing(const std::string& target);

 private:
  PendingFile(std::string target, std::string temporary, int fd)
      : m_target(std::move(target)), m_temporary(std::move(temporary)), m_fd(fd) {}
  static Result<PendingFile> openTemporary(const std::string& target,
                                           std::optional<unsigned> exactMode);
  void discard() noexcept;

  std::string m_target;
  std::string m_temporary;  // empty once committed or discarded
  int m_fd = -1;            // open until write()
  bool m_durable = false;   // written with durable = true
};

/// Writes bytes to path so that no reader ever sees a partial file: a temporary file in the same
/// folder is written, then renamed over the target. On failure the target is untouched and the
/// temporary file is removed. `durable` also flushes the data to disk before the rename (for
/// files whose loss matters; caches skip it). Temporary names, permissions and `mode` are as
/// for PendingFile.
Status writeFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes,
                           bool durable = false, std::optional<unsigned> mode = std::nullopt);

}  // namespace duo
