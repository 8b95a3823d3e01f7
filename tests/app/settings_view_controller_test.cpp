#include <QAbstractButton>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <memory>
#include <thread>
#include <utility>

#include "screenshot.h"
#include "run_loop.h"
#include "screen.h"
#include "settings_keys.h"
#include "settings_store.h"
#include "settings_view_controller.h"
#include "app_window.h"
#include "navigation_controller.h"
#include "view_controller.h"

using namespace duo;

namespace {

class CountingDelegate : public SettingsViewControllerDelegate {
 public:
  int calls = 0;
  SettingsViewController* last = nullptr;
  void settingsViewControllerDidEnd(SettingsViewController* controller) override {
    ++calls;
    last = controller;
  }
};

}  // namespace

class SettingsViewControllerTest : public QObject {
  Q_OBJECT

 private:
  ManualClock m_clock;
  QTemporaryDir m_dir;
  std::unique_ptr<SettingsStore> m_store;
  std::unique_ptr<AppWindow> m_window;
  QPointer<ViewController> m_presenter;
  QPointer<NavigationController> m_navigation;
  QPointer<SettingsViewController> m_settings;

  /// The settings screen in its navigation container, presented over a plain screen in a
  /// 320x568 window, as the result screen shows it.
  void show() {
    m_window = std::make_unique<AppWindow>();
    m_presenter = new ViewController(m_window.get());  // goes with the window
    m_window->setRootViewController(m_presenter);
    m_window->show();
    m_settings = new SettingsViewController(*m_store);
    m_navigation = new NavigationController(m_settings);
    m_presenter->presentViewController(m_navigation, false);
  }
  QAbstractButton* row(const QString& name, ViewController* screen = nullptr) {
    return (screen ? screen : m_settings.data())->view()->findChild<QAbstractButton*>(name);
  }
  ViewController* openChoices(const QString& key) {
    QAbstractButton* disclosure = row(key);
    if (!disclosure) return nullptr;
    disclosure->click();
    m_clock.advance(1);
    return m_navigation->topViewController();
  }

 private slots:
  void initTestCase() {
    MainScreen::setSize({320, 568, false});
    MainScreen::setScale(2);
  }
  void init() {
    RunLoopClock::install(&m_clock);
    QFile::remove(m_dir.filePath("settings.json"));
    m_store = std::make_unique<SettingsStore>(m_dir.filePath("settings.json"));
    registerSettings(*m_store, QDateTime::currentDateTimeUtc());
  }
  void cleanup() {
    m_window.reset();
    m_clock.advance(10);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    RunLoopClock::install(nullptr);
    m_store.reset();
  }

  void shippedDescriptionListsTheUserOptionsOnly() {
    Result<SettingsDescription> description = SettingsDescription::shipped();
    QVERIFY2(description.ok(), description.ok() ? "" : description.error().message.c_str());
    QStringList keys = description->keys();
    keys.sort();
    QCOMPARE(keys, QStringList({"AnaglyphEnhance", "ColorMethod", "ImageSize", "SaveCamera",
                                "ShowIntro", "StereoBorderSize", "StereogramDots"}));
    const SettingsItem* method = description->item(keys::kColorMethod);
    QCOMPARE(method->type, SettingsItem::Type::Choice);
    QCOMPARE(int(method->choices.size()), 5);
    for (int i = 0; i < 5; ++i) QCOMPARE(method->choices[i].value, qint64(i));
    for (const SettingsChoice& choice : description->item(keys::kImageSize)->choices)
      QVERIFY(choice.value > 0 && choice.value <= 100);
    QVERIFY(description->item(keys::kImageSize)->showsOtherValues);
    QCOMPARE(description->item(keys::kSaveCamera)->type, SettingsItem::Type::Toggle);
    // Every default the application writes is one of the offered choices.
    for (const auto& [key, value] : {std::pair{keys::kColorMethod, 4},
                                     {keys::kStereoBorderSize, 10},
                                     {keys::kImageSize, 50}}) {
      const auto& choices = description->item(key)->choices;
      QVERIFY2(std::any_of(choices.begin(), choices.end(),
                           [&](const SettingsChoice& c) { return c.value == value; }),
               qPrintable(key));
    }
  }

