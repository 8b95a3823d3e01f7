#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QShortcut>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

#include "qs_alert_view.h"
#include "run_loop.h"
#include "screen.h"
#include "screenshot.h"
#include "theme.h"
#include "view_animation.h"
#include "app_window.h"
#include "view_controller.h"

using namespace duo;

namespace {

void flushDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

/// Something to look at behind the alerts: a dusk gradient with a horizon.
class Scenery : public QWidget {
 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, height());
    sky.setColorAt(0, QColor(0x1d, 0x4e, 0x89));
    sky.setColorAt(0.55, QColor(0xf0, 0x8a, 0x5d));
    sky.setColorAt(1, QColor(0x2c, 0x1e, 0x3a));
    p.fillRect(rect(), sky);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xff, 0xd1, 0x66));
    p.drawEllipse(QPointF(width() * 0.68, height() * 0.5), 38, 38);
    p.setBrush(QColor(0x1b, 0x14, 0x26));
    QPainterPath hills;
    hills.moveTo(0, height() * 0.6);
    hills.cubicTo(width() * 0.3, height() * 0.5, width() * 0.6, height() * 0.7, width(),
                  height() * 0.58);
    hills.lineTo(width(), height());
    hills.lineTo(0, height());
    p.drawPath(hills);
  }
};

class Screen : public ViewController {
 public:
  using ViewController::ViewController;
  Toolbar* toolbar = nullptr;
  BarButtonItem* action = nullptr;

 protected:
  void loadView() override {
    auto* view = new Scenery;
    view->resize(MainScreen::bounds());
    toolbar = new Toolbar(view);
    toolbar->setGeometry(0, view->height() - Toolbar::kHeight, view->width(), Toolbar::kHeight);
    auto* flexible = new BarButtonItem(BarButtonItem::SystemItem::FlexibleSpace, {}, this);
    action = new BarButtonItem(
        BarButtonItem::SystemItem::Action, [] {}, this);
    toolbar->setItems({new BarButtonItem("Photo", {}, this), flexible, action});
    setView(view);
  }
};

/// A key window showing the scenery and a toolbar, as the application's window would.
struct Stage {
  AppWindow window;
  Screen* screen = new Screen(&window);
  Stage() {
    window.setRootViewController(screen);
    window.makeKeyAndVisible();
  }
};

void saveScreenshot(QWidget* window, const QString& name) {
  QImage image(window->size() * 2, QImage::Format_ARGB32_Premultiplied);
  image.setDevicePixelRatio(2);
  image.fill(Qt::black);
  window->render(&image);
  QVERIFY(image.save(name));
}

struct Answer {
  int calls = 0;
  int index = -2;
  QObject* sender = nullptr;
};

}  // namespace

class QSAlertViewTest : public QObject {
  Q_OBJECT

 private:
  ManualClock m_clock;

 private slots:
  void init() { RunLoopClock::install(&m_clock); }
  void cleanup() {
    m_clock.advance(5);
    flushDeletes();
    RunLoopClock::install(nullptr);
    MainScreen::setSize({});
  }

  void alertButtonsTakeThePlatformIndices() {
    QSAlertView alert("Title", "Message", "Cancel", {"One", "Two"});
    QCOMPARE(alert.numberOfButtons(), 3);
    QCOMPARE(alert.cancelButtonIndex(), 0);
    QCOMPARE(alert.firstOtherButtonIndex(), 1);
    QCOMPARE(alert.buttonTitleAtIndex(0), QString("Cancel"));
    QCOMPARE(alert.buttonTitleAtIndex(2), QString("Two"));
    QCOMPARE(alert.addButtonWithTitle("Three"), 3);
    QCOMPARE(alert.buttonTitleAtIndex(4), QString());

    QSAlertView noCancel("", "Message", "", {"Continue"});
    QCOMPARE(noCancel.cancelButtonIndex(), -1);
    QCOMPARE(noCancel.firstOtherButtonIndex(), 0);
    QSAlertView onlyCancel("", "Message", "Continue");
    QCOMPARE(onlyCancel.firstOtherButtonIndex(), -1);
  }

