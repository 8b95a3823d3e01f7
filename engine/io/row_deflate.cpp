#include "io/row_deflate.h"

#include <libdeflate.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace duo {

namespace {

// Input per block: large enough that a block's code tables (about 100 bytes) do not matter,
// small enough that each part of an image gets a code fitted to it.
constexpr std::size_t kBlockBytes = std::size_t{1} << 20;
// A stored block holds at most this much.
constexpr std::size_t kStoredMax = 65535;
// A run of one byte shorter than this after its first copy stays literals. Eight bytes are
// compared in one step, and flat areas have far longer runs.
constexpr std::size_t kMinRun = 8;
constexpr std::size_t kMaxMatch = 258;

constexpr int kLitLenSymbols = 286;
constexpr int kEndOfBlock = 256;
constexpr int kMaxCodeBits = 15;
constexpr int kCodeLengthSymbols = 19;
constexpr int kMaxCodeLengthBits = 7;
constexpr std::array<std::uint8_t, kCodeLengthSymbols> kCodeLengthOrder = {
    16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// Length symbols 257..285: the shortest length of each and its extra bits.
constexpr std::array<std::uint16_t, 29> kLengthBase = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                                       15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                                       67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::array<std::uint8_t, 29> kLengthExtra = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                       2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};

struct LengthCode {
  std::uint16_t symbol;
  std::uint8_t extraBits;
  std::uint8_t extra;
};

// Symbol and extra bits of every match length, 0..258 (0..2 unused). 258 has a symbol of its
// own (285) rather than 284's largest extra value.
constexpr std::array<LengthCode, kMaxMatch + 1> makeLengthCodes() {
  std::array<LengthCode, kMaxMatch + 1> codes{};
  int i = 0;
  for (int length = 3; length < 258; ++length) {
    while (length >= kLengthBase[std::size_t(i) + 1]) ++i;
    codes[std::size_t(length)] = {std::uint16_t(257 + i), kLengthExtra[std::size_t(i)],
                                  std::uint8_t(length - kLengthBase[std::size_t(i)])};
  }
  codes[258] = {285, 0, 0};
  return codes;
}
constexpr auto kLengthCodes = makeLengthCodes();

// Length of the run of bytes equal to `value` starting at `p`, up to `end`.
std::size_t runLength(const std::uint8_t* p, const std::uint8_t* end, std::uint8_t value) {
  const std::uint8_t* q = p;
  while (q < end && *q == value) ++q;
  return std::size_t(q - p);
}

// Walks a block as literals and runs, calling literal(byte) and match(length) in order. Both
// the counting and the writing pass go through it, so they cannot disagree.
template <typename Literal, typename Match>
void tokenize(const std::uint8_t* p, const std::uint8_t* end, Literal&& literal, Match&& match) {
  while (p < end) {
    const std::uint8_t value = *p;
    literal(value);
    ++p;
    // Most bytes of a photograph are not followed by eight copies: one comparison decides.
    if (end - p < std::ptrdiff_t(kMinRun)) continue;
    std::uint64_t next;
    std::memcpy(&next, p, 8);
    if (next != value * 0x0101010101010101ull) continue;
    std::size_t run = kMinRun + runLength(p + kMinRun, end, value);
    p += run;
    while (run >= 3) {
      // Never leave a remainder of one or two behind a full match: it could not be a match.
      std::size_t length = std::min(run, kMaxMatch);
      if (run - length > 0 && run - length < 3) length = run - 3;
      match(length);
      run -= length;
    }
    for (; run > 0; --run) literal(value);
  }
}

// Code lengths of a Huffman code for `count` symbols with the given frequencies, none longer
// than `limit`. Symbols never used get length 0; a code with only one used symbol gets a second
// one, since a reader expects a complete code.
void buildLengths(const std::uint32_t* freq, int count, int limit, std::uint8_t* lengths) {
  std::array<std::uint32_t, kLitLenSymbols> scaled{};
  std::copy(freq, freq + count, scaled.begin());
  int used = 0;
  for (int s = 0; s < count; ++s) used += scaled[std::size_t(s)] > 0;
  if (used < 2) {
    for (int s = 0; s < count && used < 2; ++s)
      if (scaled[std::size_t(s)] == 0) {
        scaled[std::size_t(s)] = 1;
        ++used;
      }
  }
  for (;;) {
    // Two-queue Huffman construction over the leaves in frequency order.
    struct Node {
      std::uint64_t weight;
      int parent;
    };
    std::array<Node, 2 * kLitLenSymbols> nodes{};
    std::array<int, kLitLenSymbols> leaves{};
    int leafCount = 0;
    for (int s = 0; s < count; ++s)
      if (scaled[std::size_t(s)] > 0) leaves[std::size_t(leafCount++)] = s;
    std::sort(leaves.begin(), leaves.begin() + leafCount, [&](int a, int b) {
      return scaled[std::size_t(a)] != scaled[std::size_t(b)]
                 ? scaled[std::size_t(a)] < scaled[std::size_t(b)]
                 : a < b;
    });
    for (int i = 0; i < leafCount; ++i)
      nodes[std::size_t(i)] = {scaled[std::size_t(leaves[std::size_t(i)])], -1};
    int nextLeaf = 0;
    int nextInner = leafCount;
    int innerEnd = leafCount;
    const auto takeSmallest = [&] {
      if (nextLeaf < leafCount &&
          (nextInner >= innerEnd ||
           nodes[std::size_t(nextLeaf)].weight <= nodes[std::size_t(nextInner)].weight))
        return nextLeaf++;
      return nextInner++;
    };
    for (int i = 0; i + 1 < leafCount; ++i) {
      const int a = takeSmallest();
      const int b = takeSmallest();
      nodes[std::size_t(innerEnd)] = {nodes[std::size_t(a)].weight + nodes[std::size_t(b)].weight,
                                      -1};
      nodes[std::size_t(a)].parent = innerEnd;
      nodes[std::size_t(b)].parent = innerEnd;
      ++innerEnd;
    }
    // Depths from the root (the last node) down; parents always come after their children.
    std::array<int, 2 * kLitLenSymbols> depth{};
    for (int i = innerEnd - 2; i >= 0; --i)
      depth[std::size_t(i)] = depth[std::size_t(nodes[std::size_t(i)].parent)] + 1;
    int deepest = 0;
    for (int i = 0; i < leafCount; ++i) deepest = std::max(deepest, depth[std::size_t(i)]);
    if (deepest <= limit) {
      std::fill(lengths, lengths + count, std::uint8_t{0});
      for (int i = 0; i < leafCount; ++i)
        lengths[leaves[std::size_t(i)]] = std::uint8_t(depth[std::size_t(i)]);
      return;
    }
    // Too deep: flatten the statistics and build again. Rare symbols lose a little, and a few
    // rounds always suffice (equal weights give a tree of depth log2 of the symbol count).
    for (int s = 0; s < count; ++s)
      if (scaled[std::size_t(s)] > 0) scaled[std::size_t(s)] = (scaled[std::size_t(s)] >> 1) | 1;
  }
}

// Canonical codes for the lengths, bit-reversed: deflate sends a code's first bit first, and the
// writer fills its bytes from the least significant bit.
void buildCodes(const std::uint8_t* lengths, int count, std::uint16_t* codes) {
  std::array<int, kMaxCodeBits + 2> perLength{};
  for (int s = 0; s < count; ++s) ++perLength[lengths[s]];
  perLength[0] = 0;
  std::array<int, kMaxCodeBits + 2> next{};
  int code = 0;
  for (int bits = 1; bits <= kMaxCodeBits; ++bits) {
    code = (code + perLength[std::size_t(bits) - 1]) << 1;
    next[std::size_t(bits)] = code;
  }
  for (int s = 0; s < count; ++s) {
    const int bits = lengths[s];
    if (bits == 0) continue;
    int value = next[std::size_t(bits)]++;
    int reversed = 0;
    for (int b = 0; b < bits; ++b, value >>= 1) reversed = (reversed << 1) | (value & 1);
    codes[s] = std::uint16_t(reversed);
  }
}

class BitWriter {
 public:
  explicit BitWriter(std::uint8_t* out) : m_out(out) {}
  // At most 32 bits at a time. The whole buffer is stored every time and the output advanced by
  // the complete bytes, with no branch: the symbols of noisy rows have unpredictable lengths.
  // This stores up to 8 bytes ahead of the last complete one, which bound() leaves room for.
  void put(std::uint32_t value, int bits) {
    m_buffer |= std::uint64_t(value) << m_bits;
    m_bits += bits;
    std::memcpy(m_out, &m_buffer, 8);
    m_out += m_bits >> 3;
    m_buffer >>= m_bits & ~7;
    m_bits &= 7;
  }
  // Pads to a whole byte and writes out what is pending.
  void alignToByte() {
    if (m_bits > 0) {
      *m_out++ = std::uint8_t(m_buffer);
      m_buffer = 0;
      m_bits = 0;
    }
  }
  std::uint8_t* alignedOutput() { return m_out; }
  void skipAlignedOutput(std::size_t bytes) { m_out += bytes; }

