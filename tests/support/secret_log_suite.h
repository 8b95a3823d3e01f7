#pragma once

#include <QObject>
#include <QStringList>
#include <QtTest>

#include <utility>

#include "log_capture.h"

namespace duo::test {

/// A QtTest suite whose every test function is followed by a look through what Qt logged
/// meanwhile: none of the suite's secrets (tokens, keys) may appear in it. A suite derives from
/// this instead of QObject and names its secrets; QtTest runs the inherited init() and
/// cleanup() around each test function.
class SecretLogSuite : public QObject {
  Q_OBJECT

 protected:
  explicit SecretLogSuite(QStringList secrets) : m_secrets(std::move(secrets)) {}

 private slots:
  void init() { m_log.start(); }
  void cleanup() {
    m_log.stop();
    const QString leaked = LogCapture::lineWithAny(m_secrets);
    QVERIFY2(leaked.isEmpty(), qPrintable("a secret in the log: " + leaked));
  }

 private:
  LogCapture m_log;
  QStringList m_secrets;
};

}  // namespace duo::test
