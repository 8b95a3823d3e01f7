#include <QClipboard>
#include <QImageReader>
#include <QLabel>
#include <QMimeData>
#include <QtTest>

#include "camera_app_delegate.h"
#include "io/image_codec.h"
#include "photo_library.h"
#include "qt_image.h"
#include "result_screen_fixture.h"
#include "screen.h"

using namespace duo;

namespace {

/// Folders the test points the desktop at before anything asks it: a recording mail program
/// first on PATH and a picture viewer of its own in the MIME database.
struct Desktop {
  QTemporaryDir root;
  QString bin() const { return root.filePath("bin"); }
  QString mailLog() const { return root.filePath("mail.log"); }
  QString viewerLog() const { return root.filePath("viewer.log"); }

  void install() {
    QDir().mkpath(bin());
    QDir().mkpath(root.filePath("data/applications"));
    writeScript(bin() + "/xdg-email",
                "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" + mailLog() +
                    "'\nexit ${DUOSCOPE_TEST_MAIL_EXIT:-0}\n");
    writeScript(bin() + "/test-viewer", "printf '%s\\n' \"$@\" > '" + viewerLog() + "'\n");
    QFile desktop(root.filePath("data/applications/duoscope-test-viewer.desktop"));
    desktop.open(QIODevice::WriteOnly);
    desktop.write(("[Desktop Entry]\nType=Application\nName=Test Viewer\nExec=" + bin() +
                   "/test-viewer %f\nMimeType=image/png;image/gif;\n")
                      .toUtf8());
    desktop.close();
    // GIO finds applications by type through this index, which installing a desktop file
    // normally rebuilds.
    QFile cache(root.filePath("data/applications/mimeinfo.cache"));
    cache.open(QIODevice::WriteOnly);
    cache.write("[MIME Cache]\nimage/png=duoscope-test-viewer.desktop;\n"
                "image/gif=duoscope-test-viewer.desktop;\n");
    cache.close();
    qputenv("PATH", (bin() + ":" + qgetenv("PATH")).toUtf8());
    qputenv("XDG_DATA_HOME", root.filePath("data").toUtf8());
    qputenv("XDG_DATA_DIRS", "/usr/local/share:/usr/share");
    // The Dropbox client reads the application's own settings; never the user's.
    qputenv("XDG_CONFIG_HOME", root.filePath("config").toUtf8());
    qputenv("XDG_CACHE_HOME", root.filePath("cache").toUtf8());
  }
  static void writeScript(const QString& path, const QString& body) {
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(("#!/bin/sh\n" + body).toUtf8());
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  }
};

Desktop* g_desktop = nullptr;

/// The file the recording mail program was asked to attach; empty when it was given none.
QString attachedFile(const QStringList& arguments) {
  const qsizetype at = arguments.indexOf("--attach");
  return at >= 0 && at + 1 < arguments.size() ? arguments.at(at + 1) : QString();
}

QStringList readLines(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
}

}  // namespace

class BlendViewControllerExportsTest : public QObject {
  Q_OBJECT

  std::unique_ptr<test::ResultScreenFixture> m_f;
  QTemporaryDir m_folders;

  QString album() const { return PhotoLibrary::albumFolder(); }
  QStringList albumFiles() const { return QDir(album()).entryList(QDir::Files, QDir::Name); }
  /// Dispatches `index` and lets the deferred export run.
  void dispatch(int index) {
    m_f->screen->executeShareBarButtonIndex(index);
    m_f->clock.advance(0);
  }
  /// Waits for the alert titled `title` and closes it.
  void closeAlert(const QString& title) {
    QTRY_VERIFY(m_f->shownAlert());
    QCOMPARE(m_f->shownAlert()->title(), title);
    m_f->shownAlert()->dismissWithClickedButtonIndex(0, false);
  }

 private slots:
  void init() {
    MainScreen::setSize({320, 568, false});
    QDir(m_folders.path()).removeRecursively();
    PhotoLibrary::setPicturesFolderForTesting(m_folders.filePath("Pictures"));
    PhotoLibrary::setDocumentsFolderForTesting(m_folders.filePath("Documents"));
    m_f = std::make_unique<test::ResultScreenFixture>();
    QVERIFY(m_f->open());
    QFile::remove(g_desktop->mailLog());
    QFile::remove(g_desktop->viewerLog());
    qunsetenv("DUOSCOPE_TEST_MAIL_EXIT");
  }
  void cleanup() { m_f.reset(); }

