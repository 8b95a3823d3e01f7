#pragma once

#include <QImage>
#include <QWidget>

#include <memory>
#include <vector>

namespace duo {

class QSTimer;

/// How an image view fits its image into its bounds.
enum class ContentMode { ScaleToFill, AspectFit, AspectFill, Center, TopLeft };

/// Shows an image (its device-pixel ratio decides its size in points) or cycles through a list
/// of frames, like a phone's image view. Transparent where the image does not cover it.
class ImageView : public QWidget {
  Q_OBJECT
 public:
  explicit ImageView(QWidget* parent = nullptr);
  explicit ImageView(const QImage& image, QWidget* parent = nullptr);
  ~ImageView() override;

  const QImage& image() const { return m_image; }
  /// The frames of the frame animation and its whole cycle in seconds.
  const std::vector<QImage>& animationImages() const { return m_frames; }
  double animationDuration() const { return m_duration; }
  void setImage(const QImage& image);
  ContentMode contentMode() const { return m_mode; }
  void setContentMode(ContentMode mode);
  /// The image's size in points.
  QSizeF imagePointSize() const;
  /// Where the image is drawn inside the view, in points.
  QRectF imageRect() const;

  /// Frame animation: the frames shown in turn, each for duration / count seconds.
  void setAnimationImages(std::vector<QImage> images, double duration);
  void startAnimating();
  void stopAnimating();
  bool isAnimating() const { return bool(m_timer); }
  int currentFrame() const { return m_frame; }

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QImage m_image;
  ContentMode m_mode = ContentMode::ScaleToFill;
  std::vector<QImage> m_frames;
  double m_duration = 0;
  int m_frame = 0;
  std::shared_ptr<QSTimer> m_timer;
};

/// The spinner: large white (37 points) or small grey (20 points).
class ActivityIndicatorView : public QWidget {
  Q_OBJECT
 public:
  enum class Style { WhiteLarge, White, Gray };
  explicit ActivityIndicatorView(Style style, QWidget* parent = nullptr);
  ~ActivityIndicatorView() override;
  Style style() const { return m_style; }
  /// The natural size of the style.
  QSize sizeHint() const override;
  void startAnimating();
  void stopAnimating();
  bool isAnimating() const { return bool(m_timer); }
  /// Hidden while stopped, like the platform's default.
  bool hidesWhenStopped() const { return true; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  Style m_style;
  int m_step = 0;
  std::shared_ptr<QSTimer> m_timer;
};

}  // namespace duo
