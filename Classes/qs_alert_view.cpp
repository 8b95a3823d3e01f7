#include "qs_alert_view.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>

#include <algorithm>

#include "screen.h"
#include "theme.h"
#include "view_animation.h"
#include "app_window.h"
#include "view_controller.h"

namespace duo {

namespace {

// Alert card.
constexpr int kCardWidth = 270;
constexpr double kCardRadius = 14;
constexpr int kCardPadTop = 20;
constexpr int kCardPadSide = 16;
constexpr int kCardPadBottom = 20;
constexpr int kTitleMessageGap = 5;
constexpr int kFieldGap = 14;
constexpr int kFieldHeight = 32;
constexpr int kFieldSpacing = 8;
constexpr int kAlertButtonHeight = 44;
constexpr int kWindowMargin = 24;  // kept free between the card and the window's edges
constexpr double kAlertShowDuration = 0.25;
constexpr double kAlertHideDuration = 0.2;
constexpr double kCardStartScale = 1.12;

// Phone action sheet.
constexpr int kSheetMargin = 8;
constexpr int kSheetRow = 57;
constexpr int kSheetMinRow = 44;
constexpr double kSheetRadius = 13;
constexpr int kSheetTitlePad = 14;
constexpr int kSheetButtonSize = 20;
constexpr int kSheetTopFree = 20;  // the status area stays visible above a tall sheet
constexpr double kSheetInDuration = 0.3;
constexpr double kSheetOutDuration = 0.25;

// Tablet action sheet (anchored panel).
constexpr int kPopoverWidth = 272;
constexpr int kPopoverRow = 44;
constexpr double kPopoverRadius = 13;
constexpr int kArrowHeight = 12;
constexpr int kArrowWidth = 26;
constexpr int kPopoverMargin = 10;
constexpr double kPopoverFadeDuration = 0.2;

QColor dimColour() { return QColor(0, 0, 0, 110); }
QColor popoverDimColour() { return QColor(0, 0, 0, 56); }
QColor cardColour() { return QColor(0x2a, 0x2f, 0x35); }
// Lifted a little further: a popover sits on the screen itself, not on a dimmed one.
QColor popoverColour() { return QColor(0x32, 0x38, 0x3f); }
QColor cardBorder() { return QColor(255, 255, 255, 22); }
QColor pressedFill() { return QColor(255, 255, 255, 28); }

int textHeight(const QFont& font, int width, const QString& text) {
  return QFontMetrics(font)
      .boundingRect(QRect(0, 0, width, 1 << 20), Qt::AlignHCenter | Qt::TextWordWrap, text)
      .height();
}

/// A full-width choice of an alert or a sheet: a centred title that highlights while pressed.
/// The highlight follows `shape` so that it stays inside the rounded corners of its group.
class ChoiceButton : public QAbstractButton {
 public:
  ChoiceButton(const QString& title, const QFont& font, const QColor& colour, QWidget* parent)
      : QAbstractButton(parent), m_colour(colour) {
    setText(title);
    setFont(font);
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_TranslucentBackground);
  }
  void setShape(const QPainterPath& shape) { m_shape = shape; }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (isDown()) {
      painter.save();
      if (!m_shape.isEmpty()) painter.setClipPath(m_shape);
      painter.fillRect(rect(), pressedFill());
      painter.restore();
    }
    painter.setPen(m_colour);
    painter.setFont(font());
    const QRect area = rect().adjusted(8, 0, -8, 0);
    painter.drawText(area, Qt::AlignCenter,
                     painter.fontMetrics().elidedText(text(), Qt::ElideRight, area.width()));
  }

 private:
  QColor m_colour;
  QPainterPath m_shape;
};

/// The drawn part of an alert or a sheet: filled shapes, hairline separators and texts. Taps on
/// it are taken, so they never count as taps outside.
class DrawnPanel : public QWidget {
 public:
  struct Shape {
    QPainterPath path;
    QColor fill;
  };
  struct Text {
    QRect rect;
    QString text;
    QFont font;
    QColor colour;
  };
  using QWidget::QWidget;

