// Received project folders opened on the result screen (duoscope --project).
#include <QProcess>
#include <QtTest>

#include "received_project_loader.h"
#include "received_project_store.h"
#include "result_screen_fixture.h"
#include "test_support.h"

using namespace duo;

namespace {

QByteArray readAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

std::vector<std::uint8_t> bytesOf(const QString& path) {
  const QByteArray bytes = readAll(path);
  return {bytes.begin(), bytes.end()};
}

}  // namespace

class ProjectOpenTest : public QObject {
  Q_OBJECT

 private slots:
  void sentOffsetsBecomeWholeWorkingPixelsInPoints_data() {
    QTest::addColumn<int>("sent");
    QTest::addColumn<int>("sentLength");
    QTest::addColumn<int>("workingLength");
    QTest::addColumn<float>("scale");
    QTest::addColumn<float>("points");
    QTest::newRow("x from 1024 to 2048 at 4") << -20 << 1024 << 2048 << 4.0f << -10.0f;
    QTest::newRow("y from 1024 to 2048 at 4") << 7 << 1024 << 2048 << 4.0f << 3.5f;
    QTest::newRow("halved, then 1.5 per point") << -20 << 960 << 480 << 1.5f << -10.0f / 1.5f;
    QTest::newRow("no sent size") << 5 << 0 << 480 << 1.5f << 0.0f;
  }
  void sentOffsetsBecomeWholeWorkingPixelsInPoints() {
    QFETCH(int, sent);
    QFETCH(int, sentLength);
    QFETCH(int, workingLength);
    QFETCH(float, scale);
    QFETCH(float, points);
    const float got = pointsForSentPixels(sent, sentLength, workingLength, scale);
    QVERIFY2(std::abs(got - points) < 1e-4f, qPrintable(QString::number(got)));
    // The renders see exactly the working copies' share of the sent offset.
    if (sentLength > 0)
      QCOMPARE(pixelOffsetFor(scale, got, 0).x, int(std::lround(double(sent) * workingLength / sentLength)));
  }

  void storedProjectOpensWithItsAlignment() {
    test::ResultScreenFixture f;
    const QString sample = test::ResultScreenFixture::samplePairDir();
    ReceivedProjectStore store(f.dir.filePath("received"));
    QVERIFY(store.prepare().ok());
    auto folder = store.store({bytesOf(sample + "/left.jpg"), bytesOf(sample + "/right.jpg"), -20, 7,
                               "Kim", QDateTime::currentDateTime()});
    QVERIFY(folder.ok());

    auto project = ReceivedProjectLoader::load(*folder, 50);
    QVERIFY2(project.ok(), project.ok() ? "" : project.error().message.c_str());
    QCOMPARE(project->alignment.sentLongerSide, 960);
    f.window = std::make_unique<AppWindow>();
    f.root = new PlainRootViewController(f.window.get());
    f.window->setRootViewController(f.root);
    f.window->makeKeyAndVisible();
    f.screen = new BlendViewController(*f.store, f.dir.filePath("caches"));
    QDir().mkpath(f.dir.filePath("caches"));
    f.screen->setPair(std::move(project->pair));
    f.screen->setSentAlignment(project->alignment);
    f.root->presentViewController(f.screen, false);
    f.clock.advance(0);
    QVERIFY(f.settle());

    // The working copies are the sent photographs at half size, in their order.
    auto expected = loadStereoPairFiles((sample + "/left.jpg").toStdString(),
                                        (sample + "/right.jpg").toStdString(), 50);
    QVERIFY(expected.ok());
    QCOMPARE(f.screen->pair().leftImage().width(), 480);
    QVERIFY(f.screen->pair().leftImage().samePixels(expected->leftImage()));
    QVERIFY(f.screen->pair().rightImage().samePixels(expected->rightImage()));
    // −20, 7 sent pixels are −10, 4 working pixels (3.5 rounded away from zero).
    const float scale = f.screen->pair().scaleForImageView();
    QVERIFY(scale > 0);
    QCOMPARE(pixelOffsetFor(scale, f.screen->alignOffsetX(), f.screen->alignOffsetY()),
             (PixelOffset{-10, 4}));
    QCOMPARE(f.screen->pair().pixelOffset(), (PixelOffset{-10, 4}));
  }

  void brokenFolderIsRefusedAndLeftAlone_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("contents");  // empty: the file is removed
    QTest::addColumn<QString>("message");
    QTest::newRow("no right photograph") << "right.jpg" << QByteArray() << "no right.jpg";
    QTest::newRow("no project.json") << "project.json" << QByteArray() << "no project.json";
    QTest::newRow("not JSON") << "project.json" << QByteArray("{\"offset\": ") << "does not parse";
    QTest::newRow("offset not a number")
        << "project.json" << QByteArray(R"({"offset": {"x": "left", "y": 0}})") << "whole numbers";
    QTest::newRow("fractional offset")
        << "project.json" << QByteArray(R"({"offset": {"x": 1.5, "y": 0}})") << "whole numbers";
    QTest::newRow("left photograph cut short") << "left.jpg" << QByteArray(600, '\xff') << "left.jpg";
  }
  void brokenFolderIsRefusedAndLeftAlone() {
    QFETCH(QString, file);
    QFETCH(QByteArray, contents);
    QFETCH(QString, message);
    QTemporaryDir dir;
    const QString sample = test::ResultScreenFixture::samplePairDir();
    ReceivedProjectStore store(dir.path());
    auto folder = store.store({bytesOf(sample + "/left.jpg"), bytesOf(sample + "/right.jpg"), 3, 4,
                               "Kim", QDateTime::currentDateTime()});
    QVERIFY(folder.ok());
    QFile target(*folder + "/" + file);
    if (contents.isEmpty()) {
      QVERIFY(target.remove());
    } else {
      QVERIFY(target.open(QIODevice::WriteOnly | QIODevice::Truncate));
      target.write(contents);
      target.close();
    }
    const QStringList before = QDir(*folder).entryList(QDir::Files);

    auto project = ReceivedProjectLoader::load(*folder, 50);
    QVERIFY(!project.ok());
    const QString error = QString::fromStdString(project.error().message);
    QVERIFY2(error.contains(message), qPrintable(error));
    QCOMPARE(QDir(*folder).entryList(QDir::Files), before);

    // Without a display the program says so on stderr and fails, like for a bad pair file.
    QProcess app;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) environment.remove(name);
    environment.insert("HOME", dir.path());
    environment.insert("XDG_CONFIG_HOME", dir.path());
    app.setProcessEnvironment(environment);
    app.start(QStringLiteral(DUOSCOPE_APP_PATH), {"--project", *folder});
    QVERIFY(app.waitForFinished(30000));
    QCOMPARE(app.exitCode(), 1);
    QVERIFY2(app.readAllStandardError().contains(message.toUtf8()), qPrintable(message));
  }
};

QTEST_MAIN(ProjectOpenTest)
#include "project_open_test.moc"
