#pragma once

#include <QImage>
#include <QWidget>

#include <vector>

namespace duo {

/// A row of equally wide segments, one of them selected, each showing an image in its own
/// colours. valueChanged() is emitted when the user picks a segment, not when code selects one.
class SegmentedControl : public QWidget {
  Q_OBJECT
 public:
  explicit SegmentedControl(std::vector<QImage> images, QWidget* parent = nullptr);

  int numberOfSegments() const { return int(m_segments.size()); }
  int selectedSegmentIndex() const { return m_selected; }
  /// -1 selects nothing; other values outside the segments are ignored.
  void setSelectedSegmentIndex(int index);
  bool isEnabledForSegment(int index) const;
  void setEnabledForSegment(bool enabled, int index);
  /// Width of each segment: floor(control width / number of segments).
  int segmentWidth() const;
  /// The frame of a segment, in the control's coordinates.
  QRect segmentRect(int index) const;
  QColor tintColor() const { return m_tint; }
  void setTintColor(const QColor& colour);

  QSize sizeHint() const override;

 signals:
  void valueChanged();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  struct Segment {
    QImage image;
    bool enabled = true;
  };
  int segmentAt(QPointF point) const;
  std::vector<Segment> m_segments;
  int m_selected = -1;
  int m_pressed = -1;
  QColor m_tint{77, 77, 77};
};

}  // namespace duo
