// The single-choice list screen: taps, the checkmark, scrolling and the preferred size.
#include <QAbstractButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QtTest>

#include "table_view_controller.h"

using namespace duo;

class TableViewControllerTest : public QObject {
  Q_OBJECT

 private slots:
  void aTapMovesTheCheckmarkAndReportsTheRow() {
    TableViewController table;
    table.setRows({{"Public", {}}, {"Friends", {}}, {"Family", {}}});
    table.setCheckedRow(2);
    QList<int> chosen;
    table.setSelectionHandler([&](int row) { chosen << row; });
    table.view()->show();
    auto* friends = qobject_cast<QAbstractButton*>(table.rowWidget(1));
    QVERIFY(friends);
    QCOMPARE(friends->objectName(), QString("Cell"));
    QVERIFY(qobject_cast<QAbstractButton*>(table.rowWidget(2))->isChecked());
    QTest::mouseClick(friends, Qt::LeftButton);
    QCOMPARE(chosen, QList<int>{1});
    QCOMPARE(table.checkedRow(), 1);
    QVERIFY(friends->isChecked());
    QVERIFY(!qobject_cast<QAbstractButton*>(table.rowWidget(2))->isChecked());
    // A second click on the checked row is still a choice; it does not uncheck it.
    QTest::mouseClick(friends, Qt::LeftButton);
    QCOMPARE(chosen, (QList<int>{1, 1}));
    QVERIFY(friends->isChecked());
    // Fewer rows drop a checkmark that no longer has a row; out-of-range choices are none.
    table.setRows({{"Only", {}}});
    QCOMPARE(table.checkedRow(), -1);
    table.setCheckedRow(5);
    QCOMPARE(table.checkedRow(), -1);
    table.selectRow(3);
    QCOMPARE(chosen.size(), 2);
  }

  void scrollsARowToTheMiddleAsFarAsTheListAllows() {
    TableViewController table;
    QList<TableRow> rows;
    for (int i = 0; i < 60; ++i) rows.append({QString::number(i), {}});
    table.setRows(rows);
    table.setRowHeight(40);
    table.view()->resize(320, 400);
    table.view()->show();
    auto* scroll = qobject_cast<QScrollArea*>(table.view());
    table.scrollToRow(30, TableViewController::ScrollPosition::Middle);
    QCOMPARE(scroll->verticalScrollBar()->value(),
             30 * 40 - (scroll->viewport()->height() - 40) / 2);
    table.scrollToRow(0, TableViewController::ScrollPosition::Middle);
    QCOMPARE(scroll->verticalScrollBar()->value(), 0);
    table.scrollToRow(59, TableViewController::ScrollPosition::Top);
    QCOMPARE(scroll->verticalScrollBar()->value(), scroll->verticalScrollBar()->maximum());
    QCOMPARE(table.contentHeight(), 2400);
  }

  void preferredSizeIsAnnouncedOnlyWhenItChanges() {
    TableViewController table;
    QSignalSpy spy(&table, &TableViewController::preferredContentSizeChanged);
    table.setPreferredContentSize({320, 282});
    table.setPreferredContentSize({320, 282});
    QCOMPARE(spy.count(), 1);
    QCOMPARE(table.preferredContentSize(), QSize(320, 282));
  }

  void aClearTableLetsItsBackgroundShowThrough() {
    TableViewController table;
    table.setClearBackground(true);
    table.setRows({{"a", {}}});
    auto* scroll = qobject_cast<QScrollArea*>(table.view());
    QVERIFY(!scroll->viewport()->autoFillBackground());
    table.setClearBackground(false);
    QVERIFY(scroll->viewport()->autoFillBackground());
  }
};

QTEST_MAIN(TableViewControllerTest)
#include "table_view_controller_test.moc"