  void clickReportsOnceThenTheAlertGoesAway() {
    Stage stage;
    QPointer<QSAlertView> alert =
        new QSAlertView("Save Complete", "Saved image to the Camera Roll.", "Cancel", {"Continue"});
    Answer answer;
    alert->showWithCompletion([&](QSAlertView* a, int index) {
      ++answer.calls, answer.index = index, answer.sender = a;
    });
    QCOMPARE(alert->parentWidget(), &stage.window);
    QCOMPARE(alert->geometry(), stage.window.rect());
    m_clock.advance(0.3);
    QCOMPARE(viewAlpha(alert), 1.0);
    QCOMPARE(alert->card()->width(), 270);
    QCOMPARE(alert->card()->geometry().center(), stage.window.rect().center());
    // Two buttons sit side by side, cancel on the left in bold.
    QAbstractButton* cancel = alert->buttonAtIndex(0);
    QAbstractButton* other = alert->buttonAtIndex(1);
    QCOMPARE(cancel->y(), other->y());
    QVERIFY(cancel->x() < other->x());
    QVERIFY(cancel->font().weight() > other->font().weight());
    saveScreenshot(&stage.window, "alert.png");
    // The card is drawn where it stands: its own colour inside its edge, the dimmed scene outside.
    const QImage shot = stage.window.grab().toImage();
    const QRect card = alert->card()->geometry();
    const QColor inside = shot.pixelColor(card.left() + 6, card.center().y());
    const QColor outside = shot.pixelColor(card.left() - 6, card.center().y());
    QVERIFY2(qAbs(inside.red() - 0x2a) <= 3 && qAbs(inside.blue() - 0x35) <= 3,
             qPrintable(inside.name()));
    QVERIFY(outside != inside);

    QTest::mouseClick(other, Qt::LeftButton);
    QCOMPARE(answer.calls, 1);
    QCOMPARE(answer.index, 1);
    QCOMPARE(answer.sender, alert.data());
    QVERIFY(!alert->alertCompletion());
    // Further presses while it fades away, or a late dismissal, report nothing more.
    QTest::mouseClick(cancel, Qt::LeftButton);
    alert->dismissWithClickedButtonIndex(0, false);
    QTest::keyClick(alert, Qt::Key_Escape);
    m_clock.advance(0.5);
    QCOMPARE(answer.calls, 1);
    QVERIFY(alert && !alert->isVisible());
    flushDeletes();
    QVERIFY(alert.isNull());
  }

  void keyboardPressesTheExpectedButton() {
    struct Case {
      const char* cancel;
      QStringList others;
      Qt::Key key;
      int expected;  // -1: nothing happens
    };
    const Case cases[] = {
        {"Cancel", {"Send"}, Qt::Key_Return, 1}, {"Cancel", {"Send"}, Qt::Key_Enter, 1},
        {"Cancel", {"Send"}, Qt::Key_Escape, 0}, {"Cancel", {"A", "B", "C"}, Qt::Key_Return, 1},
        {"Continue", {}, Qt::Key_Return, 0},     {"", {"Continue"}, Qt::Key_Escape, 0},
        {"", {"Yes", "No"}, Qt::Key_Escape, -1},
    };
    Stage stage;
    for (const Case& c : cases) {
      QPointer<QSAlertView> alert = new QSAlertView("Title", "Message", c.cancel, c.others);
      Answer answer;
      alert->showWithCompletion(
          [&](QSAlertView*, int index) { ++answer.calls, answer.index = index; });
      m_clock.advance(0.3);
      QTest::keyClick(alert, c.key);
      QTest::keyClick(alert, c.key);
      m_clock.advance(0.3);
      const QByteArray what = QByteArray(c.cancel) + "/" + c.others.join(',').toUtf8();
      if (c.expected < 0) {
        QVERIFY2(answer.calls == 0 && alert && alert->isShowing(), what);
        alert->dismissWithClickedButtonIndex(1, false);
        QCOMPARE(answer.index, 1);
      } else {
        QVERIFY2(answer.calls == 1, what);
        QVERIFY2(answer.index == c.expected, what);
      }
      flushDeletes();
      QVERIFY2(alert.isNull(), what);
    }
  }