  std::vector<Shape> shapes;
  QColor border = cardBorder();
  std::vector<QLineF> lines;
  std::vector<Text> texts;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    for (const Shape& shape : shapes) {
      painter.fillPath(shape.path, shape.fill);
      painter.strokePath(shape.path, QPen(border, 0.5));
    }
    painter.setRenderHint(QPainter::Antialiasing, false);
    for (const QLineF& line : lines) {
      // Hairlines: half a point, which is one device pixel at 2x.
      const QRectF hair = line.dx() == 0 ? QRectF(line.x1() - 0.25, line.y1(), 0.5, line.dy())
                                         : QRectF(line.x1(), line.y1() - 0.25, line.dx(), 0.5);
      painter.fillRect(hair, theme::separator());
    }
    painter.setRenderHint(QPainter::Antialiasing);
    for (const Text& text : texts) {
      painter.setPen(text.colour);
      painter.setFont(text.font);
      painter.drawText(text.rect, Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, text.text);
    }
  }
  void mousePressEvent(QMouseEvent* event) override { event->accept(); }
};

QPainterPath roundedPath(const QRectF& rect, double radius) {
  QPainterPath path;
  path.addRoundedRect(rect, radius, radius);
  return path;
}

/// Where a window of its own goes when there is no application window to cover.
void centreOnScreen(QWidget* window) {
  if (QScreen* screen = QGuiApplication::primaryScreen())
    window->move(screen->availableGeometry().center() - window->rect().center());
}

int screenHeightForOwnWindow() {
  QScreen* screen = QGuiApplication::primaryScreen();
  return screen ? screen->availableGeometry().height() : MainScreen::bounds().height();
}

