#include <QtTest>

#include <QPaintEvent>
#include <QPainter>

#include "image_resources.h"
#include "magnifier_view.h"
#include "theme.h"

using namespace duo;

namespace {

// Every point (x, y) of this view has its own colour: red x, green y (both modulo 256).
class PatternView : public QWidget {
 public:
  using QWidget::QWidget;
  static QColor colourAt(int x, int y) { return QColor(x & 255, y & 255, 128); }

 protected:
  void paintEvent(QPaintEvent* event) override {
    QPainter painter(this);
    const QRect area = event->rect();
    for (int y = area.top(); y <= area.bottom(); ++y)
      for (int x = area.left(); x <= area.right(); ++x)
        painter.fillRect(QRect(x, y, 1, 1), colourAt(x, y));
  }
};

// Black, with a white bar a quarter of a point wide at x = 100: only a picture drawn at the
// magnified density shows it as one sharp device pixel.
class FineLineView : public QWidget {
 public:
  using QWidget::QWidget;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    painter.fillRect(QRectF(100, 0, 0.25, height()), Qt::white);
  }
};

QImage render2x(QWidget* widget, QColor background, QWidget::RenderFlags flags) {
  QImage image(widget->size() * 2, QImage::Format_ARGB32_Premultiplied);
  image.setDevicePixelRatio(2);
  image.fill(background);
  widget->render(&image, QPoint(), QRegion(), flags);
  return image;
}

// The loupe alone, on a transparent image.
QImage grab2x(QWidget* loupe) { return render2x(loupe, Qt::transparent, QWidget::DrawChildren); }

// The colour at a point of the loupe (in loupe points), read at the device pixel at its top left.
QColor at(const QImage& image, double x, double y) {
  return image.pixelColor(int(x * 2), int(y * 2));
}

#define COMPARE_COLOUR(actual, expected)                                                      \
  do {                                                                                        \
    const QColor a = (actual), e = (expected);                                                \
    QVERIFY2(std::abs(a.red() - e.red()) <= 2 && std::abs(a.green() - e.green()) <= 2 &&      \
                 std::abs(a.blue() - e.blue()) <= 2 && std::abs(a.alpha() - e.alpha()) <= 2,  \
             qPrintable(a.name(QColor::HexArgb) + " instead of " + e.name(QColor::HexArgb))); \
  } while (false)

// A phone screen holding a view and, beside it, a loupe on that view.
struct Screen {
  QWidget window;
  QWidget* view;
  MagnifierView* loupe;
  explicit Screen(QWidget* content = nullptr, QRect viewFrame = QRect(0, 0, 320, 480)) {
    window.resize(320, 480);
    view = content ? content : new PatternView;
    view->setParent(&window);
    view->setGeometry(viewFrame);
    loupe = new MagnifierView(&window);
    loupe->setViewToMagnify(view);
  }
};

}  // namespace

class MagnifierViewTest : public QObject {
  Q_OBJECT

 private slots:
  void isAHundredPointSquareEightyPointsAboveTheFinger() {
    QCOMPARE(MagnifierView().geometry(), QRect(0, 0, 100, 100));
    MagnifierView framed(QRect(30, 40, 250, 12));
    QCOMPARE(framed.geometry(), QRect(0, 0, 100, 100));
    // The drag under the loupe must keep reaching the screen below it.
    QVERIFY(framed.testAttribute(Qt::WA_TransparentForMouseEvents));

    Screen screen;
    QCOMPARE(screen.loupe->viewToMagnify(), screen.view);
    screen.loupe->setTouchPoint(QPointF(160, 300));
    QCOMPARE(screen.loupe->touchPoint(), QPointF(160, 300));
    QCOMPARE(screen.loupe->geometry(), QRect(110, 170, 100, 100));
    // Near the top corner the loupe is not pulled back onto the screen.
    screen.loupe->setTouchPoint(QPointF(10, 30));
    QCOMPARE(screen.loupe->geometry(), QRect(-40, -100, 100, 100));

    // A view lower down in the loupe's parent (below a status bar, say): still above the finger.
    Screen offset(nullptr, QRect(0, 20, 320, 460));
    offset.loupe->setTouchPoint(QPointF(100, 200));
    QCOMPARE(offset.loupe->geometry(), QRect(50, 90, 100, 100));
  }

  void showsTheSquareAroundTheFingerMagnifiedTwiceInsideAWhiteRing() {
    Screen screen;
    screen.loupe->setTouchPoint(QPointF(100, 200));
    const QImage image = grab2x(screen.loupe);
    QCOMPARE(image.size(), QSize(200, 200));

    COMPARE_COLOUR(at(image, 50, 50), PatternView::colourAt(100, 200));
    // 20 loupe points are 10 points of the view.
    COMPARE_COLOUR(at(image, 70, 50), PatternView::colourAt(110, 200));
    COMPARE_COLOUR(at(image, 30, 50), PatternView::colourAt(90, 200));
    COMPARE_COLOUR(at(image, 50, 20), PatternView::colourAt(100, 185));
    COMPARE_COLOUR(at(image, 50, 4), PatternView::colourAt(100, 177));  // just inside the ring

    for (QPointF corner : {QPointF(1, 1), QPointF(98, 1), QPointF(1, 98), QPointF(98, 98)})
      QCOMPARE(at(image, corner.x(), corner.y()).alpha(), 0);
    for (QPointF rim : {QPointF(50, 1.5), QPointF(1.5, 50), QPointF(98, 50), QPointF(50, 98)})
      COMPARE_COLOUR(at(image, rim.x(), rim.y()), QColor(Qt::white));
    // Drawn with the window background asked for, the corners still stay clear.
    const QImage framed = render2x(screen.loupe, Qt::transparent,
                                   QWidget::DrawWindowBackground | QWidget::DrawChildren);
    QCOMPARE(at(framed, 1, 1).alpha(), 0);

    // Beyond the view's edge the loupe is black.
    screen.loupe->setTouchPoint(QPointF(5, 200));
    const QImage edge = grab2x(screen.loupe);
    COMPARE_COLOUR(at(edge, 20, 50), QColor(Qt::black));
    COMPARE_COLOUR(at(edge, 50, 50), PatternView::colourAt(5, 200));
  }

