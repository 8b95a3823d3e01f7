#include "table_view_controller.h"

#include <QAbstractButton>
#include <QPainter>
#include <QResizeEvent>
#include <QScrollArea>
#include <QScrollBar>

#include <algorithm>

#include "navigation_controller.h"
#include "screen.h"
#include "theme.h"

namespace duo {

namespace {

// Layout of a row, in points.
constexpr int kTextInset = 16;       // between the screen edge and the text (or image)
constexpr int kImageGap = 10;        // between the image column and the text
constexpr int kAccessoryWidth = 14;  // the checkmark
constexpr double kTextSize = 16;

QColor pressedFill(bool light) { return light ? QColor(0, 0, 0, 25) : QColor(255, 255, 255, 22); }
// Over a light panel: black text and a deeper accent, which the theme's pale one is too faint for.
const QColor kLightAccent(0x0a, 0x7a, 0xc4);
const QColor kLightSeparator(0, 0, 0, 40);

/// Space the navigation bar takes over full-screen content, which runs under the bar.
int barInset(NavigationController* navigation) {
  if (!navigation) return 0;
  const int bar = navigation->navigationBar()->barHeight();
  return bar == NavigationBar::kHeight ? bar : 0;
}

/// One row: image (square, the row's height) at the left, the text, the checkmark at the right
/// and a hairline under it.
class TableCell : public QAbstractButton {
 public:
  TableCell(const TableRow& row, bool light, QWidget* parent)
      : QAbstractButton(parent), m_image(row.image), m_light(light) {
    setObjectName(QString::fromLatin1(TableViewController::kRowObjectName));
    setText(row.text);
    setAccessibleName(row.text);
    setCheckable(true);
    setFont(theme::systemFont(kTextSize));
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::PointingHandCursor);
  }
  void setImage(const QImage& image) {
    m_image = image;
    update();
  }
  // The table owns the checked state: a click only reports.
  void nextCheckState() override {}

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    if (isDown()) painter.fillRect(rect(), pressedFill(m_light));
    const QColor accent = m_light ? kLightAccent : theme::tint();
    int left = kTextInset;
    if (!m_image.isNull()) {
      // Filled and cropped to a square, as album covers are shown.
      const QRectF target(0, 0, height(), height());
      const QSizeF source =
          QSizeF(m_image.size()).scaled(target.size(), Qt::KeepAspectRatioByExpanding);
      const double sx = m_image.width() / source.width() * target.width();
      const double sy = m_image.height() / source.height() * target.height();
      painter.drawImage(target, m_image,
                        QRectF((m_image.width() - sx) / 2, (m_image.height() - sy) / 2, sx, sy));
      left = height() + kImageGap;
    }
    const int right = width() - kTextInset;
    if (isChecked()) {
      const double mid = height() / 2.0;
      painter.setPen(QPen(accent, 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
      painter.drawPolyline(QPolygonF({QPointF(right - kAccessoryWidth, mid),
                                      QPointF(right - 9, mid + 5), QPointF(right, mid - 6)}));
    }
    const QRect textSpace(left, 0, std::max(0, right - kAccessoryWidth - 10 - left), height());
    painter.setPen(isChecked() ? accent : m_light ? QColor(Qt::black) : theme::primaryText());
    painter.setFont(font());
    painter.drawText(textSpace, Qt::AlignVCenter | Qt::AlignLeft,
                     painter.fontMetrics().elidedText(text(), Qt::ElideRight, textSpace.width()));
    painter.fillRect(QRectF(left, height() - 0.5, width() - left, 0.5),
                     m_light ? kLightSeparator : theme::separator());
  }

 private:
  QImage m_image;
  bool m_light;
};

/// The scrolling area; it keeps the rows as wide as the visible part.
class TableScrollArea : public QScrollArea {
 public:
  using QScrollArea::QScrollArea;
  std::function<void()> onResize;