 private:
  std::uint8_t* m_out;
  std::uint64_t m_buffer = 0;
  int m_bits = 0;
};

static_assert(std::endian::native == std::endian::little,
              "the bit writer stores little-endian words");

// One code-length symbol (0-18) with its extra bits.
struct LengthToken {
  std::uint8_t symbol;
  std::uint8_t extra;
};

// The lengths of both codes as one run-length coded sequence (symbols 16, 17, 18 for repeats).
int encodeLengths(const std::uint8_t* lengths, int count, LengthToken* tokens) {
  int n = 0;
  for (int i = 0; i < count;) {
    const std::uint8_t value = lengths[i];
    int run = 1;
    while (i + run < count && lengths[i + run] == value) ++run;
    i += run;
    if (value == 0) {
      while (run >= 11) {
        const int r = std::min(run, 138);
        tokens[n++] = {18, std::uint8_t(r - 11)};
        run -= r;
      }
      if (run >= 3) {
        tokens[n++] = {17, std::uint8_t(run - 3)};
        run = 0;
      }
    } else {
      tokens[n++] = {value, 0};
      --run;
      while (run >= 3) {
        const int r = std::min(run, 6);
        tokens[n++] = {16, std::uint8_t(r - 3)};
        run -= r;
      }
    }
    for (; run > 0; --run) tokens[n++] = {value, 0};
  }
  return n;
}

constexpr std::array<std::uint8_t, kCodeLengthSymbols> kCodeLengthExtraBits = {
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 3, 7};

void writeStored(BitWriter& writer, const std::uint8_t* p, std::size_t size, bool last) {
  do {
    const std::size_t part = std::min(size, kStoredMax);
    const bool final = last && part == size;
    writer.put(final ? 1 : 0, 3);  // BFINAL, BTYPE 00
    writer.alignToByte();
    std::uint8_t* out = writer.alignedOutput();
    out[0] = std::uint8_t(part);
    out[1] = std::uint8_t(part >> 8);
    out[2] = std::uint8_t(~part);
    out[3] = std::uint8_t(~part >> 8);
    if (part > 0) std::memcpy(out + 4, p, part);  // empty input may come without a pointer
    writer.skipAlignedOutput(4 + part);
    p += part;
    size -= part;
  } while (size > 0);
}

void writeBlock(BitWriter& writer, const std::uint8_t* p, std::size_t size, bool last) {
  const std::uint8_t* end = p + size;
  // Four tallies of the literals, so that neighbouring equal bytes do not wait on each other.
  std::array<std::array<std::uint32_t, 256>, 4> tally{};
  std::array<std::uint32_t, kLitLenSymbols> freq{};
  std::size_t literals = 0;
  tokenize(
      p, end, [&](std::uint8_t value) { ++tally[literals++ & 3][value]; },
      [&](std::size_t length) { ++freq[kLengthCodes[length].symbol]; });
  for (int s = 0; s < 256; ++s)
    freq[std::size_t(s)] = tally[0][std::size_t(s)] + tally[1][std::size_t(s)] +
                           tally[2][std::size_t(s)] + tally[3][std::size_t(s)];
  freq[kEndOfBlock] = 1;

  std::array<std::uint8_t, kLitLenSymbols + 2> lengths{};
  buildLengths(freq.data(), kLitLenSymbols, kMaxCodeBits, lengths.data());
  int litCount = kLitLenSymbols;
  while (litCount > 257 && lengths[std::size_t(litCount) - 1] == 0) --litCount;
  // Distance 1 is the only distance: two one-bit codes (0 and 1) make a complete code that
  // every reader accepts, whether or not a match follows.
  constexpr int kDistCount = 2;
  std::array<std::uint8_t, kLitLenSymbols + 2> all{};
  std::copy(lengths.begin(), lengths.begin() + litCount, all.begin());
  all[std::size_t(litCount)] = 1;
  all[std::size_t(litCount) + 1] = 1;
  std::array<LengthToken, kLitLenSymbols + 2> lengthTokens{};
  const int tokenCount = encodeLengths(all.data(), litCount + kDistCount, lengthTokens.data());
  std::array<std::uint32_t, kLitLenSymbols> clFreq{};
  for (int i = 0; i < tokenCount; ++i) ++clFreq[lengthTokens[std::size_t(i)].symbol];
  std::array<std::uint8_t, kLitLenSymbols> clLengths{};
  buildLengths(clFreq.data(), kCodeLengthSymbols, kMaxCodeLengthBits, clLengths.data());
  int clCount = kCodeLengthSymbols;
  while (clCount > 4 && clLengths[kCodeLengthOrder[std::size_t(clCount) - 1]] == 0) --clCount;

  // The exact size of the coded block, to compare with storing it.
  std::uint64_t bits = 3 + 5 + 5 + 4 + 3 * std::uint64_t(clCount);
  for (int i = 0; i < tokenCount; ++i) {
    const auto symbol = lengthTokens[std::size_t(i)].symbol;
    bits += clLengths[symbol] + kCodeLengthExtraBits[symbol];
  }
  for (int s = 0; s < kLitLenSymbols; ++s)
    bits += std::uint64_t(freq[std::size_t(s)]) * lengths[std::size_t(s)];
  for (int i = 0; i < 29; ++i)
    bits += std::uint64_t(freq[257 + std::size_t(i)]) *
            (kLengthExtra[std::size_t(i)] + 1);  // + distance code
  const std::uint64_t storedBits = 8 * (size + 5 * ((size + kStoredMax - 1) / kStoredMax)) + 8;
  if (bits >= storedBits) {
    writeStored(writer, p, size, last);
    return;
  }

  std::array<std::uint16_t, kLitLenSymbols> codes{};
  buildCodes(lengths.data(), kLitLenSymbols, codes.data());
  std::array<std::uint16_t, kLitLenSymbols> clCodes{};
  buildCodes(clLengths.data(), kCodeLengthSymbols, clCodes.data());

  writer.put(last ? 1 : 0, 1);
  writer.put(2, 2);  // dynamic Huffman codes
  writer.put(std::uint32_t(litCount - 257), 5);
  writer.put(kDistCount - 1, 5);
  writer.put(std::uint32_t(clCount - 4), 4);
  for (int i = 0; i < clCount; ++i) writer.put(clLengths[kCodeLengthOrder[std::size_t(i)]], 3);
  for (int i = 0; i < tokenCount; ++i) {
    const LengthToken token = lengthTokens[std::size_t(i)];
    writer.put(clCodes[token.symbol], clLengths[token.symbol]);
    if (kCodeLengthExtraBits[token.symbol] > 0)
      writer.put(token.extra, kCodeLengthExtraBits[token.symbol]);
  }
  // Distance code 0 (distance 1) is the one-bit code 0.
  tokenize(
      p, end, [&](std::uint8_t value) { writer.put(codes[value], lengths[value]); },
      [&](std::size_t length) {
        const LengthCode code = kLengthCodes[length];
        writer.put(codes[code.symbol] | (std::uint32_t(code.extra) << lengths[code.symbol]),
                   lengths[code.symbol] + code.extraBits);
        writer.put(0, 1);
      });
  writer.put(codes[kEndOfBlock], lengths[kEndOfBlock]);
}

}  // namespace

