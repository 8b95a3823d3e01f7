#include "qs_blur_view.h"

#include <QCoreApplication>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <vector>

#include "image/image.h"
#include "image_view.h"
#include "qs_features.h"
#include "qt_image.h"
#include "screen.h"
#include "theme.h"
#include "transform/blur.h"
#include "view_animation.h"
#include "view_controller.h"

namespace duo {

namespace {

// Tints of the panel styles and of a plain blur view: a light and a dark frosted glass.
QColor lightTint() { return QColor::fromRgbF(0.95f, 0.95f, 0.95f, 0.85f); }
QColor darkTint() { return QColor::fromRgbF(0.15f, 0.15f, 0.15f, 0.85f); }

// The accent of the light style is deeper than the theme's, which is too pale on white glass.
QColor lightAccent() { return QColor(0x0a, 0x7a, 0xc4); }

constexpr double kShowScale = 1.15;
constexpr double kDismissScale = 0.85;
constexpr double kAnimationDuration = 0.3;
constexpr double kCancelFontSize = 17;
const QColor kRuleColour(0, 0, 0, 51);  // black at alpha 0.2

// `image` drawn into an opaque buffer of `pixels` (stretched when the sizes differ);
// transparent parts come out black, as in a premultiplied bitmap.
std::optional<Image> toEngineImage(const QImage& image, QSize pixels) {
  QImage buffer(pixels, QImage::Format_RGB32);
  buffer.fill(Qt::black);
  {
    QPainter painter(&buffer);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    QImage source = image;
    source.setDevicePixelRatio(1);
    painter.drawImage(QRect(QPoint(), pixels), source);
  }
  buffer = buffer.convertToFormat(QImage::Format_RGBX8888);  // bytes R, G, B, X like Image
  auto out = Image::createUninitialized(pixels.width(), pixels.height());
  if (!out) return std::nullopt;
  for (int y = 0; y < pixels.height(); ++y)
    std::memcpy(out->row(y), buffer.constScanLine(y), out->bytesPerRow());
  return out;
}

// The mask's coverage in the red channel, where the blur reads it.
std::optional<Image> toEngineMask(const QImage& mask, QSize pixels) {
  QImage scaled = mask.convertToFormat(QImage::Format_ARGB32);
  scaled.setDevicePixelRatio(1);
  if (scaled.size() != pixels)
    scaled = scaled.scaled(pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  const bool useAlpha = mask.hasAlphaChannel();
  auto out = Image::create(pixels.width(), pixels.height());
  if (!out) return std::nullopt;
  for (int y = 0; y < pixels.height(); ++y) {
    const auto* line = reinterpret_cast<const QRgb*>(scaled.constScanLine(y));
    for (int x = 0; x < pixels.width(); ++x)
      out->pixel(x, y)[0] = static_cast<std::uint8_t>(useAlpha ? qAlpha(line[x]) : qGray(line[x]));
  }
  return out;
}

QImage fromEngineImage(const Image& image, double scale) {
  QImage out = toQImage(image).convertToFormat(QImage::Format_RGB32);  // drawn fastest
  out.setDevicePixelRatio(scale);
  return out;
}

// `image` with everything outside the rounded rectangle of its bounds made transparent, with
// smooth edges.
QImage roundedCopy(const QImage& image, double radius) {
  QImage out(image.size(), QImage::Format_ARGB32_Premultiplied);
  out.setDevicePixelRatio(image.devicePixelRatio());
  out.fill(Qt::transparent);
  QPainter painter(&out);
  painter.setRenderHint(QPainter::Antialiasing);
  const QSizeF points = QSizeF(image.size()) / image.devicePixelRatio();
  QPainterPath shape;
  shape.addRoundedRect(QRectF(QPointF(), points), radius, radius);
  painter.fillPath(shape, Qt::white);
  painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
  painter.drawImage(QPointF(), image);
  return out;
}

/// The one-device-pixel line above the Cancel button; drawn along the bottom of its one-point
/// frame so that it touches the button.
class HairlineView : public QWidget {
 public:
  using QWidget::QWidget;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    const double h = QSProgressView::ruleHeight();
    painter.fillRect(QRectF(0, height() - h, width(), h), kRuleColour);
  }
};

}  // namespace

QImage applyBlurWithRadius(const QImage& image, double radius, const QColor& tintColor,
                           double saturationDeltaFactor, const QImage* maskImage) {
  if (image.isNull()) return {};
  const QSizeF points = QSizeF(image.size()) / image.devicePixelRatio();
  if (points.width() < 1 || points.height() < 1) return {};
  if (maskImage && maskImage->isNull()) return {};

  const double scale = MainScreen::scale();
  const QSize pixels(std::max(1, int(std::lround(points.width() * scale))),
                     std::max(1, int(std::lround(points.height() * scale))));
  const std::optional<Image> input = toEngineImage(image, pixels);
  if (!input) return {};
  std::optional<Image> mask;
  if (maskImage) {
    mask = toEngineMask(*maskImage, pixels);
    if (!mask) return {};
  }
  std::optional<TintColor> tint;
  if (tintColor.isValid())
    tint = TintColor{tintColor.redF(), tintColor.greenF(), tintColor.blueF(), tintColor.alphaF()};
  const std::optional<Image> out = applyBlur(*input, float(radius), float(scale), tint,
                                             float(saturationDeltaFactor), mask ? &*mask : nullptr);
  return out ? fromEngineImage(*out, scale) : QImage();
}

// ---------------------------------------------------------------------------------------------

QSBlurView::QSBlurView(QWidget* parent) : QWidget(parent), m_tint(darkTint()) {
  // Installed first, so every other subview sits above the backdrop.
  m_backgroundBlurView = new ImageView(this);
  m_backgroundBlurView->setObjectName("BackgroundBlurView");
  m_backgroundBlurView->setContentMode(ContentMode::TopLeft);
  m_backgroundBlurView->setAttribute(Qt::WA_TransparentForMouseEvents);
  m_backgroundBlurView->setGeometry(rect());
}

QSBlurView::QSBlurView(const QRect& frame, QWidget* parent) : QSBlurView(parent) {
  setGeometry(frame);
}

QSBlurView::~QSBlurView() = default;

void QSBlurView::setBackgroundTintColor(const QColor& colour) {
  if (colour == m_tint) return;
  m_tint = colour;
  // A backdrop already on show takes the new tint at once; otherwise the next layout does.
  if (m_backgroundBlurView && !m_backgroundBlurView->image().isNull()) updateBackdrop();
}

void QSBlurView::setCornerRadius(double radius) {
  radius = std::max(0.0, radius);
  if (radius == m_cornerRadius) return;
  m_cornerRadius = radius;
  if (m_backgroundBlurView && !m_backgroundBlurView->image().isNull()) updateBackdrop();
}

void QSBlurView::layoutSubviews() {
  if (m_backgroundBlurView) m_backgroundBlurView->setGeometry(rect());
  updateBackdrop();
}

void QSBlurView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  layoutSubviews();
}

