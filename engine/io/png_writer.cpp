#include "io/png_writer.h"

#include <libdeflate.h>
#include <zlib.h>

#include <array>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <span>

#include "core/limits.h"
#include "image/pixel_pool.h"
#include "io/row_deflate.h"

#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#define DUO_PNG_SSSE3 1
#else
#define DUO_PNG_SSSE3 0
#endif

namespace duo::png {

namespace {

// Every row UP-filtered, as the writer always did: one subtraction per byte, where choosing a
// filter per row (libpng's default) costs several times as long for a file a sixth smaller.
constexpr std::uint8_t kFilterUp = 2;

// The compressor, by measurement on the command line's main output (colour anaglyph of a
// 4000 x 3000 camera pair at 50 %, 2000 x 1500, same UP-filtered rows, one core;
// bench/png_encode_bench.cpp), camera pair and noisy pair:
//   RowDeflate      34 ms  4.90 MB    35 ms  7.18 MB
//   libdeflate 1   100 ms  5.20 MB    90 ms  7.19 MB
//   libdeflate 2   139 ms  4.96 MB   125 ms  7.22 MB  (levels 4 to 9 no smaller)
//   zlib 1         135 ms  5.61 MB   237 ms  7.37 MB  (the writer before these)
// After the UP filter a photograph's bytes are mostly small noise around zero: a Huffman code
// of their statistics is all the compression there is, and the search for repeated strings
// that every library level makes costs two thirds of the time and gains nothing. Drawings and
// screenshots, where that search pays, come out larger (about twice on a screen of flat
// colours and text), but the program writes photographs.
// The streaming path (only images above kMaxOneShotPixels) goes through zlib at its fastest.
constexpr int kStreamingLevel = 1;

// IDAT data per chunk on the streaming path: big enough that the 12 bytes of framing do not
// matter, small enough to be a modest buffer.
constexpr std::size_t kStreamingChunkBytes = std::size_t{256} << 10;

constexpr std::array<std::uint8_t, 8> kSignature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr std::size_t kChunkFrameBytes = 12;  // length, type and CRC around the data
constexpr std::size_t kIhdrDataBytes = 13;
constexpr std::size_t kHeaderBytes = kSignature.size() + kChunkFrameBytes + kIhdrDataBytes;
constexpr std::size_t kIendBytes = kChunkFrameBytes;

// The one-shot path writes its zlib stream as a single IDAT chunk, whose length field holds at
// most 2^31 - 1. The largest image allowed anywhere stays well below that even uncompressed.
static_assert(limits::kMaxImagePixels * 3 + limits::kMaxImageSide + (std::uint64_t{1} << 24) <
                  (std::uint64_t{1} << 31) - 1,
              "the largest image must fit one IDAT chunk");

void putBigEndian32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 24);
  p[1] = static_cast<std::uint8_t>(v >> 16);
  p[2] = static_cast<std::uint8_t>(v >> 8);
  p[3] = static_cast<std::uint8_t>(v);
}

// Fills in the length, type and CRC of a chunk whose data already sits at p + 8.
void frameChunk(std::uint8_t* p, const char (&type)[5], std::size_t dataBytes) {
  putBigEndian32(p, static_cast<std::uint32_t>(dataBytes));
  std::memcpy(p + 4, type, 4);
  const std::uint32_t crc = libdeflate_crc32(0, p + 4, 4 + dataBytes);
  putBigEndian32(p + 8 + dataBytes, crc);
}

// Signature and IHDR: 8-bit RGB, deflate, adaptive filtering, no interlace.
void writeHeader(std::uint8_t* p, const Image& image) {
  std::memcpy(p, kSignature.data(), kSignature.size());
  std::uint8_t* ihdr = p + kSignature.size();
  putBigEndian32(ihdr + 8, static_cast<std::uint32_t>(image.width()));
  putBigEndian32(ihdr + 12, static_cast<std::uint32_t>(image.height()));
  // Bit depth, colour type (RGB), compression, filter method and interlace.
  const std::uint8_t rest[] = {8, 2, 0, 0, 0};
  std::memcpy(ihdr + 16, rest, sizeof rest);
  frameChunk(ihdr, "IHDR", kIhdrDataBytes);
}

void writeIend(std::uint8_t* p) { frameChunk(p, "IEND", 0); }

std::size_t filteredRowBytes(const Image& image) { return 1 + std::size_t(image.width()) * 3; }