QString windowTitleFor(const QString& title) {
  return title.isEmpty() ? QStringLiteral("Duoscope") : title;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// QSAlertView

QSAlertView::QSAlertView(const QString& title, const QString& message,
                         const QString& cancelButtonTitle, const QStringList& otherButtonTitles)
    : m_title(title), m_message(message) {
  if (!cancelButtonTitle.isEmpty()) {
    m_cancelIndex = 0;
    m_buttonTitles << cancelButtonTitle;
  }
  for (const QString& other : otherButtonTitles) addButtonWithTitle(other);
}

int QSAlertView::addButtonWithTitle(const QString& title) {
  m_buttonTitles << title;
  return int(m_buttonTitles.size()) - 1;
}

int QSAlertView::firstOtherButtonIndex() const {
  for (int i = 0; i < numberOfButtons(); ++i)
    if (i != m_cancelIndex) return i;
  return -1;
}

QString QSAlertView::buttonTitleAtIndex(int index) const {
  return index >= 0 && index < numberOfButtons() ? m_buttonTitles[index] : QString();
}

void QSAlertView::setAlertViewStyle(Style style) {
  if (style == m_style) return;
  m_style = style;
  for (QLineEdit* field : m_fields) delete field;
  m_fields.clear();
  if (style == Style::Default) return;
  const int count = style == Style::LoginAndPasswordInput ? 2 : 1;
  for (int i = 0; i < count; ++i) {
    auto* field = new QLineEdit(this);
    field->setFont(theme::systemFont(15));
    field->setAttribute(Qt::WA_MacShowFocusRect, false);
    field->setStyleSheet(QStringLiteral(
        "QLineEdit { background: #16191c; color: #f2f4f6; border: 1px solid rgba(255,255,255,40);"
        " border-radius: 7px; padding: 0 8px; selection-background-color: #4cc9f0; }"
        "QLineEdit:focus { border: 1px solid rgba(76,201,240,150); }"));
    field->hide();
    m_fields.push_back(field);
  }
  if (style == Style::SecureTextInput) m_fields[0]->setEchoMode(QLineEdit::Password);
  if (style == Style::LoginAndPasswordInput) {
    m_fields[0]->setPlaceholderText(QStringLiteral("Login"));
    m_fields[1]->setPlaceholderText(QStringLiteral("Password"));
    m_fields[1]->setEchoMode(QLineEdit::Password);
  }
}

QLineEdit* QSAlertView::textFieldAtIndex(int index) const {
  return index >= 0 && index < int(m_fields.size()) ? m_fields[index] : nullptr;
}

QAbstractButton* QSAlertView::buttonAtIndex(int index) const {
  return index >= 0 && index < int(m_buttons.size()) ? m_buttons[index] : nullptr;
}

void QSAlertView::showWithCompletion(Completion completion) {
  if (hasBeenShown()) return;
  m_completion = std::move(completion);
  show();
}

void QSAlertView::show() {
  if (hasBeenShown()) return;
  showOver(AppWindow::keyWindow(), dimColour(), windowTitleFor(m_title), true);
}

QWidget* QSAlertView::initialFocus() const { return m_fields.empty() ? nullptr : m_fields.front(); }

void QSAlertView::animateIn(bool) {
  setViewAlpha(this, 0);
  setAttribute(Qt::WA_TransparentForMouseEvents, false);  // the dim blocks taps from the start
  // The card is centred, so zooming the whole alert about its centre zooms the card in place.
  setViewTransform(this, QTransform::fromScale(kCardStartScale, kCardStartScale));
  animateViews(kAlertShowDuration, AnimationCurve::EaseOut,
               {{this, 1.0, std::nullopt, QTransform()}});
}

void QSAlertView::buildCard() {
  auto* card = new DrawnPanel(this);
  m_card = card;
  const int textWidth = kCardWidth - 2 * kCardPadSide;
  const QFont titleFont = theme::boldSystemFont(17);
  // Without a title the message is the headline and reads a little larger.
  const QFont messageFont = theme::systemFont(m_title.isEmpty() ? 15 : 13);
  const int titleHeight = m_title.isEmpty() ? 0 : textHeight(titleFont, textWidth, m_title);
  int messageHeight = m_message.isEmpty() ? 0 : textHeight(messageFont, textWidth, m_message);
  const int fieldsHeight = m_fields.empty() ? 0
                                            : int(m_fields.size()) * kFieldHeight +
                                                  (int(m_fields.size()) - 1) * kFieldSpacing;

  const int count = numberOfButtons();
  const bool sideBySide = count <= 2;
  const int buttonsHeight = count == 0 ? 0 : (sideBySide ? 1 : count) * kAlertButtonHeight;

  auto contentHeight = [&] {
    int h = titleHeight + messageHeight + fieldsHeight;
    if (titleHeight && messageHeight) h += kTitleMessageGap;
    if (fieldsHeight && (titleHeight || messageHeight)) h += kFieldGap;
    return h ? kCardPadTop + h + kCardPadBottom : 0;
  };
  // A message too long for the window is cut rather than pushing the buttons out of reach.
  const int available =
      (hasOwnWindow() ? screenHeightForOwnWindow() : height()) - 2 * kWindowMargin;
  const int overflow = contentHeight() + buttonsHeight - available;
  if (overflow > 0) messageHeight = std::max(0, messageHeight - overflow);

  int y = kCardPadTop;
  if (titleHeight) {
    card->texts.push_back(
        {QRect(kCardPadSide, y, textWidth, titleHeight), m_title, titleFont, theme::primaryText()});
    y += titleHeight;
  }
  if (messageHeight) {
    if (titleHeight) y += kTitleMessageGap;
    card->texts.push_back({QRect(kCardPadSide, y, textWidth, messageHeight), m_message, messageFont,
                           m_title.isEmpty() ? theme::primaryText() : QColor(0xd0, 0xd5, 0xda)});
    y += messageHeight;
  }
  if (fieldsHeight) {
    if (titleHeight || messageHeight) y += kFieldGap;
    for (QLineEdit* field : m_fields) {
      field->setParent(card);
      field->setGeometry(kCardPadSide, y, textWidth, kFieldHeight);
      field->show();
      y += kFieldHeight + kFieldSpacing;
    }
  }
  const int top = contentHeight();
  card->resize(kCardWidth, top + buttonsHeight);
  const QPainterPath shape = roundedPath(QRectF(card->rect()), kCardRadius);
  card->shapes.push_back({shape, cardColour()});
  if (top && count) card->lines.emplace_back(0, top, kCardWidth, top);

  // One or two buttons side by side (cancel on the left), more stacked with cancel at the foot.
  std::vector<int> order;
  for (int i = 0; i < count; ++i)
    if (sideBySide || i != m_cancelIndex) order.push_back(i);
  if (!sideBySide && m_cancelIndex >= 0) order.push_back(m_cancelIndex);
  m_buttons.assign(count, nullptr);
  for (int slot = 0; slot < int(order.size()); ++slot) {
    const int index = order[slot];
    const bool cancel = index == m_cancelIndex;
    QRect frame =
        sideBySide ? QRect(slot * kCardWidth / count, top, kCardWidth / count, kAlertButtonHeight)
                   : QRect(0, top + slot * kAlertButtonHeight, kCardWidth, kAlertButtonHeight);
    auto* button = new ChoiceButton(m_buttonTitles[index],
                                    cancel ? theme::boldSystemFont(17) : theme::systemFont(17),
                                    theme::tint(), card);
    button->setGeometry(frame);
    button->setShape(shape.translated(-frame.topLeft()));
    connect(button, &QAbstractButton::clicked, this,
            [this, index] { dismissWithClickedButtonIndex(index, true); });
    m_buttons[index] = button;
    if (slot > 0) {
      if (sideBySide)
        card->lines.emplace_back(frame.left(), top, frame.left(), top + kAlertButtonHeight);
      else
        card->lines.emplace_back(0, frame.top(), kCardWidth, frame.top());
    }
  }
  card->show();
}

void QSAlertView::layOutPanel() {
  // The card is built once, for the window it first appears on; later it is only re-centred.
  if (!m_card) buildCard();
  if (hasOwnWindow()) {
    resize(m_card->size());
    m_card->move(0, 0);
    centreOnScreen(this);
    return;
  }
  m_card->move((width() - m_card->width()) / 2, (height() - m_card->height()) / 2);
}

void QSAlertView::mousePressEvent(QMouseEvent* event) {
  // The dim keeps taps away from the window below; an alert is answered only by its buttons.
  event->accept();
}

void QSAlertView::keyPressEvent(QKeyEvent* event) {
  const bool single = numberOfButtons() == 1;
  int index = -1;
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      index = firstOtherButtonIndex();
      if (index < 0 && single) index = 0;
      break;
    case Qt::Key_Escape:
      index = m_cancelIndex;
      if (index < 0 && single) index = 0;
      break;
    default:
      QWidget::keyPressEvent(event);
      return;
  }
  event->accept();
  if (index >= 0 && isShowing()) dismissWithClickedButtonIndex(index, true);
}

