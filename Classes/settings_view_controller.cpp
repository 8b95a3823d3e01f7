#include "settings_view_controller.h"

#include <QAbstractButton>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <functional>
#include <stdexcept>

#include "screen.h"
#include "theme.h"

namespace duo {

namespace {

// Layout of the grouped list, in points.
constexpr int kSideMargin = 12;      // between the screen edge and a group's panel (phone)
constexpr int kWideSideMargin = 40;  // the same on a tablet-sized screen or sheet
constexpr int kWideWidth = 500;      // from this width on the wider margins apply
constexpr int kTextInset = 16;       // between a panel's edge and its text
constexpr int kRowHeight = 44;
constexpr int kDetailRowHeight = 58;  // a value row with a second line
constexpr double kCornerRadius = 10;
constexpr int kTopPadding = 10;  // above the first group, below the bar
constexpr int kBottomPadding = 28;
constexpr int kGroupSpacing = 20;  // between one group's footer and the next header
constexpr int kHeaderGap = 6;      // between a header and its panel
constexpr int kFooterGap = 7;      // between a panel and its footer
constexpr int kChevronWidth = 8;
constexpr QSize kSwitchSize(51, 31);
constexpr double kTitleSize = 16;
constexpr double kSmallSize = 13;

QColor pressedFill() { return QColor(255, 255, 255, 22); }
QColor switchOffTrack() { return QColor(0x3a, 0x3f, 0x46); }

// ---------------------------------------------------------------------------------------------
// The grouped list

/// The number a choice key holds as its readers see it: an absent key reads 0; a value that is
/// no number at all (a string, a date) has none.
std::optional<double> numericValue(const SettingsStore& store, const QString& key) {
  const QVariant value = store.objectForKey(key);
  switch (value.typeId()) {
    case QMetaType::UnknownType:
      return 0.0;
    case QMetaType::Bool:
      return value.toBool() ? 1.0 : 0.0;
    case QMetaType::LongLong:
      return static_cast<double>(value.toLongLong());
    case QMetaType::Double:
      return value.toDouble();
    default:
      return std::nullopt;
  }
}

/// What the list shows as the current value of a choice item.
QString currentValueTitle(const SettingsItem& item, const SettingsStore& store) {
  const std::optional<double> value = numericValue(store, item.key);
  if (value) {
    for (const SettingsChoice& choice : item.choices)
      if (static_cast<double>(choice.value) == *value) return choice.title;
    if (item.showsOtherValues && item.isLegal(*value)) return item.titleForValue(*value);
  }
  return QStringLiteral("Unknown");
}

QLabel* makeLabel(const QString& text, const QFont& font, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setFont(font);
  label->setWordWrap(true);
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, theme::secondaryText());
  label->setPalette(palette);
  label->setContentsMargins(kTextInset, 0, kTextInset, 0);
  return label;
}

/// A group's rounded panel; it draws the separators between its rows.
class GroupPanel : public QWidget {
 public:
  explicit GroupPanel(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
  }
  QVBoxLayout* rows() const { return static_cast<QVBoxLayout*>(layout()); }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(theme::panel());
    painter.drawRoundedRect(QRectF(rect()), kCornerRadius, kCornerRadius);
    const QList<QWidget*> children = findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
    for (QWidget* row : children) {
      if (!row->isVisible() || row->geometry().bottom() >= height() - 1) continue;
      painter.fillRect(
          QRectF(kTextInset, row->geometry().bottom() + 0.5, width() - kTextInset, 0.5),
          theme::separator());
    }
  }
};

/// One row of a panel: title at the left, an accessory at the right, a press highlight that
/// follows the panel's rounded corners.
class Row : public QAbstractButton {
 public:
  Row(const QString& title, const QString& objectName, int height, QWidget* parent)
      : QAbstractButton(parent) {
    setText(title);
    setObjectName(objectName);
    setAccessibleName(title);
    setFixedHeight(height);
    setFont(theme::systemFont(kTitleSize));
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::PointingHandCursor);
  }

 protected:
  virtual bool highlightsWhenPressed() const { return true; }
  /// Draws what sits at the right; returns its left edge.
  virtual int paintAccessory(QPainter&) { return width() - kTextInset; }
  virtual QColor titleColour() const { return theme::primaryText(); }
  virtual void paintTitle(QPainter& painter, const QRect& space) {
    painter.setPen(titleColour());
    painter.setFont(font());
    painter.drawText(space, Qt::AlignVCenter | Qt::AlignLeft,
                     painter.fontMetrics().elidedText(text(), Qt::ElideRight, space.width()));
  }

  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (isDown() && highlightsWhenPressed()) {
      QPainterPath panel;
      const QRect outline = parentWidget()->rect().translated(-pos());
      panel.addRoundedRect(QRectF(outline), kCornerRadius, kCornerRadius);
      QPainterPath own;
      own.addRect(QRectF(rect()));
      painter.fillPath(panel.intersected(own), pressedFill());
    }
    const int accessoryLeft = paintAccessory(painter);
    paintTitle(painter,
               QRect(kTextInset, 0, std::max(0, accessoryLeft - 10 - kTextInset), height()));
  }
};

