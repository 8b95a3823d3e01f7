#include "image/pixel_pool.h"

#include <sys/mman.h>

#include <cstdlib>
#include <mutex>
#include <vector>

namespace duo::pixel_pool {

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

struct Entry {
  std::uint8_t* buffer;
  std::size_t bytes;
};

struct Pool {
  std::mutex mutex;
  std::vector<Entry> entries;  // oldest first
  std::size_t pooledBytes = 0;
};

Pool& pool() {
  // Never destroyed: images in static storage may be freed after it would be.
  static Pool* instance = new Pool;
  return *instance;
}

std::uint8_t* allocateFresh(std::size_t bytes) {
  if (bytes < kMinPooledBytes) return static_cast<std::uint8_t*>(std::malloc(bytes ? bytes : 1));
  void* p = nullptr;
  if (posix_memalign(&p, kHugePage, bytes) != 0) return nullptr;
  (void)madvise(p, bytes, MADV_HUGEPAGE);  // only a hint; fine if refused
  return static_cast<std::uint8_t*>(p);
}

}  // namespace

std::uint8_t* take(std::size_t bytes) {
  if (bytes >= kMinPooledBytes) {
    Pool& p = pool();
    std::lock_guard lock(p.mutex);
    // Exact sizes only: a bigger buffer would hold memory the image never touches.
    for (auto it = p.entries.rbegin(); it != p.entries.rend(); ++it) {
      if (it->bytes == bytes) {
        std::uint8_t* buffer = it->buffer;
        p.pooledBytes -= it->bytes;
        p.entries.erase(std::next(it).base());
        return buffer;
      }
    }
  }
  return allocateFresh(bytes);
}

std::uint8_t* takeAtLeast(std::size_t bytes, std::size_t& granted) {
  if (bytes >= kMinPooledBytes) {
    Pool& p = pool();
    std::lock_guard lock(p.mutex);
    auto best = p.entries.end();
    for (auto it = p.entries.begin(); it != p.entries.end(); ++it) {
      if (it->bytes >= bytes && it->bytes / 2 <= bytes &&
          (best == p.entries.end() || it->bytes < best->bytes)) {
        best = it;
      }
    }
    if (best != p.entries.end()) {
      std::uint8_t* buffer = best->buffer;
      granted = best->bytes;
      p.pooledBytes -= best->bytes;
      p.entries.erase(best);
      return buffer;
    }
  }
  granted = bytes;
  return allocateFresh(bytes);
}

void give(std::uint8_t* buffer, std::size_t bytes) noexcept {
  if (!buffer) return;
  if (bytes < kMinPooledBytes || bytes > kMaxPooledBytes) {
    std::free(buffer);
    return;
  }
  std::vector<std::uint8_t*> release;
  {
    Pool& p = pool();
    std::lock_guard lock(p.mutex);
    try {
      p.entries.push_back({buffer, bytes});
    } catch (...) {
      std::free(buffer);
      return;
    }
    p.pooledBytes += bytes;
    while (p.entries.size() > kMaxPooledBuffers || p.pooledBytes > kMaxPooledBytes) {
      release.push_back(p.entries.front().buffer);
      p.pooledBytes -= p.entries.front().bytes;
      p.entries.erase(p.entries.begin());
    }
  }
  for (std::uint8_t* b : release) std::free(b);  // outside the lock: munmap can be slow
}

void trim() noexcept {
  std::vector<Entry> entries;
  {
    Pool& p = pool();
    std::lock_guard lock(p.mutex);
    entries.swap(p.entries);
    p.pooledBytes = 0;
  }
  for (const Entry& e : entries) std::free(e.buffer);
}

}  // namespace duo::pixel_pool