void QSAlertView::alertViewClickedButtonAtIndex(int index) {
  reportAnswer(m_completion, this, index);
}

void QSAlertView::animateOut(std::function<void(bool finished)> done) {
  animateViews(kAlertHideDuration, AnimationCurve::EaseIn,
               {{this, 0.0, std::nullopt, std::nullopt}}, std::move(done));
}

// ---------------------------------------------------------------------------------------------
// QSActionSheet

QSActionSheet::QSActionSheet(const QString& title, const QString& cancelButtonTitle,
                             const QString& destructiveButtonTitle,
                             const QStringList& otherButtonTitles)
    : m_title(title) {
  if (!destructiveButtonTitle.isEmpty())
    m_destructiveIndex = addButtonWithTitle(destructiveButtonTitle);
  for (const QString& other : otherButtonTitles) addButtonWithTitle(other);
  if (!cancelButtonTitle.isEmpty()) m_cancelIndex = addButtonWithTitle(cancelButtonTitle);
}

int QSActionSheet::addButtonWithTitle(const QString& title) {
  m_buttonTitles << title;
  return int(m_buttonTitles.size()) - 1;
}

QString QSActionSheet::buttonTitleAtIndex(int index) const {
  return index >= 0 && index < numberOfButtons() ? m_buttonTitles[index] : QString();
}

