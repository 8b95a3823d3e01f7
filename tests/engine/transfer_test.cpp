#include "transfer/packet.h"
#include "transfer/transfer_receiver.h"
#include "transfer/transfer_sender.h"

#include <gtest/gtest.h>

#include <memory>

#include "test_support.h"

namespace duo::transfer {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Wire bytes built from the layout, independently of the codec.
void put32(Bytes& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
Bytes wire(std::uint32_t number, std::uint32_t id, const Bytes& payload = {}) {
  Bytes out;
  put32(out, number);
  put32(out, id);
  out.insert(out.end(), payload.begin(), payload.end());
  return out;
}
Bytes projectPayload(std::uint32_t total, std::int32_t x, std::int32_t y) {
  Bytes p;
  put32(p, total);
  put32(p, static_cast<std::uint32_t>(x));
  put32(p, static_cast<std::uint32_t>(y));
  return p;
}
Bytes fileHeaderPayload(std::uint32_t size, std::uint8_t view) {
  Bytes p;
  put32(p, size);
  p.insert(p.end(), {view, 0, 0, 0});
  return p;
}
Bytes chunkPayload(const Bytes& file, std::size_t from, std::uint32_t length) {
  Bytes p;
  put32(p, length);
  p.insert(p.end(), file.begin() + from, file.begin() + from + length);
  p.resize(8196, 0);
  return p;
}
Bytes pattern(std::size_t n, unsigned seed) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>((i * seed + i / 251) % 256);
  return b;
}

struct ManualTimer : TransferTimer {
  double seconds = -1;
  std::function<void()> callback;
  void start(double s, std::function<void()> cb) override {
    seconds = s;
    callback = std::move(cb);
  }
  void cancel() override {
    seconds = -1;
    callback = nullptr;
  }
  void fire() {
    auto cb = std::move(callback);
    cancel();
    cb();
  }
};

struct RecordingLink : TransferLink {
  std::vector<Bytes> sent;
  int refusals = 0;
  bool send(std::span<const std::uint8_t> p) override {
    if (refusals > 0) return --refusals, false;
    sent.emplace_back(p.begin(), p.end());
    return true;
  }
};

struct Exchange {
  test::TempDir dir;
  Bytes left, right;
  RecordingLink toReceiver, toSender;
  ManualTimer timer, receiverTimer;
  TransferReceiver receiver{toSender, receiverTimer};
  std::unique_ptr<TransferSender> sender;
  std::vector<double> progress;
  int completions = 0;
  std::optional<Error> failure;

