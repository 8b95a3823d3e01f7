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

// Removes the temporary file of writeFileAtomically unless the rename consumed it.
class TemporaryFile {
 public:
  explicit TemporaryFile(std::string path) : m_path(std::move(path)) {}
  ~TemporaryFile() {
    if (!m_path.empty()) ::unlink(m_path.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  const std::string& path() const { return m_path; }
  void keep() { m_path.clear(); }

 private:
  std::string m_path;
};

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

Status writeFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes,
                           bool durable) {
  const std::filesystem::path target(path);
  const std::string name = target.filename().string();
  if (name.empty() || name == "." || name == "..") {
    return makeError(ErrorCode::Io, path + ": cannot write (not a file name)");
  }
  const std::filesystem::path folder =
      target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");

  // Hidden, and in the target's folder so that the rename stays within one file system.
  std::string pattern = (folder / ("." + name + ".XXXXXX")).string();
  const int rawFd = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (rawFd < 0) return ioError(path, "cannot create a temporary file", errno);
  FileDescriptor fd(rawFd);
  TemporaryFile temporary(pattern);

  if (!writeAll(fd.get(), bytes)) return ioError(path, "cannot write", errno);
  if (durable && ::fsync(fd.get()) != 0) return ioError(path, "cannot write", errno);

  // mkstemp creates the file readable by its owner only; a replaced file keeps its permissions,
  // a new one gets the usual ones.
  struct stat existing {};
  const mode_t mode = ::stat(path.c_str(), &existing) == 0 ? (existing.st_mode & 07777) : 0644;
  if (::fchmod(fd.get(), mode) != 0) return ioError(path, "cannot set permissions", errno);

  // close() can report a failed write-back (on network file systems, for example).
  if (::close(fd.release()) != 0) return ioError(path, "cannot write", errno);
  if (::rename(temporary.path().c_str(), path.c_str()) != 0) {
    return ioError(path, "cannot replace", errno);
  }
  temporary.keep();

  if (durable) {
    // Make the rename itself survive a crash. The target is already in place, so a failure here
    // is not reported: the caller could do nothing about it.
    FileDescriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) (void)::fsync(dir.get());
  }
  return Ok{};
}

}  // namespace duo
