// Token storage: the desktop's secret store when one answers (this test runs a private
// gnome-keyring on a private session bus under support/keyring_sandbox.sh), and the settings
// file, readable by its owner alone, when none does.
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "settings_store.h"
#include "token_store.h"

using namespace duo;

namespace {

QString readBack(TokenStore& store, const QString& key) {
  QString value;
  bool done = false;
  store.read(key, [&](const QString& v) {
    value = v;
    done = true;
  });
  if (!QTest::qWaitFor([&] { return done; }, 10000)) return QStringLiteral("<no answer>");
  return value;
}

bool finished(const std::function<void(TokenStore::DoneCallback)>& operation) {
  bool done = false;
  bool ok = false;
  operation([&](bool stored) {
    ok = stored;
    done = true;
  });
  return QTest::qWaitFor([&] { return done; }, 10000) && ok;
}

}  // namespace

class TokenStoreTest : public QObject {
  Q_OBJECT

 private slots:
  void secretServiceKeepsTheTokenOutOfTheFile() {
    if (qgetenv("DUOSCOPE_KEYRING_SANDBOX") != "1")
      QSKIP("needs the private keyring of support/keyring_sandbox.sh");
    QTemporaryDir folder;
    SettingsStore settings(folder.filePath("settings.json"));
    TokenStore store(settings, TokenStore::Backend::SecretServiceOrFile);
    const QString key = "QSDropbox.RefreshToken";
    QVERIFY(finished([&](auto done) { store.write(key, "kept-in-the-keyring", done); }));
    QCOMPARE(store.lastLocation(), TokenStore::Location::SecretService);
    QCOMPARE(readBack(store, key), QString("kept-in-the-keyring"));
    QCOMPARE(store.lastLocation(), TokenStore::Location::SecretService);
    QVERIFY(!settings.objectForKey(key).isValid());
    QFile file(settings.filePath());
    QVERIFY(!file.open(QIODevice::ReadOnly) || !file.readAll().contains("kept-in-the-keyring"));

    QVERIFY(finished([&](auto done) { store.remove(key, done); }));
    QCOMPARE(readBack(store, key), QString());
  }

  void withoutASecretServiceTheFileIsPrivate_data() {
    QTest::addColumn<int>("backend");
    QTest::newRow("file only") << int(TokenStore::Backend::FileOnly);
    // No session bus at all: the secret service cannot answer.
    QTest::newRow("secret service missing") << int(TokenStore::Backend::SecretServiceOrFile);
  }
  void withoutASecretServiceTheFileIsPrivate() {
    QFETCH(int, backend);
    if (backend == int(TokenStore::Backend::SecretServiceOrFile) &&
        qgetenv("DUOSCOPE_KEYRING_SANDBOX") == "1")
      QSKIP("a secret service is running");
    QTemporaryDir folder;
    SettingsStore settings(folder.filePath("settings.json"));
    TokenStore store(settings, TokenStore::Backend(backend));
    const QString key = "QSFlickr.OAuthToken";
    QVERIFY(finished([&](auto done) { store.write(key, "in-the-file", done); }));
    QCOMPARE(store.lastLocation(), TokenStore::Location::File);
    QCOMPARE(QFile::permissions(settings.filePath()),
             QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
    QCOMPARE(SettingsStore(settings.filePath()).objectForKey(key).toString(),
             QString("in-the-file"));
    QCOMPARE(readBack(store, key), QString("in-the-file"));
    QVERIFY(finished([&](auto done) { store.remove(key, done); }));
    QCOMPARE(readBack(store, key), QString());
    QVERIFY(!SettingsStore(settings.filePath()).objectForKey(key).isValid());
  }
};

int main(int argc, char** argv) {
  // Without the sandbox, no bus may be reached (nor a D-Bus autolaunch tried).
  if (qgetenv("DUOSCOPE_KEYRING_SANDBOX") != "1") {
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/duoscope-no-bus");
  }
  QCoreApplication app(argc, argv);
  TokenStoreTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "token_store_test.moc"
