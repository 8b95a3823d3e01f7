#include "photo_grid_view.h"

#include <QApplication>
#include <QDir>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

#include "photo_library.h"
#include "theme.h"
#include "thumbnail_cache.h"

namespace duo {

namespace {

// Layout, in points.
constexpr int kColumns = 4;
constexpr int kGap = 2;
const QSize kPreferredSize(320, 480);
constexpr int kEmptyTitleSize = 20;
constexpr int kEmptyHintSize = 13;
constexpr int kEmptyHintMargin = 24;
constexpr int kEmptyLineSpacing = 10;
constexpr int kWheelPointsPerNotch = 60;

const QColor kBackground(0, 0, 0);
const QColor kLoadingCell(0x1c, 0x1c, 0x1e);
const QColor kFailedCell(0x2c, 0x2c, 0x2e);
const QColor kFailedGlyph(0x63, 0x63, 0x66);

// Loading: two threads decode (a third would only take time from the main thread on small
// machines); a couple more requests queue behind them so the threads never wait for the
// event loop, yet a scroll re-orders the work almost at once.
constexpr int kWorkerThreads = 2;
constexpr int kMaxRequestsInFlight = 4;
// Cells kept in memory: a few screens' worth (about 100 kB each at two device pixels a point).
constexpr int kMaxCachedCells = 300;

// The thumbnail as a cell shows it: the middle square, at the cell's size in device pixels.
QImage cellImageFrom(const QImage& thumbnail, int pixels) {
  const int side = std::min(thumbnail.width(), thumbnail.height());
  const QImage square =
      thumbnail.copy((thumbnail.width() - side) / 2, (thumbnail.height() - side) / 2, side, side);
  return square.scaled(pixels, pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
      .convertToFormat(QImage::Format_RGB32);
}

QString displayPath(const QString& folder) {
  const QString home = QDir::homePath();
  if (folder == home) return QStringLiteral("~");
  if (folder.startsWith(home + '/')) return QStringLiteral("~") + folder.mid(home.size());
  return folder;
}

}  // namespace

PhotoGridView::PhotoGridView(QWidget* parent) : QAbstractScrollArea(parent) {
  setFrameShape(QFrame::NoFrame);
  // A phone's grid: no scroll bars, the content follows the finger.
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
  m_pool.setMaxThreadCount(kWorkerThreads);
  m_images.setMaxCost(kMaxCachedCells);
  connect(&m_scanner, &LibraryScanner::finished, this, &PhotoGridView::listed);
}

PhotoGridView::~PhotoGridView() {
  // Queued loads are dropped; running ones finish (a single thumbnail each) before the pool
  // and this object go, and what they post to it is discarded with it.
  m_pool.clear();
  m_pool.waitForDone();
}

void PhotoGridView::reload() { m_scanner.start(PhotoLibrary::picturesFolder()); }

QStringList PhotoGridView::paths() const {
  QStringList list;
  list.reserve(m_entries.size());
  for (const LibraryEntry& entry : m_entries) list.append(entry.path);
  return list;
}

PhotoGridView::Layout PhotoGridView::layout() const {
  const int width = viewport()->width();
  Layout l;
  l.side = std::max(1, (width - (kColumns - 1) * kGap) / kColumns);
  l.pitch = l.side + kGap;
  l.margin = std::max(0, (width - kColumns * l.pitch + kGap) / 2);
  return l;
}

int PhotoGridView::contentHeight() const {
  const int rows = (photoCount() + kColumns - 1) / kColumns;
  if (rows == 0) return 0;
  const Layout l = layout();
  return 2 * l.margin + rows * l.pitch - kGap;
}

QRect PhotoGridView::cellRect(int index) const {
  if (index < 0 || index >= photoCount()) return {};
  const Layout l = layout();
  const int x = l.margin + (index % kColumns) * l.pitch;
  const int y = l.margin + (index / kColumns) * l.pitch - verticalScrollBar()->value();
  return {x, y, l.side, l.side};
}

int PhotoGridView::indexAt(const QPoint& point) const {
  const Layout l = layout();
  const int x = point.x() - l.margin;
  const int y = point.y() + verticalScrollBar()->value() - l.margin;
  if (x < 0 || y < 0 || x % l.pitch >= l.side || y % l.pitch >= l.side) return -1;
  const int column = x / l.pitch;
  const int index = (y / l.pitch) * kColumns + column;
  return column < kColumns && index < photoCount() ? index : -1;
}

std::pair<int, int> PhotoGridView::cellsBetween(int y0, int y1) const {
  y0 = std::max(y0, 0);
  if (photoCount() == 0 || y1 < y0) return {0, -1};
  const Layout l = layout();
  const int lastRow = (photoCount() - 1) / kColumns;
  const int firstRow = std::max(0, y0 - l.margin) / l.pitch;
  const int endRow = std::min(lastRow, std::max(0, y1 - l.margin) / l.pitch);
  if (firstRow > endRow) return {0, -1};
  return {firstRow * kColumns, std::min(photoCount() - 1, endRow * kColumns + kColumns - 1)};
}

QString PhotoGridView::cacheKey(int index) const {
  const LibraryEntry& entry = m_entries[index];
  return entry.path + '\n' + QString::number(entry.modified.toMSecsSinceEpoch());
}

QSize PhotoGridView::sizeHint() const { return kPreferredSize; }

void PhotoGridView::listed(const QList<LibraryEntry>& entries) {
  m_entries = entries;
  m_listed = true;
  updateScrollRange();
  viewport()->update();
  loadMore();
  checkFirstScreen();
}

void PhotoGridView::updateScrollRange() {
  QScrollBar* bar = verticalScrollBar();
  bar->setRange(0, std::max(0, contentHeight() - viewport()->height()));
  bar->setPageStep(viewport()->height());
  bar->setSingleStep(layout().pitch / 2);
}

int PhotoGridView::nextCellToLoad() const {
  if (!m_listed || viewport()->height() <= 0) return -1;
  const int top = verticalScrollBar()->value();
  const int height = viewport()->height();
  auto firstMissing = [this](std::pair<int, int> range, bool nearestLast) {
    for (int n = 0; n <= range.second - range.first; ++n) {
      const int i = nearestLast ? range.second - n : range.first + n;
      const QString key = cacheKey(i);
      if (!m_images.contains(key) && !m_loading.contains(key)) return i;
    }
    return -1;
  };
  // What is in view, then a screen below (where a scroll usually goes), then one above.
  for (const auto& [range, upwards] :
       {std::pair{cellsBetween(top, top + height - 1), false},
        std::pair{cellsBetween(top + height, top + 2 * height - 1), false},
        std::pair{cellsBetween(top - height, top - 1), true}}) {
    if (const int i = firstMissing(range, upwards); i >= 0) return i;
  }
  return -1;
}

void PhotoGridView::loadMore() {
  const int pixels = int(std::ceil(layout().side * viewport()->devicePixelRatioF()));
  if (pixels != m_cellPixels) {
    // Cells made for another size would be drawn blurred: make them again.
    m_cellPixels = pixels;
    m_images.clear();
  }
  while (m_loading.size() < kMaxRequestsInFlight) {
    const int index = nextCellToLoad();
    if (index < 0) return;
    const QString key = cacheKey(index);
    const QString path = m_entries[index].path;
    m_loading.insert(key);
    m_pool.start([this, key, path, pixels] {
      CellImage cell;
      const auto thumbnail = ThumbnailCache::thumbnail(path);
      if (thumbnail && !thumbnail->isNull()) {
        cell.image = cellImageFrom(*thumbnail, pixels);
      } else {
        cell.failed = true;
      }
      QMetaObject::invokeMethod(
          this, [this, key, cell] { loaded(key, cell); }, Qt::QueuedConnection);
    });
  }
}

void PhotoGridView::loaded(const QString& key, const CellImage& cell) {
  m_loading.remove(key);
  if (cell.failed || cell.image.width() == m_cellPixels) m_images.insert(key, new CellImage(cell));
  viewport()->update();
  loadMore();
  checkFirstScreen();
}

void PhotoGridView::checkFirstScreen() {
  // "In view" means nothing before the grid is on screen with its size.
  if (m_firstScreenSent || !m_listed || !isVisible()) return;
  const int top = verticalScrollBar()->value();
  const auto [first, last] = cellsBetween(top, top + viewport()->height() - 1);
  for (int i = first; i <= last; ++i) {
    if (!m_images.contains(cacheKey(i))) return;
  }
  m_firstScreenSent = true;
  emit firstScreenReady();
}

void PhotoGridView::showEvent(QShowEvent* event) {
  QAbstractScrollArea::showEvent(event);
  if (!m_listed && !m_scanner.isRunning()) reload();
  checkFirstScreen();
}

void PhotoGridView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  updateScrollRange();
  loadMore();
  checkFirstScreen();
}

void PhotoGridView::scrollContentsBy(int, int) {
  viewport()->update();
  loadMore();
}

void PhotoGridView::paintEvent(QPaintEvent*) {
  QPainter painter(viewport());
  painter.fillRect(viewport()->rect(), kBackground);
  if (m_listed && m_entries.isEmpty()) return paintEmptyState(painter);

  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  const int top = verticalScrollBar()->value();
  const auto [first, last] = cellsBetween(top, top + viewport()->height() - 1);
  for (int i = first; i <= last; ++i) {
    const QRect rect = cellRect(i);
    const CellImage* cell = m_images.object(cacheKey(i));
    if (cell && !cell->image.isNull()) {
      painter.drawImage(rect, cell->image);
    } else if (cell) {
      // A picture frame with a mountain line: "there is a picture here, but no preview".
      painter.fillRect(rect, kFailedCell);
      const QRectF glyph(rect.center().x() - rect.width() / 6.0,
                         rect.center().y() - rect.height() / 8.0, rect.width() / 3.0,
                         rect.height() / 4.0);
      painter.setPen(QPen(kFailedGlyph, 1.5));
      painter.drawRect(glyph);
      painter.drawPolyline(QPolygonF{{glyph.left(), glyph.bottom()},
                                     {glyph.center().x() - glyph.width() / 8, glyph.center().y()},
                                     {glyph.right(), glyph.bottom()}});
    } else {
      painter.fillRect(rect, kLoadingCell);
    }
  }
}

void PhotoGridView::paintEmptyState(QPainter& painter) {
  const QRect area = viewport()->rect().adjusted(kEmptyHintMargin, 0, -kEmptyHintMargin, 0);
  const QString hint =
      tr("Pictures you keep in %1 appear here.").arg(displayPath(PhotoLibrary::picturesFolder()));
  const QFont titleFont = theme::boldSystemFont(kEmptyTitleSize);
  const QFont hintFont = theme::systemFont(kEmptyHintSize);
  const int titleHeight = QFontMetrics(titleFont).height();
  const QRect hintBounds =
      QFontMetrics(hintFont).boundingRect(area, Qt::AlignHCenter | Qt::TextWordWrap, hint);
  // Title and hint as one block, centred.
  int y = (viewport()->height() - titleHeight - kEmptyLineSpacing - hintBounds.height()) / 2;
  painter.setPen(theme::secondaryText());
  painter.setFont(titleFont);
  painter.drawText(QRect(area.left(), y, area.width(), titleHeight), Qt::AlignCenter,
                   tr("No Photos"));
  y += titleHeight + kEmptyLineSpacing;
  painter.setFont(hintFont);
  painter.drawText(QRect(area.left(), y, area.width(), hintBounds.height()),
                   Qt::AlignHCenter | Qt::TextWordWrap, hint);
}

void PhotoGridView::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QAbstractScrollArea::mousePressEvent(event);
  m_pressed = true;
  m_dragging = false;
  m_pressPoint = event->position().toPoint();
  m_pressScroll = verticalScrollBar()->value();
  m_pressIndex = indexAt(m_pressPoint);
  event->accept();
}

