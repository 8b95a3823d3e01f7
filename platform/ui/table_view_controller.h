#pragma once

#include <QImage>
#include <QList>
#include <QPointer>
#include <QSize>
#include <QString>

#include <functional>

#include "view_controller.h"

class QScrollArea;

namespace duo {

/// One row of a TableViewController: a line of text and, optionally, an image at its left.
struct TableRow {
  QString text;
  QImage image;  ///< null: no image column
};

/// A single-choice list screen: rows of text (optionally with an image), a checkmark on the
/// chosen row, and a callback when the user picks one. It scrolls when the rows do not fit.
///
/// Rows are plain values; call setRows() again when they change (as a table reloads its data).
/// The checked row is the caller's state: a tap moves the checkmark and reports the row, and
/// the caller decides what else happens (close the screen, write a setting).
class TableViewController : public ViewController {
  Q_OBJECT
 public:
  enum class ScrollPosition { Top, Middle, Bottom };
  using SelectionHandler = std::function<void(int row)>;

  static constexpr int kDefaultRowHeight = 44;
  /// Object name of every row widget, for tests and style sheets.
  static constexpr char kRowObjectName[] = "Cell";

  explicit TableViewController(QObject* parent = nullptr);
  ~TableViewController() override;

  void setRows(QList<TableRow> rows);
  const QList<TableRow>& rows() const { return m_rows; }
  int numberOfRows() const { return int(m_rows.size()); }
  /// Replaces the image of one row (an image that arrived later); out-of-range rows are ignored.
  void setImageForRow(int row, const QImage& image);

  /// The row with the checkmark, -1 for none. Out-of-range values mean none.
  int checkedRow() const { return m_checkedRow; }
  void setCheckedRow(int row);

  /// Height of each row in points (at least 1).
  int rowHeight() const { return m_rowHeight; }
  void setRowHeight(int points);

  /// With a clear background the screen draws no background of its own, so whatever it sits on
  /// (a frosted panel, a sheet) shows between and behind the rows.
  bool hasClearBackground() const { return m_clearBackground; }
  void setClearBackground(bool clear);

  /// Rows for a light panel: black text, a deeper accent and dark hairlines.
  bool hasLightAppearance() const { return m_lightAppearance; }
  void setLightAppearance(bool light);

  /// Called after the user taps a row (the checkmark has moved to it).
  void setSelectionHandler(SelectionHandler handler) { m_onSelect = std::move(handler); }
  /// Does what a tap on `row` does; ignored for rows that do not exist.
  void selectRow(int row);

  /// Scrolls so that `row` sits at the top, middle or bottom of the visible part, as far as
  /// the list allows. Loads the view when needed.
  void scrollToRow(int row, ScrollPosition position);
  /// The first row showing at the top of the visible part (0 when nothing is loaded).
  int firstVisibleRow() const;

  /// The bottom of the last row, in points from the top of the list.
  int contentHeight() const { return numberOfRows() * m_rowHeight; }

  /// The widget that shows `row`, nullptr before the view is loaded (tests click it).
  QWidget* rowWidget(int row) const;

 protected:
  void loadView() override;

 private:
  void rebuild();
  void layoutRows();
  void applyBackground();

  QList<TableRow> m_rows;
  int m_checkedRow = -1;
  int m_rowHeight = kDefaultRowHeight;
  bool m_clearBackground = false;
  bool m_lightAppearance = false;
  SelectionHandler m_onSelect;
  QPointer<QScrollArea> m_scroll;
  QPointer<QWidget> m_content;
  QList<QPointer<QWidget>> m_rowWidgets;
};

}  // namespace duo