// Red, green and blue of `width` pixels minus those of the pixels above, three bytes each.
void subtractRow(const std::uint8_t* p, const std::uint8_t* above, int width, std::uint8_t* out) {
  for (int x = 0; x < width; ++x, p += 4, above += 4, out += 3) {
    out[0] = static_cast<std::uint8_t>(p[0] - above[0]);
    out[1] = static_cast<std::uint8_t>(p[1] - above[1]);
    out[2] = static_cast<std::uint8_t>(p[2] - above[2]);
  }
}

#if DUO_PNG_SSSE3
// Four pixels per step, their fourth bytes dropped by one shuffle: almost three times as fast
// as the loop above. Every x86-64 processor since 2006 has SSSE3.
[[gnu::target("ssse3")]] void subtractRowSsse3(const std::uint8_t* p, const std::uint8_t* above,
                                               int width, std::uint8_t* out) {
  const __m128i dropFourth = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
  int x = 0;
  // Each store writes 16 bytes of which 12 are this step's; stopping two pixels early keeps the
  // other 4 inside the row, where the next step or the tail overwrites them.
  for (; x + 6 <= width; x += 4) {
    const __m128i now = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 4 * x));
    const __m128i up = _mm_loadu_si128(reinterpret_cast<const __m128i*>(above + 4 * x));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 3 * x),
                     _mm_shuffle_epi8(_mm_sub_epi8(now, up), dropFourth));
  }
  subtractRow(p + 4 * x, above + 4 * x, width - x, out + 3 * x);
}
#endif

using SubtractRow = void (*)(const std::uint8_t*, const std::uint8_t*, int, std::uint8_t*);

SubtractRow bestSubtractRow() {
#if DUO_PNG_SSSE3
  __builtin_cpu_init();
  if (__builtin_cpu_supports("ssse3")) return subtractRowSsse3;
#endif
  return subtractRow;
}

// Row y as PNG stores it: the filter type, then each red, green and blue byte minus the one
// above it (nothing above the first row).
void filterRow(const Image& image, int y, std::uint8_t* out) {
  static const SubtractRow subtract = bestSubtractRow();
  *out++ = kFilterUp;
  const std::uint8_t* p = image.row(y);
  if (y > 0) {
    subtract(p, image.row(y - 1), image.width(), out);
    return;
  }
  for (int x = 0; x < image.width(); ++x, p += 4, out += 3) std::memcpy(out, p, 3);
}

Error noMemory() { return makeError(ErrorCode::TooLarge, "not enough memory to write PNG"); }

Error emptyImage() { return makeError(ErrorCode::InvalidArgument, "cannot encode an empty image"); }

std::uint64_t pixelCount(const Image& image) {
  return std::uint64_t(image.width()) * std::uint64_t(image.height());
}

// Runs `body`, turning a failed allocation into the encoder's error.
template <typename Body>
auto withoutMemoryExceptions(Body&& body) -> decltype(body()) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return noMemory();
  } catch (const std::length_error&) {
    return noMemory();
  }
}

// Scratch memory from the pixel pool: renders and decodes free buffers of similar sizes all the
// time, so the encoder's working memory is usually memory that has been touched already.
class ScratchBuffer {
 public:
  explicit ScratchBuffer(std::size_t bytes) { m_data = pixel_pool::takeAtLeast(bytes, m_size); }
  ~ScratchBuffer() { pixel_pool::give(m_data, m_size); }
  ScratchBuffer(const ScratchBuffer&) = delete;
  ScratchBuffer& operator=(const ScratchBuffer&) = delete;
  std::uint8_t* data() const { return m_data; }

 private:
  std::uint8_t* m_data = nullptr;
  std::size_t m_size = 0;
};

// The whole filtered image compressed in one call and handed to the sink; nullopt when the
// memory for it cannot be had (the caller then streams, which needs far less).
std::optional<Status> encodeOneShot(const Image& image, const Sink& sink) {
  const std::size_t rowBytes = filteredRowBytes(image);
  const std::size_t filteredBytes = rowBytes * std::size_t(image.height());
  ScratchBuffer filtered(filteredBytes);
  if (!filtered.data()) return std::nullopt;
  for (int y = 0; y < image.height(); ++y) filterRow(image, y, filtered.data() + y * rowBytes);

  // The file is laid out in place around the compressed data, which goes straight into its
  // IDAT chunk.
  const std::size_t bound = RowDeflate::bound(filteredBytes);
  const std::size_t idatData = kHeaderBytes + 8;
  ScratchBuffer file(idatData + bound + 4 + kIendBytes);
  if (!file.data()) return std::nullopt;
  const std::size_t compressed =
      RowDeflate::compress(filtered.data(), filteredBytes, file.data() + idatData);
  writeHeader(file.data(), image);
  frameChunk(file.data() + kHeaderBytes, "IDAT", compressed);
  const std::size_t total = idatData + compressed + 4 + kIendBytes;
  writeIend(file.data() + total - kIendBytes);
  return sink({file.data(), total});
}