void PhotoGridView::mouseMoveEvent(QMouseEvent* event) {
  if (!m_pressed) return QAbstractScrollArea::mouseMoveEvent(event);
  const QPoint moved = event->position().toPoint() - m_pressPoint;
  if (!m_dragging && moved.manhattanLength() >= QApplication::startDragDistance()) {
    m_dragging = true;
  }
  // The content follows the finger: dragging up shows what lies below.
  if (m_dragging) verticalScrollBar()->setValue(m_pressScroll - moved.y());
  event->accept();
}

void PhotoGridView::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !m_pressed) {
    return QAbstractScrollArea::mouseReleaseEvent(event);
  }
  m_pressed = false;
  const bool tap =
      !m_dragging && m_pressIndex >= 0 && indexAt(event->position().toPoint()) == m_pressIndex;
  m_dragging = false;
  event->accept();
  if (tap) emit photoPicked(m_entries[m_pressIndex].path);
}

void PhotoGridView::wheelEvent(QWheelEvent* event) {
  const int delta = !event->pixelDelta().isNull()
                        ? event->pixelDelta().y()
                        : event->angleDelta().y() * kWheelPointsPerNotch / 120;
  if (delta == 0) return event->ignore();
  verticalScrollBar()->setValue(verticalScrollBar()->value() - delta);
  event->accept();
}

}  // namespace duo