void QSActionSheet::setCancelButtonIndex(int index) {
  m_cancelIndex = index >= 0 && index < numberOfButtons() ? index : -1;
}

void QSActionSheet::setDestructiveButtonIndex(int index) {
  m_destructiveIndex = index >= 0 && index < numberOfButtons() ? index : -1;
}

int QSActionSheet::firstOtherButtonIndex() const {
  for (int i = 0; i < numberOfButtons(); ++i)
    if (i != m_cancelIndex && i != m_destructiveIndex) return i;
  return -1;
}

QAbstractButton* QSActionSheet::buttonAtIndex(int index) const {
  return index >= 0 && index < int(m_buttons.size()) ? m_buttons[index] : nullptr;
}

void QSActionSheet::showFromBarButtonItem(BarButtonItem* item, Toolbar* toolbar, bool animated,
                                          Completion completion) {
  if (hasBeenShown()) return;
  m_completion = std::move(completion);
  QWidget* button = item ? item->button() : nullptr;
  QWidget* host = AppWindow::windowOf(button);
  if (!host) host = AppWindow::windowOf(toolbar);
  if (!host) host = AppWindow::keyWindow();
  if (host) {
    m_popover = MainScreen::isTablet();
    if (button && AppWindow::windowOf(button) == host)
      m_anchor = button;
    else if (toolbar && AppWindow::windowOf(toolbar) == host)
      m_anchor = toolbar;
  }
  showOver(host, m_popover ? popoverDimColour() : dimColour(), windowTitleFor(m_title), animated);
}

void QSActionSheet::animateIn(bool animated) {
  if (m_popover) {
    if (!animated) return;
    // The sheet itself fades, not its panel (see QSAlertView).
    setViewAlpha(this, 0);
    setAttribute(Qt::WA_TransparentForMouseEvents, false);
    animateViews(kPopoverFadeDuration, AnimationCurve::EaseOut,
                 {{this, 1.0, std::nullopt, std::nullopt}});
    return;
  }
  // The phone's sheet always slides up from the bottom edge.
  const QRect frame = m_panel->geometry();
  m_panel->move(frame.x(), height());
  setViewAlpha(backdrop(), 0);
  animateViews(kSheetInDuration, AnimationCurve::EaseOut,
               {{m_panel, std::nullopt, frame, std::nullopt},
                {backdrop(), 1.0, std::nullopt, std::nullopt}});
}

