#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <span>
#include <vector>

#include "core/result.h"
#include "transfer/packet.h"
#include "transfer/transfer_link.h"
#include "transfer/transfer_timer.h"

namespace duo::transfer {

/// Sends one project (left JPEG, right JPEG, alignment offsets) stop-and-wait: one packet, then
/// nothing until the peer acknowledges it. Everything runs on the caller's event loop; the
/// object must outlive any timer callback it armed (its destructor cancels the timer).
class TransferSender {
 public:
  /// What the next acknowledgement makes the sender do.
  enum class State : std::int32_t {
    Created = 0,        ///< nothing
    Starting = 1,       ///< nothing (passed within start())
    NextFile = 2,       ///< open the next file and send its header
    NextChunk = 3,      ///< send the next chunk, or end of file when the file is exhausted
    FileExhausted = 4,  ///< send end of file (passed within one step)
    EndProject = 5,     ///< send end of project
    Finishing = 6,      ///< the project is complete
  };

  struct Callbacks {
    std::function<void(double fraction)> progress;  ///< totalBytesSent / projectSize, 0 to 1
    std::function<void()> completed;
    std::function<void(const Error&)> failed;
  };

  static constexpr double kNudgeSeconds = 5.0;
  static constexpr double kRetrySeconds = 0.25;

  TransferSender(TransferLink& link, TransferTimer& timer, std::filesystem::path leftFile,
                 std::filesystem::path rightFile, Callbacks callbacks = {});
  ~TransferSender();
  TransferSender(const TransferSender&) = delete;
  TransferSender& operator=(const TransferSender&) = delete;

  /// Alignment offsets sent in the project header; set before start().
  void setOffsets(std::int32_t x, std::int32_t y);

  /// Sends the project header. Io when a file's size cannot be read, TooLarge when the two
  /// files together do not fit 32 bits, InvalidArgument when already started; nothing is sent
  /// then.
  Status start();

  /// The session's data handler. Only a well-formed acknowledgement moves the transfer on;
  /// anything else (shorter than 8 bytes, other ids) is ignored.
  void receive(std::span<const std::uint8_t> bytes);

  /// Cancels: no more nudges, retries or packets. Safe to call at any time.
  void stop();

  State state() const { return m_state; }
  std::uint32_t packetNumber() const { return m_packetNumber; }
  std::uint8_t viewCount() const { return m_viewCount; }
  std::uint32_t totalBytesSent() const { return m_totalBytesSent; }
  std::uint32_t projectSize() const { return m_projectSize; }
  bool succeeded() const { return m_succeeded; }
  bool stopped() const { return m_stopped; }

 private:
  void sendPacket(PacketId id, std::span<const std::uint8_t> payload = {});
  void trySendPending();
  void sendAck();
  void onTimeout();
  void sendProject();
  void openFile();
  void sendNextFileChunk();
  void closeFile();
  void endProject();
  void fail(Error error);

  TransferLink& m_link;
  TransferTimer& m_timer;
  std::filesystem::path m_files[2];
  Callbacks m_callbacks;

  State m_state = State::Created;
  std::uint32_t m_packetNumber = 0;
  std::uint8_t m_viewCount = 0;
  std::uint32_t m_totalBytesSent = 0;
  std::uint32_t m_projectSize = 0;
  std::int32_t m_offsetX = 0;
  std::int32_t m_offsetY = 0;
  std::ifstream m_inFile;
  std::uint32_t m_fileSize = 0;         // announced size of the open file
  std::uint32_t m_fileBytesRead = 0;    // bytes of it sent so far
  std::vector<std::uint8_t> m_pending;  // a packet the link refused, waiting for its retry
  bool m_succeeded = false;
  bool m_stopped = false;
};

}  // namespace duo::transfer
