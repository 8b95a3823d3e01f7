#include <QtTest>

#include <QLabel>
#include <QPainter>
#include <QPainterPath>

#include <cmath>
#include <functional>

#include "screenshot.h"
#include "qs_blur_view.h"
#include "qs_features.h"
#include "run_loop.h"
#include "screen.h"
#include "theme.h"
#include "view_animation.h"

using namespace duo;

namespace {

/// A view that draws whatever the test gives it, filling its parent.
class Painted : public QWidget {
 public:
  using Painter = std::function<void(QPainter&, const QRect&)>;
  Painted(Painter paint, QWidget* parent) : QWidget(parent), m_paint(std::move(paint)) {
    setGeometry(parent->rect());
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    m_paint(painter, rect());
  }

 private:
  Painter m_paint;
};

Painted* fill(QWidget* parent, QColor colour) {
  return new Painted([colour](QPainter& p, const QRect& r) { p.fillRect(r, colour); }, parent);
}

/// Black left of x = 160, white from there on.
Painted* edge(QWidget* parent) {
  return new Painted(
      [](QPainter& p, const QRect& r) {
        p.fillRect(r, Qt::white);
        p.fillRect(QRect(0, 0, 160, r.height()), Qt::black);
      },
      parent);
}

/// A sunset over hills: something colourful for a frosted panel to sit on.
void paintScenery(QPainter& p, const QRect& r) {
  QLinearGradient sky(0, 0, 0, r.height());
  sky.setStops({{0, QColor(0x1d2b64)}, {0.45, QColor(0xc04a8c)}, {0.7, QColor(0xf7973c)}});
  p.fillRect(r, sky);
  const QPointF centre(r.width() * 0.62, r.height() * 0.58);
  QRadialGradient sun(centre, 70);
  sun.setStops({{0, QColor(0xfff4c2)}, {0.6, QColor(0xffd06b)}, {1, QColor(255, 208, 107, 0)}});
  p.setPen(Qt::NoPen);
  p.setBrush(sun);
  p.drawEllipse(centre, 70, 70);
  const QColor hills[] = {QColor(0x5b2a6e), QColor(0x321b4a), QColor(0x16102a)};
  for (int i = 0; i < 3; ++i) {
    const double base = r.height() * (0.66 + 0.1 * i);
    QPainterPath hill(QPointF(0, r.height()));
    for (int x = 0; x <= r.width(); x += 8)
      hill.lineTo(x, base - 26 * std::sin(x / (55.0 + 20 * i) + i * 1.7) - 10 * i);
    hill.lineTo(r.width(), r.height());
    p.setBrush(hills[i]);
    p.drawPath(hill);
  }
}

int grey(const QImage& image, int x, int y) { return qGray(image.pixel(x, y)); }

class CancelSpy : public QObject, public QSProgressViewDelegate {
 public:
  int calls = 0;
  void progressViewDidCancel(QSProgressView*) override { ++calls; }
};

}  // namespace

class QSBlurViewTest : public QObject {
  Q_OBJECT

 private:
  ManualClock m_clock;

 private slots:
  void initTestCase() { MainScreen::setScale(2); }
  void init() { RunLoopClock::install(&m_clock); }
  void cleanup() {
    m_clock.advance(10);
    RunLoopClock::install(nullptr);
  }

  void blurRefusesLessThanAPointAndRadiusZeroOnlyTints() {
    QImage half(1, 1, QImage::Format_RGB32);  // half a point at 2×
    half.setDevicePixelRatio(2);
    QVERIFY(applyBlurWithRadius(half, 20, Qt::white, 1).isNull());
    const QImage noBitmap;
    QVERIFY(applyBlurWithRadius(noBitmap, 20, Qt::white, 1).isNull());

    QImage input(3, 2, QImage::Format_RGB32);  // one pixel per point
    input.fill(QColor(200, 100, 0));
    QVERIFY(applyBlurWithRadius(input, 20, Qt::white, 1, &noBitmap).isNull());
    const QImage out = applyBlurWithRadius(input, 0, QColor::fromRgbF(1, 1, 1, 0.5), 1);
    QCOMPARE(out.size(), QSize(6, 4));  // worked at the screen's scale
    QCOMPARE(out.devicePixelRatio(), 2.0);
    QCOMPARE(QColor(out.pixel(5, 3)), QColor(228, 178, 128));  // c × 0.5 + 255 × 0.5
    QCOMPARE(QColor(applyBlurWithRadius(input, 0, QColor(), 1).pixel(4, 2)), QColor(200, 100, 0));

    // Greyed only where the mask is white.
    QImage mask(6, 4, QImage::Format_Grayscale8);
    mask.fill(0);
    for (int y = 0; y < 4; ++y) mask.setPixelColor(0, y, Qt::white);
    const QImage masked = applyBlurWithRadius(input, 0, QColor(), 0, &mask);
    QCOMPARE(qRed(masked.pixel(0, 2)), qGreen(masked.pixel(0, 2)));
    QCOMPARE(qRed(masked.pixel(5, 3)), 200);
  }