void QSActionSheet::layOutPanel() {
  // The layout depends on the window's size throughout, so the panel is built anew for each
  // size; but not while it leaves, which would put it back in place mid-way.
  if (isDismissing()) return;
  delete m_panel;
  auto* panel = new DrawnPanel(this);
  m_panel = panel;
  m_buttons.assign(numberOfButtons(), nullptr);
  const QFont titleFont = theme::systemFont(13);
  const double groupAlpha = m_style == Style::BlackOpaque        ? 1.0
                            : m_style == Style::BlackTranslucent ? 0.86
                                                                 : 0.96;
  QColor fill = m_popover ? popoverColour() : cardColour();
  fill.setAlphaF(groupAlpha);

  // The tablet's panel leaves out the cancel button (a tap outside cancels) unless it is the
  // only choice there is.
  const bool showCancel = !m_popover || numberOfButtons() == 1;
  std::vector<int> rows;
  for (int i = 0; i < numberOfButtons(); ++i)
    if (i != m_cancelIndex || (m_popover && showCancel)) rows.push_back(i);
  const bool separateCancel = !m_popover && m_cancelIndex >= 0;

  auto addButton = [&](int index, const QRect& frame, const QPainterPath& group, int size) {
    const bool cancel = index == m_cancelIndex;
    const QColor colour = index == m_destructiveIndex ? theme::destructive() : theme::tint();
    auto* button = new ChoiceButton(m_buttonTitles[index],
                                    cancel ? theme::boldSystemFont(size) : theme::systemFont(size),
                                    colour, panel);
    button->setGeometry(frame);
    button->setShape(group.translated(-frame.topLeft()));
    connect(button, &QAbstractButton::clicked, this,
            [this, index] { dismissWithClickedButtonIndex(index, true); });
    m_buttons[index] = button;
  };

  if (!m_popover) {
    const int hostWidth = hasOwnWindow() ? MainScreen::bounds().width() : width();
    const int hostHeight = hasOwnWindow() ? screenHeightForOwnWindow() : height();
    const int w = hostWidth - 2 * kSheetMargin;
    const int titleHeight =
        m_title.isEmpty() ? 0 : textHeight(titleFont, w - 32, m_title) + 2 * kSheetTitlePad;
    // Many choices on a short screen get shorter rows rather than running off the top.
    const int rowCount = int(rows.size()) + (separateCancel ? 1 : 0);
    const int fixed = titleHeight + (separateCancel ? kSheetMargin : 0) + kSheetMargin;
    int row = kSheetRow;
    if (rowCount > 0 && fixed + rowCount * row > hostHeight - kSheetTopFree)
      row = std::max(kSheetMinRow, (hostHeight - kSheetTopFree - fixed) / rowCount);

    int y = 0;
    const int mainHeight = titleHeight + int(rows.size()) * row;
    if (mainHeight > 0) {
      const QPainterPath group = roundedPath(QRectF(0, 0, w, mainHeight), kSheetRadius);
      panel->shapes.push_back({group, fill});
      if (titleHeight)
        panel->texts.push_back({QRect(16, kSheetTitlePad, w - 32, titleHeight - 2 * kSheetTitlePad),
                                m_title, titleFont, theme::secondaryText()});
      y = titleHeight;
      for (int index : rows) {
        if (y > 0) panel->lines.emplace_back(0, y, w, y);
        addButton(index, QRect(0, y, w, row), group, kSheetButtonSize);
        y += row;
      }
    }
    if (separateCancel) {
      if (y > 0) y += kSheetMargin;
      const QPainterPath group = roundedPath(QRectF(0, y, w, row), kSheetRadius);
      // Opaque whatever the style: the group sits on the toolbar, whose glyphs would show
      // through its title.
      QColor opaque = fill;
      opaque.setAlphaF(1.0);
      panel->shapes.push_back({group, opaque});
      addButton(m_cancelIndex, QRect(0, y, w, row), group, kSheetButtonSize);
      y += row;
    }
    const int h = y + kSheetMargin;
    if (hasOwnWindow()) {
      resize(hostWidth, h);
      panel->setGeometry(kSheetMargin, 0, w, h);
      centreOnScreen(this);
    } else {
      panel->setGeometry(kSheetMargin, height() - h, w, h);
    }
    panel->show();
    return;
  }

  // Tablet: a panel with an arrow pointing at the anchor, above it when there is more room there.
  const int w = std::min(kPopoverWidth, width() - 2 * kPopoverMargin);
  const int titleHeight =
      m_title.isEmpty() ? 0 : textHeight(titleFont, w - 32, m_title) + 2 * kSheetTitlePad;
  const int bodyHeight = titleHeight + int(rows.size()) * kPopoverRow;
  QRect anchor;
  if (m_anchor && host())
    anchor = QRect(mapFrom(host(), m_anchor->mapTo(host(), QPoint(0, 0))), m_anchor->size());
  QRect body;
  QPainterPath shape;
  int bodyTop = 0;
  if (anchor.isValid()) {
    const bool above = anchor.top() >= height() - anchor.bottom() ||
                       anchor.top() >= bodyHeight + kArrowHeight + kPopoverMargin;
    const int x = std::clamp(anchor.center().x() - w / 2, kPopoverMargin,
                             std::max(kPopoverMargin, width() - kPopoverMargin - w));
    const int panelHeight = bodyHeight + kArrowHeight;
    const int top = above ? anchor.top() - panelHeight : anchor.bottom() + 1;
    panel->setGeometry(x, top, w, panelHeight);
    bodyTop = above ? 0 : kArrowHeight;
    body = QRect(0, bodyTop, w, bodyHeight);
    const double inset = kPopoverRadius / 2 + kArrowWidth / 2.0;
    const double tip = std::clamp(double(anchor.center().x() - x), inset, w - inset);
    QPainterPath arrow;
    if (above) {
      arrow.moveTo(tip - kArrowWidth / 2.0, bodyHeight - 1);
      arrow.lineTo(tip, panelHeight);
      arrow.lineTo(tip + kArrowWidth / 2.0, bodyHeight - 1);
    } else {
      arrow.moveTo(tip - kArrowWidth / 2.0, kArrowHeight + 1);
      arrow.lineTo(tip, 0);
      arrow.lineTo(tip + kArrowWidth / 2.0, kArrowHeight + 1);
    }
    arrow.closeSubpath();
    shape = roundedPath(QRectF(body), kPopoverRadius).united(arrow);
  } else {
    panel->setGeometry((width() - w) / 2, (height() - bodyHeight) / 2, w, bodyHeight);
    body = QRect(0, 0, w, bodyHeight);
    shape = roundedPath(QRectF(body), kPopoverRadius);
  }
  panel->shapes.push_back({shape, fill});
  int y = bodyTop;
  if (titleHeight) {
    panel->texts.push_back({QRect(16, y + kSheetTitlePad, w - 32, titleHeight - 2 * kSheetTitlePad),
                            m_title, titleFont, theme::secondaryText()});
    y += titleHeight;
  }
  for (int index : rows) {
    if (y > bodyTop) panel->lines.emplace_back(0, y, w, y);
    addButton(index, QRect(0, y, w, kPopoverRow), shape, 17);
    y += kPopoverRow;
  }
  panel->show();
}

