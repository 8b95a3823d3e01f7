#pragma once

#include <QAbstractScrollArea>
#include <QCache>
#include <QImage>
#include <QList>
#include <QPoint>
#include <QRect>
#include <QSet>
#include <QStringList>
#include <QThreadPool>

#include "library_scanner.h"

namespace duo {

/// The picture grid of the library picker: every picture of the Pictures folder and its
/// subfolders, newest first, as square thumbnails in four columns with thin gaps on black, like
/// a phone's photo picker. Scrolls with the wheel and by dragging (the mouse is the finger); a
/// tap on a picture emits photoPicked().
///
/// The folder is listed when the grid is first shown (or on reload()), and thumbnails come
/// from the desktop's thumbnail cache, made where missing, on at most two worker threads: the
/// visible cells first, then a screen's worth beyond them either way. The main thread never
/// decodes. A picture that cannot be decoded shows a placeholder; an empty library says so and
/// names the Pictures folder.
class PhotoGridView : public QAbstractScrollArea {
  Q_OBJECT
 public:
  explicit PhotoGridView(QWidget* parent = nullptr);
  ~PhotoGridView() override;

  /// Lists the Pictures folder again; the grid keeps showing the old listing until then.
  void reload();

  int photoCount() const { return int(m_entries.size()); }
  /// The pictures' paths in grid order.
  QStringList paths() const;
  /// True while the folder is being listed or thumbnails for the cells in or near view are
  /// being loaded.
  bool isLoading() const { return m_scanner.isRunning() || !m_loading.isEmpty(); }
  /// Where cell `index` is, in the coordinates of viewport() (which are this widget's: there is
  /// no frame and no visible scroll bar). Null for an index out of range.
  QRect cellRect(int index) const;
  /// The cell under a viewport point, or -1.
  int indexAt(const QPoint& point) const;

  QSize sizeHint() const override;

 signals:
  void photoPicked(const QString& path);
  /// Emitted once in the grid's life, when it is visible, the first listing is in and every
  /// cell then in view has its thumbnail or placeholder ready to draw (at once for an empty
  /// library).
  void firstScreenReady();

 protected:
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;

 private:
  // A cell's picture as drawn: square, at the cell's size in device pixels; null with
  // `failed` for a picture that has no thumbnail.
  struct CellImage {
    QImage image;
    bool failed = false;
  };
  struct Layout {
    int side = 0;    // of a cell, in points
    int pitch = 0;   // cell plus gap
    int margin = 0;  // left, right and top
  };

  Layout layout() const;
  int contentHeight() const;
  // Indices of the cells that intersect the rows from y0 to y1 (content coordinates).
  std::pair<int, int> cellsBetween(int y0, int y1) const;
  QString cacheKey(int index) const;
  void listed(const QList<LibraryEntry>& entries);
  void updateScrollRange();
  int nextCellToLoad() const;
  void loadMore();
  void loaded(const QString& key, const CellImage& cell);
  void checkFirstScreen();
  void paintEmptyState(QPainter& painter);

  LibraryScanner m_scanner;
  QList<LibraryEntry> m_entries;
  bool m_listed = false;  // a listing has arrived
  bool m_firstScreenSent = false;
  QThreadPool m_pool;
  QCache<QString, CellImage> m_images;
  QSet<QString> m_loading;  // keys of cells whose thumbnails are on their way
  int m_cellPixels = 0;     // side of the cached cell images, in device pixels

  // A press that becomes a drag once it moves far enough; otherwise its release is a tap.
  bool m_pressed = false;
  bool m_dragging = false;
  QPoint m_pressPoint;
  int m_pressScroll = 0;
  int m_pressIndex = -1;
};

}  // namespace duo
