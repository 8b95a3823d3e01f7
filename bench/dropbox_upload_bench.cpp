// Memory held while the Dropbox client uploads a 20 MB file to a fake Dropbox on loopback, in
// one process. The client writes the data to its working file and streams the request body
// from there, so the peak resident memory during the upload should grow by far less than the
// file itself; a second copy of the data would show as about 1.0 × the file size.
//
//   build-bench/bench/dropbox_upload_bench [--megabytes M]
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QNetworkAccessManager>
#include <QTemporaryDir>

#include <cstdio>
#include <cstring>

#include "bench_support.h"
#include "dropbox_session.h"
#include "fake_http_server.h"
#include "qs_dropbox.h"
#include "settings_store.h"
#include "token_store.h"

using namespace duo;

namespace {

/// A line of /proc/self/status in kilobytes ("VmRSS", "VmHWM").
long statusKilobytes(const char* field) {
  QFile status(QStringLiteral("/proc/self/status"));
  if (!status.open(QIODevice::ReadOnly)) return -1;
  for (const QByteArray& line : status.readAll().split('\n'))
    if (line.startsWith(field))
      return line.mid(int(std::strlen(field)) + 1).trimmed().split(' ').value(0).toLong();
  return -1;
}

/// Starts a new peak: the kernel sets VmHWM back to the current resident size.
bool resetPeak() {
  QFile clear(QStringLiteral("/proc/self/clear_refs"));
  return clear.open(QIODevice::WriteOnly) && clear.write("5") == 1;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  int megabytes = 20;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], "--megabytes") == 0) megabytes = std::atoi(argv[i + 1]);

  QTemporaryDir folder;
  test::FakeHttpServer server;
  server.setBodyRecordLimit(0);  // count the body, keep none of it
  server.listen();
  server.setHandler("/2/files/upload", [](const test::RecordedRequest&) {
    return test::ScriptedResponse::json(200, R"({"name": "bench.jpg"})");
  });
  SettingsStore settings(folder.filePath("settings.json"));
  settings.setObject(QStringLiteral("bench-token"), DropboxSession::kAccessTokenKey);
  TokenStore tokens(settings, TokenStore::Backend::FileOnly);
  QNetworkAccessManager network;
  DropboxConfig config;
  config.appKey = QStringLiteral("benchkey");
  config.apiUrl = config.contentUrl = config.authUrl = server.url();
  auto* session = new DropboxSession(config, &tokens, &network);
  QSDropbox dropbox(session, folder.filePath("cache/Dropbox"));
  bench::spinUntil([session] { return session->isReady(); });

  // Warm up Qt's HTTP machinery with a small upload, so that its one-time allocations do not
  // count against the big one.
  int result = -1;
  dropbox.uploadImageData(QByteArray(4096, 'w'), "jpg", {}, "warm", {},
                          [&result](int r) { result = r; });
  bench::spinUntil([&result] { return result >= 0; });

  QByteArray data(qsizetype(megabytes) << 20, '\0');
  for (qsizetype i = 0; i < data.size(); i += 4096) data[i] = char(i / 4096);  // touch every page
  const long before = statusKilobytes("VmRSS:");
  const bool peakReset = resetPeak();

  result = -1;
  QElapsedTimer timer;
  timer.start();
  dropbox.uploadImageData(data, "jpg", {}, "bench", {}, [&result](int r) { result = r; });
  bench::spinUntil([&result] { return result >= 0; });
  const double seconds = double(timer.nsecsElapsed()) / 1e9;
  const long peak = statusKilobytes("VmHWM:");

  const qint64 received = server.requests().isEmpty() ? 0 : server.requests().last().bodyBytes;
  std::printf("upload of %d MB: result %d, %lld bytes received, %.3f s\n", megabytes, result,
              static_cast<long long>(received), seconds);
  if (!peakReset) std::printf("(could not reset the peak; the figure includes earlier peaks)\n");
  const double extraMb = double(peak - before) / 1024.0;
  std::printf("resident before %.1f MB (data included), peak during upload %.1f MB\n",
              double(before) / 1024.0, double(peak) / 1024.0);
  std::printf("extra memory while uploading: %.1f MB = %.2f x the file size\n", extraMb,
              extraMb / double(megabytes));
  return result == 0 && received == data.size() ? 0 : 1;
}