void QSActionSheet::mousePressEvent(QMouseEvent* event) {
  event->accept();
  // Only taps outside the panel reach the sheet itself (the panel takes its own): they cancel.
  if (isShowing() && !hasOwnWindow()) dismissWithClickedButtonIndex(m_cancelIndex, true);
}

void QSActionSheet::keyPressEvent(QKeyEvent* event) {
  if (event->key() != Qt::Key_Escape) {
    QWidget::keyPressEvent(event);
    return;
  }
  event->accept();
  if (isShowing()) dismissWithClickedButtonIndex(m_cancelIndex, true);
}

void QSActionSheet::actionSheetClickedButtonAtIndex(int index) {
  reportAnswer(m_completion, this, index);
}

void QSActionSheet::animateOut(std::function<void(bool finished)> done) {
  if (m_popover) {
    animateViews(
        kPopoverFadeDuration, AnimationCurve::EaseIn,
        {{backdrop(), 0.0, std::nullopt, std::nullopt}, {m_panel, 0.0, std::nullopt, std::nullopt}},
        std::move(done));
    return;
  }
  QRect away = m_panel->geometry();
  away.moveTop(height());
  animateViews(
      kSheetOutDuration, AnimationCurve::EaseIn,
      {{m_panel, std::nullopt, away, std::nullopt}, {backdrop(), 0.0, std::nullopt, std::nullopt}},
      std::move(done));
}

}  // namespace duo
