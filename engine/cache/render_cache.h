#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/work_queue.h"
#include "image/image.h"
#include "stereo/output_kind.h"

namespace duo {

/// The result screen's cache of rendered outputs: one file per output kind in the folder
/// "QSDuoscopeCache" under a caches directory chosen by the caller. Presence of a file is the
/// only record of what is cached.
///
/// Writes are encoded (PNG) and written atomically on background threads. A removal always
/// wins over writes queued before it: such a write is dropped instead of bringing a stale
/// output back. All other calls are meant for one thread (the UI thread) but are safe from any.
class RenderCache {
 public:
  static constexpr const char* kFolderName = "QSDuoscopeCache";

  /// `cachesDirectory` must exist (the folder inside it is created without parents).
  /// `writerThreads` bounds concurrent background writes.
  explicit RenderCache(const std::string& cachesDirectory, int writerThreads = 2);
  /// Waits for queued writes to finish.
  ~RenderCache();

  RenderCache(const RenderCache&) = delete;
  RenderCache& operator=(const RenderCache&) = delete;

  const std::string& cacheDirectory() const { return m_cacheDirectory; }

  /// Removes the folder and everything in it, then creates it again. Errors are ignored.
  void resetCacheDirectory();

  /// Full path of a kind's cache file; empty for kinds outside 1–4.
  std::string fullPathToCachedImageForImageType(unsigned kind) const;

  /// Deletes the kind's file if it exists; also cancels that kind's queued writes.
  void removeCachedImageForImageType(unsigned kind);

  /// removeCachedImageForImageType for kinds 1–4 whose bit is set, in that order.
  void removeCachedFilesForMask(CacheMask mask);

  /// Queues the write of one cache file and returns at once. Exactly one of image (encoded as
  /// PNG on the worker) or imageData (written as is) should be given. Failures are ignored:
  /// the entry is then missing and the output is rendered again next time. A path that is not
  /// directly inside the cache folder is ignored. Files are private to the user (0600), as is
  /// the folder (0700).
  void cacheImage(std::shared_ptr<const Image> image,
                  std::shared_ptr<const std::vector<std::uint8_t>> imageData,
                  const std::string& fullPath);

  /// The image whose PNG is the kind's file now on disk, kept from the write so that showing
  /// the entry again needs no decoding. Null unless the file at `fullPath` is still exactly the
  /// one that write produced (same size and modification time); whether an entry exists is
  /// always decided by the file.
  std::shared_ptr<const Image> rememberedImage(const std::string& fullPath);

  /// Bounds the memory of the images kept for rememberedImage(): when a newly written entry
  /// takes the total above `bytes`, the images of the entries written longest ago are let go
  /// (their files stay and are read from disk when asked for). Unlimited by default.
  void setRememberedImageBudget(std::size_t bytes);

  /// Blocks until every write queued so far has finished or been dropped.
  void waitForPendingWrites();

 private:
  struct PathState {
    std::uint64_t invalidatedAt = 0;  // sequence number of the last removal of this path
    std::uint64_t committed = 0;      // sequence number of the write now on disk
    // The image behind the committed file and that file's size and time, while it is there.
    std::shared_ptr<const Image> image;
    std::uintmax_t fileSize = 0;
    std::int64_t fileTime = 0;
  };
  void enforceRememberedBudgetLocked(const std::string& keep);

  // m_paths is keyed by the lexically normal form of a path; "Locked" members need m_mutex.
  void invalidatePathLocked(const std::string& path);
  bool supersededLocked(std::uint64_t sequence, const std::string& key) const;
  void writeEntry(std::uint64_t sequence, const std::shared_ptr<const Image>& image,
                  const std::shared_ptr<const std::vector<std::uint8_t>>& imageData,
                  const std::string& fullPath, const std::string& key);
  // Writes the bytes of an entry and renames them into place unless superseded.
  void commitEntry(std::uint64_t sequence, const std::shared_ptr<const Image>& image,
                   std::span<const std::uint8_t> bytes, const std::string& fullPath,
                   const std::string& key);

  std::string m_cacheDirectory;
  std::mutex m_mutex;  // guards the fields below and every rename into / removal from the folder
  std::uint64_t m_sequence = 0;
  std::uint64_t m_resetAt = 0;
  std::size_t m_rememberedBudget = SIZE_MAX;
  std::unordered_map<std::string, PathState> m_paths;
  WorkQueue m_writers;  // last: destroyed (drained) first
};

}  // namespace duo
