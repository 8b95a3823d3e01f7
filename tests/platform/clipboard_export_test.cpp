#include <QtTest>

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

#include "clipboard_export.h"

using namespace duo;

class ClipboardExportTest : public QObject {
  Q_OBJECT

  static QImage still() {
    QImage image(3, 2, QImage::Format_RGB32);
    image.fill(qRgb(10, 20, 30));
    image.setPixel(2, 1, qRgb(250, 0, 5));
    return image;
  }

 private slots:
  void theStillAndTheAnimationAreOfferedOrNothingChanges_data() {
    QTest::addColumn<QImage>("image");
    QTest::addColumn<QByteArray>("gif");
    const QByteArray gif("GIF89a\x03\x00\x02\x00", 10);
    QTest::newRow("still with animation") << still() << gif;
    QTest::newRow("still alone") << still() << QByteArray();
    QTest::newRow("not a GIF") << still() << QByteArray("\x89PNG\r\n\x1a\n", 8);
    QTest::newRow("no still") << QImage() << gif;
  }

  void theStillAndTheAnimationAreOfferedOrNothingChanges() {
    QFETCH(QImage, image);
    QFETCH(QByteArray, gif);
    const bool copied = !image.isNull() && (gif.isEmpty() || gif.startsWith("GIF"));
    // Also an animation already there must not survive a copy without one.
    auto* before = new QMimeData;
    before->setText("before");
    before->setData("image/gif", "GIF89a old");
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setMimeData(before);

    QCOMPARE(copyImageToClipboard(image, gif), copied);
    const QMimeData* data = clipboard->mimeData();
    QCOMPARE(data->hasText(), !copied);
    if (!copied) return;
    QCOMPARE(qvariant_cast<QImage>(data->imageData()).convertToFormat(QImage::Format_RGB32),
             still());
    QCOMPARE(data->hasFormat("image/gif"), !gif.isEmpty());
    QCOMPARE(data->data("image/gif"), gif);
  }
};

QTEST_MAIN(ClipboardExportTest)
#include "clipboard_export_test.moc"