std::size_t RowDeflate::bound(std::size_t size) {
  // Every block is at most its stored form: 5 bytes per stored part and one of alignment, plus
  // the zlib header and checksum, and the 8 bytes the bit writer may store ahead.
  const std::size_t blocks = size / kBlockBytes + 1;
  return size + 5 * (size / kStoredMax + blocks + 1) + blocks + 2 + 4 + 8;
}

std::size_t RowDeflate::compress(const std::uint8_t* in, std::size_t size, std::uint8_t* out) {
  // CMF 0x78 (deflate, 32 KiB window), FLG 0x01 (fastest; 0x7801 is a multiple of 31).
  out[0] = 0x78;
  out[1] = 0x01;
  BitWriter writer(out + 2);
  std::size_t done = 0;
  do {
    const std::size_t part = std::min(size - done, kBlockBytes);
    writeBlock(writer, in + done, part, done + part == size);
    done += part;
  } while (done < size);
  writer.alignToByte();
  std::uint8_t* tail = writer.alignedOutput();
  const std::uint32_t adler = libdeflate_adler32(1, in, size);
  tail[0] = std::uint8_t(adler >> 24);
  tail[1] = std::uint8_t(adler >> 16);
  tail[2] = std::uint8_t(adler >> 8);
  tail[3] = std::uint8_t(adler);
  return std::size_t(tail + 4 - out);
}

}  // namespace duo