void QSBlurView::moveEvent(QMoveEvent* event) {
  QWidget::moveEvent(event);
  layoutSubviews();
}

bool QSBlurView::event(QEvent* event) {
  const bool handled = QWidget::event(event);
  // A panel put into another view shows what lies behind it there.
  if (event->type() == QEvent::ParentChange && parentWidget()) layoutSubviews();
  return handled;
}

void QSBlurView::updateBackdrop() {
  // Taking the snapshot can deliver this panel's pending move and resize events; the backdrop
  // being made already covers them.
  if (m_capturing || !m_backgroundBlurView) return;
  if (!parentWidget() || width() < 1 || height() < 1) {
    m_backgroundBlurView->setImage(QImage());
    return;
  }
  m_capturing = true;
  const QImage behind = snapshotBehind();
  m_capturing = false;
  QImage blurred = applyBlurWithRadius(behind, kBlurRadius, m_tint, 1.0);
  if (!blurred.isNull() && m_cornerRadius > 0) blurred = roundedCopy(blurred, m_cornerRadius);
  m_backgroundBlurView->setImage(blurred);
}

QImage QSBlurView::snapshotBehind() const {
  QWidget* parent = parentWidget();
  const double scale = MainScreen::scale();
  QImage snapshot(QSize(int(std::ceil(width() * scale)), int(std::ceil(height() * scale))),
                  QImage::Format_RGB32);
  snapshot.setDevicePixelRatio(scale);
  snapshot.fill(Qt::black);  // opaque: whatever nothing covers stays black
  QPainter painter(&snapshot);
  // render() puts the top-left corner of the region it is given at the target offset.
  const QRect area = geometry();
  parent->render(&painter, QPoint(), QRegion(area), QWidget::DrawWindowBackground);
  // Children are stacked in the order of the list; only those below the panel are behind it.
  // Drawing the panel itself would show the old backdrop through the new one.
  for (QObject* child : parent->children()) {
    if (child == this) break;
    auto* sibling = qobject_cast<QWidget*>(child);
    if (!sibling || sibling->isWindow() || sibling->isHidden()) continue;
    const QRect part = area & sibling->geometry();  // in the parent's coordinates
    if (part.isEmpty()) continue;
    sibling->render(&painter, part.topLeft() - area.topLeft(),
                    QRegion(part.translated(-sibling->pos())),
                    QWidget::DrawWindowBackground | QWidget::DrawChildren);
  }
  return snapshot;
}

// ---------------------------------------------------------------------------------------------

QSProgressBar::QSProgressBar(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_TranslucentBackground);
  m_track = QColor(255, 255, 255, 46);
  m_fill = theme::tint();
}

void QSProgressBar::setProgressValue(float value) {
  if (std::isnan(value)) return;
  m_value = std::clamp(value, 0.0f, 1.0f);
  update();
  emit progressValueSet(m_value);
}

void QSProgressBar::setTrackColor(const QColor& colour) {
  m_track = colour;
  update();
}

void QSProgressBar::setFillColor(const QColor& colour) {
  m_fill = colour;
  update();
}

