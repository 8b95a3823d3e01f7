#include "transfer/transfer_sender.h"

#include <limits>
#include <string>
#include <system_error>
#include <utility>

namespace duo::transfer {
namespace {

Result<std::uint32_t> fileSize32(const std::filesystem::path& path) {
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(path, ec);
  if (ec) return makeError(ErrorCode::Io, path.string() + ": " + ec.message());
  if (size > std::numeric_limits<std::uint32_t>::max()) {
    return makeError(ErrorCode::TooLarge, path.string() + ": too large to send");
  }
  return static_cast<std::uint32_t>(size);
}

}  // namespace

TransferSender::TransferSender(TransferLink& link, TransferTimer& timer,
                               std::filesystem::path leftFile, std::filesystem::path rightFile,
                               Callbacks callbacks)
    : m_link(link),
      m_timer(timer),
      m_files{std::move(leftFile), std::move(rightFile)},
      m_callbacks(std::move(callbacks)) {}

TransferSender::~TransferSender() { m_timer.cancel(); }

void TransferSender::setOffsets(std::int32_t x, std::int32_t y) {
  m_offsetX = x;
  m_offsetY = y;
}

Status TransferSender::start() {
  if (m_state != State::Created || m_stopped) {
    return makeError(ErrorCode::InvalidArgument, "this transfer has already been started");
  }
  auto left = fileSize32(m_files[0]);
  if (!left) return left.error();
  auto right = fileSize32(m_files[1]);
  if (!right) return right.error();
  if (*left > std::numeric_limits<std::uint32_t>::max() - *right) {
    return makeError(ErrorCode::TooLarge, "the two photographs together are too large to send");
  }
  m_state = State::Starting;
  m_viewCount = 0;
  m_totalBytesSent = 0;
  m_projectSize = *left + *right;
  if (m_callbacks.progress) m_callbacks.progress(0.0);
  sendProject();
  return Ok{};
}

void TransferSender::sendProject() {
  const ProjectHeader header{m_projectSize, m_offsetX, m_offsetY};
  sendPacket(PacketId::ProjectHeader, encodeProjectHeader(header));
  m_state = State::NextFile;
}

void TransferSender::receive(std::span<const std::uint8_t> bytes) {
  if (m_stopped || m_succeeded) return;
  auto packet = parsePacket(bytes);
  if (!packet || packet->id != PacketId::Acknowledgement) return;
  // A packet still waiting for the link has not reached the peer, so this answer cannot be
  // for it; acting on it would skip a step.
  if (!m_pending.empty()) return;
  switch (m_state) {
    case State::Created:
    case State::Starting:
      break;
    case State::NextFile:
      openFile();
      break;
    case State::NextChunk:
      sendNextFileChunk();
      break;
    case State::FileExhausted:
      closeFile();
      break;
    case State::EndProject:
      endProject();
      break;
    case State::Finishing:
      m_timer.cancel();
      m_succeeded = true;
      if (m_callbacks.completed) m_callbacks.completed();
      break;
  }
}

void TransferSender::openFile() {
  const std::filesystem::path& path = m_files[m_viewCount != 0 ? 1 : 0];
  auto size = fileSize32(path);
  if (!size) return fail(size.error());
  m_inFile.open(path, std::ios::binary);
  if (!m_inFile) return fail(makeError(ErrorCode::Io, path.string() + ": cannot be opened"));
  m_fileSize = *size;
  m_fileBytesRead = 0;
  sendPacket(PacketId::FileHeader, encodeFileHeader(FileHeader{m_fileSize, m_viewCount}));
  m_state = State::NextChunk;
}

void TransferSender::sendNextFileChunk() {
  std::vector<std::uint8_t> data(kChunkDataSize);
  m_inFile.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(data.size()));
  const auto count = static_cast<std::uint32_t>(m_inFile.gcount());
  if (m_inFile.bad()) {
    return fail(makeError(
        ErrorCode::Io, m_files[m_viewCount != 0 ? 1 : 0].string() + ": read error while sending"));
  }
  // The header already told the peer the size; a file that changed since cannot be sent
  // truthfully, and the peer would reject it anyway.
  const bool grew = count > m_fileSize - m_fileBytesRead;
  const bool shrank = count == 0 && m_fileBytesRead != m_fileSize;
  if (grew || shrank) {
    return fail(makeError(ErrorCode::Corrupt, m_files[m_viewCount != 0 ? 1 : 0].string() +
                                                  ": changed while being sent"));
  }
  if (count == 0) {
    m_state = State::FileExhausted;
    closeFile();
    return;
  }
  data.resize(count);
  auto payload = encodeFileChunk(data);
  if (!payload) return fail(payload.error());
  sendPacket(PacketId::FileChunk, *payload);
  m_fileBytesRead += count;
  m_totalBytesSent += count;
  if (m_projectSize > 0 && m_callbacks.progress) {
    m_callbacks.progress(static_cast<double>(m_totalBytesSent) / m_projectSize);
  }
  m_state = State::NextChunk;
}

void TransferSender::closeFile() {
  m_inFile.close();
  sendPacket(PacketId::EndOfFile);
  ++m_viewCount;
  m_state = m_viewCount > 1 ? State::EndProject : State::NextFile;
}

void TransferSender::endProject() {
  sendPacket(PacketId::EndOfProject);
  m_state = State::Finishing;
}

void TransferSender::sendAck() { sendPacket(PacketId::Acknowledgement); }

void TransferSender::sendPacket(PacketId id, std::span<const std::uint8_t> payload) {
  m_timer.cancel();
  auto packet = encodePacket(m_packetNumber, id, payload);
  if (!packet) return;  // only an oversized payload fails, and no step makes one
  ++m_packetNumber;
  m_pending = std::move(*packet);
  trySendPending();
}

void TransferSender::trySendPending() {
  if (m_stopped || m_pending.empty()) return;
  if (m_link.send(m_pending)) {
    m_pending.clear();
    m_timer.start(kNudgeSeconds, [this] { onTimeout(); });
  } else {
    // The session is busy; ask again shortly instead of blocking the event loop.
    m_timer.start(kRetrySeconds, [this] { trySendPending(); });
  }
}

void TransferSender::onTimeout() {
  if (m_stopped || m_succeeded) return;
  // Silence from the peer: remind it that an answer is due.
  sendAck();
}

void TransferSender::stop() {
  m_stopped = true;
  m_timer.cancel();
  m_pending.clear();
  m_inFile.close();
}

void TransferSender::fail(Error error) {
  stop();
  if (m_callbacks.failed) m_callbacks.failed(error);
}

}  // namespace duo::transfer
