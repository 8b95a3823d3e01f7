#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <chrono>
#include <cstdint>
#include <span>

#include "core/result.h"

class QProcess;
class QTimer;

namespace duo {

/// Hands a message to the desktop's mail program through `xdg-email`, without blocking the
/// window: the user finishes and sends it there. Main thread only (except the static helpers).
class MailComposer : public QObject {
  Q_OBJECT

 public:
  struct Message {
    QString subject;         ///< left out when empty (xdg-email refuses an empty one)
    QString body;            ///< left out when empty, likewise
    QString attachmentPath;  ///< a file to attach; empty for none
  };

  /// How long xdg-email may run before the message counts as handed over.
  static constexpr std::chrono::milliseconds kDefaultHandOverTimeout{10000};

  explicit MailComposer(QObject* parent = nullptr);
  /// A composition still running is left to finish on its own; finished() is then not emitted.
  ~MailComposer() override;

  /// Starts `xdg-email --utf8 [--subject S] [--body B] [--attach FILE]`, the program looked up
  /// on PATH now. finished() follows exactly once, always later from the event loop, also when
  /// nothing could be started. False, and no signal, while a composition of this object runs.
  bool compose(const Message& message);

  bool isComposing() const { return m_composing; }

  /// Some desktops run the mail program in the foreground of xdg-email, which then returns only
  /// when the user closes it. Still running after `timeout`, the message counts as handed over
  /// and xdg-email (with the mail program) is left running: it is never killed.
  void setHandOverTimeout(std::chrono::milliseconds timeout) { m_handOverTimeout = timeout; }

  /// A folder private to this process (mode 0700) for files to attach, created on first use in
  /// the temporary folder and removed, with its files, when the process exits normally. Mail
  /// programs read an attachment after xdg-email returns, so it must outlive the composition.
  /// Empty when it cannot be created. Thread-safe.
  static QString attachmentFolder();

  /// Writes `bytes` atomically into attachmentFolder() as `fileName` (mode 0600, replacing a
  /// file of that name) and returns its path. InvalidArgument for an empty or dotted-only name,
  /// a name with '/' or NUL, or no bytes; Io when the folder or the file cannot be made.
  /// Thread-safe.
  static Result<QString> writeAttachment(const QString& fileName,
                                         std::span<const std::uint8_t> bytes);

 signals:
  /// handedOver: the mail program has the message. Otherwise `error` says, for the user, why not.
  void finished(bool handedOver, const QString& error);

 private:
  void finishLater(bool handedOver, const QString& error);
  void finish(bool handedOver, const QString& error);
  void releaseProcess();

  QPointer<QProcess> m_process;
  QTimer* m_timer = nullptr;
  bool m_composing = false;
  std::chrono::milliseconds m_handOverTimeout = kDefaultHandOverTimeout;
};

}  // namespace duo
