#include "transfer/transfer_receiver.h"

#include <string>
#include <utility>

namespace duo::transfer {
namespace {

const char* nameOf(PacketId id) {
  switch (id) {
    case PacketId::Acknowledgement:
      return "acknowledgement";
    case PacketId::ProjectHeader:
      return "project header";
    case PacketId::FileHeader:
      return "file header";
    case PacketId::FileChunk:
      return "file chunk";
    case PacketId::EndOfFile:
      return "end of file";
    case PacketId::EndOfProject:
      return "end of project";
  }
  return "packet";
}

}  // namespace

TransferReceiver::TransferReceiver(TransferLink& link, TransferTimer& timer,
                                   std::uint32_t maxProjectBytes)
    : m_link(link), m_timer(timer), m_maxProjectBytes(maxProjectBytes) {}

TransferReceiver::~TransferReceiver() { m_timer.cancel(); }

Status TransferReceiver::receive(std::span<const std::uint8_t> bytes) {
  if (m_error) return *m_error;
  auto packet = parsePacket(bytes);
  if (!packet) {
    // Too short to carry an id: nothing can be learnt from it, so it changes nothing.
    if (packet.error().code == ErrorCode::Truncated || complete()) return packet.error();
    return fail(packet.error());
  }
  if (m_stage == Stage::Complete &&
      (packet->id != PacketId::Acknowledgement || packet->number != m_expectedNumber)) {
    // The project is whole; a stray packet must not cost it.
    return makeError(ErrorCode::Corrupt, "a packet arrived after the end of the project");
  }
  if (packet->number != m_expectedNumber) {
    return fail(makeError(ErrorCode::Corrupt, "packet number " + std::to_string(packet->number) +
                                                  " arrived, expected " +
                                                  std::to_string(m_expectedNumber)));
  }
  ++m_expectedNumber;
  // The sender's nudge asks for an answer we have already given; answering it again would
  // move the sender on by one step too many.
  if (packet->id == PacketId::Acknowledgement) return Ok{};
  if (auto status = handle(*packet); !status) return fail(status.error());
  auto ack = encodePacket(m_ackNumber++, PacketId::Acknowledgement);
  if (ack) m_pendingAcks.push_back(std::move(*ack));
  sendPendingAcks();
  return Ok{};
}

void TransferReceiver::sendPendingAcks() {
  while (!m_pendingAcks.empty() && !m_error) {
    if (!m_link.send(m_pendingAcks.front())) {
      // The session is busy; ask again shortly instead of blocking the event loop.
      m_timer.start(kRetrySeconds, [this] { sendPendingAcks(); });
      return;
    }
    m_pendingAcks.pop_front();
  }
}

Status TransferReceiver::handle(const PacketView& packet) {
  const auto outOfOrder = [&packet] {
    return makeError(ErrorCode::Corrupt, std::string(nameOf(packet.id)) + " arrived out of order");
  };
  switch (packet.id) {
    case PacketId::ProjectHeader:
      if (m_stage != Stage::ProjectHeader) return outOfOrder();
      return handleProjectHeader(packet.payload);
    case PacketId::FileHeader:
      if (m_stage != Stage::FileHeader) return outOfOrder();
      return handleFileHeader(packet.payload);
    case PacketId::FileChunk:
      if (m_stage != Stage::FileData) return outOfOrder();
      return handleChunk(packet.payload);
    case PacketId::EndOfFile:
      if (m_stage != Stage::FileData) return outOfOrder();
      return handleEndOfFile();
    case PacketId::EndOfProject:
      if (m_stage != Stage::EndOfProject) return outOfOrder();
      m_stage = Stage::Complete;
      return Ok{};
    case PacketId::Acknowledgement:
      break;
  }
  return Ok{};
}

Status TransferReceiver::handleProjectHeader(std::span<const std::uint8_t> payload) {
  auto header = decodeProjectHeader(payload);
  if (!header) return header.error();
  if (header->totalFileSize > m_maxProjectBytes) {
    return makeError(ErrorCode::TooLarge, "project of " + std::to_string(header->totalFileSize) +
                                              " bytes exceeds the limit of " +
                                              std::to_string(m_maxProjectBytes));
  }
  m_header = *header;
  m_project.offsetX = header->xOffset;
  m_project.offsetY = header->yOffset;
  m_stage = Stage::FileHeader;
  return Ok{};
}

Status TransferReceiver::handleFileHeader(std::span<const std::uint8_t> payload) {
  auto header = decodeFileHeader(payload);
  if (!header) return header.error();
  if (header->view != m_nextView) {
    return makeError(ErrorCode::Corrupt, "file header for view " + std::to_string(header->view) +
                                             ", expected view " + std::to_string(m_nextView));
  }
  const std::uint32_t left = m_header.totalFileSize - m_announcedBytes;
  if (header->fileSize > left) {
    return makeError(ErrorCode::Corrupt, "file of " + std::to_string(header->fileSize) +
                                             " bytes does not fit the project's remaining " +
                                             std::to_string(left));
  }
  if (header->view == kRightView && header->fileSize != left) {
    return makeError(ErrorCode::Corrupt, "the two files add up to " +
                                             std::to_string(m_announcedBytes + header->fileSize) +
                                             " bytes, the project header said " +
                                             std::to_string(m_header.totalFileSize));
  }
  m_announcedBytes += header->fileSize;
  m_fileSize = header->fileSize;
  auto& file = header->view == kLeftView ? m_project.left : m_project.right;
  file.clear();
  file.reserve(m_fileSize);
  m_stage = Stage::FileData;
  return Ok{};
}

Status TransferReceiver::handleChunk(std::span<const std::uint8_t> payload) {
  auto data = decodeFileChunk(payload);
  if (!data) return data.error();
  auto& file = m_nextView == kLeftView ? m_project.left : m_project.right;
  if (data->size() > m_fileSize - file.size()) {
    return makeError(ErrorCode::Corrupt,
                     "file data runs past its announced " + std::to_string(m_fileSize) + " bytes");
  }
  file.insert(file.end(), data->begin(), data->end());
  m_bytesReceived += static_cast<std::uint32_t>(data->size());
  return Ok{};
}

Status TransferReceiver::handleEndOfFile() {
  const auto& file = m_nextView == kLeftView ? m_project.left : m_project.right;
  if (file.size() != m_fileSize) {
    return makeError(ErrorCode::Truncated, "file ended after " + std::to_string(file.size()) +
                                               " of its announced " + std::to_string(m_fileSize) +
                                               " bytes");
  }
  if (m_nextView == kRightView) {
    m_stage = Stage::EndOfProject;
  } else {
    m_nextView = kRightView;
    m_stage = Stage::FileHeader;
  }
  return Ok{};
}

Status TransferReceiver::fail(Error error) {
  m_error = std::move(error);
  m_project = {};
  m_pendingAcks.clear();
  m_timer.cancel();
  return *m_error;
}

Result<ReceivedProject> TransferReceiver::takeProject() {
  if (!complete() || failed() || m_taken) {
    return makeError(ErrorCode::InvalidArgument, "no complete project to take");
  }
  m_taken = true;
  return std::move(m_project);
}

}  // namespace duo::transfer
