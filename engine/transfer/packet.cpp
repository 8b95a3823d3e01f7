#include "transfer/packet.h"

#include <algorithm>
#include <string>

namespace duo::transfer {
namespace {

void putU32(std::uint8_t* out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t getU32(const std::uint8_t* in) {
  return std::uint32_t{in[0]} | std::uint32_t{in[1]} << 8 | std::uint32_t{in[2]} << 16 |
         std::uint32_t{in[3]} << 24;
}

Status checkLength(std::span<const std::uint8_t> payload, std::size_t expected, const char* what) {
  if (payload.size() != expected) {
    return makeError(ErrorCode::Corrupt, std::string(what) + " payload is " +
                                             std::to_string(payload.size()) + " bytes, expected " +
                                             std::to_string(expected));
  }
  return Ok{};
}

}  // namespace

std::size_t payloadSizeFor(PacketId id) {
  switch (id) {
    case PacketId::ProjectHeader:
      return kProjectHeaderSize;
    case PacketId::FileHeader:
      return kFileHeaderSize;
    case PacketId::FileChunk:
      return kChunkPayloadSize;
    case PacketId::Acknowledgement:
    case PacketId::EndOfFile:
    case PacketId::EndOfProject:
      return 0;
  }
  return 0;
}

Result<std::vector<std::uint8_t>> encodePacket(std::uint32_t number, PacketId id,
                                               std::span<const std::uint8_t> payload) {
  if (payload.size() > kMaxPayloadSize) {
    return makeError(ErrorCode::TooLarge, "packet payload of " + std::to_string(payload.size()) +
                                              " bytes exceeds " + std::to_string(kMaxPayloadSize));
  }
  std::vector<std::uint8_t> packet(kHeaderSize + payload.size());
  putU32(packet.data(), number);
  putU32(packet.data() + 4, static_cast<std::uint32_t>(id));
  std::copy(payload.begin(), payload.end(), packet.begin() + kHeaderSize);
  return packet;
}

std::vector<std::uint8_t> encodeProjectHeader(const ProjectHeader& header) {
  std::vector<std::uint8_t> out(kProjectHeaderSize);
  putU32(out.data(), header.totalFileSize);
  putU32(out.data() + 4, static_cast<std::uint32_t>(header.xOffset));
  putU32(out.data() + 8, static_cast<std::uint32_t>(header.yOffset));
  return out;
}

std::vector<std::uint8_t> encodeFileHeader(const FileHeader& header) {
  std::vector<std::uint8_t> out(kFileHeaderSize, 0);
  putU32(out.data(), header.fileSize);
  out[4] = header.view;
  return out;
}

Result<std::vector<std::uint8_t>> encodeFileChunk(std::span<const std::uint8_t> data) {
  if (data.empty() || data.size() > kChunkDataSize) {
    return makeError(ErrorCode::InvalidArgument,
                     "a file chunk carries 1 to 8192 bytes, not " + std::to_string(data.size()));
  }
  std::vector<std::uint8_t> out(kChunkPayloadSize, 0);
  putU32(out.data(), static_cast<std::uint32_t>(data.size()));
  std::copy(data.begin(), data.end(), out.begin() + 4);
  return out;
}

Result<PacketView> parsePacket(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < kHeaderSize) {
    return makeError(ErrorCode::Truncated, "packet of " + std::to_string(bytes.size()) +
                                               " bytes is shorter than its 8-byte header");
  }
  if (bytes.size() > kMaxPacketSize) {
    return makeError(ErrorCode::TooLarge,
                     "packet of " + std::to_string(bytes.size()) + " bytes exceeds 20000");
  }
  const std::uint32_t rawId = getU32(bytes.data() + 4);
  if (rawId > static_cast<std::uint32_t>(PacketId::EndOfProject)) {
    return makeError(ErrorCode::Unsupported, "unknown packet id " + std::to_string(rawId));
  }
  PacketView view;
  view.number = getU32(bytes.data());
  view.id = static_cast<PacketId>(rawId);
  view.payload = bytes.subspan(kHeaderSize);
  const std::string what = "packet id " + std::to_string(rawId);
  if (auto status = checkLength(view.payload, payloadSizeFor(view.id), what.c_str()); !status) {
    return status.error();
  }
  return view;
}

Result<ProjectHeader> decodeProjectHeader(std::span<const std::uint8_t> payload) {
  if (auto status = checkLength(payload, kProjectHeaderSize, "project header"); !status) {
    return status.error();
  }
  ProjectHeader header;
  header.totalFileSize = getU32(payload.data());
  header.xOffset = static_cast<std::int32_t>(getU32(payload.data() + 4));
  header.yOffset = static_cast<std::int32_t>(getU32(payload.data() + 8));
  return header;
}

Result<FileHeader> decodeFileHeader(std::span<const std::uint8_t> payload) {
  if (auto status = checkLength(payload, kFileHeaderSize, "file header"); !status) {
    return status.error();
  }
  FileHeader header;
  header.fileSize = getU32(payload.data());
  header.view = payload[4];
  if (header.view != kLeftView && header.view != kRightView) {
    return makeError(ErrorCode::Corrupt,
                     "file header names view " + std::to_string(header.view) + ", not 0 or 1");
  }
  return header;
}

Result<std::span<const std::uint8_t>> decodeFileChunk(std::span<const std::uint8_t> payload) {
  if (auto status = checkLength(payload, kChunkPayloadSize, "file chunk"); !status) {
    return status.error();
  }
  const std::uint32_t length = getU32(payload.data());
  if (length == 0 || length > kChunkDataSize) {
    return makeError(ErrorCode::Corrupt,
                     "file chunk claims " + std::to_string(length) + " valid bytes, not 1 to 8192");
  }
  return payload.subspan(4, length);
}

}  // namespace duo::transfer