  void alertWithoutCompletionStillWorks() {
    Stage stage;
    QPointer<QSAlertView> alert =
        new QSAlertView("", "Unable to send to Dropbox.\nTry again later.", "", {"Continue"});
    QSignalSpy clicked(alert.data(), &QSAlertView::clickedButtonAtIndex);
    QSignalSpy dismissed(alert.data(), &QSAlertView::didDismissWithButtonIndex);
    alert->showWithCompletion({});
    m_clock.advance(0.3);
    QVERIFY(alert->isVisible());
    QTest::mouseClick(alert->buttonAtIndex(0), Qt::LeftButton);
    m_clock.advance(0.3);
    QCOMPARE(clicked.count(), 1);
    QCOMPARE(dismissed.count(), 1);
    QCOMPARE(dismissed.first().first().toInt(), 0);
    flushDeletes();
    QVERIFY(alert.isNull());
  }

  void dismissingInCodeAnswersTheCompletionToo() {
    Stage stage;
    QPointer<QSAlertView> alert = new QSAlertView("Title", "Message", "Cancel", {"OK"});
    Answer answer;
    alert->showWithCompletion(
        [&](QSAlertView*, int index) { ++answer.calls, answer.index = index; });
    alert->dismissWithClickedButtonIndex(alert->cancelButtonIndex(), false);
    QCOMPARE(answer.calls, 1);
    QCOMPARE(answer.index, 0);
    QVERIFY(!alert->isVisible());
    flushDeletes();
    QVERIFY(alert.isNull());
  }

  void threeButtonsStackWithCancelAtTheFoot() {
    Stage stage;
    QPointer<QSAlertView> alert = new QSAlertView("Rate Duoscope", "Enjoying it?", "No, Thanks",
                                                  {"Rate It Now", "Maybe Later"});
    alert->show();
    m_clock.advance(0.3);
    QAbstractButton* cancel = alert->buttonAtIndex(0);
    QAbstractButton* first = alert->buttonAtIndex(1);
    QAbstractButton* second = alert->buttonAtIndex(2);
    QCOMPARE(first->width(), 270);
    QVERIFY(first->y() < second->y());
    QVERIFY(second->y() < cancel->y());
    QCOMPARE(cancel->geometry().bottom(), alert->card()->height() - 1);
    alert->dismissWithClickedButtonIndex(0, false);
  }

  void textEntryCompletionReadsTheTypedText() {
    Stage stage;
    QPointer<QSAlertView> alert = new QSAlertView(
        "Send to Dropbox", "What name would you like to use\nfor your Duoscope image?", "Cancel",
        {"Send"});
    QVERIFY(!alert->textFieldAtIndex(0));
    alert->setAlertViewStyle(QSAlertView::Style::PlainTextInput);
    QLineEdit* field = alert->textFieldAtIndex(0);
    QVERIFY(field);
    QVERIFY(!alert->textFieldAtIndex(1));
    QString typed;
    int index = -2;
    alert->showWithCompletion([&](QSAlertView* a, int i) {
      index = i;
      typed = a->textFieldAtIndex(0)->text();
    });
    m_clock.advance(0.3);
    QVERIFY(alert->card()->isAncestorOf(field));
    QVERIFY(field->isVisible());
    QTest::keyClicks(field, "Harbour at dusk");
    saveScreenshot(&stage.window, "alert-text.png");
    QTest::keyClick(field, Qt::Key_Return);  // Enter in the field sends
    QCOMPARE(index, 1);
    QCOMPARE(typed, QString("Harbour at dusk"));

    // Escape in the field cancels.
    alert = new QSAlertView("Name", "", "Cancel", {"Send"});
    alert->setAlertViewStyle(QSAlertView::Style::PlainTextInput);
    index = -2;
    alert->showWithCompletion([&](QSAlertView*, int i) { index = i; });
    QTest::keyClick(alert->textFieldAtIndex(0), Qt::Key_Escape);
    QCOMPARE(index, 0);

    // The login style has two fields, the second one hiding what is typed.
    QSAlertView login("Sign In", "", "Cancel", {"OK"});
    login.setAlertViewStyle(QSAlertView::Style::LoginAndPasswordInput);
    QVERIFY(login.textFieldAtIndex(1));
    QCOMPARE(login.textFieldAtIndex(1)->echoMode(), QLineEdit::Password);
    login.setAlertViewStyle(QSAlertView::Style::Default);
    QVERIFY(!login.textFieldAtIndex(0));
  }

