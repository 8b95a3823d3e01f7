#include "cache/render_cache.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <span>
#include <system_error>
#include <utility>

#include "io/file_io.h"
#include "io/image_codec.h"

namespace duo {

namespace fs = std::filesystem;

namespace {

constexpr unsigned kFirstCachedKind = 1;
constexpr unsigned kLastCachedKind = 4;

// Removals and writes must agree on the identity of a path, whatever spelling the caller used.
std::string pathKey(const std::string& path) { return fs::path(path).lexically_normal().string(); }

}  // namespace

RenderCache::RenderCache(const std::string& cachesDirectory, int writerThreads)
    : m_cacheDirectory((fs::path(cachesDirectory) / kFolderName).string()),
      m_writers(writerThreads) {}

// m_writers is the last member, so it is destroyed first and finishes every queued write while
// the state those writes use is still alive.
RenderCache::~RenderCache() = default;

void RenderCache::resetCacheDirectory() {
  std::lock_guard lock(m_mutex);
  // Every write queued so far now loses; later writes get larger numbers. Per-path records only
  // mattered for those older writes, so they can go.
  m_resetAt = ++m_sequence;
  m_paths.clear();
  // Workers create their temporary files under this mutex, so nothing appears in the folder while
  // it is being removed. Missing parents are not created: an unusable caches directory just
  // leaves the cache empty.
  std::error_code ignored;
  fs::remove_all(m_cacheDirectory, ignored);
  // Private: the outputs show the user's photographs.
  ::mkdir(m_cacheDirectory.c_str(), 0700);
}

std::string RenderCache::fullPathToCachedImageForImageType(unsigned kind) const {
  if (kind < kFirstCachedKind || kind > kLastCachedKind) return {};
  return m_cacheDirectory + "/" + std::string(cacheFileName(static_cast<OutputKind>(kind)));
}

void RenderCache::removeCachedImageForImageType(unsigned kind) {
  const std::string path = fullPathToCachedImageForImageType(kind);
  if (path.empty()) return;
  std::lock_guard lock(m_mutex);
  invalidatePathLocked(path);
}

void RenderCache::removeCachedFilesForMask(CacheMask mask) {
  for (unsigned kind = kFirstCachedKind; kind <= kLastCachedKind; ++kind) {
    if (mask & cacheMaskBit(static_cast<OutputKind>(kind))) removeCachedImageForImageType(kind);
  }
}

void RenderCache::cacheImage(std::shared_ptr<const Image> image,
                             std::shared_ptr<const std::vector<std::uint8_t>> imageData,
                             const std::string& fullPath) {
  if (fullPath.empty() || (!image && !imageData)) return;
  std::string key = pathKey(fullPath);
  // Entries live directly in the cache's own folder; a path anywhere else (a caller's mistake,
  // or a name with "..") is never written.
  if (fs::path(key).parent_path() != fs::path(m_cacheDirectory).lexically_normal() ||
      !fs::path(key).has_filename())
    return;
  std::uint64_t sequence = 0;
  {
    std::lock_guard lock(m_mutex);
    sequence = ++m_sequence;
  }
  m_writers.post([this, sequence, image = std::move(image), imageData = std::move(imageData),
                  fullPath, key = std::move(key)] {
    try {
      writeEntry(sequence, image, imageData, fullPath, key);
    } catch (...) {
      // Out of memory while encoding, most likely; the entry stays missing and the output is
      // rendered again when next shown.
    }
  });
}

void RenderCache::waitForPendingWrites() { m_writers.waitUntilIdle(); }

namespace {

/// Size and modification time of a regular file, or nullopt.
std::optional<std::pair<std::uintmax_t, std::int64_t>> fileStamp(const std::string& path) {
  std::error_code error;
  const auto size = fs::file_size(path, error);
  if (error) return std::nullopt;
  const auto time = fs::last_write_time(path, error);
  if (error) return std::nullopt;
  return std::make_pair(size, std::int64_t(time.time_since_epoch().count()));
}

}  // namespace

std::shared_ptr<const Image> RenderCache::rememberedImage(const std::string& fullPath) {
  std::lock_guard lock(m_mutex);
  const auto it = m_paths.find(pathKey(fullPath));
  if (it == m_paths.end() || !it->second.image) return nullptr;
  const auto stamp = fileStamp(fullPath);
  if (!stamp || stamp->first != it->second.fileSize || stamp->second != it->second.fileTime)
    return nullptr;  // replaced or damaged behind our back: let the caller read the file
  return it->second.image;
}

void RenderCache::setRememberedImageBudget(std::size_t bytes) {
  std::lock_guard lock(m_mutex);
  m_rememberedBudget = bytes;
}

void RenderCache::enforceRememberedBudgetLocked(const std::string& keep) {
  // The newest entry stays whatever its size: it is the one most likely to be shown next.
  for (;;) {
    std::size_t total = 0;
    PathState* oldest = nullptr;
    for (auto& [key, state] : m_paths) {
      if (!state.image) continue;
      total += state.image->byteCount();
      if (key != keep && (!oldest || state.committed < oldest->committed)) oldest = &state;
    }
    if (total <= m_rememberedBudget || !oldest) return;
    oldest->image.reset();
  }
}

void RenderCache::invalidatePathLocked(const std::string& path) {
  PathState& state = m_paths[pathKey(path)];
  state.invalidatedAt = ++m_sequence;
  state.image.reset();
  // unlink rather than filesystem::remove: only a file is an entry, never a folder of that name.
  ::unlink(path.c_str());
}

bool RenderCache::supersededLocked(std::uint64_t sequence, const std::string& key) const {
  if (sequence <= m_resetAt) return true;
  const auto it = m_paths.find(key);
  return it != m_paths.end() &&
         (sequence <= it->second.invalidatedAt || sequence <= it->second.committed);
}

void RenderCache::writeEntry(std::uint64_t sequence, const std::shared_ptr<const Image>& image,
                             const std::shared_ptr<const std::vector<std::uint8_t>>& imageData,
                             const std::string& fullPath, const std::string& key) {
  {
    // A write removed before it started would be thrown away at the end; skip the encoding.
    std::lock_guard lock(m_mutex);
    if (supersededLocked(sequence, key)) return;
  }

  // An image's PNG is written out straight from the encoder's memory. Failures only leave the
  // entry missing, so the status is of no further use.
  const auto commit = [&](std::span<const std::uint8_t> bytes) -> Status {
    commitEntry(sequence, image, bytes, fullPath, key);
    return Ok{};
  };
  if (imageData) {
    (void)commit(*imageData);
  } else {
    (void)encodePngTo(*image, commit);
  }
}

void RenderCache::commitEntry(std::uint64_t sequence, const std::shared_ptr<const Image>& image,
                              std::span<const std::uint8_t> bytes, const std::string& fullPath,
                              const std::string& key) {
  std::optional<PendingFile> pending;
  {
    std::lock_guard lock(m_mutex);
    if (supersededLocked(sequence, key)) return;
    // Created under the lock so that a reset's folder removal either comes first (and the
    // creation fails) or takes the temporary file with it.
    auto created = PendingFile::create(fullPath, kPrivateFileMode);
    if (!created) return;
    pending.emplace(std::move(*created));
  }
  // The slow part runs unlocked; nobody else ever opens this file.
  const bool written = pending->write(bytes).ok();

  // Renames and removals happen only under the mutex, so the check below and the rename are one
  // step as far as any removal is concerned: a removal either came first and wins, or comes
  // after and deletes what was renamed. An uncommitted file is removed when `pending` goes.
  std::lock_guard lock(m_mutex);
  if (written && !supersededLocked(sequence, key) && pending->commit()) {
    PathState& state = m_paths[key];
    state.committed = sequence;
    state.image.reset();
    if (image) {
      if (const auto stamp = fileStamp(fullPath)) {
        state.image = image;
        state.fileSize = stamp->first;
        state.fileTime = stamp->second;
        enforceRememberedBudgetLocked(key);
      }
    }
  }
}

}  // namespace duo
