#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include "library_fixtures.h"
#include "photo_grid_view.h"
#include "photo_library.h"
#include "thumbnail_cache.h"

using namespace duo;

namespace {

constexpr qint64 kNewest = 1'800'000'000;

// Pictures 0 … count-1 in the Pictures folder, picture 0 the newest.
QStringList makePictures(const QString& folder, const QList<QColor>& colours) {
  QStringList paths;
  for (int i = 0; i < colours.size(); ++i) {
    const QString path = folder + QStringLiteral("/p%1.jpg").arg(i, 3, 10, QChar('0'));
    test::writeFile(path, test::solidJpeg(32, 24, colours[i]), kNewest - i);
    paths << path;
  }
  return paths;
}

bool anyLitPixel(const QImage& image, const QRect& area) {
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x)
      if (qGray(image.pixel(x, y)) > 60) return true;
  return false;
}

}  // namespace

class PhotoGridViewTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir m_dir;
  QString m_pictures;

 private slots:
  void init() {
    const QString run = m_dir.filePath(QString::number(QRandomGenerator::global()->generate()));
    m_pictures = run + "/Pictures";
    PhotoLibrary::setPicturesFolderForTesting(m_pictures);
    ThumbnailCache::setCacheHomeForTesting(run + "/cache");
  }

  void tappingACellPicksItsPictureAndDraggingDoesNot() {
    const QList<QColor> colours = {Qt::red, Qt::green, Qt::blue, Qt::yellow, Qt::cyan, Qt::magenta};
    const QStringList paths = makePictures(m_pictures, colours);
    QVERIFY(test::writeFile(m_pictures + "/zz-broken.jpg", "\xFF\xD8\xFF garbage", kNewest - 10));
    PhotoGridView grid;
    grid.resize(320, 480);
    QSignalSpy ready(&grid, &PhotoGridView::firstScreenReady);
    QSignalSpy picked(&grid, &PhotoGridView::photoPicked);
    grid.show();
    QVERIFY(ready.wait(10000));
    QCOMPARE(grid.paths(), paths + QStringList{m_pictures + "/zz-broken.jpg"});
    QCOMPARE(grid.cellRect(0), QRect(1, 1, 78, 78));
    QCOMPARE(grid.cellRect(5), QRect(81, 81, 78, 78));
    QVERIFY(grid.cellRect(7).isNull());

    // Every cell drawn from its own picture; the undecodable one as a placeholder.
    const QImage shot = grid.grab().toImage();
    for (int i = 0; i < colours.size(); ++i) {
      const QPoint centre = grid.cellRect(i).center();
      QVERIFY2(test::near(test::rgb(shot, centre.x(), centre.y()), colours[i]),
               qPrintable(QString::number(i)));
    }
    const QRect broken = grid.cellRect(6);
    QCOMPARE(test::rgb(shot, broken.left() + 2, broken.top() + 2), QColor(0x2c, 0x2c, 0x2e));
    QCOMPARE(test::rgb(shot, 319, 479), QColor(Qt::black));

    QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, grid.cellRect(4).center());
    QCOMPARE(picked.size(), 1);
    QCOMPARE(picked.at(0).at(0).toString(), paths[4]);
    // Pressed on one cell and let go after moving: a scroll, not a pick.
    const QPoint start = grid.cellRect(1).center();
    QTest::mousePress(grid.viewport(), Qt::LeftButton, {}, start);
    QTest::mouseMove(grid.viewport(), start + QPoint(0, 30));
    QTest::mouseRelease(grid.viewport(), Qt::LeftButton, {}, start);
    QCOMPARE(picked.size(), 1);
    QCOMPARE(ready.size(), 1);
  }

  void thumbnailsLoadNearTheViewFirstAndFollowTheScroll() {
    const QStringList paths = makePictures(m_pictures, QList<QColor>(200, Qt::gray));
    PhotoGridView grid;
    grid.resize(320, 480);  // six rows, 24 cells in view
    QSignalSpy ready(&grid, &PhotoGridView::firstScreenReady);
    grid.show();
    QVERIFY(ready.wait(10000));
    QTRY_VERIFY_WITH_TIMEOUT(!grid.isLoading(), 10000);
    auto made = [](const QString& path) {
      return QFileInfo::exists(ThumbnailCache::thumbnailPath(path));
    };
    QVERIFY(made(paths[23]));    // in view
    QVERIFY(made(paths[47]));    // a screen below
    QVERIFY(!made(paths[120]));  // far away: not yet
    QVERIFY(!made(paths[199]));

    // Wheel and drag both scroll; what comes into view is loaded then.
    QWheelEvent wheel(QPointF(160, 240), grid.mapToGlobal(QPointF(160, 240)), {}, {0, -120 * 20},
                      Qt::NoButton, {}, Qt::NoScrollPhase, false);
    QApplication::sendEvent(grid.viewport(), &wheel);
    const int afterWheel = grid.cellRect(0).top();
    QVERIFY(afterWheel < -1000);
    QTest::mousePress(grid.viewport(), Qt::LeftButton, {}, {160, 400});
    QTest::mouseMove(grid.viewport(), {160, 100});
    QTest::mouseRelease(grid.viewport(), Qt::LeftButton, {}, {160, 100});
    QCOMPARE(grid.cellRect(0).top(), afterWheel - 300);
    const int firstInView = grid.indexAt({40, 40});
    QVERIFY(firstInView > 60);
    QTRY_VERIFY_WITH_TIMEOUT(made(paths[firstInView]), 10000);
  }

  void anEmptyLibrarySaysSoAndNamesTheFolder() {
    PhotoGridView grid;  // the Pictures folder does not even exist
    grid.resize(320, 480);
    QSignalSpy ready(&grid, &PhotoGridView::firstScreenReady);
    grid.show();
    QVERIFY(ready.wait(5000));
    QCOMPARE(grid.photoCount(), 0);
    QVERIFY(!grid.isLoading());
    const QImage shot = grid.grab().toImage();
    QVERIFY(anyLitPixel(shot, {0, 170, 320, 140}));  // title and hint, in the middle
    QVERIFY(!anyLitPixel(shot, {0, 0, 320, 150}));
    QVERIFY(!anyLitPixel(shot, {0, 330, 320, 150}));

    // A picture added later appears on reload.
    makePictures(m_pictures, {Qt::white});
    QSignalSpy listed(&grid, &PhotoGridView::firstScreenReady);
    grid.reload();
    QTRY_COMPARE_WITH_TIMEOUT(grid.photoCount(), 1, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(!grid.isLoading(), 5000);
    QVERIFY(listed.isEmpty());  // once in the grid's life
  }
};

QTEST_MAIN(PhotoGridViewTest)
#include "photo_grid_view_test.moc"