  void withoutAKeyWindowTheAlertIsAWindowOfItsOwn() {
    QVERIFY(!AppWindow::keyWindow());
    QPointer<QSAlertView> alert =
        new QSAlertView("Oops!", "Both images must be\nthe same size.", "Try Again");
    Answer answer;
    alert->showWithCompletion(
        [&](QSAlertView*, int index) { ++answer.calls, answer.index = index; });
    QVERIFY(alert->isWindow());
    QVERIFY(alert->isVisible());
    QCOMPARE(alert->size(), alert->card()->size());
    QTest::mouseClick(alert->buttonAtIndex(0), Qt::LeftButton);
    QCOMPARE(answer.calls, 1);
    QCOMPARE(answer.index, 0);
    flushDeletes();
    QVERIFY(alert.isNull());
  }

  // -------------------------------------------------------------------------------------------
  // Action sheet

  void sheetButtonsTakeThePlatformIndices() {
    QSActionSheet sheet("Title", "Cancel", "Delete", {"Share", "Settings"});
    QCOMPARE(sheet.numberOfButtons(), 4);
    QCOMPARE(sheet.destructiveButtonIndex(), 0);
    QCOMPARE(sheet.firstOtherButtonIndex(), 1);
    QCOMPARE(sheet.buttonTitleAtIndex(2), QString("Settings"));
    QCOMPARE(sheet.cancelButtonIndex(), 3);

    // Built button by button, as the result screen does.
    QSActionSheet menu;
    for (const char* title : {"Share", "Settings", "Other Apps", "Cancel"})
      menu.addButtonWithTitle(title);
    QCOMPARE(menu.cancelButtonIndex(), -1);
    QCOMPARE(menu.destructiveButtonIndex(), -1);
    menu.setCancelButtonIndex(3);
    QCOMPARE(menu.cancelButtonIndex(), 3);
    QCOMPARE(menu.firstOtherButtonIndex(), 0);
    menu.setCancelButtonIndex(4);
    QCOMPARE(menu.cancelButtonIndex(), -1);
  }

  void withoutAWindowTheSheetIsAWindowOfItsOwn() {
    QVERIFY(!AppWindow::keyWindow());
    QPointer<QSActionSheet> sheet = new QSActionSheet("", "Cancel", "", {"Share"});
    int calls = 0, index = -2;
    sheet->showFromBarButtonItem(nullptr, nullptr, true,
                                 [&](QSActionSheet*, int i) { ++calls, index = i; });
    QVERIFY(sheet->isWindow());
    QVERIFY(sheet->isVisible());
    QTest::mouseClick(sheet->buttonAtIndex(0), Qt::LeftButton);
    QCOMPARE(calls, 1);
    QCOMPARE(index, 0);
    flushDeletes();
    QVERIFY(sheet.isNull());
  }

