#include "mail_composer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include "io/file_io.h"

namespace duo {

namespace {

constexpr QLatin1String kProgram("xdg-email");

// What xdg-email's exit codes mean, in the user's words.
QString messageForExitCode(int code) {
  switch (code) {
    case 1:
      return QStringLiteral(
          "The message could not be handed to the mail program: xdg-email "
          "did not accept it.");
    case 2:
      return QStringLiteral("The file to attach could not be found.");
    case 3:
      return QStringLiteral("No mail program could be found on this desktop.");
    case 4:
      return QStringLiteral("The mail program could not be opened.");
    case 5:
      return QStringLiteral("The file to attach could not be read: permission denied.");
    default:
      return QStringLiteral("The mail program could not be opened (xdg-email ended with code %1).")
          .arg(code);
  }
}

// Processes that outlived their composer. Deleting a running QProcess kills its program, which
// may be the user's mail program with an unsent message, so these are never deleted while they
// run. Held from a pointer that is never freed, so that one still running at exit is neither
// killed by a destructor nor reported as leaked.
QSet<QProcess*>& abandonedProcesses() {
  static auto* processes = new QSet<QProcess*>;
  return *processes;
}

Error attachmentError(ErrorCode code, const QString& fileName, const std::string& why) {
  return makeError(code, "Cannot attach \"" + fileName.toStdString() + "\": " + why);
}

}  // namespace

MailComposer::MailComposer(QObject* parent) : QObject(parent), m_timer(new QTimer(this)) {
  m_timer->setSingleShot(true);
  connect(m_timer, &QTimer::timeout, this, [this] { finish(true, {}); });
}

MailComposer::~MailComposer() { releaseProcess(); }

bool MailComposer::compose(const Message& message) {
  if (m_composing) return false;
  m_composing = true;

  const QString program = QStandardPaths::findExecutable(QString(kProgram));
  if (program.isEmpty()) {
    finishLater(false, QStringLiteral("No mail program could be started: xdg-email is not "
                                      "installed."));
    return true;
  }
  QStringList arguments{QStringLiteral("--utf8")};
  if (!message.subject.isEmpty()) arguments << QStringLiteral("--subject") << message.subject;
  if (!message.body.isEmpty()) arguments << QStringLiteral("--body") << message.body;
  if (!message.attachmentPath.isEmpty()) {
    const QFileInfo file(message.attachmentPath);
    if (!file.isFile()) {
      finishLater(false, QStringLiteral("The file to attach, %1, could not be found.")
                             .arg(QDir::toNativeSeparators(message.attachmentPath)));
      return true;
    }
    // xdg-email runs in our folder, but an absolute path leaves nothing to interpretation.
    arguments << QStringLiteral("--attach") << file.absoluteFilePath();
  }

  auto* process = new QProcess(this);
  m_process = process;
  process->setStandardInputFile(QProcess::nullDevice());
  // Never a pipe to us: the mail program may inherit these and outlive this object, and writing
  // into a pipe nobody reads any more would stop it. Its complaints still reach our log.
  process->setStandardOutputFile(QProcess::nullDevice());
  process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
  connect(process, &QProcess::finished, this, [this](int code, QProcess::ExitStatus status) {
    if (status == QProcess::CrashExit) {
      finish(false, QStringLiteral("The mail program could not be opened: xdg-email stopped "
                                   "unexpectedly."));
    } else if (code == 0) {
      finish(true, {});
    } else {
      finish(false, messageForExitCode(code));
    }
  });
  connect(process, &QProcess::errorOccurred, this, [this, process](QProcess::ProcessError error) {
    // A crash is reported by finished() as well; only a failed start comes here alone.
    if (error != QProcess::FailedToStart) return;
    m_timer->stop();
    finishLater(false, QStringLiteral("No mail program could be started: xdg-email could not "
                                      "be run (%1).")
                           .arg(process->errorString()));
  });
  m_timer->start(m_handOverTimeout);
  process->start(program, arguments);
  return true;
}

void MailComposer::finishLater(bool handedOver, const QString& error) {
  QMetaObject::invokeMethod(
      this, [this, handedOver, error] { finish(handedOver, error); }, Qt::QueuedConnection);
}

void MailComposer::finish(bool handedOver, const QString& error) {
  if (!m_composing) return;
  releaseProcess();
  m_composing = false;
  emit finished(handedOver, error);
}

void MailComposer::releaseProcess() {
  m_timer->stop();
  QProcess* process = m_process;
  m_process = nullptr;
  if (!process) return;
  process->disconnect(this);
  if (process->state() == QProcess::NotRunning) {
    process->deleteLater();
    return;
  }
  process->setParent(nullptr);
  abandonedProcesses().insert(process);
  connect(process, &QProcess::finished, process, [process] {
    abandonedProcesses().remove(process);
    process->deleteLater();
  });
}

QString MailComposer::attachmentFolder() {
  // Removed with its files by the static destructor at a normal exit.
  static QTemporaryDir folder(QDir::tempPath() + QStringLiteral("/duoscope-mail-XXXXXX"));
  return folder.isValid() ? folder.path() : QString();
}

Result<QString> MailComposer::writeAttachment(const QString& fileName,
                                              std::span<const std::uint8_t> bytes) {
  if (fileName.isEmpty() || fileName == QLatin1String(".") || fileName == QLatin1String("..") ||
      fileName.contains('/') || fileName.contains(QChar(0))) {
    return attachmentError(ErrorCode::InvalidArgument, fileName,
                           "a plain file name, without folders, is needed");
  }
  if (bytes.empty()) return attachmentError(ErrorCode::InvalidArgument, fileName, "it is empty");
  const QString folder = attachmentFolder();
  if (folder.isEmpty()) {
    return attachmentError(ErrorCode::Io, fileName,
                           "no private folder could be made in " + QDir::tempPath().toStdString());
  }
  const QString path = folder + '/' + fileName;
  const Status written = writeFileAtomically(QFile::encodeName(path).toStdString(), bytes,
                                             /*durable=*/false, kPrivateFileMode);
  if (!written) return attachmentError(ErrorCode::Io, fileName, written.error().message);
  return path;
}

}  // namespace duo
