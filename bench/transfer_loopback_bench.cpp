// Sends a project of two 5 MB files over loopback TCP: a client session with the transfer's
// sender against a server session with its receiver, in one process, stop-and-wait as the wire
// protocol requires (one 8 KiB chunk per round trip). Reports the time from the project header
// to the last acknowledgement and the throughput.
//
//   build-bench/bench/transfer_loopback_bench [--runs N] [--megabytes M]
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <random>
#include <vector>

#include "bench_support.h"
#include "peer_session.h"
#include "peer_transfer_link.h"
#include "qt_transfer_timer.h"
#include "transfer/transfer_receiver.h"
#include "transfer/transfer_sender.h"

using namespace duo;

namespace {

struct Side : PeerSessionDelegate, PeerDataHandler {
  explicit Side(PeerSession::Mode mode) : session("Duoscope", "Bench", mode) {
    session.setDelegate(this);
    session.setDataReceiveHandler(this);
    session.setUsesServiceDiscovery(false);
  }
  void sessionPeerDidChangeState(PeerSession* s, const QString& id, int state) override {
    if (state == PeerSession::PeerStateAvailable) s->connectToPeer(id, 10.0);
    if (state == PeerSession::PeerStateConnected) connectedPeer = id;
  }
  void sessionDidReceiveConnectionRequestFromPeer(PeerSession* s, const QString& id) override {
    s->acceptConnectionFromPeer(id);
  }
  void sessionConnectionWithPeerFailed(PeerSession*, const QString&, const QString& e) override {
    std::fprintf(stderr, "connection failed: %s\n", qUtf8Printable(e));
    std::exit(1);
  }
  void sessionDidFailWithError(PeerSession*, const QString&) override {}
  void receiveDataFromPeer(const QByteArray& data, const QString&, PeerSession*) override {
    const std::span bytes(reinterpret_cast<const std::uint8_t*>(data.constData()), size_t(data.size()));
    if (sender) sender->receive(bytes);
    if (receiver) (void)receiver->receive(bytes);
  }

  PeerSession session;
  QString connectedPeer;
  QtTransferTimer timer;
  std::unique_ptr<PeerTransferLink> link;
  std::unique_ptr<transfer::TransferSender> sender;
  std::unique_ptr<transfer::TransferReceiver> receiver;
};

bool writeRandomFile(const QString& path, qint64 bytes, unsigned seed) {
  std::mt19937 random(seed);
  QByteArray data(bytes, Qt::Uninitialized);
  for (char& c : data) c = char(random());
  QFile file(path);
  return file.open(QIODevice::WriteOnly) && file.write(data) == bytes;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  int runs = 5;
  qint64 megabytes = 5;
  for (int i = 1; i + 1 < argc; ++i) {
    if (QByteArray(argv[i]) == "--runs") runs = std::max(1, QByteArray(argv[i + 1]).toInt());
    if (QByteArray(argv[i]) == "--megabytes") megabytes = std::max(1, QByteArray(argv[i + 1]).toInt());
  }
  QTemporaryDir dir;
  const QString left = dir.filePath("left.jpg"), right = dir.filePath("right.jpg");
  const qint64 fileBytes = megabytes * 1000 * 1000;
  if (!writeRandomFile(left, fileBytes, 1) || !writeRandomFile(right, fileBytes, 2)) return 1;

  std::vector<double> seconds;
  for (int run = 0; run < runs; ++run) {
    Side server(PeerSession::Mode::Server), client(PeerSession::Mode::Client);
    server.session.setAvailable(true);
    client.session.addDirectPeer(QStringLiteral("127.0.0.1:%1").arg(server.session.serverPort()));
    client.session.setAvailable(true);
    bench::spinUntil([&] { return !client.connectedPeer.isEmpty() && !server.connectedPeer.isEmpty(); });

    server.link = std::make_unique<PeerTransferLink>(server.session, server.connectedPeer);
    server.receiver = std::make_unique<transfer::TransferReceiver>(*server.link, server.timer);
    client.link = std::make_unique<PeerTransferLink>(client.session, client.connectedPeer);
    bool done = false;
    client.sender = std::make_unique<transfer::TransferSender>(
        *client.link, client.timer, left.toStdString(), right.toStdString(),
        transfer::TransferSender::Callbacks{nullptr, [&] { done = true; }, nullptr});
    QElapsedTimer clock;
    clock.start();
    if (!client.sender->start()) return 1;
    bench::spinUntil([&] { return done; });
    const double elapsed = clock.nsecsElapsed() / 1e9;
    if (!done || !server.receiver->complete()) {
      std::fprintf(stderr, "run %d: the project did not arrive\n", run);
      return 1;
    }
    seconds.push_back(elapsed);
  }
  std::sort(seconds.begin(), seconds.end());
  const double median = seconds[seconds.size() / 2];
  const double total = 2.0 * double(fileBytes);
  std::printf("transfer_loopback_bench: 2 x %lld bytes, %d runs: median %.3f s (min %.3f, max %.3f), "
              "%.1f MB/s, %.0f round trips/s\n",
              static_cast<long long>(fileBytes), runs, median, seconds.front(), seconds.back(),
              total / median / 1e6, (total / 8192.0 + 8) / median);
  return 0;
}
