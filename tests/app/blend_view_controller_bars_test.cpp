// The result screen's bars and menus: the fade, the action menu, sharing, settings, swap, back.
#include "blend_screen_test_base.h"

class BlendViewControllerBarsTest : public BlendScreenTestBase {
  Q_OBJECT

 private slots:
  void initTestCase() { MainScreen::setScale(2); }
  void init() { setUp(); }
  void cleanup() { tearDown(); }

  // --- Bars --------------------------------------------------------------------------------

  void barsFadeSixSecondsAfterLoading() {
    QVERIFY(open());
    QVERIFY(barsShown());
    QVERIFY(m_screen->timer() && m_screen->timer()->isValid());
    m_clock.advance(5.9);
    QVERIFY(barsShown());
    QVERIFY(!m_screen->prefersStatusBarHidden());
    m_clock.advance(0.1);  // 6.0 s: the fade starts and takes half a second
    QVERIFY(!m_screen->timer());
    QVERIFY(m_screen->prefersStatusBarHidden());
    m_clock.advance(0.35);
    QVERIFY(navAlpha() > 0 && navAlpha() < 1);
    QVERIFY(toolbarAlpha() > 0 && toolbarAlpha() < 1);
    m_clock.advance(0.15 + kFrame);
    QVERIFY(barsHidden());
    QVERIFY(!m_screen->isFadeTimerStopped());
  }

  void tapTogglesTheBarsAndRestartsTheTimer() {
    QVERIFY(open());
    select(1);
    QWidget* view = m_screen->view();
    m_clock.advance(2);
    QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(160, 300));
    QVERIFY(!m_screen->timer());
    QVERIFY(m_screen->prefersStatusBarHidden());
    m_clock.advance(0.35);
    QVERIFY(navAlpha() > 0 && navAlpha() < 1);
    m_clock.advance(0.15 + kFrame);
    QVERIFY(barsHidden());

