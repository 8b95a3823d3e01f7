#include <limits>
#include <QFile>
#include <QThread>
#include <QTemporaryDir>
#include <QtTest>

#include <filesystem>
#include <thread>

#include "settings_keys.h"
#include "settings_store.h"

using duo::SettingsStore;
namespace keys = duo::keys;

class SettingsStoreTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir m_dir;
  QString path() const { return m_dir.filePath("config/settings.json"); }

 private slots:
  void init() { QFile::remove(path()); }

  void contextObserversRunOnTheContextsThreadAndNeverAfterIt() {
    SettingsStore store(path());
    auto* context = new QObject;
    QList<QThread*> threads;
    store.addObserver("ColorMethod", context, [&](const QString&) { threads << QThread::currentThread(); });
    store.setInteger(1, "ColorMethod");  // on the context's thread: at once
    QCOMPARE(threads, QList<QThread*>{QThread::currentThread()});
    std::thread([&] { store.setInteger(2, "ColorMethod"); }).join();
    QCOMPARE(threads.size(), 1);  // queued to the context's thread
    QCoreApplication::processEvents();
    QCOMPARE(threads, (QList<QThread*>{QThread::currentThread(), QThread::currentThread()}));
    std::thread([&] { store.setInteger(3, "ColorMethod"); }).join();
    delete context;  // gone before the queued call runs
    QCoreApplication::processEvents();
    QCOMPARE(threads.size(), 2);
  }

  void absentKeysFollowTheReadingRules() {
    SettingsStore store(path());
    QCOMPARE(store.boolForKey("Nothing"), false);
    QCOMPARE(store.integerForKey("Nothing"), qint64(0));
    QVERIFY(!store.objectForKey("Nothing").isValid());
    store.setInteger(50, keys::kImageSize);
    QCOMPARE(store.floatForKey(keys::kImageSize), 50.0f);  // an integer reads as a float
    store.setFloat(2.75, "Ratio");
    QCOMPARE(store.integerForKey("Ratio"), qint64(2));
    // Floats beyond the integer range saturate rather than wrap.
    store.setFloat(1e300, "Huge");
    QCOMPARE(store.integerForKey("Huge"), std::numeric_limits<qint64>::max());
    store.setFloat(-1e300, "Huge");
    QCOMPARE(store.integerForKey("Huge"), std::numeric_limits<qint64>::min());
  }

  void valuesSurviveARestartWithTheirTypesInAPrivateFile() {
    const QDateTime when = QDateTime::fromString("2026-12-07T10:11:12.345Z", Qt::ISODateWithMs);
    {
      SettingsStore store(path());
      store.setBool(false, keys::kShowIntro);
      store.setInteger(9'007'199'254'740'993LL, "Big");  // beyond a double's integers
      store.setObject(when, keys::kLastRatingDate);
      store.setObject(QStringLiteral("tok\u00e9n"), "QSFlickr.OAuthToken");
      QVERIFY(store.saveError().isEmpty());
    }
    namespace fs = std::filesystem;
    QCOMPARE(fs::status(path().toStdString()).permissions() & fs::perms::all,
             fs::perms::owner_read | fs::perms::owner_write);
    SettingsStore again(path());
    QVERIFY(again.loadError().isEmpty());
    QCOMPARE(again.objectForKey(keys::kShowIntro), QVariant(false));
    QCOMPARE(again.integerForKey("Big"), 9'007'199'254'740'993LL);
    QCOMPARE(again.objectForKey(keys::kLastRatingDate).toDateTime(), when);
    QCOMPARE(again.objectForKey("QSFlickr.OAuthToken").toString(), QStringLiteral("tok\u00e9n"));
    again.removeObjectForKey("Big");
    QVERIFY(!SettingsStore(path()).objectForKey("Big").isValid());
  }

  void aDamagedFileIsKeptAsideNotOverwritten() {
    QDir().mkpath(m_dir.filePath("config"));
    QFile file(path());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("{ not json");
    file.close();
    SettingsStore store(path());
    QVERIFY(!store.loadError().isEmpty());
    store.setBool(true, keys::kSaveCamera);
    QFile aside(path() + ".corrupt");
    QVERIFY(aside.open(QIODevice::ReadOnly));
    QCOMPARE(aside.readAll(), QByteArray("{ not json"));
  }

  void observersHearEachChangeOnceOnTheChangingThread() {
    SettingsStore store(path());
    QStringList heard;
    QList<qint64> seen;  // the value an observer reads: the store is updated first
    std::thread::id heardOn;
    const int token = store.addObserver(keys::kColorMethod, [&](const QString& key) {
      heard << key;
      seen << store.integerForKey(key);
      heardOn = std::this_thread::get_id();
    });
    store.setInteger(2, keys::kColorMethod);
    store.setInteger(2, keys::kColorMethod);      // no change, no notification
    store.setBool(true, keys::kAnaglyphEnhance);  // another key
    QCOMPARE(heard, QStringList{keys::kColorMethod});
    QCOMPARE(heardOn, std::this_thread::get_id());

    std::thread other([&] { store.removeObjectForKey(keys::kColorMethod); });
    const auto otherId = other.get_id();
    other.join();
    QCOMPARE(heard.size(), 2);
    QCOMPARE(seen, (QList<qint64>{2, 0}));
    QCOMPARE(heardOn, otherId);

    store.removeObserver(keys::kColorMethod, token);
    store.setInteger(3, keys::kColorMethod);
    QCOMPARE(heard.size(), 2);
  }

  void registerSettingsWritesOnlyMissingDefaults() {
    const QDateTime firstStart = QDateTime::currentDateTimeUtc();
    {
      SettingsStore store(path());
      QStringList written;
      for (const QString& key : {keys::kShowIntro, keys::kColorMethod, keys::kImageSize}) {
        store.addObserver(key, [&](const QString& k) { written << k; });
      }
      duo::registerSettings(store, firstStart);
      QCOMPARE(written, (QStringList{keys::kShowIntro, keys::kColorMethod, keys::kImageSize}));
      QCOMPARE(store.boolForKey(keys::kShowIntro), true);
      QCOMPARE(store.integerForKey(keys::kColorMethod), qint64(4));
      QCOMPARE(store.boolForKey(keys::kAnaglyphEnhance), true);
      QCOMPARE(store.objectForKey(keys::kStereogramDots), QVariant(false));
      QCOMPARE(store.integerForKey(keys::kStereoBorderSize), qint64(10));
      QCOMPARE(store.objectForKey(keys::kImageCounter), QVariant(qint64(0)));
      QCOMPARE(store.objectForKey(keys::kLastRatingDate).toDateTime(), firstStart);
      QCOMPARE(store.objectForKey(keys::kProvidedRating), QVariant(false));
      QCOMPARE(store.boolForKey(keys::kSaveCamera), true);
      QCOMPARE(store.integerForKey(keys::kImageSize), qint64(50));
      QVERIFY(!store.objectForKey(keys::kFlashOn).isValid());
      QVERIFY(!store.objectForKey(keys::kAlignmentMode).isValid());
      QVERIFY(!store.objectForKey(keys::kFrontCameraOn).isValid());
      store.setBool(false, keys::kShowIntro);
      store.setInteger(0, keys::kColorMethod);
      store.removeObjectForKey(keys::kStereoBorderSize);
    }
    SettingsStore store(path());
    duo::registerSettings(store, firstStart.addDays(3));
    QCOMPARE(store.objectForKey(keys::kShowIntro), QVariant(false));     // false is a value
    QCOMPARE(store.integerForKey(keys::kColorMethod), qint64(0));        // so is 0
    QCOMPARE(store.integerForKey(keys::kStereoBorderSize), qint64(10));  // removed: back
    QCOMPARE(store.objectForKey(keys::kLastRatingDate).toDateTime(), firstStart);
  }
};

QTEST_GUILESS_MAIN(SettingsStoreTest)
#include "settings_store_test.moc"
