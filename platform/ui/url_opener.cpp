#include "url_opener.h"

#include <QDesktopServices>
#include <QHash>
#include <QProcess>
#include <QStandardPaths>

namespace duo {

namespace {

// Long enough for the shell script behind xdg-mime on a cold start, short enough that a hung
// desktop query never stalls the screen that asked.
constexpr int kQueryTimeoutMs = 2000;

std::function<bool(const QUrl&)>& urlOpenerHook() {
  static std::function<bool(const QUrl&)> hook;
  return hook;
}

std::function<bool(const QUrl&)>& canOpenHook() {
  static std::function<bool(const QUrl&)> hook;
  return hook;
}

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

bool hasSchemeHandler(const QString& scheme) {
  static QHash<QString, bool> answers;
  if (auto it = answers.constFind(scheme); it != answers.constEnd()) return *it;
  const bool answer = askDesktopForSchemeHandler(scheme);
  answers.insert(scheme, answer);
  return answer;
}

}  // namespace

bool canOpenURL(const QUrl& url) {
  if (const auto& hook = canOpenHook()) return hook(url);
  if (!url.isValid()) return false;
  // QUrl keeps schemes to letters, digits, '+', '-' and '.', so it is safe to pass on as one
  // argument of the query; it is compared without regard to case.
  const QString scheme = url.scheme().toLower();
  if (scheme.isEmpty()) return false;
  if (scheme == QLatin1String("http") || scheme == QLatin1String("https") ||
      scheme == QLatin1String("mailto") || scheme == QLatin1String("file"))
    return true;
  return hasSchemeHandler(scheme);
}

bool openURL(const QUrl& url) {
  if (const auto& hook = urlOpenerHook()) return hook(url);
  if (!url.isValid() || url.scheme().isEmpty()) return false;
  return QDesktopServices::openUrl(url);
}

void setURLOpenerForTesting(std::function<bool(const QUrl&)> opener) {
  urlOpenerHook() = std::move(opener);
}

void setCanOpenURLForTesting(std::function<bool(const QUrl&)> answer) {
  canOpenHook() = std::move(answer);
}

}  // namespace duo