  void albumReceivesTheExactOutputOfEveryMode_data() {
    QTest::addColumn<int>("mode");
    QTest::newRow("colour anaglyph") << 1;
    QTest::newRow("grey anaglyph") << 2;
    QTest::newRow("stereogram") << 3;
    QTest::newRow("wigglegram") << 4;
  }
  void albumReceivesTheExactOutputOfEveryMode() {
    QFETCH(int, mode);
    QVERIFY(m_f->select(mode));
    dispatch(0);
    QVERIFY(!CameraAppDelegate::shared() || !CameraAppDelegate::shared()->dimView());
    closeAlert("Save Complete");
    QVERIFY(m_f->screen->savedImageView());  // flying to the corner
    QCOMPARE(albumFiles().size(), 1);
    const QString saved = album() + "/" + albumFiles().first();
    QVERIFY(QFileInfo(saved).fileName().startsWith("Duoscope " + QDate::currentDate().toString("yyyy-MM-dd")));
    if (mode == 4) {
      QVERIFY(saved.endsWith(".gif"));
      QImageReader reader(saved);
      QCOMPARE(reader.imageCount(), 2);
      return;
    }
    QVERIFY(saved.endsWith(".png"));
    const auto decoded = decodeImageFile(saved.toStdString());
    QVERIFY(decoded);
    const auto sent = m_f->screen->getImageToSend();
    QVERIFY(sent && decoded->samePixels(*sent));
    // The stereogram is shown a quarter turned, and saved upright: wider than high.
    if (mode == 3) QVERIFY(decoded->width() > decoded->height());
  }

