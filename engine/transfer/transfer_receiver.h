#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <vector>

#include "core/result.h"
#include "transfer/packet.h"
#include "transfer/transfer_link.h"
#include "transfer/transfer_timer.h"

namespace duo::transfer {

/// A project as it arrived, both files complete and of the announced sizes.
struct ReceivedProject {
  std::vector<std::uint8_t> left;
  std::vector<std::uint8_t> right;
  std::int32_t offsetX = 0;
  std::int32_t offsetY = 0;
};

/// Receives one project: checks every packet against the headers before it, rebuilds the two
/// files in memory and acknowledges each packet it accepts (never an acknowledgement).
class TransferReceiver {
 public:
  /// Largest project (both files) accepted by default.
  static constexpr std::uint32_t kDefaultMaxProjectBytes = 64u << 20;

  static constexpr double kRetrySeconds = 0.25;

  /// `timer` paces the retries of acknowledgements the link refuses; the destructor cancels it.
  TransferReceiver(TransferLink& link, TransferTimer& timer,
                   std::uint32_t maxProjectBytes = kDefaultMaxProjectBytes);
  ~TransferReceiver();
  TransferReceiver(const TransferReceiver&) = delete;
  TransferReceiver& operator=(const TransferReceiver&) = delete;

  /// Handles one packet from the sender. A packet shorter than 8 bytes is ignored with a
  /// Truncated error and changes nothing. Any other fault (unknown id, wrong payload length,
  /// a packet number out of sequence, a packet out of order, sizes that disagree with the
  /// headers, a project above the limit) fails the transfer: the
  /// error is returned now and for every later packet, and no acknowledgement is sent.
  /// The sender's nudges (acknowledgements) are accepted and not answered.
  /// Once complete, further packets are refused with Corrupt but the project is kept.
  /// An acknowledgement the link refuses is retried every kRetrySeconds until it is taken.
  Status receive(std::span<const std::uint8_t> bytes);

  bool complete() const { return m_stage == Stage::Complete; }
  bool failed() const { return m_error.has_value(); }
  const std::optional<Error>& error() const { return m_error; }

  /// Bytes of file data received so far, and the announced total (0 before the header).
  std::uint32_t bytesReceived() const { return m_bytesReceived; }
  std::uint32_t projectSize() const { return m_header.totalFileSize; }

  /// The finished project; InvalidArgument before complete(). Moves the files out, once.
  Result<ReceivedProject> takeProject();

 private:
  enum class Stage { ProjectHeader, FileHeader, FileData, EndOfProject, Complete };

  Status handle(const PacketView& packet);
  Status handleProjectHeader(std::span<const std::uint8_t> payload);
  Status handleFileHeader(std::span<const std::uint8_t> payload);
  Status handleChunk(std::span<const std::uint8_t> payload);
  Status handleEndOfFile();
  Status fail(Error error);
  void sendPendingAcks();

  TransferLink& m_link;
  TransferTimer& m_timer;
  std::uint32_t m_maxProjectBytes;
  Stage m_stage = Stage::ProjectHeader;
  std::uint32_t m_expectedNumber = 0;  // next packet number from the sender
  std::uint32_t m_ackNumber = 0;       // our own packet numbering
  ProjectHeader m_header;
  std::uint8_t m_nextView = kLeftView;
  std::uint32_t m_fileSize = 0;        // announced size of the file being received
  std::uint32_t m_announcedBytes = 0;  // sum of the file headers so far
  std::uint32_t m_bytesReceived = 0;
  ReceivedProject m_project;
  std::deque<std::vector<std::uint8_t>> m_pendingAcks;  // refused by the link, to retry
  bool m_taken = false;
  std::optional<Error> m_error;
};

}  // namespace duo::transfer
