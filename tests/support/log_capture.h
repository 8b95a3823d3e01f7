#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace duo::test {

/// Catches every line Qt logs between start() and stop(), so that a test can prove no secret
/// was written to the log. One at a time per process.
class LogCapture {
 public:
  void start() {
    lines().clear();
    qInstallMessageHandler(&LogCapture::record);
  }
  void stop() { qInstallMessageHandler(nullptr); }

  /// The first line captured that contains one of `secrets`; empty when none does.
  static QString lineWithAny(const QStringList& secrets) {
    for (const QString& line : lines())
      for (const QString& secret : secrets)
        if (line.contains(secret)) return line;
    return {};
  }

 private:
  static QStringList& lines() {
    static QStringList captured;
    return captured;
  }
  static void record(QtMsgType, const QMessageLogContext&, const QString& message) {
    lines() << message;
  }
};

}  // namespace duo::test
