#include <QtTest>

#include <stdexcept>

#include "qs_button.h"

using duo::QSButton;
using duo::SystemButton;

class QSButtonTest : public QObject {
  Q_OBJECT

 private slots:
  void newButtonIsASystemButtonInAThinGreyFrame() {
    QWidget back;
    back.resize(140, 44);
    back.setStyleSheet("background: black");
    QSButton* button = QSButton::newButton("Swap", &back);
    QCOMPARE(button->parent(), &back);
    QVERIFY(qobject_cast<SystemButton*>(button));
    QCOMPARE(button->text(), QString("Swap"));
    QCOMPARE(button->font().pixelSize(), 17);
    QCOMPARE(button->borderWidth(), 1.0);
    QCOMPARE(button->cornerRadius(), 4.0);
    QCOMPARE(QSButton::borderColor(), QColor(102, 102, 102));
    QCOMPARE(QSButton::borderColor().alpha(), 255);

    // The frame is painted: grey on the edge, rounded away at the corner, nothing inside.
    button->setGeometry(10, 2, 120, 40);
    const QImage shot = back.grab().toImage();
    const QColor edge = shot.pixelColor(10, 22);
    QVERIFY2(qAbs(edge.red() - 102) <= 8 && edge.red() == edge.blue(), qPrintable(edge.name()));
    QVERIFY(shot.pixelColor(10, 2).red() < 60);  // the corner is rounded off
    QCOMPARE(shot.pixelColor(14, 22), QColor(Qt::black));
  }

  void buttonWithTypeIsAProgrammingError() {
    for (auto type : {QSButton::ButtonType::Custom, QSButton::ButtonType::System}) {
      try {
        QSButton::buttonWithType(type);
        QFAIL("buttonWithType returned");
      } catch (const std::logic_error& error) {
        QCOMPARE(QString(error.what()), QString("Use newButton"));
      }
    }
  }
};

QTEST_MAIN(QSButtonTest)
#include "qs_button_test.moc"
