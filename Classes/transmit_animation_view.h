#pragma once

#include <QWidget>

#include <memory>

namespace duo {

class QSTimer;

/// Arcs that stream away from one edge of the view while a transfer searches or sends: from the
/// left edge rightwards (direction 1) or from the right edge leftwards (direction -1), 12 points
/// apart, fading in towards the middle of the view and out again at the far edge. Draws nothing
/// while stopped. Its frames run on the run loop's clock.
class TransmitAnimationView : public QWidget {
  Q_OBJECT

 public:
  static constexpr double kFrameInterval = 0.03;
  static constexpr float kArcSpacing = 12;
  static constexpr double kLineWidth = 3;
  static constexpr double kGreyLevel = 0.75;

  explicit TransmitAnimationView(QWidget* parent = nullptr);
  ~TransmitAnimationView() override;

  /// Starts (or restarts) the arcs from radius 0; `direction` is 1 or -1.
  void startAnimation(int direction);
  /// Stops the frames and clears the view.
  void stopAnimation();
  /// One frame: the arcs move one point on; past the far edge the pattern steps back by one
  /// spacing, which looks like an endless stream.
  void nextFrame();

  bool isAnimating() const;
  float radius() const { return m_radius; }
  float direction() const { return m_direction; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::shared_ptr<QSTimer> m_timer;
  float m_radius = 0;
  float m_direction = 1;
};

}  // namespace duo