  void panelWithoutAreaOrParentHasNoBackdrop() {
    QWidget phone;
    phone.resize(320, 568);
    edge(&phone);
    QSBlurView flat(QRect(10, 10, 0, 40), &phone);
    flat.layoutSubviews();
    QVERIFY(flat.backgroundBlurView()->image().isNull());
    QSBlurView lonely(QRect(0, 0, 100, 100));
    lonely.layoutSubviews();
    QVERIFY(lonely.backgroundBlurView()->image().isNull());
    QCOMPARE(lonely.backgroundTintColor(), QColor::fromRgbF(0.15f, 0.15f, 0.15f, 0.85f));
  }

  void backdropIsTheBlurredAreaBehindThePanel() {
    QWidget phone;
    phone.resize(320, 568);
    QWidget* behind = edge(&phone);
    setViewAlpha(behind, 0.5);  // faded in: its layer stays, at full opacity
    setViewAlpha(behind, 1);
    QSBlurView panel(QRect(100, 200, 120, 60), &phone);
    panel.setBackgroundTintColor(Qt::transparent);  // read the blur itself
    panel.layoutSubviews();
    QCOMPARE(panel.backgroundBlurView()->geometry(), panel.rect());
    QImage backdrop = panel.backgroundBlurView()->image();
    QCOMPARE(backdrop.size(), QSize(240, 120));

    // The sharp edge, 60 points into the panel, has become a smooth, rising ramp.
    for (int x = 1; x < 240; ++x) QVERIFY(grey(backdrop, x, 60) >= grey(backdrop, x - 1, 60));
    QVERIFY(grey(backdrop, 0, 60) < 10 && grey(backdrop, 239, 60) > 245);
    QVERIFY(qAbs(grey(backdrop, 120, 60) - 128) < 12);
    QVERIFY(grey(backdrop, 110, 60) > 30 && grey(backdrop, 110, 60) < 128);

    // Moved 40 points right on screen, it takes a new backdrop: the edge is 20 points in.
    phone.show();
    panel.move(140, 200);
    backdrop = panel.backgroundBlurView()->image();
    QVERIFY(qAbs(grey(backdrop, 40, 60) - 128) < 12);

    // The panel's own backdrop never feeds into the next one.
    panel.setBackgroundTintColor(QColor::fromRgbF(1, 0, 0, 0.5));
    const QImage first = panel.backgroundBlurView()->image();
    QVERIFY(qRed(first.pixel(10, 10)) > 120 && qGreen(first.pixel(10, 10)) < 100);
    panel.layoutSubviews();
    QCOMPARE(panel.backgroundBlurView()->image(), first);
  }

  void onlyWhatIsStackedBelowShowsThroughTheRoundedCorners() {
    QWidget phone;
    phone.resize(320, 568);
    fill(&phone, Qt::blue);
    QSBlurView panel(QRect(20, 20, 100, 100), &phone);
    panel.setBackgroundTintColor(Qt::transparent);
    panel.setCornerRadius(12);
    QWidget* above = fill(&phone, Qt::red);  // created later, so stacked above
    fill(&phone, Qt::green)->hide();
    panel.layoutSubviews();
    QImage backdrop = panel.backgroundBlurView()->image();
    QCOMPARE(QColor(backdrop.pixel(100, 100)), QColor(Qt::blue));
    QCOMPARE(qAlpha(backdrop.pixel(0, 0)), 0);
    QCOMPARE(qAlpha(backdrop.pixel(199, 199)), 0);
    QCOMPARE(qAlpha(backdrop.pixel(100, 0)), 255);

    above->stackUnder(&panel);
    panel.layoutSubviews();
    QCOMPARE(QColor(panel.backgroundBlurView()->image().pixel(100, 100)), QColor(Qt::red));
  }

  void progressPanelLayoutAndStyles() {
    QWidget phone;
    QSProgressView panel(QPoint(35, 236), &phone);
    QCOMPARE(panel.geometry(), QRect(35, 236, 250, 95));
    QCOMPARE(panel.sizeHint(), QSize(250, 102));
    QCOMPARE(panel.cornerRadius(), 7.0);
    QCOMPARE(viewAlpha(&panel), 0.0);
    QCOMPARE(panel.progressView()->geometry(), QRect(15, 28, 220, QSProgressBar::kHeight));
    QCOMPARE(panel.cancelButton()->geometry(), QRect(0, 51, 250, 44));
    QCOMPARE(panel.cancelButton()->text(), QString("Cancel"));
    QVERIFY(panel.cancelButton()->font().weight() >= QFont::DemiBold);
    QCOMPARE(panel.ruleView()->geometry(), QRect(0, 50, 250, 1));
    QCOMPARE(QSProgressView::ruleHeight(), 0.5);
    QCOMPARE(QSMotionEffectGroup::groupOfView(&panel)->motionEffects()[0].maximumRelativeValue,
             15.0);

    QCOMPARE(panel.style(), 0);
    QCOMPARE(panel.backgroundTintColor(), QColor::fromRgbF(0.95f, 0.95f, 0.95f, 0.85f));
    panel.setStyle(1);
    QCOMPARE(panel.backgroundTintColor(), QColor::fromRgbF(0.15f, 0.15f, 0.15f, 0.85f));
    panel.setStyle(7);
    QCOMPARE(panel.style(), 1);
  }

