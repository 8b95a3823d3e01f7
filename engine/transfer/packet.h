#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "core/result.h"

namespace duo::transfer {

// Every field on the wire is little-endian. A packet is an 8-byte header (packet number, packet
// id, both 32-bit) followed by a payload whose layout and length the id fixes.

inline constexpr std::size_t kHeaderSize = 8;
inline constexpr std::size_t kMaxPacketSize = 20000;
inline constexpr std::size_t kMaxPayloadSize = kMaxPacketSize - kHeaderSize;  // 19,992
inline constexpr std::size_t kProjectHeaderSize = 12;
inline constexpr std::size_t kFileHeaderSize = 8;
inline constexpr std::size_t kChunkDataSize = 8192;
inline constexpr std::size_t kChunkPayloadSize = 4 + kChunkDataSize;              // 8,196
inline constexpr std::size_t kChunkPacketSize = kHeaderSize + kChunkPayloadSize;  // 8,204

enum class PacketId : std::uint32_t {
  Acknowledgement = 0,
  ProjectHeader = 1,
  FileHeader = 2,
  FileChunk = 3,
  EndOfFile = 4,
  EndOfProject = 5,
};

/// Payload length that packets of this id always carry.
std::size_t payloadSizeFor(PacketId id);

/// The first photograph sent is the left one (view 0), then the right one (view 1).
inline constexpr std::uint8_t kLeftView = 0;
inline constexpr std::uint8_t kRightView = 1;

struct ProjectHeader {
  std::uint32_t totalFileSize = 0;  ///< left file size plus right file size, in bytes
  std::int32_t xOffset = 0;         ///< horizontal alignment offset, pixels
  std::int32_t yOffset = 0;         ///< vertical alignment offset, pixels
};

struct FileHeader {
  std::uint32_t fileSize = 0;  ///< bytes of the file whose chunks follow
  std::uint8_t view = 0;       ///< kLeftView or kRightView
};

/// A packet as read from the wire; `payload` points into the bytes given to parsePacket.
struct PacketView {
  std::uint32_t number = 0;
  PacketId id = PacketId::Acknowledgement;
  std::span<const std::uint8_t> payload;
};

/// Builds one packet. Fails with TooLarge when the payload exceeds kMaxPayloadSize; no
/// check of the payload against the id, so the sender's nudge and replies share this path.
Result<std::vector<std::uint8_t>> encodePacket(std::uint32_t number, PacketId id,
                                               std::span<const std::uint8_t> payload = {});

std::vector<std::uint8_t> encodeProjectHeader(const ProjectHeader& header);
/// The three padding bytes are written as zeros.
std::vector<std::uint8_t> encodeFileHeader(const FileHeader& header);
/// The whole 8,196-byte record: length, the data, zeros behind it. InvalidArgument when
/// `data` is empty or longer than kChunkDataSize.
Result<std::vector<std::uint8_t>> encodeFileChunk(std::span<const std::uint8_t> data);

/// Reads the header and checks the payload length against the id. Truncated for fewer than
/// 8 bytes (such a packet has no id and must never count as an acknowledgement), Unsupported
/// for an unknown id, Corrupt for a payload of the wrong length, TooLarge above kMaxPacketSize.
Result<PacketView> parsePacket(std::span<const std::uint8_t> bytes);

/// Payload decoders; each checks the length it is given.
Result<ProjectHeader> decodeProjectHeader(std::span<const std::uint8_t> payload);
/// Fails with Corrupt when `view` is neither 0 nor 1.
Result<FileHeader> decodeFileHeader(std::span<const std::uint8_t> payload);
/// The valid bytes of a chunk; Corrupt when its length field is 0 or above kChunkDataSize.
Result<std::span<const std::uint8_t>> decodeFileChunk(std::span<const std::uint8_t> payload);

}  // namespace duo::transfer
