#pragma once

#include <cstddef>
#include <cstdint>

namespace duo::pixel_pool {

/// Pixel memory for images. Large buffers are kept for reuse when freed: on virtual machines
/// the page faults of a fresh 12 MB canvas cost more than rendering an anaglyph into it, and
/// renders, decodes and cache loads free and allocate same-sized buffers all the time.
///
/// Buffers of at least kMinPooledBytes are 2 MiB aligned and advised as huge pages. At most
/// kMaxPooledBuffers buffers and kMaxPooledBytes bytes stay pooled; the rest is returned to the
/// system. Thread-safe.
inline constexpr std::size_t kMinPooledBytes = std::size_t{4} << 20;
inline constexpr std::size_t kMaxPooledBuffers = 4;
inline constexpr std::size_t kMaxPooledBytes = std::size_t{256} << 20;

/// nullptr when the memory cannot be had. Contents are undefined.
std::uint8_t* take(std::size_t bytes);

/// For working memory that need not have an image's exact size (an encoder's scratch): the
/// smallest pooled buffer of at least `bytes` and at most twice that, else a fresh one of exactly
/// `bytes`. `granted` receives the buffer's size, which give() needs. nullptr when the memory
/// cannot be had.
std::uint8_t* takeAtLeast(std::size_t bytes, std::size_t& granted);

/// Gives back a buffer from take() or takeAtLeast() with the size it was taken with.
void give(std::uint8_t* buffer, std::size_t bytes) noexcept;

/// Frees every pooled buffer (for tests and memory-pressure handling).
void trim() noexcept;

}  // namespace duo::pixel_pool