// Appends one chunk to out.
void appendChunk(std::vector<std::uint8_t>& out, const char (&type)[5],
                 std::span<const std::uint8_t> data) {
  const std::size_t at = out.size();
  out.resize(at + kChunkFrameBytes + data.size());
  // An empty chunk (IEND) may come with no data pointer at all, which memcpy must not see.
  if (!data.empty()) std::memcpy(out.data() + at + 8, data.data(), data.size());
  frameChunk(out.data() + at, type, data.size());
}

// A row at a time through zlib, for images too large to hold filtered and compressed at once.
Result<std::vector<std::uint8_t>> encodeStreaming(const Image& image) {
  z_stream z{};
  if (deflateInit2(&z, kStreamingLevel, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    return noMemory();
  }
  struct End {
    z_stream* z;
    ~End() { deflateEnd(z); }
  } end{&z};

  const std::size_t rowBytes = filteredRowBytes(image);
  std::vector<std::uint8_t> out;
  // Room for incompressible rows up front: untouched pages cost address space, not memory,
  // while growing by doubling would copy what is written and hold both copies at once.
  const std::size_t raw = rowBytes * std::size_t(image.height());
  out.reserve(kHeaderBytes + raw + raw / 1000 + (raw / kStreamingChunkBytes + 1) * 64 + 4096);
  out.resize(kHeaderBytes);
  writeHeader(out.data(), image);

  std::vector<std::uint8_t> row(rowBytes);
  std::vector<std::uint8_t> chunk(kStreamingChunkBytes);
  z.next_out = chunk.data();
  z.avail_out = static_cast<uInt>(chunk.size());
  for (int y = 0; y < image.height(); ++y) {
    filterRow(image, y, row.data());
    z.next_in = row.data();
    z.avail_in = static_cast<uInt>(row.size());
    const int flush = y + 1 == image.height() ? Z_FINISH : Z_NO_FLUSH;
    int status = Z_OK;
    do {
      status = deflate(&z, flush);
      if (status == Z_STREAM_ERROR) return noMemory();
      if (z.avail_out == 0) {
        appendChunk(out, "IDAT", chunk);
        z.next_out = chunk.data();
        z.avail_out = static_cast<uInt>(chunk.size());
      }
    } while (z.avail_in > 0 || (flush == Z_FINISH && status != Z_STREAM_END));
  }
  const std::size_t pending = chunk.size() - z.avail_out;
  if (pending > 0) appendChunk(out, "IDAT", std::span(chunk).first(pending));
  appendChunk(out, "IEND", {});
  return out;
}

}  // namespace

Status encodeTo(const Image& image, const Sink& sink, std::uint64_t maxOneShotPixels) {
  return withoutMemoryExceptions([&]() -> Status {
    if (image.isNull()) return emptyImage();
    if (pixelCount(image) <= maxOneShotPixels) {
      if (auto status = encodeOneShot(image, sink)) return std::move(*status);
    }
    auto png = encodeStreaming(image);
    if (!png) return png.error();
    return sink(*png);
  });
}

Result<std::vector<std::uint8_t>> encode(const Image& image, std::uint64_t maxOneShotPixels) {
  return withoutMemoryExceptions([&]() -> Result<std::vector<std::uint8_t>> {
    if (image.isNull()) return emptyImage();
    if (pixelCount(image) <= maxOneShotPixels) {
      std::vector<std::uint8_t> out;
      const auto copy = [&](std::span<const std::uint8_t> bytes) -> Status {
        out.assign(bytes.begin(), bytes.end());
        return Ok{};
      };
      if (auto status = encodeOneShot(image, copy)) {
        if (!*status) return status->error();
        return out;
      }
    }
    // Already a vector of its own: no copy.
    return encodeStreaming(image);
  });
}

}  // namespace duo::png