  void percentCompleteIsClampedAndRepeatsAreIgnored() {
    QSProgressView panel;
    QSignalSpy barSet(panel.progressView(), &QSProgressBar::progressValueSet);
    panel.setPercentComplete(1.5f);
    QCOMPARE(panel.progressValue(), 1.0f);
    panel.setPercentComplete(1.0f);
    QCOMPARE(barSet.count(), 1);
    panel.setPercentComplete(-0.2f);
    QCOMPARE(panel.progressValue(), 0.0f);
    panel.setPercentComplete(std::nanf(""));  // 0 of 0 bytes sent
    QCOMPARE(panel.percentComplete(), 0.0f);
    QCOMPARE(barSet.count(), 2);

    // The loop runs inside the call; a newer value it delivers is what the bar ends on.
    QMetaObject::invokeMethod(
        &panel, [&] { panel.setPercentComplete(0.8f); }, Qt::QueuedConnection);
    panel.setPercentComplete(0.5f);
    QCOMPARE(panel.percentComplete(), 0.8f);
    QCOMPARE(panel.progressValue(), 0.8f);
  }

  void cancelReachesTheDelegateOnce() {
    QSProgressView panel;
    CancelSpy spy;
    panel.setDelegate(&spy);
    panel.cancelButton()->click();
    panel.cancelButton()->click();
    panel.cancelButtonTouched();
    QCOMPARE(spy.calls, 1);
    QVERIFY(!panel.cancelButton()->isEnabled());

    QSProgressView orphan;  // a delegate that has gone is not called
    auto* gone = new CancelSpy;
    orphan.setDelegate(gone);
    delete gone;
    QVERIFY(!orphan.delegate());
    orphan.cancelButtonTouched();
    QVERIFY(!orphan.cancelButton()->isEnabled());
  }

  void showAndDismissAnimateScaleAndAlpha() {
    QSProgressView panel;
    panel.show();
    QVERIFY(panel.isVisible());
    QCOMPARE(viewTransform(&panel), QTransform::fromScale(1.15, 1.15));
    m_clock.advance(0.15);
    QVERIFY(viewAlpha(&panel) > 0.2 && viewAlpha(&panel) < 0.8);
    m_clock.advance(0.2);
    QCOMPARE(viewAlpha(&panel), 1.0);
    QVERIFY(viewTransform(&panel).isIdentity());

    int completions = 0;
    panel.dismissWithCompletion([&] { ++completions; });
    m_clock.advance(0.2);
    QCOMPARE(completions, 0);
    m_clock.advance(0.2);
    QCOMPARE(completions, 1);
    QCOMPARE(viewAlpha(&panel), 0.0);
    QCOMPARE(viewTransform(&panel), QTransform::fromScale(0.85, 0.85));
  }

  void screenshots() {
    QWidget phone;
    phone.resize(320, 568);
    new Painted(paintScenery, &phone);
    auto* panel = new QSProgressView(QPoint(35, 236), &phone);
    panel->setStyle(1);
    phone.show();
    panel->show();
    m_clock.advance(1);
    panel->setPercentComplete(0.4f);
    duo::test::renderAt2x(&phone).save("progress-panel.png");

    QWidget second;
    second.resize(320, 568);
    new Painted(paintScenery, &second);
    auto* glass = new QSBlurView(QRect(16, 372, 288, 150), &second);
    glass->setCornerRadius(14);
    auto* caption = new QLabel("Frosted glass", glass);
    caption->setFont(theme::boldSystemFont(20));
    caption->setGeometry(20, 20, 248, 28);
    auto* detail = new QLabel("A blurred, tinted copy of what lies behind the panel.", glass);
    detail->setFont(theme::systemFont(15));
    detail->setWordWrap(true);
    detail->setGeometry(20, 54, 248, 44);
    caption->setStyleSheet("color: #f2f4f6;");
    detail->setStyleSheet("color: #9aa3ad;");
    second.show();
    duo::test::renderAt2x(&second).save("blur-view.png");
    QVERIFY(!glass->backgroundBlurView()->image().isNull());
  }
};

QTEST_MAIN(QSBlurViewTest)
#include "qs_blur_view_test.moc"
