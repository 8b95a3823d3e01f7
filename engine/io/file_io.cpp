#include "io/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <limits>
#include <utility>

namespace duo {

namespace {

// Owns a file descriptor; closes it unless release() took it back.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : m_fd(fd) {}
  ~FileDescriptor() {
    if (m_fd >= 0) ::close(m_fd);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;

  int get() const { return m_fd; }
  int release() { return std::exchange(m_fd, -1); }

 private:
  int m_fd;
};

Error ioError(const std::string& path, const char* what, int errorNumber) {
  return makeError(ErrorCode::Io, path + ": " + what + " (" + std::strerror(errorNumber) + ")");
}

Error tooLarge(const std::string& path, std::uint64_t maxBytes) {
  return makeError(ErrorCode::TooLarge,
                   path + ": file too large (more than " + std::to_string(maxBytes) + " bytes)");
}

bool writeAll(int fd, std::span<const std::uint8_t> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

Result<std::vector<std::uint8_t>> readFileBytes(const std::string& path, std::uint64_t maxBytes) {
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return ioError(path, "cannot open", errno);

  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) return ioError(path, "cannot read", errno);
  if (S_ISDIR(info.st_mode)) return ioError(path, "cannot read", EISDIR);
  if (info.st_size > 0 && static_cast<std::uint64_t>(info.st_size) > maxBytes) {
    return tooLarge(path, maxBytes);
  }

  // The size from stat is a hint: the file may change while we read, and pipes report zero.
  // One byte beyond the limit is room enough to notice a file that is too big.
  const std::uint64_t ceiling =
      std::min<std::uint64_t>(maxBytes, std::numeric_limits<std::size_t>::max() - 1) + 1;
  const std::uint64_t hint =
      info.st_size > 0 ? std::uint64_t(info.st_size) + 1 : std::uint64_t{64} * 1024;
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(std::min(hint, ceiling)));
  std::size_t total = 0;
  for (;;) {
    if (total == bytes.size()) {
      if (bytes.size() >= ceiling) return tooLarge(path, maxBytes);
      bytes.resize(static_cast<std::size_t>(std::min<std::uint64_t>(bytes.size() * 2, ceiling)));
    }
    const ssize_t n = ::read(fd.get(), bytes.data() + total, bytes.size() - total);
    if (n < 0) {
      if (errno == EINTR) continue;
      return ioError(path, "cannot read", errno);
    }
    if (n == 0) break;
    total += static_cast<std::size_t>(n);
  }
  if (total > maxBytes) return tooLarge(path, maxBytes);
  if (total == 0) return makeError(ErrorCode::Empty, path + ": empty file");
  bytes.resize(total);
  return bytes;
}

Result<PendingFile> PendingFile::create(const std::string& target) {
  const std::filesystem::path path(target);
  const std::string name = path.filename().string();
  if (name.empty() || name == "." || name == "..") {
    return makeError(ErrorCode::Io, target + ": cannot write (not a file name)");
  }
  const std::filesystem::path folder =
      path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
  // Hidden, so it is never taken for the file itself, and in the target's folder so that the
  // rename stays within one file system.
  std::string pattern = (folder / ("." + name + ".XXXXXX")).string();
  const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (fd < 0) return ioError(target, "cannot create a temporary file", errno);
  return PendingFile(target, std::move(pattern), fd);
}

PendingFile::PendingFile(PendingFile&& other) noexcept
    : m_target(std::move(other.m_target)),
      m_temporary(std::exchange(other.m_temporary, {})),
      m_fd(std::exchange(other.m_fd, -1)) {}

PendingFile& PendingFile::operator=(PendingFile&& other) noexcept {
  if (this != &other) {
    discard();
    m_target = std::move(other.m_target);
    m_temporary = std::exchange(other.m_temporary, {});
    m_fd = std::exchange(other.m_fd, -1);
  }
  return *this;
}

PendingFile::~PendingFile() { discard(); }

void PendingFile::discard() noexcept {
  if (m_fd >= 0) ::close(std::exchange(m_fd, -1));
  if (!m_temporary.empty()) ::unlink(std::exchange(m_temporary, {}).c_str());
}

Status PendingFile::write(std::span<const std::uint8_t> bytes, bool durable) {
  if (m_fd < 0) return makeError(ErrorCode::Io, m_target + ": cannot write (already written)");
  FileDescriptor fd(std::exchange(m_fd, -1));
  if (!writeAll(fd.get(), bytes)) return ioError(m_target, "cannot write", errno);
  if (durable && ::fsync(fd.get()) != 0) return ioError(m_target, "cannot write", errno);

  // mkstemp creates the file readable by its owner only; a replaced file keeps its permissions,
  // a new one gets the usual ones.
  struct stat existing {};
  const mode_t mode = ::stat(m_target.c_str(), &existing) == 0 ? (existing.st_mode & 07777) : 0644;
  if (::fchmod(fd.get(), mode) != 0) return ioError(m_target, "cannot set permissions", errno);

  // close() can report a failed write-back (on network file systems, for example).
  if (::close(fd.release()) != 0) return ioError(m_target, "cannot write", errno);
  return Ok{};
}

Status PendingFile::commit() {
  if (m_temporary.empty() || m_fd >= 0) {
    return makeError(ErrorCode::Io, m_target + ": cannot replace (nothing written)");
  }
  if (::rename(m_temporary.c_str(), m_target.c_str()) != 0) {
    return ioError(m_target, "cannot replace", errno);
  }
  m_temporary.clear();
  return Ok{};
}

Status writeFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes,
                           bool durable) {
  auto pending = PendingFile::create(path);
  if (!pending) return pending.error();
  if (Status written = pending->write(bytes, durable); !written) return written;
  if (Status committed = pending->commit(); !committed) return committed;

  if (durable) {
    // Make the rename itself survive a crash. The target is already in place, so a failure here
    // is not reported: the caller could do nothing about it.
    const std::filesystem::path folder = std::filesystem::path(path).has_parent_path()
                                             ? std::filesystem::path(path).parent_path()
                                             : std::filesystem::path(".");
    FileDescriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) (void)::fsync(dir.get());
  }
  return Ok{};
}

}  // namespace duo