/// A boolean key: the row is the switch (a tap anywhere on it flips it).
class ToggleRow : public Row {
 public:
  ToggleRow(const SettingsItem& item, QWidget* parent)
      : Row(item.title, item.key, kRowHeight, parent) {
    setCheckable(true);
  }

 protected:
  bool highlightsWhenPressed() const override { return false; }
  int paintAccessory(QPainter& painter) override {
    const QRectF track(width() - kTextInset - kSwitchSize.width(),
                       (height() - kSwitchSize.height()) / 2.0, kSwitchSize.width(),
                       kSwitchSize.height());
    const double radius = track.height() / 2;
    painter.setPen(Qt::NoPen);
    QColor fill = isChecked() ? theme::tint() : switchOffTrack();
    if (isDown()) fill = fill.lighter(112);
    painter.setBrush(fill);
    painter.drawRoundedRect(track, radius, radius);
    const double knob = track.height() - 4;
    const double x = isChecked() ? track.right() - 2 - knob : track.left() + 2;
    const QRectF knobRect(x, track.top() + 2, knob, knob);
    painter.setBrush(QColor(0, 0, 0, 50));
    painter.drawEllipse(knobRect.translated(0, 1));
    painter.setBrush(Qt::white);
    painter.drawEllipse(knobRect);
    return int(track.left());
  }
};

/// A choice key in the main list: its current value and a chevron; a tap opens the value list.
class DisclosureRow : public Row {
 public:
  DisclosureRow(const SettingsItem& item, QWidget* parent)
      : Row(item.title, item.key, kRowHeight, parent) {}
  void setValueText(const QString& text) {
    m_value = text;
    setAccessibleDescription(text);
    update();
  }

 protected:
  int paintAccessory(QPainter& painter) override {
    const double right = width() - kTextInset;
    const double mid = height() / 2.0;
    QPen pen(theme::secondaryText(), 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(pen);
    const double chevronLeft = right - kChevronWidth + 2;
    painter.drawPolyline(QPolygonF(
        {QPointF(chevronLeft, mid - 6), QPointF(right - 1, mid), QPointF(chevronLeft, mid + 6)}));
    // The value gets what the title leaves of the row; the title keeps its full width first.
    const int valueRight = int(right) - kChevronWidth - 8;
    const int titleWidth = QFontMetrics(font()).horizontalAdvance(text());
    const int room = std::max(0, valueRight - (kTextInset + titleWidth + 12));
    painter.setFont(font());
    painter.setPen(theme::secondaryText());
    const QString shown = painter.fontMetrics().elidedText(m_value, Qt::ElideRight, room);
    const int shownWidth = painter.fontMetrics().horizontalAdvance(shown);
    painter.drawText(QRect(valueRight - shownWidth, 0, shownWidth, height()),
                     Qt::AlignVCenter | Qt::AlignRight, shown);
    return valueRight - shownWidth;
  }

 private:
  QString m_value;
};

/// One value in a choice list: title, optional second line, checkmark when current.
class CheckRow : public Row {
 public:
  CheckRow(const QString& title, const QString& detail, const QString& objectName, QWidget* parent)
      : Row(title, objectName, detail.isEmpty() ? kRowHeight : kDetailRowHeight, parent),
        m_detail(detail) {
    setCheckable(true);
  }

