#pragma once

#include <QColor>
#include <QImage>
#include <QPointer>
#include <QRect>
#include <QWidget>

#include <functional>

#include "image_view.h"
#include "view_controller.h"

namespace duo {

/// The frosted-glass effect on an image: the image blurred with a Gaussian-like filter of
/// `radius` points, its saturation multiplied by `saturationDeltaFactor` (1 leaves it), then
/// covered with `tintColor` (an invalid colour for none). With a mask (stretched over the image;
/// its alpha channel, or its grey level when it has none, is the coverage) the blurred copy shows
/// only where the mask does and the original elsewhere.
///
/// The image's size in points is its pixel size over its device-pixel ratio; the work is done at
/// the main screen's scale and the result carries that ratio. Returns a null image when the
/// image is smaller than one point either way, is null, or a mask is given that is null.
QImage applyBlurWithRadius(const QImage& image, double radius, const QColor& tintColor,
                           double saturationDeltaFactor, const QImage* maskImage = nullptr);

/// A panel that looks like frosted glass: it shows a blurred, tinted copy of what lies behind it
/// in its parent. The copy is taken afresh on every layout pass (a move, a resize, a new parent,
/// or a call of layoutSubviews()); it holds what the parent and the siblings stacked below the
/// panel draw, never the panel itself nor anything stacked above it.
class QSBlurView : public QWidget {
  Q_OBJECT
 public:
  static constexpr double kBlurRadius = 20;

  explicit QSBlurView(QWidget* parent = nullptr);
  explicit QSBlurView(const QRect& frame, QWidget* parent = nullptr);
  ~QSBlurView() override;

  /// The image view that shows the backdrop: it fills the panel, its image anchored top-left.
  ImageView* backgroundBlurView() const { return m_backgroundBlurView; }

  /// Laid over the blurred backdrop; white 0.15 at alpha 0.85 unless changed.
  QColor backgroundTintColor() const { return m_tint; }
  void setBackgroundTintColor(const QColor& colour);

  /// Radius of the panel's rounded corners in points; the backdrop is clipped to them.
  double cornerRadius() const { return m_cornerRadius; }
  void setCornerRadius(double radius);

  /// Lays the subviews out and takes a new backdrop from the parent.
  virtual void layoutSubviews();

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  bool event(QEvent* event) override;

 private:
  void updateBackdrop();
  QImage snapshotBehind() const;

  QPointer<ImageView> m_backgroundBlurView;
  QColor m_tint;
  double m_cornerRadius = 0;
  bool m_capturing = false;
};

class QSProgressView;

/// Told when the user cancels a progress panel. Every member is optional.
class QSProgressViewDelegate {
 public:
  virtual ~QSProgressViewDelegate() = default;
  virtual void progressViewDidCancel(QSProgressView* /*progressView*/) {}
};

/// A thin bar with rounded ends that fills from the left as the work goes on.
class QSProgressBar : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kHeight = 4;
  explicit QSProgressBar(QWidget* parent = nullptr);

  /// Fraction 0–1 of the track that is filled.
  float progressValue() const { return m_value; }
  /// Clamped to 0–1; NaN is ignored.
  void setProgressValue(float value);

  QColor trackColor() const { return m_track; }
  void setTrackColor(const QColor& colour);
  QColor fillColor() const { return m_fill; }
  void setFillColor(const QColor& colour);

  QSize sizeHint() const override { return {150, kHeight}; }

 signals:
  /// Emitted whenever the bar is set, also to the value it already shows.
  void progressValueSet(float value);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  float m_value = 0;
  QColor m_track;
  QColor m_fill;
};

/// The floating progress panel of long exports and uploads: a frosted panel with a progress bar
/// and a Cancel button along its bottom edge. It is created fully transparent; show() is its
/// entrance, dismissWithCompletion() its exit.
class QSProgressView : public QSBlurView {
  Q_OBJECT
 public:
  static constexpr int kWidth = 250;
  static constexpr int kHeight = 95;
  static constexpr int kIntrinsicHeight = 102;
  static constexpr double kCornerRadius = 7;
  static constexpr int kBarInset = 15;
  static constexpr int kBarTop = 28;
  static constexpr int kCancelButtonHeight = 44;
  static constexpr double kParallaxDistance = 15;

  enum Style { Light = 0, Dark = 1 };

  /// A panel at `origin`, 250 × 95 points, light, nothing done yet.
  explicit QSProgressView(const QPoint& origin = {}, QWidget* parent = nullptr);
  ~QSProgressView() override;

  /// Not owned. When the delegate is a QObject the panel notices its destruction; any other
  /// delegate must outlive the panel or be cleared first.
  QSProgressViewDelegate* delegate() const;
  void setDelegate(QSProgressViewDelegate* delegate);

  float percentComplete() const { return m_percentComplete; }
  /// Clamps to 0–1 and ignores NaN and the value already shown. Otherwise it stores the value,
  /// lets the event loop run once without waiting (so the screen can refresh while the caller
  /// keeps the main thread busy) and then moves the bar.
  void setPercentComplete(float fraction);

  int style() const { return m_style; }
  /// 0 light, 1 dark; sets the tint (and the bar's track). Other values are ignored.
  void setStyle(int style);

  SystemButton* cancelButton() const { return m_cancelButton; }
  QSProgressBar* progressView() const { return m_progressView; }
  /// The hairline above the Cancel button.
  QWidget* ruleView() const { return m_ruleView; }
  /// One device pixel, in points.
  static double ruleHeight();

  /// The bar's current fraction (what the user sees).
  float progressValue() const;

  /// Makes the panel visible and brings it in: from 1.15 times its size to its size while
  /// fading in, over 0.3 s.
  void show();
  /// Over 0.3 s shrinks the panel to 0.85 of its size while fading it out, then calls
  /// `completion` (if any), also when the panel went away in the meantime.
  void dismissWithCompletion(std::function<void()> completion = {});

  /// What pressing Cancel does: disables the button for good, then tells the delegate, once.
  void cancelButtonTouched();

  QSize sizeHint() const override { return intrinsicContentSize(); }
  QSize intrinsicContentSize() const { return {kWidth, kIntrinsicHeight}; }

  void layoutSubviews() override;

 private:
  void applyStyleColours();

  QSProgressViewDelegate* m_delegate = nullptr;
  QPointer<QObject> m_delegateObject;  // set when the delegate is a QObject
  bool m_delegateIsObject = false;
  float m_percentComplete = 0;
  int m_style = Light;
  bool m_cancelled = false;
  QPointer<QSProgressBar> m_progressView;
  QPointer<SystemButton> m_cancelButton;
  QPointer<QWidget> m_ruleView;
};

}  // namespace duo