  void drawsFineDetailAtTheMagnifiedDensity() {
    Screen screen(new FineLineView);
    screen.loupe->setTouchPoint(QPointF(100, 200));
    const QImage image = grab2x(screen.loupe);
    // A quarter point magnified twice is one device pixel at 2x: sharp, not a grey smear.
    COMPARE_COLOUR(image.pixelColor(100, 100), QColor(Qt::white));
    COMPARE_COLOUR(image.pixelColor(101, 100), QColor(Qt::black));
    COMPARE_COLOUR(image.pixelColor(99, 100), QColor(Qt::black));
  }

  void survivesBeingPutInsideTheViewItMagnifiesOrLosingThatView() {
    Screen screen;
    auto* inside = new MagnifierView(screen.view);
    inside->setViewToMagnify(screen.view);
    inside->setTouchPoint(QPointF(150, 250));
    inside->move(100, 200);  // over the finger: its own area lies in the square it magnifies
    const QImage image = grab2x(inside);
    COMPARE_COLOUR(at(image, 50, 50), PatternView::colourAt(150, 250));
    COMPARE_COLOUR(at(image, 50, 10), PatternView::colourAt(150, 230));

    screen.loupe->setTouchPoint(QPointF(100, 200));
    delete screen.view;
    QCOMPARE(screen.loupe->viewToMagnify(), nullptr);
    const QImage empty = grab2x(screen.loupe);
    COMPARE_COLOUR(at(empty, 50, 50), QColor(Qt::black));
    COMPARE_COLOUR(at(empty, 50, 1.5), QColor(Qt::white));
  }

  void resultScreenArtworkShipsAtItsSize() {
    const QStringList modes = {"ModeAlign.png", "ModeColor.png", "ModeGrey.png",
                               "ModeStereogram.png", "ModeWiggle.png"};
    for (const QString& name : modes + QStringList{"gallery.png", "Swap.png"}) {
      const QImage image = imageNamed(name, 2);
      QVERIFY2(!image.isNull(), qPrintable(name));
      QCOMPARE(image.size(), modes.contains(name) ? QSize(56, 44) : QSize(48, 40));
      int opaque = 0;  // something is drawn, and not everywhere
      for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) opaque += image.pixelColor(x, y).alpha() > 128;
      QVERIFY2(opaque > 20 && opaque < image.width() * image.height() * 3 / 4, qPrintable(name));
    }

    // For a look: the segments in a plain control on the bar colour, and the two buttons.
    QImage bar(QSize(320, 88) * 2, QImage::Format_ARGB32_Premultiplied);
    bar.setDevicePixelRatio(2);
    bar.fill(theme::barBackground());
    QPainter p(&bar);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF control(20, 8, 280, 30);
    const double segment = control.width() / modes.size();
    p.setPen(QPen(QColor(255, 255, 255, 90), 1));
    p.setBrush(QColor(255, 255, 255, 40));
    p.drawRoundedRect(control.adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
    for (int i = 0; i < modes.size(); ++i) {
      const QRectF cell(control.x() + i * segment, control.y(), segment, control.height());
      if (i > 0) p.drawLine(cell.topLeft() + QPointF(0, 1), cell.bottomLeft() - QPointF(0, 1));
      const QImage image = imageNamed(modes[i], 2);
      p.drawImage(cell.center() - QPointF(14, 11), image);
    }
    p.drawImage(QPointF(24, 56), imageNamed("gallery.png", 2));
    p.drawImage(QPointF(272, 56), imageNamed("Swap.png", 2));
    p.end();
    QVERIFY(bar.save("segments.png"));
  }

  void screenshotOfTheLoupeOverAScene() {
    class Scene : public QWidget {
     protected:
      void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        QLinearGradient sky(0, 0, 0, height());
        sky.setColorAt(0, QColor(0x1d, 0x3b, 0x6e));
        sky.setColorAt(1, QColor(0xf0, 0x9a, 0x5a));
        p.fillRect(rect(), sky);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0xff, 0xd8, 0x6b));
        p.drawEllipse(QPointF(230, 80), 34, 34);
        p.setBrush(QColor(0x2e, 0x6b, 0x4f));
        p.drawPolygon(QPolygonF({QPointF(0, 260), QPointF(90, 150), QPointF(170, 230),
                                 QPointF(250, 140), QPointF(320, 210), QPointF(320, 260)}));
        p.setPen(Qt::white);
        p.setFont(theme::boldSystemFont(13));
        p.drawText(QRectF(30, 190, 200, 40), QStringLiteral("Duoscope 3-D"));
      }
    };
    Screen screen(new Scene, QRect(0, 0, 320, 260));
    screen.window.resize(320, 260);
    screen.loupe->setTouchPoint(QPointF(92, 156));
    QVERIFY(
        render2x(&screen.window, Qt::black, QWidget::DrawWindowBackground | QWidget::DrawChildren)
            .save("loupe.png"));
  }
};

QTEST_MAIN(MagnifierViewTest)
#include "magnifier_view_test.moc"
