// duoscope-receiver: stores the stereo projects other devices send over the local network.
#include <QCoreApplication>
#include <QHostInfo>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

#include "peer_session.h"
#include "received_project_store.h"
#include "receiver_options.h"
#include "receiving_service.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
// With --once: how long the sender may take to hear the last answer and hang up before the
// program ends anyway.
constexpr int kOnceGraceMs = 3000;

int g_signalPipe[2] = {-1, -1};

void onSignal(int) {
  const char byte = 1;
  // Nothing else is safe in a signal handler; the event loop reads the byte.
  [[maybe_unused]] const auto n = ::write(g_signalPipe[1], &byte, 1);
}

void say(const QString& line) {
  std::fprintf(stderr, "duoscope-receiver: %s\n", qPrintable(line));
  std::fflush(stderr);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("duoscope"));
  QStringList arguments = QCoreApplication::arguments();
  arguments.removeFirst();
  auto options = duo::ReceiverOptions::parse(arguments);
  if (!options) {
    std::fprintf(stderr, "duoscope-receiver: %s\nTry 'duoscope-receiver --help'.\n",
                 options.error().message.c_str());
    return kExitUsage;
  }
  if (options->help) {
    std::fputs(qPrintable(duo::ReceiverOptions::usageText()), stdout);
    return kExitOk;
  }
  if (options->version) {
    std::printf("duoscope-receiver %s\n", DUOSCOPE_VERSION);
    return kExitOk;
  }

  QString output = options->outputFolder;
  if (output.isEmpty()) {
    const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (pictures.isEmpty()) {
      say(QStringLiteral("no Pictures folder is known; name one with --output"));
      return kExitFailure;
    }
    output = pictures + QStringLiteral("/Duoscope Received");
  }
  duo::ReceivedProjectStore store(output);
  if (auto prepared = store.prepare(); !prepared) {
    say(QString::fromStdString(prepared.error().message));
    return kExitFailure;
  }

  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0) {
    say(QStringLiteral("cannot set up signal handling"));
    return kExitFailure;
  }
  struct sigaction action = {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  int status = kExitOk;
  bool stored = false;
  QSocketNotifier signalNotifier(g_signalPipe[0], QSocketNotifier::Read);
  QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, [&] {
    char byte = 0;
    [[maybe_unused]] const auto n = ::read(g_signalPipe[0], &byte, 1);
    say(QStringLiteral("stopping"));
    if (options->once && !stored) status = kExitFailure;
    QCoreApplication::quit();
  });

  const QString name = options->name.isEmpty() ? QHostInfo::localHostName() : options->name;
  duo::PeerSession session(QStringLiteral("Duoscope"), name, duo::PeerSession::Mode::Server);
  session.setListenPort(options->port);
  session.setUsesServiceDiscovery(options->discovery);
  duo::ReceivingService service(session, store, options->maxProjectBytes);
  QObject::connect(&service, &duo::ReceivingService::message, &app, &say);
  QObject::connect(&service, &duo::ReceivingService::sessionFailed, &app, [&](const QString&) {
    // Listening worked, so it was the announcement that failed: say how to do without it.
    if (options->discovery && session.serverPort() != 0)
      say(QStringLiteral("senders cannot find this computer without the Avahi daemon: start it, or "
                         "run with --no-discovery --port %1 and send with duoscope --peer HOST:%1")
              .arg(options->port ? options->port : 5050));
    status = kExitFailure;
    QCoreApplication::quit();
  });
  QTimer graceTimer;
  graceTimer.setSingleShot(true);
  QObject::connect(&graceTimer, &QTimer::timeout, &app, &QCoreApplication::quit);
  if (options->once) {
    QObject::connect(&service, &duo::ReceivingService::projectStored, &app, [&] {
      stored = true;
      graceTimer.start(kOnceGraceMs);
    });
    QObject::connect(&service, &duo::ReceivingService::senderLeft, &app, [&] {
      if (stored) QCoreApplication::quit();
    });
  }

  session.setAvailable(true);
  if (session.serverPort() == 0) {
    say(QStringLiteral("cannot listen on port %1").arg(options->port));
    return kExitFailure;
  }
  say(QStringLiteral("listening on port %1 as \"%2\"%3")
          .arg(session.serverPort())
          .arg(name, options->discovery ? QString() : QStringLiteral(" (no DNS-SD)")));
  say(QStringLiteral("storing projects in %1").arg(output));
  const int loop = app.exec();
  return status != kExitOk ? status : loop;
}
