#include <QtTest>

#include "align/auto_align.h"
#include "io/file_io.h"
#include "io/image_codec.h"
#include "result_screen_fixture.h"
#include "screen.h"

using namespace duo;

class AutoAlignButtonTest : public QObject {
  Q_OBJECT

  std::unique_ptr<test::ResultScreenFixture> m_f;

  void press() {
    m_f->screen->autoAlignButtonClick();
    QVERIFY(m_f->screen->isEstimatingAlignment());
    QTRY_VERIFY_WITH_TIMEOUT(!m_f->screen->isEstimatingAlignment(), 20000);
  }

 private slots:
  void init() {
    if (!autoAlignmentAvailable()) QSKIP("this build has no automatic alignment");
    MainScreen::setSize({320, 568, false});
    m_f = std::make_unique<test::ResultScreenFixture>();
  }
  void cleanup() { m_f.reset(); }

  void suggestionMovesTheRightImageAndOnlyInTheAlignmentView() {
    const QString pair = QFileInfo(QStringLiteral(__FILE__)).absolutePath() +
                         QStringLiteral("/../../../shared/testdata/pairs/night-street");
    if (!QFileInfo::exists(pair + "/left.jpg")) QSKIP("no test data");
    QVERIFY(m_f->open(pair));
    QCOMPARE(m_f->screen->toolbar()->findChildren<QAbstractButton*>().size(), 1);
    QVERIFY(m_f->screen->autoAlignButton()->isEnabled());
    press();
    QVERIFY(!m_f->shownAlert());
    // The pair is about 15 pixels out vertically at full size: some points at this size.
    QVERIFY(m_f->screen->alignOffsetY() != 0.0f);
    QVERIFY(std::abs(m_f->screen->alignOffsetX()) <= 100 && std::abs(m_f->screen->alignOffsetY()) <= 100);
    QVERIFY(m_f->select(1));
    QVERIFY(!m_f->screen->autoAlignButton()->isEnabled());  // the swap button's place again
  }

  void unclearSuggestionChangesNothing() {
    // Two flat grey photographs: nothing to match.
    auto flat = Image::create(640, 480);
    std::memset(flat->data(), 128, flat->byteCount());
    const auto jpeg = encodeJpeg(*flat, 90);
    for (const char* name : {"left.jpg", "right.jpg"})
      QVERIFY(writeFileAtomically(m_f->dir.filePath(name).toStdString(), *jpeg));
    QVERIFY(m_f->open(m_f->dir.path()));
    press();
    QVERIFY(m_f->shownAlert());
    QCOMPARE(m_f->shownAlert()->title(), QString("No Clear Suggestion"));
    QCOMPARE(m_f->screen->alignOffsetX(), 0.0f);
    QCOMPARE(m_f->screen->alignOffsetY(), 0.0f);
  }
};

QTEST_MAIN(AutoAlignButtonTest)
#include "auto_align_button_test.moc"