  void albumThatCannotBeMadeIsCouldNotSaveAndLeavesNothing() {
    QDir().mkpath(m_folders.filePath("Pictures"));
    QFile blocker(album());  // a file where the album folder should be
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QVERIFY(m_f->select(1));
    m_f->store->setObject(QDateTime::currentDateTime().addDays(-6), keys::kLastRatingDate);
    dispatch(0);
    QTRY_VERIFY(m_f->shownAlert());
    QCOMPARE(m_f->shownAlert()->message(), QString("Could not save image to the Camera Roll."));
    closeAlert("Could Not Save");
    QCOMPARE(QDir(m_folders.filePath("Pictures")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList{"Duoscope"});
    // The rating prompt follows a failure as it follows a success.
    m_f->clock.advance(0.5);
    QVERIFY(m_f->shownAlert());
    QCOMPARE(m_f->shownAlert()->title(), QString("Help Spread the Word"));
  }

  void mailCarriesTheOutputAndNumbersEveryComposedMail() {
    QVERIFY(m_f->select(1));
    dispatch(1);
    // The mail program has written its record once it has ended, and the screen knows it then.
    QTRY_VERIFY(!m_f->screen->isShowingModal());
    QStringList arguments = readLines(g_desktop->mailLog());
    QVERIFY(arguments.contains("Duoscope Photo"));
    const QString attachment = attachedFile(arguments);
    QCOMPARE(QFileInfo(attachment).fileName(), QString("Duoscope_0000.jpg"));
    const auto jpeg = readImageInfoFile(attachment.toStdString());
    QVERIFY(jpeg && jpeg->format == ImageFormat::Jpeg);
    QCOMPARE(jpeg->width, m_f->screen->getImageToSend()->width());
    QVERIFY(arguments.filter("Check out the photo I made with Duoscope").size() == 1);

    // A mail program that fails is said; the counter has moved on all the same.
    qputenv("DUOSCOPE_TEST_MAIL_EXIT", "4");
    dispatch(1);
    closeAlert("Cannot Compose the Mail");
    QCOMPARE(m_f->store->integerForKey(keys::kImageCounter), 2);
    arguments = readLines(g_desktop->mailLog());
    QCOMPARE(QFileInfo(attachedFile(arguments)).fileName(), QString("Duoscope_0001.jpg"));
  }

  void wigglegramMailDimsUntilTheGifIsHeld() {
    SettingsStore appStore(m_folders.filePath("app.json"));
    CameraAppDelegate application(appStore);
    application.applicationDidFinishLaunching(new PlainRootViewController);
    m_f->clock.advance(2);
    QVERIFY(m_f->select(4));
    m_f->screen->executeShareBarButtonIndex(1);
    QVERIFY(application.messageLabel());  // dimmed before the export runs
    QCOMPARE(static_cast<QLabel*>(application.messageLabel())->text(), QString(" Processing images..."));
    m_f->clock.advance(0);
    QVERIFY(!application.messageLabel());  // lifted once the GIF is held
    QTRY_VERIFY(!m_f->screen->isShowingModal());
    const QString attachment = attachedFile(readLines(g_desktop->mailLog()));
    QVERIFY(attachment.endsWith("Duoscope_0000.gif"));
    QCOMPARE(QImageReader(attachment).imageCount(), 2);
  }

  void clipboardHoldsTheStillAndInModeFourTheGifBeside() {
    QVERIFY(m_f->select(1));
    dispatch(7);
    closeAlert("Copy Complete");
    const QMimeData* copied = QGuiApplication::clipboard()->mimeData();
    QVERIFY(copied->hasImage());
    QVERIFY(!copied->hasFormat("image/gif"));
    QCOMPARE(qvariant_cast<QImage>(copied->imageData()).size(), QSize(m_f->screen->getImageToSend()->width(), m_f->screen->getImageToSend()->height()));

    QVERIFY(m_f->select(4));
    dispatch(7);
    closeAlert("Copy Complete");
    copied = QGuiApplication::clipboard()->mimeData();
    QVERIFY(copied->hasImage());
    QVERIFY(copied->hasFormat("image/gif"));
    QVERIFY(copied->data("image/gif").startsWith("GIF89a"));
  }

  void anotherApplicationIsOfferedTheExportFile() {
    QVERIFY(m_f->select(3));
    dispatch(9);
    QSActionSheet* sheet = m_f->shownSheet();
    QVERIFY2(sheet, m_f->shownAlert() ? qPrintable(m_f->shownAlert()->message()) : "no alert");
    int viewer = -1;
    for (int i = 0; i < sheet->numberOfButtons(); ++i)
      if (sheet->buttonTitleAtIndex(i) == "Test Viewer") viewer = i;
    QVERIFY(viewer >= 0);
    const QString exported = m_folders.filePath("Documents/DuoscopeExport.png");
    QCOMPARE(m_f->screen->exportFilePath(), exported);
    const auto decoded = decodeImageFile(exported.toStdString());
    QVERIFY(decoded && decoded->samePixels(*m_f->screen->getImageToSend()));
    sheet->dismissWithClickedButtonIndex(viewer, false);
    QTRY_COMPARE(readLines(g_desktop->viewerLog()), QStringList{exported});
    QVERIFY(!m_f->screen->isShowingModal());
  }

  void ratingPromptFollowsEachExportWhenDue_data() {
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("alert");  // the export's own alert, closed first
    QTest::newRow("album") << 0 << "Save Complete";
    QTest::newRow("mail") << 1 << "";
    QTest::newRow("clipboard") << 7 << "Copy Complete";
  }
  void ratingPromptFollowsEachExportWhenDue() {
    QFETCH(int, index);
    QFETCH(QString, alert);
    QVERIFY(m_f->select(1));
    m_f->store->setObject(QDateTime::currentDateTime().addDays(-6), keys::kLastRatingDate);
    dispatch(index);
    if (!alert.isEmpty()) closeAlert(alert);
    QTRY_VERIFY(!m_f->screen->isShowingModal());
    QVERIFY(!m_f->shownAlert());
    m_f->clock.advance(0.5);
    QVERIFY(m_f->shownAlert());
    QCOMPARE(m_f->shownAlert()->title(), QString("Help Spread the Word"));
  }

  void unconfiguredServicesSaySoAndLiftTheDimming() {
    SettingsStore appStore(m_folders.filePath("app.json"));
    CameraAppDelegate application(appStore);
    application.applicationDidFinishLaunching(new PlainRootViewController);
    m_f->clock.advance(2);
    QVERIFY(m_f->select(4));
    for (const int index : {3, 5, 6}) {
      dispatch(index);
      QVERIFY(!application.messageLabel());  // Dropbox dims the wigglegram first; lifted again
      QTRY_VERIFY(m_f->shownAlert());
      // This build has no registration with the services: it says so rather than fail later.
      QVERIFY(m_f->shownAlert()->message().contains("is not configured in this build"));
      m_f->shownAlert()->dismissWithClickedButtonIndex(0, false);
    }
    for (const int ignored : {2, 10, -1}) {
      m_f->screen->executeShareBarButtonIndex(ignored);
      m_f->clock.advance(0);
      QVERIFY(!m_f->shownAlert());
    }
  }
};

int main(int argc, char** argv) {
  // The desktop is set up before the application (and GIO) first looks at it.
  Desktop desktop;
  desktop.install();
  g_desktop = &desktop;
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  BlendViewControllerExportsTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "blend_view_controller_exports_test.moc"
