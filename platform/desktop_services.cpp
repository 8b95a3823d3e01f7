#include "desktop_services.h"

#include <QHash>
#include <QProcess>
#include <QStandardPaths>

namespace duo {

namespace {

// Long enough for the shell script behind xdg-mime on a cold start, short enough that a hung
// desktop query never stalls the screen that asked.
constexpr int kQueryTimeoutMs = 2000;

std::optional<bool> g_canSendMailOverride;

bool askDesktopForSchemeHandler(const QString& scheme) {
  const QString program = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
  if (program.isEmpty()) return false;
  QProcess process;
  process.setProcessChannelMode(QProcess::SeparateChannels);
  process.setStandardInputFile(QProcess::nullDevice());
  process.start(program, {QStringLiteral("query"), QStringLiteral("default"),
                          QStringLiteral("x-scheme-handler/") + scheme});
  if (!process.waitForStarted(kQueryTimeoutMs)) return false;
  if (!process.waitForFinished(kQueryTimeoutMs)) {
    process.kill();
    process.waitForFinished(kQueryTimeoutMs);
    return false;
  }
  if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) return false;
  // The answer is the handler's .desktop file name; nothing printed means no handler.
  return !process.readAllStandardOutput().trimmed().isEmpty();
}

}  // namespace

bool desktopHasSchemeHandler(const QString& scheme) {
  static QHash<QString, bool> answers;
  if (auto it = answers.constFind(scheme); it != answers.constEnd()) return *it;
  const bool answer = askDesktopForSchemeHandler(scheme);
  answers.insert(scheme, answer);
  return answer;
}

bool canSendMail() {
  if (g_canSendMailOverride) return *g_canSendMailOverride;
  return desktopHasSchemeHandler(QStringLiteral("mailto"));
}

void setCanSendMailOverride(std::optional<bool> answer) { g_canSendMailOverride = answer; }

bool isTwitterServiceAvailable() {
  // The system-level composer for that service, with the account set up in the system settings,
  // does not exist on this desktop, so the service can never be offered through it.
  return false;
}

}  // namespace duo