  void phoneSheetSlidesUpAndReportsOnce() {
    Stage stage;
    QPointer<QSActionSheet> sheet = new QSActionSheet("Share this image", "Cancel", "Delete",
                                                      {"Share", "Settings", "Other Apps"});
    sheet->setActionSheetStyle(QSActionSheet::Style::BlackTranslucent);
    Answer answer;
    sheet->showFromBarButtonItem(stage.screen->action, stage.screen->toolbar, false,
                                 [&](QSActionSheet* s, int index) {
                                   ++answer.calls, answer.index = index, answer.sender = s;
                                 });
    QVERIFY(!sheet->isPopover());
    QWidget* panel = sheet->panel();
    QVERIFY(panel->y() > stage.window.height() - 100);  // on its way up, even when not animated
    m_clock.advance(0.4);
    QCOMPARE(panel->geometry().bottom(), stage.window.height() - 1);
    QCOMPARE(panel->width(), 320 - 16);
    // Cancel is apart at the bottom, below the others, which keep their order.
    QCOMPARE(sheet->cancelButtonIndex(), 4);
    QAbstractButton* cancel = sheet->buttonAtIndex(4);
    QVERIFY(cancel);
    QCOMPARE(cancel->text(), QString("Cancel"));
    QVERIFY(sheet->buttonAtIndex(0)->y() < sheet->buttonAtIndex(1)->y());
    QVERIFY(sheet->buttonAtIndex(2)->y() < sheet->buttonAtIndex(3)->y());
    QVERIFY(cancel->y() - sheet->buttonAtIndex(3)->geometry().bottom() > 4);
    saveScreenshot(&stage.window, "action-sheet.png");
    // Nothing under the Cancel group shows through it: a point inside it, clear of its title,
    // looks the same over white as over black.
    auto* under = new QWidget(stage.screen->view());
    under->setAutoFillBackground(true);
    under->setGeometry(
        QRect(under->parentWidget()->mapFrom(&stage.window, cancel->mapTo(&stage.window, QPoint())),
              cancel->size()));
    under->show();
    const QPoint probe = cancel->mapTo(&stage.window, QPoint(20, cancel->height() / 2)) * 2;
    QColor seen[2];
    for (const int i : {0, 1}) {
      QPalette palette = under->palette();
      palette.setColor(QPalette::Window, i ? Qt::black : Qt::white);
      under->setPalette(palette);
      seen[i] = test::renderAt2x(&stage.window).pixelColor(probe);
    }
    QCOMPARE(seen[0], seen[1]);
    delete under;

    QTest::mouseClick(sheet->buttonAtIndex(2), Qt::LeftButton);
    QTest::mouseClick(sheet->buttonAtIndex(1), Qt::LeftButton);
    QTest::mouseClick(sheet, Qt::LeftButton, {}, QPoint(160, 40));
    m_clock.advance(0.4);
    QCOMPARE(answer.calls, 1);
    QCOMPARE(answer.index, 2);
    QCOMPARE(answer.sender, sheet.data());
    flushDeletes();
    QVERIFY(sheet.isNull());
  }

  void tappingOutsideOrEscapeCancels() {
    Stage stage;
    for (bool escape : {false, true}) {
      QPointer<QSActionSheet> sheet = new QSActionSheet("", "Cancel", "", {"Share", "Settings"});
      Answer answer;
      sheet->showFromBarButtonItem(
          stage.screen->action, stage.screen->toolbar, true,
          [&](QSActionSheet*, int index) { ++answer.calls, answer.index = index; });
      m_clock.advance(0.4);
      // A tap on the panel between its groups is not outside.
      QTest::mouseClick(sheet->panel(), Qt::LeftButton, {},
                        sheet->buttonAtIndex(2)->geometry().topLeft() - QPoint(0, 4));
      QCOMPARE(answer.calls, 0);
      if (escape)
        QTest::keyClick(sheet, Qt::Key_Escape);
      else
        QTest::mouseClick(sheet, Qt::LeftButton, {}, QPoint(160, 100));
      QCOMPARE(answer.calls, 1);
      QCOMPARE(answer.index, 2);
      m_clock.advance(0.4);
      flushDeletes();
      QVERIFY(sheet.isNull());
    }
    // With no cancel button a tap outside still closes the sheet, answering -1.
    QPointer<QSActionSheet> sheet = new QSActionSheet("", "", "", {"Share"});
    int index = -2;
    sheet->showFromBarButtonItem(nullptr, stage.screen->toolbar, false,
                                 [&](QSActionSheet*, int i) { index = i; });
    m_clock.advance(0.4);
    QTest::mouseClick(sheet, Qt::LeftButton, {}, QPoint(160, 100));
    QCOMPARE(index, -1);
  }

