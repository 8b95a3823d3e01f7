#include <QtTest>

#include <unistd.h>

#include "open_in_service.h"

using namespace duo;

namespace {

QByteArray entry(const char* name, const char* extra) {
  return QByteArray("[Desktop Entry]\nType=Application\nExec=viewer %f\nName=") + name + '\n' +
         extra;
}

}  // namespace

class OpenInServiceTest : public QObject {
  Q_OBJECT

  QTemporaryDir m_dir;
  QString m_record = m_dir.filePath("record.txt");

 public:
  // GLib reads these folders once, at its first lookup, so they are set before anything runs.
  OpenInServiceTest() {
    const std::pair<const char*, QByteArray> files[] = {
        {"bin/viewer", "#!/bin/sh\nprintf '%s' \"$1\" > \"$VIEWER_RECORD\"\n"},
        {"data/applications/duoscope-test-viewer.desktop",
         entry("Test Viewer", "Icon=duoscope-test-icon\nMimeType=image/png;image/gif;\n")},
        {"data/applications/duoscope-test-alpha.desktop",
         entry("alpha Viewer", "MimeType=image/png;image/gif;\n")},
        {"data/applications/duoscope-test-hidden.desktop",
         entry("Hidden", "NoDisplay=true\nMimeType=image/png;\n")},
        {"data/applications/duoscope.desktop", entry("Ourselves", "MimeType=image/png;\n")},
        // GLib finds applications by type only through this index, which installing a desktop
        // file normally rebuilds (update-desktop-database).
        {"data/applications/mimeinfo.cache",
         "[MIME Cache]\nimage/png=duoscope-test-viewer.desktop;duoscope-test-alpha.desktop;"
         "duoscope-test-hidden.desktop;duoscope.desktop;\n"
         "image/gif=duoscope-test-alpha.desktop;duoscope-test-viewer.desktop;\n"},
        {"config/mimeapps.list",
         "[Default Applications]\nimage/gif=duoscope-test-viewer.desktop\n"
         "image/png=duoscope-test-hidden.desktop\n"},
    };
    for (const auto& [name, text] : files) {
      QFile file(m_dir.filePath(name));
      if (!QDir().mkpath(QFileInfo(file).path()) || !file.open(QIODevice::WriteOnly) ||
          file.write(text) != text.size() ||
          !file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner)) {
        qFatal("cannot write %s", qPrintable(file.fileName()));
      }
    }
    qputenv("PATH", QFile::encodeName(m_dir.filePath("bin:")) + qgetenv("PATH"));
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_dir.filePath("data")));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.filePath("config")));
    // Without a runtime folder GLib falls back to (and makes) the cache folder when launching.
    qputenv("XDG_CACHE_HOME", QFile::encodeName(m_dir.filePath("cache")));
    if (qEnvironmentVariableIsEmpty("XDG_DATA_DIRS")) qputenv("XDG_DATA_DIRS", "/usr/share");
    qputenv("GIO_USE_VFS", "local");  // no desktop file-system service
    qputenv("VIEWER_RECORD", QFile::encodeName(m_record));
  }

 private slots:
  void applicationsAreListedDefaultFirstThenByName_data() {
    QTest::addColumn<QString>("mimeType");
    QTest::addColumn<QStringList>("ours");  // the test applications listed, in order
    const QString viewer = "duoscope-test-viewer.desktop", alpha = "duoscope-test-alpha.desktop";
    QTest::newRow("hidden default, the rest by name ignoring case")
        << "image/png" << QStringList{alpha, viewer};
    QTest::newRow("default first") << "image/gif" << QStringList{viewer, alpha};
    QTest::newRow("type nobody opens") << "text/x-duoscope-none" << QStringList{};
  }

  void applicationsAreListedDefaultFirstThenByName() {
    QFETCH(QString, mimeType);
    QFETCH(QStringList, ours);
    QStringList ids, listed;
    for (const DesktopApplication& app : OpenInService::applicationsForType(mimeType)) {
      ids << app.id;
      if (app.id.startsWith("duoscope")) listed << app.id;
      if (app.id == "duoscope-test-viewer.desktop") {
        QCOMPARE(app.name, QStringLiteral("Test Viewer"));
        QCOMPARE(app.iconName, QStringLiteral("duoscope-test-icon"));
      }
    }
    QCOMPARE(listed, ours);
    QCOMPARE(ids.removeDuplicates(), 0);
    if (mimeType == "image/gif") QCOMPARE(ids.first(), ours.first());
  }

  void launchingOpensTheFileInTheApplication() {
    const QString photo = m_dir.filePath("a stereo 'photo'.png");
    QFile file(photo);
    QVERIFY(file.open(QIODevice::WriteOnly));
    const Status launched = OpenInService::launch("duoscope-test-viewer.desktop", photo);
    QVERIFY2(launched.ok(), launched.ok() ? "" : launched.error().message.c_str());
    QTRY_VERIFY(QFile::exists(m_record));
    QFile record(m_record);
    QVERIFY(record.open(QIODevice::ReadOnly));
    QCOMPARE(QFile::decodeName(record.readAll()), photo);
  }

  void badLaunchesAreErrors_data() {
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("file");
    QTest::newRow("no such application") << "duoscope-test-bogus.desktop"
                                         << "bin/viewer";
    QTest::newRow("no application") << ""
                                    << "bin/viewer";
    QTest::newRow("no such file") << "duoscope-test-viewer.desktop"
                                  << "missing.png";
  }

  void badLaunchesAreErrors() {
    QFETCH(QString, id);
    QFETCH(QString, file);
    QFile::remove(m_record);
    const Status launched = OpenInService::launch(id, m_dir.filePath(file));
    QVERIFY(!launched.ok());
    QVERIFY(launched.error().code == ErrorCode::InvalidArgument);
    QTest::qWait(100);
    QVERIFY(!QFile::exists(m_record));
  }
};

int main(int argc, char** argv) {
  // GLib's slice allocator (before 2.76) hides leaked objects from the leak checker. It reads
  // this setting as the library loads, so the test starts itself again with it.
  if (qgetenv("G_SLICE") != "always-malloc") {
    qputenv("G_SLICE", "always-malloc");
    ::execv("/proc/self/exe", argv);
  }
  OpenInServiceTest test;
  QCoreApplication app(argc, argv);
  return QTest::qExec(&test, argc, argv);
}

#include "open_in_service_test.moc"