 protected:
  void resizeEvent(QResizeEvent* event) override {
    QScrollArea::resizeEvent(event);
    if (onResize) onResize();
  }
};

}  // namespace

TableViewController::TableViewController(QObject* parent) : ViewController(parent) {}

TableViewController::~TableViewController() = default;

void TableViewController::setRows(QList<TableRow> rows) {
  m_rows = std::move(rows);
  if (m_checkedRow >= numberOfRows()) m_checkedRow = -1;
  rebuild();
}

void TableViewController::setImageForRow(int row, const QImage& image) {
  if (row < 0 || row >= numberOfRows()) return;
  m_rows[row].image = image;
  if (row < m_rowWidgets.size() && m_rowWidgets[row])
    static_cast<TableCell*>(m_rowWidgets[row].data())->setImage(image);
}

void TableViewController::setCheckedRow(int row) {
  m_checkedRow = row >= 0 && row < numberOfRows() ? row : -1;
  for (int i = 0; i < m_rowWidgets.size(); ++i)
    if (m_rowWidgets[i])
      static_cast<TableCell*>(m_rowWidgets[i].data())->setChecked(i == m_checkedRow);
}

void TableViewController::setRowHeight(int points) {
  m_rowHeight = std::max(1, points);
  layoutRows();
}

void TableViewController::setClearBackground(bool clear) {
  m_clearBackground = clear;
  applyBackground();
}

void TableViewController::selectRow(int row) {
  if (row < 0 || row >= numberOfRows()) return;
  setCheckedRow(row);
  if (m_onSelect) m_onSelect(row);
}

QWidget* TableViewController::rowWidget(int row) const {
  return row >= 0 && row < m_rowWidgets.size() ? m_rowWidgets[row].data() : nullptr;
}

void TableViewController::scrollToRow(int row, ScrollPosition position) {
  view();
  if (!m_scroll || row < 0 || row >= numberOfRows()) return;
  const int inset = barInset(navigationController());
  const int visible = m_scroll->viewport()->height() - inset;
  const int top = row * m_rowHeight;  // relative to the first row
  int offset = top;
  if (position == ScrollPosition::Middle) offset = top - (visible - m_rowHeight) / 2;
  if (position == ScrollPosition::Bottom) offset = top - (visible - m_rowHeight);
  QScrollBar* bar = m_scroll->verticalScrollBar();
  bar->setValue(std::clamp(offset, bar->minimum(), bar->maximum()));
}

int TableViewController::firstVisibleRow() const {
  if (!m_scroll || m_rows.isEmpty()) return 0;
  return std::clamp(m_scroll->verticalScrollBar()->value() / m_rowHeight, 0, numberOfRows() - 1);
}

void TableViewController::loadView() {
  auto* scroll = new TableScrollArea;
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  scroll->verticalScrollBar()->setStyleSheet(QStringLiteral(
      "QScrollBar:vertical { width: 6px; background: transparent; margin: 2px 1px 2px 0; }"
      "QScrollBar::handle:vertical { background: rgba(255,255,255,70); border-radius: 2px;"
      " min-height: 24px; }"
      "QScrollBar::add-line, QScrollBar::sub-line { height: 0; }"
      "QScrollBar::add-page, QScrollBar::sub-page { background: transparent; }"));
  scroll->resize(MainScreen::bounds());
  m_content = new QWidget;
  scroll->setWidget(m_content);
  scroll->onResize = [this] { layoutRows(); };
  m_scroll = scroll;
  setView(scroll);
  applyBackground();
  rebuild();
}

void TableViewController::applyBackground() {
  if (!m_scroll) return;
  QPalette palette = m_scroll->palette();
  const QColor fill = m_clearBackground ? QColor(Qt::transparent) : theme::background();
  palette.setColor(QPalette::Window, fill);
  palette.setColor(QPalette::Base, fill);
  for (QWidget* widget :
       {static_cast<QWidget*>(m_scroll.data()), m_scroll->viewport(), m_content.data()}) {
    if (!widget) continue;
    widget->setPalette(palette);
    widget->setAutoFillBackground(!m_clearBackground);
    widget->setAttribute(Qt::WA_TranslucentBackground, m_clearBackground);
  }
  m_scroll->update();
}

void TableViewController::setLightAppearance(bool light) {
  if (light == m_lightAppearance) return;
  m_lightAppearance = light;
  rebuild();
}

void TableViewController::rebuild() {
  if (!m_content) return;
  for (const QPointer<QWidget>& widget : m_rowWidgets) delete widget.data();
  m_rowWidgets.clear();
  for (int i = 0; i < numberOfRows(); ++i) {
    auto* cell = new TableCell(m_rows[i], m_lightAppearance, m_content);
    cell->setChecked(i == m_checkedRow);
    connect(cell, &QAbstractButton::clicked, this, [this, i] { selectRow(i); });
    cell->show();
    m_rowWidgets.append(cell);
  }
  layoutRows();
}

void TableViewController::layoutRows() {
  if (!m_scroll || !m_content) return;
  const int inset = barInset(navigationController());
  const int width = m_scroll->viewport()->width();
  for (int i = 0; i < m_rowWidgets.size(); ++i)
    if (m_rowWidgets[i])
      m_rowWidgets[i]->setGeometry(0, inset + i * m_rowHeight, width, m_rowHeight);
  m_content->resize(width, inset + contentHeight());
}

}  // namespace duo
