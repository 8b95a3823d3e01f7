// A sender as a faulty program or an attacker on the network may behave: the input is a run of
// messages, each a 2-byte little-endian length and that many bytes. Whatever arrives, the
// receiver answers only with acknowledgements, never holds more than its limit, and a project
// it calls complete is whole: two files that fill exactly the size its header announced.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "fuzz_support.h"
#include "transfer/packet.h"
#include "transfer/transfer_receiver.h"

namespace {

constexpr std::uint32_t kLimit = 256 * 1024;

struct RecordingLink : duo::transfer::TransferLink {
  std::vector<std::vector<std::uint8_t>> sent;
  bool send(std::span<const std::uint8_t> packet) override {
    sent.emplace_back(packet.begin(), packet.end());
    return true;
  }
};

struct NoTimer : duo::transfer::TransferTimer {
  void start(double, std::function<void()>) override {}
  void cancel() override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  RecordingLink link;
  NoTimer timer;
  duo::transfer::TransferReceiver receiver(link, timer, kLimit);
  std::size_t at = 0;
  while (at + 2 <= size) {
    const std::size_t length = std::size_t(data[at]) | std::size_t(data[at + 1]) << 8;
    at += 2;
    const std::size_t take = length < size - at ? length : size - at;
    (void)receiver.receive(std::span<const std::uint8_t>(data + at, take));
    at += take;
    FUZZ_CHECK(receiver.bytesReceived() <= kLimit);
  }
  for (const auto& packet : link.sent) {
    const auto parsed = duo::transfer::parsePacket(packet);
    FUZZ_CHECK(parsed && parsed->id == duo::transfer::PacketId::Acknowledgement);
  }
  if (receiver.complete()) {
    const std::uint32_t announced = receiver.projectSize();
    auto project = receiver.takeProject();
    FUZZ_CHECK(project);
    FUZZ_CHECK(project->left.size() + project->right.size() == announced);
  }
  return 0;
}
