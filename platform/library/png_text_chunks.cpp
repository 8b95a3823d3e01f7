#include "png_text_chunks.h"

#include <QtEndian>

#include <array>
#include <cstdint>

namespace duo::png_text {

namespace {

constexpr char kSignature[] = "\x89PNG\r\n\x1a\n";
constexpr qsizetype kSignatureSize = 8;
constexpr qsizetype kChunkOverhead = 12;  // length, type, checksum
constexpr int kMaxKeyLength = 79;
// Text values of thumbnails are a URI and a few numbers; a compressed value beyond this is not
// one of ours and might inflate to a great deal of memory.
constexpr qsizetype kMaxCompressedValue = 16 * 1024;

// CRC-32 as PNG (and zlib) define it: polynomial 0xEDB88320, reflected, inverted.
std::uint32_t crc32(const char* data, qsizetype size) {
  static const std::array<std::uint32_t, 256> table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t n = 0; n < 256; ++n) {
      std::uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  std::uint32_t c = 0xFFFFFFFFu;
  for (qsizetype i = 0; i < size; ++i) {
    c = table[(c ^ static_cast<std::uint8_t>(data[i])) & 0xFF] ^ (c >> 8);
  }
  return c ^ 0xFFFFFFFFu;
}

std::uint32_t readBig32(const char* p) {
  return qFromBigEndian<std::uint32_t>(reinterpret_cast<const uchar*>(p));
}

void appendBig32(QByteArray& out, std::uint32_t value) {
  char bytes[4];
  qToBigEndian(value, reinterpret_cast<uchar*>(bytes));
  out.append(bytes, 4);
}

bool validKey(const QByteArray& key) {
  if (key.isEmpty() || key.size() > kMaxKeyLength) return false;
  for (const char c : key) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 32 || (u > 126 && u < 161)) return false;
  }
  return true;
}

// A zlib stream, inflated; null when it is not one or is too large to be ours.
QByteArray inflate(const QByteArray& stream) {
  if (stream.isEmpty() || stream.size() > kMaxCompressedValue) return {};
  // qUncompress wants the expected size in front; it is only a first guess, grown as needed.
  QByteArray prefixed;
  appendBig32(prefixed, static_cast<std::uint32_t>(stream.size() * 4));
  prefixed += stream;
  return qUncompress(prefixed);
}

// The key and value of one text chunk's data; false when the layout is wrong.
bool parseText(const QByteArray& type, const QByteArray& data, QByteArray& key, QByteArray& value) {
  const qsizetype nul = data.indexOf('\0');
  if (nul <= 0 || nul > kMaxKeyLength) return false;
  key = data.left(nul);
  const QByteArray rest = data.mid(nul + 1);
  if (type == "tEXt") {
    value = rest;
    return true;
  }
  if (type == "zTXt") {
    if (rest.isEmpty() || rest[0] != 0) return false;  // method 0, deflate, is the only one
    value = inflate(rest.mid(1));
    return !value.isNull();
  }
  // iTXt: compression flag, method, language tag NUL, translated key NUL, text.
  if (rest.size() < 2) return false;
  const bool compressed = rest[0] != 0;
  if (compressed && rest[1] != 0) return false;
  const qsizetype languageEnd = rest.indexOf('\0', 2);
  if (languageEnd < 0) return false;
  const qsizetype translatedEnd = rest.indexOf('\0', languageEnd + 1);
  if (translatedEnd < 0) return false;
  const QByteArray text = rest.mid(translatedEnd + 1);
  value = compressed ? inflate(text) : text;
  return !value.isNull();
}

}  // namespace

QByteArray withTextChunks(const QByteArray& png,
                          const QList<QPair<QByteArray, QByteArray>>& texts) {
  constexpr qsizetype kIhdrEnd = kSignatureSize + kChunkOverhead + 13;
  if (png.size() < kIhdrEnd || !png.startsWith(QByteArray(kSignature, kSignatureSize)) ||
      png.mid(kSignatureSize + 4, 4) != "IHDR" ||
      readBig32(png.constData() + kSignatureSize) != 13) {
    return {};
  }
  QByteArray chunks;
  for (const auto& [key, value] : texts) {
    if (!validKey(key) || value.contains('\0')) return {};
    QByteArray body = "tEXt" + key;
    body.append('\0');
    body += value;
    appendBig32(chunks, static_cast<std::uint32_t>(body.size() - 4));
    chunks += body;
    appendBig32(chunks, crc32(body.constData(), body.size()));
  }
  QByteArray out = png.left(kIhdrEnd);
  out += chunks;
  out += png.mid(kIhdrEnd);
  return out;
}

QMap<QByteArray, QByteArray> readTextChunks(const QByteArray& png) {
  QMap<QByteArray, QByteArray> texts;
  if (!png.startsWith(QByteArray(kSignature, kSignatureSize))) return texts;
  qsizetype at = kSignatureSize;
  while (png.size() - at >= kChunkOverhead) {
    const std::uint32_t length = readBig32(png.constData() + at);
    if (length > std::uint32_t(png.size() - at - kChunkOverhead)) break;  // cut short
    const QByteArray type = png.mid(at + 4, 4);
    const char* typeAndData = png.constData() + at + 4;
    const qsizetype next = at + kChunkOverhead + qsizetype(length);
    if (type == "IEND") break;
    if ((type == "tEXt" || type == "zTXt" || type == "iTXt") &&
        crc32(typeAndData, 4 + qsizetype(length)) == readBig32(png.constData() + next - 4)) {
      QByteArray key, value;
      if (parseText(type, png.mid(at + 8, qsizetype(length)), key, value)) texts[key] = value;
    }
    at = next;
  }
  return texts;
}

}  // namespace duo::png_text
