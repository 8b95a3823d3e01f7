#include "io/file_io.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <limits>
#include <mutex>
#include <random>
#include <set>
#include <string_view>
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

// Temporary files are ".NAME" + kTemporaryMark + kRandomChars letters or digits.
constexpr std::string_view kTemporaryMark = ".duoscope-tmp-";
constexpr std::size_t kRandomChars = 6;
constexpr std::string_view kRandomAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
// A killed write leaves its temporary file behind; one this old belongs to no running write.
constexpr std::time_t kStaleSeconds = 24 * 60 * 60;

std::string temporaryName(const std::string& name) {
  // The whole must fit in NAME_MAX: cut the target's name short, never inside a UTF-8 sequence.
  constexpr std::size_t kRoom = NAME_MAX - 1 - kTemporaryMark.size() - kRandomChars;
  std::size_t keep = std::min(name.size(), kRoom);
  while (keep < name.size() && keep > 0 &&
         (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) {
    --keep;
  }
  thread_local std::mt19937_64 random{std::random_device{}()};
  std::uniform_int_distribution<std::size_t> pick(0, kRandomAlphabet.size() - 1);
  std::string result = "." + name.substr(0, keep) + std::string(kTemporaryMark);
  for (std::size_t i = 0; i < kRandomChars; ++i) result += kRandomAlphabet[pick(random)];
  return result;
}

bool isTemporaryName(std::string_view name) {
  if (name.size() < 2 + kTemporaryMark.size() + kRandomChars || name[0] != '.') return false;
  const std::string_view random = name.substr(name.size() - kRandomChars);
  const bool randomPart = std::all_of(random.begin(), random.end(), [](char c) {
    return kRandomAlphabet.find(c) != std::string_view::npos;
  });
  return randomPart && name.substr(0, name.size() - kRandomChars).ends_with(kTemporaryMark);
}

// The folder a file name lies in; "." for a bare name.
std::filesystem::path folderOf(const std::string& path) {
  const std::filesystem::path p(path);
  return p.has_parent_path() ? p.parent_path() : std::filesystem::path(".");
}

// True the first time this process asks about a folder. Thread-safe: the render cache writes
// from worker threads.
bool firstWriteInFolder(const std::filesystem::path& folder) {
  // Never destroyed: worker threads may still write while static objects go away.
  static auto* mutex = new std::mutex;
  static auto* seen = new std::set<std::string>;
  std::error_code error;
  std::filesystem::path key = std::filesystem::absolute(folder, error);
  if (error) key = folder;
  std::lock_guard lock(*mutex);
  return seen->insert(key.lexically_normal().string()).second;
}

void removeStaleTemporaryFiles(const std::filesystem::path& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  DIR* dir = ::fdopendir(fd);
  if (!dir) {
    ::close(fd);
    return;
  }
  const std::time_t cutoff = std::time(nullptr) - kStaleSeconds;
  while (const dirent* entry = ::readdir(dir)) {
    if (!isTemporaryName(entry->d_name)) continue;
    // By descriptor and name, without following links: what is examined is what is removed.
    struct stat info {};
    if (::fstatat(::dirfd(dir), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (!S_ISREG(info.st_mode) || info.st_mtime >= cutoff) continue;
    (void)::unlinkat(::dirfd(dir), entry->d_name, 0);
  }
  ::closedir(dir);
}

}  // namespace

Result<std::vector<std::uint8_t>> readFileBytes(const std::string& path, std::uint64_t maxBytes) {
  // O_NONBLOCK: opening a FIFO would otherwise wait for a writer, possibly forever. O_NOCTTY: a
  // terminal named by mistake must not become ours.
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (fd.get() < 0) return ioError(path, "cannot open", errno);

  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) return ioError(path, "cannot read", errno);
  if (S_ISDIR(info.st_mode)) return ioError(path, "cannot read", EISDIR);
  // Pipes never end and devices such as /dev/zero stream forever: only files have a size.
  if (!S_ISREG(info.st_mode)) return makeError(ErrorCode::Io, path + ": not a regular file");
  if (info.st_size > 0 && static_cast<std::uint64_t>(info.st_size) > maxBytes) {
    return tooLarge(path, maxBytes);
  }
  // Reads of a regular file do not block anyway, but a FUSE or network file system could answer
  // EAGAIN while the flag is set.
  if (const int flags = ::fcntl(fd.get(), F_GETFL); flags >= 0) {
    (void)::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
  }

  // The size from stat is a hint: the file may grow or shrink while we read, and files such as
  // those in /proc report zero. One byte beyond the limit is room enough to notice a file that
  // is too big.
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

Result<PendingFile> PendingFile::create(const std::string& target, std::optional<unsigned> mode) {
  // A replaced file keeps its permissions, but set-id and sticky bits are not handed on to
  // whatever we write in its place.
  std::optional<unsigned> exact;
  struct stat existing {};
  if (mode) {
    exact = *mode & 0777;
  } else if (::stat(target.c_str(), &existing) == 0) {
    exact = existing.st_mode & 0777;
  }
  return openTemporary(target, exact);
}

Result<PendingFile> PendingFile::createNew(const std::string& target) {
  return openTemporary(target, std::nullopt);
}

Result<PendingFile> PendingFile::openTemporary(const std::string& target,
                                               std::optional<unsigned> exactMode) {
  const std::filesystem::path path(target);
  const std::string name = path.filename().string();
  if (name.empty() || name == "." || name == "..") {
    return makeError(ErrorCode::Io, target + ": cannot write (not a file name)");
  }
  const std::filesystem::path folder = folderOf(target);
  if (firstWriteInFolder(folder)) removeStaleTemporaryFiles(folder);
  std::optional<mode_t> exact;
  if (exactMode) exact = static_cast<mode_t>(*exactMode & 0777);

  // A new file is created like any other, so the umask (and a default ACL) shape its mode;
  // otherwise it starts private and gets its exact mode before it holds any data.
  const mode_t createMode = exact ? 0600 : 0666;
  // Hidden, so it is never taken for the file itself, and in the target's folder so that the
  // rename stays within one file system.
  int fd = -1;
  std::string temporary;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temporary = (folder / temporaryName(name)).string();
    fd = ::open(temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, createMode);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) return ioError(target, "cannot create a temporary file", errno);
  PendingFile pending(target, std::move(temporary), fd);
  if (exact && ::fchmod(fd, *exact) != 0) return ioError(target, "cannot set permissions", errno);
  return pending;
}

PendingFile::PendingFile(PendingFile&& other) noexcept
    : m_target(std::move(other.m_target)),
      m_temporary(std::exchange(other.m_temporary, {})),
      m_fd(std::exchange(other.m_fd, -1)),
      m_durable(other.m_durable) {}

PendingFile& PendingFile::operator=(PendingFile&& other) noexcept {
  if (this != &other) {
    discard();
    m_target = std::move(other.m_target);
    m_temporary = std::exchange(other.m_temporary, {});
    m_fd = std::exchange(other.m_fd, -1);
    m_durable = other.m_durable;
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
  m_durable = durable;
  if (!writeAll(fd.get(), bytes)) return ioError(m_target, "cannot write", errno);
  if (durable && ::fsync(fd.get()) != 0) return ioError(m_target, "cannot write", errno);

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

Result<bool> PendingFile::commitWithoutReplacing(const std::string& target) {
  if (m_temporary.empty() || m_fd >= 0) {
    return makeError(ErrorCode::Io, target + ": cannot write (nothing written)");
  }
  const std::filesystem::path folder = folderOf(m_temporary);
  if (folderOf(target) != folder) {
    return makeError(ErrorCode::InvalidArgument,
                     target + ": cannot write (not in the folder of " + m_target + ")");
  }
  int result = -1;
#ifdef RENAME_NOREPLACE
  result = ::renameat2(AT_FDCWD, m_temporary.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE);
  const bool unsupported = result != 0 && (errno == EINVAL || errno == ENOSYS);
#else
  const bool unsupported = true;
#endif
  if (unsupported) {
    // Some network and FUSE file systems lack the no-replace rename; a hard link is just as
    // unable to replace a name, and removing the temporary name afterwards leaves the same.
    result = ::link(m_temporary.c_str(), target.c_str());
    if (result == 0) (void)::unlink(m_temporary.c_str());
  }
  if (result != 0) {
    if (errno == EEXIST) return false;
    return ioError(target, "cannot write", errno);
  }
  m_temporary.clear();
  m_target = target;
  if (m_durable) {
    // The new name must survive a crash too; the file is in place, so a failure here is not
    // reported: the caller could do nothing about it.
    FileDescriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) (void)::fsync(dir.get());
  }
  return true;
}

Status writeFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes,
                           bool durable, std::optional<unsigned> mode) {
  auto pending = PendingFile::create(path, mode);
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