 protected:
  int paintAccessory(QPainter& painter) override {
    const double right = width() - kTextInset;
    if (isChecked()) {
      const double mid = height() / 2.0;
      QPen pen(theme::tint(), 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
      painter.setPen(pen);
      painter.drawPolyline(QPolygonF(
          {QPointF(right - 14, mid), QPointF(right - 9, mid + 5), QPointF(right, mid - 6)}));
    }
    return int(right) - 14;
  }
  void paintTitle(QPainter& painter, const QRect& space) override {
    if (m_detail.isEmpty()) return Row::paintTitle(painter, space);
    const QFont small = theme::systemFont(kSmallSize);
    painter.setFont(font());
    painter.setPen(isChecked() ? theme::tint() : theme::primaryText());
    const QRect top(space.x(), 9, space.width(), height() / 2 - 6);
    painter.drawText(top, Qt::AlignLeft | Qt::AlignVCenter,
                     painter.fontMetrics().elidedText(text(), Qt::ElideRight, space.width()));
    painter.setFont(small);
    painter.setPen(theme::secondaryText());
    const QRect bottom(space.x(), height() / 2 + 2, space.width(), height() / 2 - 10);
    painter.drawText(bottom, Qt::AlignLeft | Qt::AlignVCenter,
                     painter.fontMetrics().elidedText(m_detail, Qt::ElideRight, space.width()));
  }
  QColor titleColour() const override { return isChecked() ? theme::tint() : theme::primaryText(); }

 private:
  QString m_detail;
};

/// The scrolling list: groups stacked under the navigation bar, which the content scrolls under.
class ListView : public QScrollArea {
 public:
  explicit ListView(std::function<int()> topInset) : m_topInset(std::move(topInset)) {
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, theme::background());
    palette.setColor(QPalette::Base, theme::background());
    setPalette(palette);
    viewport()->setAutoFillBackground(true);
    viewport()->setPalette(palette);
    verticalScrollBar()->setStyleSheet(QStringLiteral(
        "QScrollBar:vertical { width: 6px; background: transparent; margin: 2px 1px 2px 0; }"
        "QScrollBar::handle:vertical { background: rgba(255,255,255,70); border-radius: 2px;"
        " min-height: 24px; }"
        "QScrollBar::add-line, QScrollBar::sub-line { height: 0; }"
        "QScrollBar::add-page, QScrollBar::sub-page { background: transparent; }"));
    m_content = new QWidget;
    m_content->setPalette(palette);
    m_layout = new QVBoxLayout(m_content);
    m_layout->setSpacing(0);
    setWidget(m_content);
    resize(MainScreen::bounds());
    updateMargins();
  }

  QVBoxLayout* contentLayout() const { return m_layout; }
  QWidget* content() const { return m_content; }

  /// Adds a group: header, panel (returned, for the rows) and footer.
  GroupPanel* addGroup(const QString& title, const QString& footer) {
    if (m_groups++ > 0) m_layout->addSpacing(kGroupSpacing);
    if (!title.isEmpty()) {
      QFont font = theme::systemFont(kSmallSize, QFont::DemiBold);
      font.setLetterSpacing(QFont::AbsoluteSpacing, 0.6);
      m_layout->addWidget(makeLabel(title.toUpper(), font, m_content));
      m_layout->addSpacing(kHeaderGap);
    }
    auto* panel = new GroupPanel(m_content);
    m_layout->addWidget(panel);
    if (!footer.isEmpty()) {
      m_layout->addSpacing(kFooterGap);
      m_layout->addWidget(makeLabel(footer, theme::systemFont(kSmallSize), m_content));
    }
    return panel;
  }
  void finish() { m_layout->addStretch(1); }

  void updateMargins() {
    const int side = width() >= kWideWidth ? kWideSideMargin : kSideMargin;
    m_layout->setContentsMargins(side, m_topInset() + kTopPadding, side, kBottomPadding);
  }

 protected:
  void resizeEvent(QResizeEvent* event) override {
    updateMargins();
    QScrollArea::resizeEvent(event);
  }
  void showEvent(QShowEvent* event) override {
    updateMargins();
    QScrollArea::showEvent(event);
  }