  void escapeAnswersTheOverlayNotAShortcutOfTheScreenBeneath() {
    Stage stage;
    // The share picker and the settings screen bind Escape like this.
    int screenEscapes = 0;
    auto* shortcut = new QShortcut(QKeySequence(Qt::Key_Escape), stage.screen->view());
    shortcut->setContext(Qt::WindowShortcut);
    connect(shortcut, &QShortcut::activated, [&] { ++screenEscapes; });
    QVERIFY(QTest::qWaitForWindowActive(&stage.window));

    Answer answer;
    QPointer<QSAlertView> alert = new QSAlertView("Title", "Message", "Cancel", {"OK"});
    alert->showWithCompletion(
        [&](QSAlertView*, int index) { ++answer.calls, answer.index = index; });
    QTest::keyClick(alert, Qt::Key_Escape);
    QTest::keyClick(alert, Qt::Key_Escape);  // a repeat while it fades out is swallowed too
    QCOMPARE(answer.calls, 1);
    QCOMPARE(answer.index, 0);
    QCOMPARE(screenEscapes, 0);
    m_clock.advance(0.4);
    flushDeletes();

    QPointer<QSActionSheet> sheet = new QSActionSheet("", "Cancel", "", {"Share"});
    sheet->showFromBarButtonItem(stage.screen->action, stage.screen->toolbar, false,
                                 [&](QSActionSheet*, int index) { answer.index = index; });
    QTest::keyClick(sheet, Qt::Key_Escape);
    QCOMPARE(answer.index, 1);
    QCOMPARE(screenEscapes, 0);
    m_clock.advance(0.4);
    flushDeletes();
    QTest::keyClick(&stage.window, Qt::Key_Escape);  // the overlays gone, Escape is the screen's
    QCOMPARE(screenEscapes, 1);
  }

  void tabletSheetPointsAtItsButtonWithoutCancel() {
    MainScreen::setSize({768, 1024, true});
    Stage stage;
    QAbstractButton* anchor = stage.screen->action->button();
    QVERIFY(anchor);
    const QRect anchorRect(anchor->mapTo(&stage.window, QPoint(0, 0)), anchor->size());

    QPointer<QSActionSheet> sheet = new QSActionSheet("", "Cancel", "", {"Share", "Settings"});
    Answer answer;
    sheet->showFromBarButtonItem(
        stage.screen->action, stage.screen->toolbar, true,
        [&](QSActionSheet*, int index) { ++answer.calls, answer.index = index; });
    QVERIFY(sheet->isPopover());
    QVERIFY(viewAlpha(sheet) < 0.5);  // fades in when animated
    m_clock.advance(0.3);
    QCOMPARE(viewAlpha(sheet), 1.0);
    const QRect panel = sheet->panel()->geometry();
    QVERIFY(panel.width() < 400);
    QCOMPARE(panel.bottom() + 1, anchorRect.top());  // its arrow touches the toolbar button
    QVERIFY(panel.left() < anchorRect.center().x() && anchorRect.center().x() < panel.right());
    QVERIFY(!sheet->buttonAtIndex(2));
    QVERIFY(sheet->buttonAtIndex(1));
    saveScreenshot(&stage.window, "action-sheet-tablet.png");

    QTest::mouseClick(sheet->buttonAtIndex(1), Qt::LeftButton);
    QTest::mouseClick(sheet, Qt::LeftButton, {}, QPoint(100, 100));
    QCOMPARE(answer.calls, 1);
    QCOMPARE(answer.index, 1);
    m_clock.advance(0.3);

    // Not animated: in place at once. A tap outside answers with the cancel index.
    sheet = new QSActionSheet("Title", "Cancel", "", {"Share"});
    answer = {};
    sheet->showFromBarButtonItem(
        stage.screen->action, stage.screen->toolbar, false,
        [&](QSActionSheet*, int index) { ++answer.calls, answer.index = index; });
    QCOMPARE(viewAlpha(sheet), 1.0);
    QTest::mouseClick(sheet, Qt::LeftButton, {}, QPoint(100, 100));
    QCOMPARE(answer.calls, 1);
    QCOMPARE(answer.index, 1);
  }
};

QTEST_MAIN(QSAlertViewTest)
#include "qs_alert_view_test.moc"