  void badDescriptionsAreRefusedWithTheReason_data() {
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("reason");
    const QByteArray toggle = R"({"type": "toggle", "key": "A", "title": "A"})";
    QTest::newRow("not json") << QByteArray("{\"groups\": [") << "not valid JSON";
    QTest::newRow("no groups") << QByteArray(R"({"items": []})") << "no \"groups\" list";
    QTest::newRow("nothing listed") << QByteArray(R"({"groups": []})") << "lists no settings";
    QTest::newRow("empty group") << QByteArray(R"({"groups": [{"title": "G", "items": []}]})")
                                 << "group 1 (\"G\"): needs a non-empty \"items\" list";
    QTest::newRow("unknown type")
        << QByteArray(R"({"groups": [{"items": [{"type": "slider", "key": "A", "title": "A"}]}]})")
        << "item 1 (A): unknown type \"slider\"";
    QTest::newRow("missing key")
        << QByteArray(R"({"groups": [{"items": [{"type": "toggle", "title": "A"}]}]})")
        << "group 1, item 1: \"key\" is missing";
    QTest::newRow("key twice") << QByteArray("{\"groups\": [{\"items\": [" + toggle + "," + toggle +
                                             "]}]}")
                               << "item 2 (A): the key is listed twice";
    QTest::newRow("choice without choices")
        << QByteArray(R"({"groups": [{"items": [{"type": "choice", "key": "A", "title": "A"}]}]})")
        << "non-empty \"choices\" list";
    QTest::newRow("value out of range")
        << QByteArray(R"({"groups": [{"items": [{"type": "choice", "key": "A", "title": "A",
            "minimum": 1, "choices": [{"value": 0, "title": "zero"}]}]}]})")
        << "choice 1: value 0 is outside the key's range";
    QTest::newRow("fractional value")
        << QByteArray(R"({"groups": [{"items": [{"type": "choice", "key": "A", "title": "A",
            "choices": [{"value": 2.5, "title": "x"}]}]}]})")
        << "not a whole number";
  }
  void badDescriptionsAreRefusedWithTheReason() {
    QFETCH(QByteArray, json);
    QFETCH(QString, reason);
    const Result<SettingsDescription> description = SettingsDescription::fromJson(json);
    QVERIFY(!description.ok());
    const QString message = QString::fromStdString(description.error().message);
    QVERIFY2(message.startsWith("Settings description") && message.contains(reason),
             qPrintable(message));

    const Result<SettingsDescription> missing = SettingsDescription::fromFile("/no/such.json");
    QVERIFY(!missing.ok());
    QVERIFY(missing.error().code == ErrorCode::Io);
  }

  void aSwitchWritesItsKeyOnceAndFollowsOtherWriters() {
    show();
    QAbstractButton* enhance = row(keys::kAnaglyphEnhance);
    QVERIFY(enhance);
    QVERIFY(enhance->isChecked());
    QVERIFY(!row(keys::kStereogramDots)->isChecked());
    QStringList heard;
    const int token =
        m_store->addObserver(keys::kAnaglyphEnhance, [&](const QString& key) { heard << key; });
    enhance->click();
    QCOMPARE(m_store->objectForKey(keys::kAnaglyphEnhance), QVariant(false));
    QCOMPARE(heard, QStringList{keys::kAnaglyphEnhance});
    QVERIFY(!enhance->isChecked());
    m_store->removeObserver(keys::kAnaglyphEnhance, token);

    m_store->setBool(true, keys::kStereogramDots);  // someone else changes a shown key
    QVERIFY(row(keys::kStereogramDots)->isChecked());
    // A write from another thread reaches the switch through the screen's own thread.
    std::thread([this] { m_store->setBool(false, keys::kStereogramDots); }).join();
    QVERIFY(row(keys::kStereogramDots)->isChecked());
    QCoreApplication::sendPostedEvents();
    QVERIFY(!row(keys::kStereogramDots)->isChecked());
  }

  void choosingAColourMethodWritesTheIntegerAndMovesTheCheckmark() {
    show();
    QCOMPARE(row(keys::kColorMethod)->accessibleDescription(), QStringLiteral("Balanced"));
    int notifications = 0;
    const int token =
        m_store->addObserver(keys::kColorMethod, [&](const QString&) { ++notifications; });
    ViewController* choices = openChoices(keys::kColorMethod);
    QVERIFY(choices && choices != m_settings);
    QCOMPARE(choices->title(), QStringLiteral("Colour method"));
    QVERIFY(row("ColorMethod=4", choices)->isChecked());
    row("ColorMethod=2", choices)->click();
    QCOMPARE(m_store->objectForKey(keys::kColorMethod), QVariant(qint64(2)));
    QCOMPARE(notifications, 1);
    QVERIFY(row("ColorMethod=2", choices)->isChecked());
    QVERIFY(!row("ColorMethod=4", choices)->isChecked());
    row("ColorMethod=2", choices)->click();  // choosing the current value again changes nothing
    QVERIFY(row("ColorMethod=2", choices)->isChecked());
    QCOMPARE(notifications, 1);
    m_store->removeObserver(keys::kColorMethod, token);
    QCOMPARE(row(keys::kColorMethod)->accessibleDescription(), QStringLiteral("Optimised"));

    choices->navigationItem().leftBarButtonItem->trigger();  // back
    m_clock.advance(1);
    QCOMPARE(m_navigation->topViewController(), m_settings.data());
  }

  void oddStoredValuesAreShownAsUnknownAndNeverRewritten() {
    m_store->setInteger(9, keys::kColorMethod);
    m_store->setObject(QStringLiteral("yes"), keys::kSaveCamera);
    m_store->setInteger(0, keys::kImageSize);  // not a legal percentage
    show();
    QCOMPARE(row(keys::kColorMethod)->accessibleDescription(), QStringLiteral("Unknown"));
    QCOMPARE(row(keys::kImageSize)->accessibleDescription(), QStringLiteral("Unknown"));
    QVERIFY(!row(keys::kSaveCamera)->isChecked());
    ViewController* choices = openChoices(keys::kColorMethod);
    for (int value = 0; value < 5; ++value)
      QVERIFY(!row(QStringLiteral("ColorMethod=%1").arg(value), choices)->isChecked());
    choices->navigationItem().leftBarButtonItem->trigger();
    m_clock.advance(1);
    QCOMPARE(m_store->objectForKey(keys::kColorMethod), QVariant(qint64(9)));
    QCOMPARE(m_store->objectForKey(keys::kSaveCamera), QVariant(QStringLiteral("yes")));
    QCOMPARE(m_store->objectForKey(keys::kImageSize), QVariant(qint64(0)));
    choices = openChoices(keys::kImageSize);
    QVERIFY(!row("ImageSize=0", choices));  // an illegal value is not offered
    row("ImageSize=75", choices)->click();
    QCOMPARE(m_store->objectForKey(keys::kImageSize), QVariant(qint64(75)));
  }

  void anUnlistedImageSizeStaysVisibleAndSelectable() {
    m_store->setInteger(60, keys::kImageSize);
    show();
    QCOMPARE(row(keys::kImageSize)->accessibleDescription(), QStringLiteral("60%"));
    ViewController* choices = openChoices(keys::kImageSize);
    QAbstractButton* sixty = row("ImageSize=60", choices);
    QVERIFY(sixty && sixty->isChecked());
    row("ImageSize=25", choices)->click();
    QCOMPARE(m_store->objectForKey(keys::kImageSize), QVariant(qint64(25)));
    QVERIFY(!sixty->isChecked());
    sixty->click();
    QCOMPARE(m_store->objectForKey(keys::kImageSize), QVariant(qint64(60)));
    QVERIFY(sixty->isChecked());
    QCOMPARE(row(keys::kImageSize)->accessibleDescription(), QStringLiteral("60%"));
  }

  void doneTellsTheDelegateOnce() {
    show();
    CountingDelegate delegate;
    m_settings->setDelegate(&delegate);
    QAbstractButton* done = m_settings->doneButtonItem()->button();
    QVERIFY(done && done->isVisible());
    QCOMPARE(done->text(), QStringLiteral("Done"));
    QCOMPARE(m_navigation->navigationBar()->title(), QStringLiteral("Settings"));
    done->click();
    done->click();
    QCOMPARE(delegate.calls, 1);
    QCOMPARE(delegate.last, m_settings.data());

    m_settings->setShowDoneButton(false);
    QVERIFY(!m_settings->doneButtonItem()->button());
  }

  void escapePressesDoneWhileDoneIsOnScreen() {
    show();
    CountingDelegate delegate;
    m_settings->setDelegate(&delegate);
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    ViewController* choices = openChoices(keys::kColorMethod);
    QTest::keyClick(m_window.get(), Qt::Key_Escape);  // a value list has no Done
    QCOMPARE(delegate.calls, 0);
    choices->navigationItem().leftBarButtonItem->trigger();
    m_clock.advance(1);
    m_settings->setShowDoneButton(false);
    QTest::keyClick(m_window.get(), Qt::Key_Escape);
    QCOMPARE(delegate.calls, 0);

    m_settings->setShowDoneButton(true);
    QTest::keyClick(m_window.get(), Qt::Key_Escape);
    QCOMPARE(delegate.calls, 1);
    QCOMPARE(delegate.last, m_settings.data());
    QTest::keyClick(m_window.get(), Qt::Key_Escape);  // like a second press of Done: ignored
    m_settings->doneButtonItem()->trigger();
    QCOMPARE(delegate.calls, 1);
  }

  void withoutADelegateDoneClosesTheScreen() {
    show();
    m_settings->doneButtonItem()->trigger();
    m_clock.advance(1);
    QVERIFY(!m_presenter->presentedViewController());
  }

  void screenshots() {
    show();
    m_clock.advance(1);
    QImage list = duo::test::renderAt2x(m_window.get());
    QVERIFY(list.save("settings.png"));
    // The list starts below the bar, not under it.
    QAbstractButton* first = row(keys::kColorMethod);
    QVERIFY(first->mapTo(m_window.get(), QPoint(0, 0)).y() >= NavigationBar::kHeight);
    QVERIFY(openChoices(keys::kColorMethod));
    QVERIFY(duo::test::renderAt2x(m_window.get()).save("settings-colour-method.png"));
  }
};

QTEST_MAIN(SettingsViewControllerTest)
#include "settings_view_controller_test.moc"