    m_clock.advance(3);
    const double tapTime = m_clock.now();
    QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(160, 300));
    QVERIFY(!m_screen->prefersStatusBarHidden());
    QVERIFY(m_screen->timer() && m_screen->timer()->isValid());
    QCOMPARE(m_screen->timer()->fireDate(), tapTime + 6.0);
    m_clock.advance(0.25 + kFrame);
    QVERIFY(barsShown());
    m_clock.advance(5.6);  // 5.85 s after the tap
    QVERIFY(barsShown());
    m_clock.advance(0.15 + 0.5 + kFrame);
    QVERIFY(barsHidden());
  }

  void alignmentTouchTogglesTheBarsAtTouchDown() {
    QVERIFY(open());
    m_clock.advance(1);
    // Shown and not pinned: the touch-down starts the half-second fade-out, drag or not.
    m_screen->touchesBegan(QPointF(160, 300));
    QCOMPARE(viewTargetAlpha(m_screen->navigationBar()), 0.0);
    QVERIFY(m_screen->prefersStatusBarHidden());
    QVERIFY(!m_screen->timer());
    m_clock.advance(0.35);
    QVERIFY(navAlpha() > 0 && navAlpha() < 1);
    // Its end brings them back, as every end of an alignment touch does.
    m_screen->touchesEnded(QPointF(160, 300));
    m_clock.advance(0.25 + kFrame);
    QVERIFY(barsShown());

    m_clock.advance(6.6);
    QVERIFY(barsHidden());
    m_screen->touchesBegan(QPointF(160, 300));  // hidden: back at touch-down already
    QCOMPARE(viewTargetAlpha(m_screen->toolbar()), 1.0);
    QVERIFY(!m_screen->prefersStatusBarHidden() && m_screen->timer());
    m_clock.advance(0.25 + kFrame);
    QVERIFY(barsShown());
    m_screen->touchesEnded(QPointF(160, 300));
  }

  void pointerOverABarBringsTheBarsBack_data() {
    QTest::addColumn<QString>("where");
    QTest::addColumn<bool>("faded");
    QTest::addColumn<bool>("pinned");
    QTest::addColumn<bool>("realMouse");
    QTest::addColumn<bool>("back");
    QTest::newRow("navigation bar") << "navigation" << true << false << false << true;
    QTest::newRow("toolbar") << "toolbar" << true << false << false << true;
    QTest::newRow("picture") << "picture" << true << false << false << false;
    QTest::newRow("toolbar before the fade") << "toolbar" << false << false << false << true;
    QTest::newRow("menu open") << "toolbar" << true << true << false << false;
    QTest::newRow("mouse, navigation bar") << "navigation" << true << false << true << true;
    QTest::newRow("mouse, picture") << "picture" << true << false << true << false;
  }
  void pointerOverABarBringsTheBarsBack() {
    QFETCH(QString, where);
    QFETCH(bool, faded);
    QFETCH(bool, pinned);
    QFETCH(bool, realMouse);
    QFETCH(bool, back);
    QVERIFY(open());
    select(1);
    m_clock.advance(faded ? 6.6 : 3);
    QCOMPARE(barsHidden(), faded);
    if (pinned) m_screen->actionButtonClick();
    m_clock.advance(1);
    const QPoint point = where == "navigation" ? m_screen->navigationBar()->geometry().center()
                         : where == "toolbar"  ? m_screen->toolbar()->geometry().center()
                                               : QPoint(160, 300);
    const double moved = m_clock.now();
    if (realMouse)
      QTest::mouseMove(m_window.get(), m_screen->view()->mapTo(m_window.get(), point));
    else
      m_screen->pointerMoved(point);
    if (pinned) {
      QVERIFY(m_screen->isFadeTimerStopped() && !m_screen->timer());
      return;
    }
    QCOMPARE(m_screen->timer() != nullptr, back);
    if (back) QCOMPARE(m_screen->timer()->fireDate(), moved + 6.0);
    m_clock.advance(0.25 + kFrame);
    QCOMPARE(barsShown(), back);
    QCOMPARE(barsHidden(), !back);
  }

  void pressOnABarControlIsNotATouchOfThePicture() {
    QVERIFY(open());
    // The swap and action buttons are disabled in the alignment view; pressing them anyway must
    // neither start an alignment drag nor toggle the bars. (Where the alignment can be suggested,
    // the suggestion button takes the swap button's place there.)
    for (BarButtonItem* item : {m_screen->swapButton(), m_screen->actionButton()}) {
      if (item == m_screen->swapButton() && m_screen->autoAlignButton()) {
        QVERIFY(!item->button());
        continue;
      }
      QAbstractButton* button = item->button();
      QVERIFY(button && !button->isEnabled());
      QTest::mousePress(button, Qt::LeftButton, {}, button->rect().center());
      const bool gesturing = m_screen->isGesturing();
      QTest::mouseRelease(button, Qt::LeftButton, {}, button->rect().center());
      m_clock.advance(1);
      QVERIFY2(
          !gesturing,
          qPrintable(item->systemItem() == BarButtonItem::SystemItem::Action ? "action" : "swap"));
      QVERIFY(barsShown());
    }
  }

  void anyActionPutsOffTheFade() {
    QVERIFY(open());
    m_clock.advance(4);
    select(1);  // a mode change is an action: six seconds from now
    m_clock.advance(5.9);
    QVERIFY(barsShown());
    m_clock.advance(0.6 + kFrame);
    QVERIFY(barsHidden());
    select(2);  // brings hidden bars back in a quarter second
    m_clock.advance(0.25 + kFrame);
    QVERIFY(barsShown());
  }

  void actionMenuPinsTheBarsUntilCancelled() {
    QVERIFY(open());
    select(1);
    m_clock.advance(3);
    m_screen->actionButtonClick();
    QSActionSheet* sheet = shownSheet();
    QVERIFY(sheet);
    QCOMPARE(sheet->numberOfButtons(), 4);
    QCOMPARE(sheet->buttonTitleAtIndex(0), QString("Share"));
    QCOMPARE(sheet->buttonTitleAtIndex(1), QString("Settings"));
    QCOMPARE(sheet->buttonTitleAtIndex(2), QString("Other Marrowby Apps"));
    QCOMPARE(sheet->buttonTitleAtIndex(3), QString("Cancel"));
    QCOMPARE(sheet->cancelButtonIndex(), 3);
    QCOMPARE(sheet->actionSheetStyle(), QSActionSheet::Style::BlackTranslucent);
    QVERIFY(m_screen->isFadeTimerStopped());
    QVERIFY(!m_screen->timer());

    // Pinned: taps do not toggle and nothing fades, however long the menu stays.
    m_screen->touchesBegan(QPointF(160, 300));
    m_screen->touchesEnded(QPointF(160, 300));
    m_clock.advance(20);
    QVERIFY(barsShown());
    QVERIFY(!m_screen->prefersStatusBarHidden());

    sheet->buttonAtIndex(3)->click();
    const double cancelled = m_clock.now();
    QVERIFY(!m_screen->isFadeTimerStopped());
    QVERIFY(m_screen->timer() && m_screen->timer()->isValid());
    QCOMPARE(m_screen->timer()->fireDate(), cancelled + 6.0);
    m_clock.advance(5.9);
    QVERIFY(barsShown());
    m_clock.advance(0.6 + kFrame);
    QVERIFY(barsHidden());
  }

  void otherAppsOpensTheMakersStorePageAndFreesTheBars() {
    QVERIFY(open());
    select(1);
    chooseFromActionMenu(QStringLiteral("Other Marrowby Apps"));
    QCOMPARE(m_opened.size(), 1);
    QCOMPARE(m_opened[0].scheme(), QString("itms-apps"));
    QVERIFY(m_opened[0].path().startsWith("/artist/"));
    // The store opens beside the screen: the bars are not left pinned, a tap hides them.
    m_clock.advance(1);
    QVERIFY(!m_screen->isFadeTimerStopped());
    m_screen->touchesBegan(QPointF(160, 300));
    m_screen->touchesEnded(QPointF(160, 300));
    m_clock.advance(0.5 + kFrame);
    QVERIFY(barsHidden());

    // Without a handler for the store's own scheme its older scheme is used.
    m_openableSchemes = {QStringLiteral("itms")};
    chooseFromActionMenu(QStringLiteral("Other Marrowby Apps"));
    QCOMPARE(m_opened.size(), 2);
    QCOMPARE(m_opened[1].scheme(), QString("itms"));
    QCOMPARE(m_opened[1].path(), m_opened[0].path());
  }

  void aPageThatCannotBeOpenedIsReported() {
    QVERIFY(open());
    select(1);
    setURLOpenerForTesting([this](const QUrl& url) {
      m_opened << url;
      return false;
    });
    chooseFromActionMenu(QStringLiteral("Other Marrowby Apps"));
    QVERIFY(!m_opened.isEmpty());
    QSAlertView* alert = shownAlert();
    QVERIFY(alert);
    QCOMPARE(alert->title(), QString("Cannot Open the Page"));
    QVERIFY(alert->message().contains(m_opened.last().toDisplayString()));
  }

  // --- Share -------------------------------------------------------------------------------

  void onATabletTheShareSheetsGoingAlsoStartsTheExport() {
    // A sheet never hides the result screen, so its going is not an appearance of the screen.
    MainScreen::setSize({768, 1024, true});
    QVERIFY(open());
    select(1);
    QSShareViewController* picker = openSharePicker();
    QVERIFY(picker);
    picker->buttonForIndex(7)->click();
    m_clock.advance(1);
    QVERIFY(!m_screen->isShowingModal());
    QCOMPARE(m_screen->lastDispatchedShareIndex(), 7);
  }

  void shareStartsOnlyAfterThePickerHasGone() {
    QVERIFY(open());
    m_screen->reachability()->setStatusForTesting(1);
    select(1);
    QSShareViewController* picker = openSharePicker();
    QVERIFY(picker);
    QVERIFY(m_screen->isShowingModal());
    QVERIFY(m_screen->isFadeTimerStopped());
    QCOMPARE(picker->fileType(), 1);
    QVERIFY(picker->isNetworkAvailable());

    QSShareButton* clipboard = picker->buttonForIndex(7);
    QVERIFY(clipboard && clipboard->isEnabled());
    clipboard->click();
    // The picker slides away for 0.35 s; the dispatch polls every 0.1 s meanwhile.
    for (int i = 0; i < 3; ++i) {
      m_clock.advance(0.1);
      QCOMPARE(m_screen->lastDispatchedShareIndex(), -1);
      QVERIFY(m_screen->isShowingModal());
      QVERIFY(m_screen->presentedViewController());
    }
    m_clock.advance(0.08);  // 0.38 s: gone, but the next poll is at 0.4 s
    QVERIFY(!m_screen->presentedViewController());
    QVERIFY(!m_screen->isShowingModal());
    QCOMPARE(m_screen->lastDispatchedShareIndex(), -1);
    m_clock.advance(0.03);
    QCOMPARE(m_screen->lastDispatchedShareIndex(), 7);
    // The dispatch fires once only.
    m_clock.advance(1);
    QCOMPARE(m_screen->lastDispatchedShareIndex(), 7);
  }

  void cancelledShareDispatchesNothingAndRestartsTheFade() {
    QVERIFY(open());
    select(1);
    QSShareViewController* picker = openSharePicker();
    QVERIFY(picker);
    picker->cancelButtonTouched();
    const double cancelled = m_clock.now();
    QVERIFY(!m_screen->isFadeTimerStopped());
    QVERIFY(m_screen->timer() && m_screen->timer()->isValid());
    QCOMPARE(m_screen->timer()->fireDate(), cancelled + 6.0);
    m_clock.advance(2);
    QVERIFY(!m_screen->presentedViewController());
    QCOMPARE(m_screen->lastDispatchedShareIndex(), -1);
    m_clock.advance(4.5);
    QVERIFY(barsHidden());
  }

  void pickerIsToldTheOutputKindAndTheNetwork() {
    QVERIFY(open());
    m_screen->reachability()->setStatusForTesting(0);
    QCOMPARE(m_screen->remoteHostStatus(), 0);
    select(4);
    QSShareViewController* picker = openSharePicker();
    QVERIFY(picker);
    QCOMPARE(picker->fileType(), 2);
    QVERIFY(!picker->isNetworkAvailable());
    picker->cancelButtonTouched();
    m_clock.advance(1);

    m_screen->reachability()->setStatusForTesting(2);
    QCOMPARE(m_screen->remoteHostStatus(), 2);
    select(3);
    picker = openSharePicker();
    QVERIFY(picker);
    QCOMPARE(picker->fileType(), 1);
    QVERIFY(picker->isNetworkAvailable());
    picker->cancelButtonTouched();
  }

  // --- Settings ----------------------------------------------------------------------------

  void settingChangeRemovesItsOutputsAndRendersOnceOnClosing_data() {
    QTest::addColumn<QString>("key");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QStringList>("removed");
    QTest::newRow("ColorMethod") << keys::kColorMethod << QVariant(qint64(2))
                                 << QStringList{kColorFile};
    QTest::newRow("AnaglyphEnhance")
        << keys::kAnaglyphEnhance << QVariant(false) << QStringList{kColorFile, kGreyFile};
    QTest::newRow("StereogramDots")
        << keys::kStereogramDots << QVariant(true) << QStringList{kStereogramFile};
    QTest::newRow("StereoBorderSize")
        << keys::kStereoBorderSize << QVariant(qint64(5)) << QStringList{kStereogramFile};
    QTest::newRow("unobserved ImageSize")
        << keys::kImageSize << QVariant(qint64(30)) << QStringList{};
  }
  void settingChangeRemovesItsOutputsAndRendersOnceOnClosing() {
    QFETCH(QString, key);
    QFETCH(QVariant, value);
    QFETCH(QStringList, removed);
    QVERIFY(open());
    select(1);
    select(2);
    select(3);
    for (const char* name : {kColorFile, kGreyFile, kStereogramFile}) QVERIFY(cached(name));

    SettingsViewController* settings = openSettings();
    QVERIFY(settings);
    QVERIFY(m_screen->isShowingModal());
    QVERIFY(!m_screen->settingsChanged());
    QVERIFY(settings->showDoneButton());
    const int renders = m_screen->renderCount(), loads = m_screen->cacheLoadCount();

    if (value.typeId() == QMetaType::Bool)
      m_store->setBool(value.toBool(), key);
    else
      m_store->setInteger(value.toLongLong(), key);
    for (const char* name : {kColorFile, kGreyFile, kStereogramFile})
      QVERIFY2(cached(name) != removed.contains(QLatin1String(name)), name);
    QCOMPARE(m_screen->settingsChanged(), !removed.isEmpty());
    // Nothing renders while the settings screen is up.
    m_clock.advance(1);
    QCOMPARE(m_screen->renderCount(), renders);

    settings->doneButtonItem()->trigger();
    m_clock.advance(1);
    QVERIFY(settle());
    QVERIFY(!m_screen->presentedViewController());
    QVERIFY(!m_screen->isShowingModal());
    const bool stereogramRemoved = removed.contains(QLatin1String(kStereogramFile));
    if (removed.isEmpty()) {
      QCOMPARE(m_screen->renderCount(), renders);
      QCOMPARE(m_screen->cacheLoadCount(), loads);
    } else {
      // The stereogram is on screen: rendered anew when its file went, else loaded.
      QCOMPARE(m_screen->renderCount(), renders + (stereogramRemoved ? 1 : 0));
      QCOMPARE(m_screen->cacheLoadCount(), loads + (stereogramRemoved ? 0 : 1));
    }
    QVERIFY(m_screen->timer() && m_screen->timer()->isValid());
    QVERIFY(!m_screen->isFadeTimerStopped());
  }

  // --- Swap and back -----------------------------------------------------------------------

  void swapRetitlesKeepsTheOffsetAndClearsTheCache() {
    QVERIFY(open());
    m_screen->touchesBegan(QPointF(100, 300));
    m_screen->touchesMoved(QPointF(112, 293));
    m_screen->touchesEnded(QPointF(112, 293));
    QVERIFY(!m_screen->swapButton()->isEnabled());  // impossible in the alignment view
    select(1);
    select(2);
    select(3);
    QCOMPARE(m_screen->navigationBar()->title(), QString("Stereogram (parallel)"));
    const QImage leftBefore = toQImage(m_screen->pair().leftImage());
    const QImage rightBefore = toQImage(m_screen->pair().rightImage());
    const int renders = m_screen->renderCount();

    QVERIFY(m_screen->swapButton()->isEnabled());
    m_screen->swapButton()->trigger();
    QVERIFY(m_screen->isImageSwapped());
    QCOMPARE(m_screen->navigationBar()->title(), QString("Stereogram (cross)"));
    for (const char* name : {kColorFile, kGreyFile, kStereogramFile}) QVERIFY2(!cached(name), name);
    QCOMPARE(toQImage(m_screen->pair().leftImage()), rightBefore);
    QCOMPARE(toQImage(m_screen->pair().rightImage()), leftBefore);
    QCOMPARE(m_screen->alignOffsetX(), 12.0f);
    QCOMPARE(m_screen->alignOffsetY(), -7.0f);
    m_clock.advance(0);
    QVERIFY(settle());
    QCOMPARE(m_screen->renderCount(), renders + 1);  // rendered anew, not loaded

    // Every other output renders again too; a second swap goes back to the pair as taken.
    select(1);
    QCOMPARE(m_screen->renderCount(), renders + 2);
    m_screen->swapButtonClick();
    QVERIFY(!m_screen->isImageSwapped());
    select(3);
    QCOMPARE(m_screen->navigationBar()->title(), QString("Stereogram (parallel)"));
    // Back in the alignment view the overlay sits at the kept offset.
    select(0);
    m_clock.advance(1.1);
    QCOMPARE(viewTransform(m_screen->alignImageView()), QTransform::fromTranslate(12, -7));
  }

  void backButtonTellsTheCallerHalfASecondAfterTheScreenHasGone() {
    QVERIFY(open());
    int told = 0;
    m_screen->setCallback([&told] { ++told; });
    m_clock.advance(2);
    m_screen->photoButton()->trigger();
    QVERIFY(!m_screen->timer());  // stopped before the screen goes
    QVERIFY(!m_screen->alignImageView());
    // The screen slides away for a third of a second or so; find when it has gone.
    m_clock.advance(0.3);
    QCOMPARE(m_root->presentedViewController(), m_screen.data());
    const double deadline = m_clock.now() + 1;
    while (m_root->presentedViewController() && m_clock.now() < deadline) m_clock.advance(0.001);
    QVERIFY(!m_root->presentedViewController());
    QCOMPARE(told, 0);
    m_clock.advance(0.495);
    QCOMPARE(told, 0);
    m_clock.advance(0.006);
    QCOMPARE(told, 1);
    m_clock.advance(10);
    flushDeletes();
    QCOMPARE(told, 1);
    QVERIFY(m_screen.isNull());
  }
};

QTEST_MAIN(BlendViewControllerBarsTest)
#include "blend_view_controller_bars_test.moc"