  Exchange(std::size_t leftSize, std::size_t rightSize)
      : left(pattern(leftSize, 7)), right(pattern(rightSize, 13)) {
    test::writeBytes(dir / "TransferLeft.jpg", left);
    test::writeBytes(dir / "TransferRight.jpg", right);
    TransferSender::Callbacks callbacks{[this](double f) { progress.push_back(f); },
                                        [this] { ++completions; },
                                        [this](const Error& e) { failure = e; }};
    sender = std::make_unique<TransferSender>(toReceiver, timer, dir / "TransferLeft.jpg",
                                              dir / "TransferRight.jpg", callbacks);
  }
  // Delivers packets both ways until both sides fall silent.
  void run() {
    std::size_t r = 0, s = 0;
    while (r < toReceiver.sent.size() || s < toSender.sent.size()) {
      while (r < toReceiver.sent.size()) {
        auto status = receiver.receive(toReceiver.sent[r++]);
        EXPECT_TRUE(status.ok()) << "packet " << r - 1 << ": " << status.error().message;
      }
      while (s < toSender.sent.size()) sender->receive(toSender.sent[s++]);
    }
  }
  std::vector<std::uint32_t> sentIds() const {
    std::vector<std::uint32_t> ids;
    for (const auto& p : toReceiver.sent) ids.push_back(p.at(4));
    return ids;
  }
};

TEST(TransferExchange, TwoFilesTravelPacketByPacketAsLaidOutAndArriveWhole) {
  Exchange ex(20000, 8000);
  ex.sender->setOffsets(-7, 12);
  ASSERT_TRUE(ex.sender->start().ok());
  ex.run();

  const auto& sent = ex.toReceiver.sent;
  ASSERT_EQ(ex.sentIds(), (std::vector<std::uint32_t>{1, 2, 3, 3, 3, 4, 2, 3, 4, 5}));
  for (std::uint32_t n = 0; n < sent.size(); ++n) EXPECT_EQ(sent[n].at(0), n);
  EXPECT_EQ(sent[0], wire(0, 1, projectPayload(28000, -7, 12)));
  EXPECT_EQ(sent[1], wire(1, 2, fileHeaderPayload(20000, 0)));
  EXPECT_EQ(sent[2], wire(2, 3, chunkPayload(ex.left, 0, 8192)));
  EXPECT_EQ(sent[3], wire(3, 3, chunkPayload(ex.left, 8192, 8192)));
  // Bytes past the valid length carry no meaning; compare only the prefix that does.
  Bytes lastLeft = wire(4, 3, chunkPayload(ex.left, 16384, 3616));
  EXPECT_EQ(Bytes(sent[4].begin(), sent[4].begin() + 12 + 3616),
            Bytes(lastLeft.begin(), lastLeft.begin() + 12 + 3616));
  EXPECT_EQ(sent[5], wire(5, 4));
  EXPECT_EQ(sent[6], wire(6, 2, fileHeaderPayload(8000, 1)));
  EXPECT_EQ(sent[7].size(), 8204u);
  EXPECT_EQ(sent[8], wire(8, 4));
  EXPECT_EQ(sent[9], wire(9, 5));

  ASSERT_EQ(ex.toSender.sent.size(), 10u);  // one acknowledgement per packet
  for (std::uint32_t n = 0; n < 10; ++n) EXPECT_EQ(ex.toSender.sent[n], wire(n, 0));

  EXPECT_EQ(ex.completions, 1);
  EXPECT_TRUE(ex.sender->succeeded());
  EXPECT_EQ(ex.sender->state(), TransferSender::State::Finishing);
  EXPECT_EQ(ex.sender->viewCount(), 2);
  EXPECT_FALSE(ex.timer.callback);  // no nudge after success
  EXPECT_EQ(ex.sender->totalBytesSent(), 28000u);
  EXPECT_EQ(ex.progress.back(), 1.0);
  auto project = ex.receiver.takeProject();
  ASSERT_TRUE(project.ok());
  EXPECT_EQ(project->left, ex.left);
  EXPECT_EQ(project->right, ex.right);
  EXPECT_EQ(project->offsetX, -7);
  EXPECT_EQ(project->offsetY, 12);
}

TEST(TransferExchange, FilesAtChunkBoundariesAndEmptyFilesSendNoEmptyChunk) {
  struct Row {
    std::size_t left, right;
    std::vector<std::uint32_t> ids;
  };
  for (const Row& row : {Row{8192, 0, {1, 2, 3, 4, 2, 4, 5}}, Row{0, 1, {1, 2, 4, 2, 3, 4, 5}},
                         Row{8193, 16384, {1, 2, 3, 3, 4, 2, 3, 3, 4, 5}}}) {
    Exchange ex(row.left, row.right);
    ASSERT_TRUE(ex.sender->start().ok());
    ex.run();
    EXPECT_EQ(ex.sentIds(), row.ids) << row.left << "+" << row.right;
    for (const auto& p : ex.toReceiver.sent) EXPECT_EQ(p.size(), p[4] == 3 ? 8204u : p.size());
    auto project = ex.receiver.takeProject();
    ASSERT_TRUE(project.ok()) << row.left << "+" << row.right;
    EXPECT_EQ(project->left, ex.left);
    EXPECT_EQ(project->right, ex.right);
    EXPECT_EQ(ex.completions, 1);
  }
}

TEST(TransferSender, AcknowledgementBeforeOrDuringStartChangesNothing) {
  Exchange ex(10, 10);
  ex.sender->receive(wire(0, 0));  // state 0
  EXPECT_TRUE(ex.toReceiver.sent.empty());
  EXPECT_EQ(ex.sender->packetNumber(), 0u);
  EXPECT_FALSE(ex.timer.callback);

  // An answer arriving while start() is still sending the header (state 1) is not taken.
  struct EagerLink : RecordingLink {
    TransferSender* sender = nullptr;
    bool send(std::span<const std::uint8_t> p) override {
      RecordingLink::send(p);
      sender->receive(wire(0, 0));
      return true;
    }
  } eager;
  TransferSender sender(eager, ex.timer, ex.dir / "TransferLeft.jpg", ex.dir / "TransferRight.jpg");
  eager.sender = &sender;
  ASSERT_TRUE(sender.start().ok());
  EXPECT_EQ(eager.sent.size(), 1u);
  EXPECT_EQ(sender.state(), TransferSender::State::NextFile);
}

TEST(TransferSender, SilenceIsNudgedEveryFiveSecondsAndShortPacketsAreIgnored) {
  Exchange ex(100, 100);
  ASSERT_TRUE(ex.sender->start().ok());
  for (std::uint32_t n = 1; n <= 2; ++n) {
    ASSERT_EQ(ex.timer.seconds, 5.0);
    ex.timer.fire();
    EXPECT_EQ(ex.toReceiver.sent.back(), wire(n, 0));
  }
  for (std::size_t size = 0; size < 8; ++size) ex.sender->receive(Bytes(size, 0));
  ex.sender->receive(wire(0, 2, fileHeaderPayload(1, 0)));  // not an acknowledgement
  EXPECT_EQ(ex.toReceiver.sent.size(), 3u);
  EXPECT_EQ(ex.sender->state(), TransferSender::State::NextFile);
  ex.sender->receive(wire(0, 0));
  EXPECT_EQ(ex.toReceiver.sent.back(), wire(3, 2, fileHeaderPayload(100, 0)));
  EXPECT_EQ(ex.timer.seconds, 5.0);
}

TEST(TransferSender, RefusedSendIsRetriedEveryQuarterSecondUntilStopped) {
  Exchange ex(100, 100);
  ex.toReceiver.refusals = 2;
  ASSERT_TRUE(ex.sender->start().ok());
  for (int i = 0; i < 2; ++i) {
    EXPECT_TRUE(ex.toReceiver.sent.empty());
    ASSERT_EQ(ex.timer.seconds, 0.25);
    ex.sender->receive(wire(0, 0));  // cannot answer a packet not yet sent
    ex.timer.fire();
  }
  ASSERT_EQ(ex.toReceiver.sent.size(), 1u);
  EXPECT_EQ(ex.toReceiver.sent[0], wire(0, 1, projectPayload(200, 0, 0)));
  EXPECT_EQ(ex.timer.seconds, 5.0);

  ex.toReceiver.refusals = 1;
  ex.sender->receive(wire(0, 0));
  EXPECT_EQ(ex.timer.seconds, 0.25);
  ex.sender->stop();
  EXPECT_FALSE(ex.timer.callback);
  ex.sender->receive(wire(1, 0));
  EXPECT_EQ(ex.toReceiver.sent.size(), 1u);
}

TEST(TransferSender, MissingFileFailsClearlyAndSendsNothing) {
  Exchange ex(100, 100);
  std::filesystem::remove(ex.dir / "TransferRight.jpg");
  EXPECT_EQ(ex.sender->start().error().code, ErrorCode::Io);
  EXPECT_TRUE(ex.toReceiver.sent.empty());

  Exchange late(100, 100);
  ASSERT_TRUE(late.sender->start().ok());
  std::filesystem::remove(late.dir / "TransferLeft.jpg");
  late.run();
  ASSERT_TRUE(late.failure.has_value());
  EXPECT_EQ(late.failure->code, ErrorCode::Io);
  EXPECT_EQ(late.sender->state(), TransferSender::State::NextFile);
  EXPECT_EQ(late.toReceiver.sent.size(), 1u);
  EXPECT_FALSE(late.timer.callback);
}

TEST(TransferPacket, LengthsAreCheckedAgainstTheId) {
  for (std::size_t size = 0; size < 8; ++size) {
    EXPECT_EQ(parsePacket(Bytes(size, 0)).error().code, ErrorCode::Truncated) << size;
  }
  struct Row {
    std::uint32_t id;
    std::size_t payload;
    bool ok;
  };
  for (const Row& row : {Row{0, 0, true}, Row{0, 1, false}, Row{1, 12, true}, Row{1, 11, false},
                         Row{2, 8, true}, Row{2, 9, false}, Row{3, 8195, false}, Row{4, 4, false},
                         Row{5, 0, true}, Row{6, 0, false}}) {
    Bytes payload(row.payload, 0);
    if (row.id == 2 && row.payload == 8) payload.assign({1, 0, 0, 0, 1, 9, 9, 9});
    EXPECT_EQ(parsePacket(wire(1, row.id, payload)).ok(), row.ok) << row.id << "/" << row.payload;
  }
  EXPECT_EQ(parsePacket(Bytes(20001, 0)).error().code, ErrorCode::TooLarge);
  EXPECT_EQ(encodePacket(0, PacketId::FileChunk, Bytes(19993)).error().code, ErrorCode::TooLarge);
  EXPECT_FALSE(decodeFileHeader(fileHeaderPayload(1, 2)).ok());
  Bytes chunk = chunkPayload(Bytes(8192), 0, 8192);
  chunk[0] = 1;  // length 8193
  EXPECT_FALSE(decodeFileChunk(chunk).ok());
}

// A valid stream for files of 9000 and 10 bytes, built from the layout.
std::vector<Bytes> validStream(const Bytes& left, const Bytes& right) {
  std::vector<Bytes> s = {wire(0, 1, projectPayload(9010, 3, 4)),
                          wire(1, 2, fileHeaderPayload(9000, 0)),
                          wire(2, 3, chunkPayload(left, 0, 8192)),
                          wire(3, 3, chunkPayload(left, 8192, 808)),
                          wire(4, 4),
                          wire(5, 2, fileHeaderPayload(10, 1)),
                          wire(6, 3, chunkPayload(right, 0, 10)),
                          wire(7, 4),
                          wire(8, 5)};
  return s;
}

TEST(TransferReceiver, LiesGarbageAndBreaksFailTheTransferWithoutAcknowledgement) {
  const Bytes left = pattern(9000, 3), right = pattern(10, 5);
  struct Row {
    const char* what;
    std::function<void(std::vector<Bytes>&)> tamper;
    std::size_t failsAt;
    ErrorCode code;
    std::uint32_t limit = TransferReceiver::kDefaultMaxProjectBytes;
  };
  const Row rows[] = {
      {"total size lie", [](auto& s) { s[0] = wire(0, 1, projectPayload(9011, 3, 4)); }, 5,
       ErrorCode::Corrupt},
      {"file size lie", [](auto& s) { s[1] = wire(1, 2, fileHeaderPayload(9001, 0)); }, 4,
       ErrorCode::Truncated},
      {"file overruns", [](auto& s) { s[1] = wire(1, 2, fileHeaderPayload(8999, 0)); }, 3,
       ErrorCode::Corrupt},
      {"left view twice", [](auto& s) { s[5] = wire(5, 2, fileHeaderPayload(10, 0)); }, 5,
       ErrorCode::Corrupt},
      {"chunk before header",
       [](auto& s) {
         std::swap(s[1], s[2]);
         s[1][0] = 1;
         s[2][0] = 2;
       },
       1, ErrorCode::Corrupt},
      {"packet number skipped", [](auto& s) { s[3][0] = 4; }, 3, ErrorCode::Corrupt},
      {"early end of project", [](auto& s) { s[5] = wire(5, 5); }, 5, ErrorCode::Corrupt},
      {"unknown id", [](auto& s) { s[2] = wire(2, 7); }, 2, ErrorCode::Unsupported},
      {"over the limit", [](auto&) {}, 0, ErrorCode::TooLarge, 9009},
  };
  for (const Row& row : rows) {
    auto stream = validStream(left, right);
    row.tamper(stream);
    RecordingLink acks;
    ManualTimer timer;
    TransferReceiver receiver(acks, timer, row.limit);
    std::size_t i = 0;
    while (i < stream.size() && receiver.receive(stream[i]).ok()) ++i;
    EXPECT_EQ(i, row.failsAt) << row.what;
    ASSERT_TRUE(receiver.failed()) << row.what;
    EXPECT_EQ(receiver.error()->code, row.code) << row.what << ": " << receiver.error()->message;
    EXPECT_EQ(acks.sent.size(), row.failsAt) << row.what;
    EXPECT_FALSE(receiver.receive(wire(0, 1, projectPayload(1, 0, 0))).ok()) << row.what;
    EXPECT_FALSE(receiver.takeProject().ok()) << row.what;
  }

  // The untampered stream, with a nudge and short packets mixed in, still arrives whole.
  auto stream = validStream(left, right);
  stream.insert(stream.begin() + 2, wire(2, 0));
  for (std::size_t n = 3; n < stream.size(); ++n) stream[n][0] = static_cast<std::uint8_t>(n);
  RecordingLink acks;
  ManualTimer timer;
  TransferReceiver receiver(acks, timer);
  for (const auto& p : stream) {
    EXPECT_EQ(receiver.receive(Bytes(5, 0)).error().code, ErrorCode::Truncated);
    acks.refusals = p == stream[4] ? 1 : 0;
    EXPECT_TRUE(receiver.receive(p).ok());
    if (p == stream[4]) {  // a refused acknowledgement waits for its retry
      EXPECT_EQ(acks.sent.size(), 3u);
      ASSERT_EQ(timer.seconds, 0.25);
      timer.fire();
      EXPECT_EQ(acks.sent.back(), wire(3, 0));
    }
  }
  EXPECT_EQ(acks.sent.size(), 9u);  // the nudge is not answered
  // A stray packet after the end is refused but costs the finished project nothing.
  EXPECT_EQ(receiver.receive(wire(11, 4)).error().code, ErrorCode::Corrupt);
  EXPECT_EQ(acks.sent.size(), 9u);
  auto project = receiver.takeProject();
  ASSERT_TRUE(project.ok());
  EXPECT_EQ(project->left, left);
  EXPECT_EQ(project->right, right);
}

}  // namespace
}  // namespace duo::transfer