void QSProgressBar::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  const double h = std::min<double>(height(), kHeight);
  const QRectF track(0, (height() - h) / 2, width(), h);
  painter.setBrush(m_track);
  painter.drawRoundedRect(track, h / 2, h / 2);
  if (m_value <= 0) return;
  // Never narrower than its own height, so a small fraction is a dot rather than a sliver.
  QRectF fill = track;
  fill.setWidth(std::max(h, track.width() * m_value));
  painter.setBrush(m_fill);
  painter.drawRoundedRect(fill, h / 2, h / 2);
}

// ---------------------------------------------------------------------------------------------

QSProgressView::QSProgressView(const QPoint& origin, QWidget* parent)
    : QSBlurView(QRect(origin, QSize(kWidth, kHeight)), parent) {
  setObjectName("QSProgressView");
  setCornerRadius(kCornerRadius);
  setViewAlpha(this, 0);

  m_progressView = new QSProgressBar(this);
  m_progressView->setObjectName("ProgressView");
  m_ruleView = new HairlineView(this);
  m_ruleView->setObjectName("RuleView");
  m_ruleView->setAttribute(Qt::WA_TransparentForMouseEvents);
  m_cancelButton = new SystemButton(QStringLiteral("Cancel"), this);
  m_cancelButton->setObjectName("CancelButton");
  m_cancelButton->setFont(theme::boldSystemFont(kCancelFontSize));
  connect(m_cancelButton, &QPushButton::clicked, this, [this] { cancelButtonTouched(); });

  applyStyleColours();
  layoutSubviews();
  QSFeatures::addParallaxToView(this, kParallaxDistance);
}

QSProgressView::~QSProgressView() = default;

double QSProgressView::ruleHeight() { return 1.0 / MainScreen::scale(); }

QSProgressViewDelegate* QSProgressView::delegate() const {
  if (m_delegateIsObject && !m_delegateObject) return nullptr;  // destroyed meanwhile
  return m_delegate;
}

void QSProgressView::setDelegate(QSProgressViewDelegate* delegate) {
  m_delegate = delegate;
  m_delegateObject = dynamic_cast<QObject*>(delegate);
  m_delegateIsObject = m_delegateObject != nullptr;
}

void QSProgressView::setPercentComplete(float fraction) {
  if (std::isnan(fraction)) return;  // e.g. 0 of 0 bytes sent: nothing to show
  fraction = std::clamp(fraction, 0.0f, 1.0f);
  if (fraction == m_percentComplete) return;
  m_percentComplete = fraction;
  QPointer<QSProgressView> self(this);
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  if (!self || !m_progressView) return;
  // The pass may have delivered a newer value; the bar shows the latest, not this call's.
  m_progressView->setProgressValue(m_percentComplete);
}

float QSProgressView::progressValue() const {
  return m_progressView ? m_progressView->progressValue() : 0.0f;
}

void QSProgressView::setStyle(int style) {
  if (style != Light && style != Dark) return;
  m_style = style;
  applyStyleColours();
}

void QSProgressView::applyStyleColours() {
  const bool dark = m_style == Dark;
  setBackgroundTintColor(dark ? darkTint() : lightTint());
  const QColor accent = dark ? theme::tint() : lightAccent();
  if (m_progressView) {
    m_progressView->setTrackColor(dark ? QColor(255, 255, 255, 46) : QColor(0, 0, 0, 26));
    m_progressView->setFillColor(accent);
  }
  if (m_cancelButton) m_cancelButton->setTitleColor(accent);
}

void QSProgressView::layoutSubviews() {
  const int w = width();
  const int h = height();
  if (m_progressView)
    m_progressView->setGeometry(kBarInset, kBarTop, std::max(0, w - 2 * kBarInset),
                                QSProgressBar::kHeight);
  if (m_cancelButton)
    m_cancelButton->setGeometry(0, h - kCancelButtonHeight, w, kCancelButtonHeight);
  if (m_ruleView) m_ruleView->setGeometry(0, h - kCancelButtonHeight - 1, w, 1);
  QSBlurView::layoutSubviews();
}

void QSProgressView::show() {
  QWidget::show();
  setViewTransform(this, QTransform::fromScale(kShowScale, kShowScale));
  animateViews(kAnimationDuration, AnimationCurve::EaseInOut,
               {{this, 1.0, std::nullopt, QTransform()}});
}

void QSProgressView::dismissWithCompletion(std::function<void()> completion) {
  animateViews(kAnimationDuration, AnimationCurve::EaseInOut,
               {{this, 0.0, std::nullopt, QTransform::fromScale(kDismissScale, kDismissScale)}},
               [completion = std::move(completion)](bool) {
                 if (completion) completion();
               });
}

void QSProgressView::cancelButtonTouched() {
  if (m_cancelled) return;
  m_cancelled = true;
  if (m_cancelButton) m_cancelButton->setEnabled(false);
  if (QSProgressViewDelegate* target = delegate()) target->progressViewDidCancel(this);
}

}  // namespace duo