 private:
  std::function<int()> m_topInset;
  QWidget* m_content = nullptr;
  QVBoxLayout* m_layout = nullptr;
  int m_groups = 0;
};

/// Space taken by the bar of `navigation` over its full-screen content.
int barInset(NavigationController* navigation) {
  if (!navigation) return 0;
  const int bar = navigation->navigationBar()->barHeight();
  // A sheet's content starts below its bar; full-screen content runs under it.
  return bar == NavigationBar::kHeight ? bar : 0;
}

/// The back item of a value list: a chevron and the title of the screen it returns to, drawn as
/// one template image so the bar tints it like any other item. An empty title draws the chevron
/// alone.
QImage backGlyph(const QString& title, double scale) {
  const QFont font = theme::systemFont(17);
  const QSizeF size(title.isEmpty() ? 13 : 18 + QFontMetricsF(font).horizontalAdvance(title), 24);
  QImage image((size * scale).toSize(), QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  image.setDevicePixelRatio(scale);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(Qt::white, 2.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  painter.drawPolyline(QPolygonF({QPointF(10.5, 4.5), QPointF(3, 12), QPointF(10.5, 19.5)}));
  painter.setFont(font);
  painter.drawText(QRectF(18, 0, size.width() - 18, size.height()),
                   Qt::AlignVCenter | Qt::AlignLeft, title);
  return image;
}

/// The longest back label that still leaves the centred title of `title` room in a bar of
/// `barWidth`: the previous screen's title, else "Back", else none.
QString backLabel(const QString& previous, const QString& title, int barWidth) {
  const QFontMetricsF bold(theme::boldSystemFont(17));
  const QFontMetricsF plain(theme::systemFont(17));
  for (const QString& label : {previous, QStringLiteral("Back")}) {
    // The bar keeps the title clear of the wider side item: 4 + button (glyph + 16) + 8.
    const double side = 4 + 18 + plain.horizontalAdvance(label) + 16 + 8;
    if (barWidth - 2 * side >= bold.horizontalAdvance(title) + 2) return label;
  }
  return {};
}

/// The values of one choice key, with a checkmark on the current one. A tap writes at once.
class ChoiceViewController : public ViewController {
 public:
  ChoiceViewController(SettingsItem item, SettingsStore& store, const QString& backTitle,
                       int barWidth, QObject* parent = nullptr)
      : ViewController(parent), m_item(std::move(item)), m_store(store) {
    setObjectName(QStringLiteral("choices:") + m_item.key);
    setTitle(m_item.title);
    navigationItem().leftBarButtonItem = new BarButtonItem(
        backGlyph(backLabel(backTitle, m_item.title, barWidth), MainScreen::scale()),
        [this] {
          if (NavigationController* navigation = navigationController())
            navigation->popViewController(true);
        },
        this);
    m_token = m_store.addObserver(m_item.key, this, [this](const QString&) { refresh(); });
  }
  ~ChoiceViewController() override { m_store.removeObserver(m_item.key, m_token); }

 protected:
  void loadView() override {
    auto* list = new ListView([this] { return barInset(navigationController()); });
    m_panel = list->addGroup({}, m_item.footer);
    for (const SettingsChoice& choice : m_item.choices)
      addRow(choice.value, choice.title, choice.detail);
    list->finish();
    setView(list);
    refresh();
  }

 private:
  void addRow(double value, const QString& title, const QString& detail, int index = -1) {
    auto* row = new CheckRow(
        title, detail, m_item.key + QLatin1Char('=') + QString::number(value, 'g', 12), m_panel);
    QObject::connect(row, &QAbstractButton::clicked, this, [this, value] { choose(value); });
    m_panel->rows()->insertWidget(index, row);
    m_rows.insert(m_rows.begin() + (index < 0 ? m_rows.size() : index), {value, row});
  }

  void choose(double value) {
    if (value == std::trunc(value)) {
      m_store.setInteger(static_cast<qint64>(value), m_item.key);
    } else {
      m_store.setFloat(value, m_item.key);
    }
    refresh();  // the store says nothing when the value did not change
  }

  void refresh() {
    if (!m_panel) return;
    const std::optional<double> current = numericValue(m_store, m_item.key);
    const bool listed = current && std::any_of(m_rows.begin(), m_rows.end(), [&](const auto& row) {
                          return row.first == *current;
                        });
    // A legal value the list does not offer stays visible, and selectable again later.
    if (current && !listed && m_item.showsOtherValues && m_item.isLegal(*current)) {
      int index = 0;
      while (index < int(m_rows.size()) && m_rows[index].first < *current) ++index;
      addRow(*current, m_item.titleForValue(*current), {}, index);
    }
    for (auto& [value, row] : m_rows) row->setChecked(current && value == *current);
  }

  SettingsItem m_item;
  SettingsStore& m_store;
  int m_token = 0;
  QPointer<GroupPanel> m_panel;
  std::vector<std::pair<double, QPointer<CheckRow>>> m_rows;
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// The screen

namespace {

SettingsDescription shippedOrThrow() {
  Result<SettingsDescription> description = SettingsDescription::shipped();
  if (!description) throw std::runtime_error(description.error().message);
  return std::move(description).value();
}

}  // namespace

SettingsViewController::SettingsViewController(SettingsStore& store, QObject* parent)
    : SettingsViewController(shippedOrThrow(), store, parent) {}

SettingsViewController::SettingsViewController(SettingsDescription description,
                                               SettingsStore& store, QObject* parent)
    : ViewController(parent), m_description(std::move(description)), m_store(store) {
  setTitle(QStringLiteral("Settings"));
  m_doneItem = new BarButtonItem(
      BarButtonItem::SystemItem::Done, [this] { done(); }, this);
  navigationItem().rightBarButtonItem = m_doneItem;
}

SettingsViewController::~SettingsViewController() {
  for (const auto& [key, token] : m_observerTokens) m_store.removeObserver(key, token);
}

void SettingsViewController::setShowDoneButton(bool show) {
  m_showDoneButton = show;
  navigationItem().rightBarButtonItem = show ? m_doneItem.data() : nullptr;
  navigationItemChanged();
}

void SettingsViewController::loadView() {
  auto* list = new ListView([this] { return topInset(); });
  for (const SettingsGroup& group : m_description.groups()) {
    GroupPanel* panel = list->addGroup(group.title, group.footer);
    for (const SettingsItem& item : group.items) {
      Row* row = nullptr;
      if (item.type == SettingsItem::Type::Toggle) {
        row = new ToggleRow(item, panel);
        const QString key = item.key;
        connect(row, &QAbstractButton::clicked, this,
                [this, key](bool checked) { m_store.setBool(checked, key); });
      } else {
        row = new DisclosureRow(item, panel);
        const QString key = item.key;
        connect(row, &QAbstractButton::clicked, this, [this, key] { showChoicesForKey(key); });
      }
      panel->rows()->addWidget(row);
      m_rows[item.key] = row;
    }
  }
  list->finish();
  setView(list);
}

void SettingsViewController::viewDidLoad() {
  for (const QString& key : m_description.keys()) {
    refreshKey(key);
    m_observerTokens[key] =
        m_store.addObserver(key, this, [this](const QString& changed) { refreshKey(changed); });
  }
  // On a desktop Escape is how one leaves a screen like this. It stands for the Done button, so
  // it works only while that button is shown; under a value list this view is hidden, which
  // turns the shortcut off there.
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), view());
  escape->setContext(Qt::WindowShortcut);
  connect(escape, &QShortcut::activated, this, [this] {
    if (m_showDoneButton) done();
  });
}

void SettingsViewController::viewWillAppear(bool) {
  m_ended = false;
  if (auto* list = dynamic_cast<ListView*>(view())) list->updateMargins();
}

int SettingsViewController::topInset() const { return barInset(navigationController()); }

void SettingsViewController::refreshKey(const QString& key) {
  const SettingsItem* item = m_description.item(key);
  const auto found = m_rows.find(key);
  if (!item || found == m_rows.end() || !found->second) return;
  if (item->type == SettingsItem::Type::Toggle) {
    static_cast<ToggleRow*>(found->second.data())->setChecked(m_store.boolForKey(key));
  } else {
    static_cast<DisclosureRow*>(found->second.data())
        ->setValueText(currentValueTitle(*item, m_store));
  }
}

ViewController* SettingsViewController::showChoicesForKey(const QString& key, bool animated) {
  const SettingsItem* item = m_description.item(key);
  NavigationController* navigation = navigationController();
  if (!item || item->type != SettingsItem::Type::Choice || !navigation ||
      navigation->topViewController() != this || navigation->isTransitioning())
    return nullptr;
  auto* choices =
      new ChoiceViewController(*item, m_store, title(), navigation->navigationBar()->width());
  navigation->pushViewController(choices, animated);
  return choices;
}

void SettingsViewController::done() {
  // One press ends the visit: a second one while the screen slides away must not end it twice.
  if (m_ended) return;
  m_ended = true;
  if (m_delegate) {
    m_delegate->settingsViewControllerDidEnd(this);
    return;
  }
  // Nobody to tell: close the screen ourselves rather than leave a button that does nothing.
  ViewController* shown =
      navigationController() ? static_cast<ViewController*>(navigationController()) : this;
  shown->dismissViewController(true);
}

}  // namespace duo
