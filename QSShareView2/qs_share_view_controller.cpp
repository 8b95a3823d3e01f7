#include "qs_share_view_controller.h"

#include <QEvent>
#include <QKeySequence>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QShortcut>

#include <cmath>

#include "desktop_services.h"
#include "image_resources.h"
#include "screen.h"
#include "theme.h"

namespace duo {

namespace {

// The grid: three destinations a row, laid from the top left with the picture's own size.
constexpr unsigned kColumns = 3;
constexpr double kLeftMargin = 30;
constexpr double kColumnGap = 41;
constexpr double kRowGap = 38;
// Full-screen content runs under the 64-point bar on a phone; a tablet's sheet starts below it.
constexpr double kPhoneTop = 94;
constexpr double kTabletTop = 30;
constexpr double kLabelGap = 4;
constexpr double kLabelFontSize = 11;
constexpr double kBackgroundWhite = 0.95;
constexpr double kDisabledOpacity = 0.35;
constexpr double kPressedDarkening = 0.28;
// Used only when a picture is missing from the build, so the grid keeps its shape.
constexpr QSizeF kFallbackButtonSize(60, 60);

struct Destination {
  const char* baseName;
  int index;
  const char* title;
};

// Placement order; the index is what the completion receives.
constexpr Destination kDestinations[] = {
    {"QSShareCameraRoll", 0, "Camera Roll"},
    {"QSShareCopy", 7, "Copy"},
    {"QSShareMail", 1, "Email"},
    {"QSShareFacebook", 3, "Facebook"},
    {"QSShareTwitter", 4, "Twitter"},
    {"QSShareFlickr", 5, "Flickr"},
    {"QSShareDropbox", 6, "Dropbox"},
    {"QSSharePairview", 8, "iPad"},
    {"QSShareApp", 9, "Other App"},
};

QSizeF pointSize(const QImage& image) {
  if (image.isNull()) return kFallbackButtonSize;
  return QSizeF(image.size()) / image.devicePixelRatio();
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Button

QSShareButton::QSShareButton(const QImage& image, int tag, QWidget* parent)
    : QAbstractButton(parent), m_image(image), m_tag(tag) {
  setFocusPolicy(Qt::NoFocus);
  setAttribute(Qt::WA_TranslucentBackground);
  setCursor(Qt::PointingHandCursor);
  if (!m_image.isNull()) {
    m_pressedImage = m_image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&m_pressedImage);
    painter.setCompositionMode(QPainter::CompositionMode_SourceAtop);
    painter.fillRect(QRect(QPoint(), m_pressedImage.size()),
                     QColor::fromRgbF(0, 0, 0, kPressedDarkening));
  }
  resize(sizeHint());
}

QSize QSShareButton::sizeHint() const {
  const QSizeF size = pointSize(m_image);
  return QSize(qRound(size.width()), qRound(size.height()));
}

void QSShareButton::changeEvent(QEvent* event) {
  if (event->type() == QEvent::EnabledChange)
    setCursor(isEnabled() ? Qt::PointingHandCursor : Qt::ArrowCursor);
  QAbstractButton::changeEvent(event);
}

void QSShareButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.setOpacity(isEnabled() ? 1.0 : kDisabledOpacity);
  if (m_image.isNull()) {
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), 14, 14);
    painter.fillPath(shape, isDown() ? QColor(0x8a, 0x90, 0x98) : QColor(0xb4, 0xba, 0xc2));
    return;
  }
  painter.drawImage(QRectF(rect()), isDown() ? m_pressedImage : m_image);
}

// ---------------------------------------------------------------------------------------------
// Picker

QSShareViewController::QSShareViewController(QObject* parent) : ViewController(parent) {}

QSShareViewController::QSShareViewController(int fileType, bool networkAvailable,
                                             Completion completion, QObject* parent)
    : ViewController(parent),
      m_fileType(fileType),
      m_networkAvailable(networkAvailable),
      m_completion(std::move(completion)) {}

void QSShareViewController::setFileType(int fileType) {
  m_fileType = fileType;
  updateEnabledStates();
}

void QSShareViewController::setIsNetworkAvailable(bool available) {
  m_networkAvailable = available;
  updateEnabledStates();
}

bool QSShareViewController::isIndexEnabled(int index) const {
  // Only still images go to the services that take a single photo; a wigglegram is a movie.
  const bool still = m_fileType == 0 || m_fileType == kFileTypeStill;
  switch (index) {
    case 0:
      return m_fileType != kFileTypeNone;
    case 1:
      return canSendMail();
    case 3:
      return m_networkAvailable && still;
    case 4:
      return m_networkAvailable && isTwitterServiceAvailable() && still;
    case 5:
      return m_networkAvailable && still;
    case 6:
      return m_networkAvailable;
    case 7:
    case 8:
    case 9:
      return true;
    default:
      return false;
  }
}

void QSShareViewController::viewDidLoad() {
  QWidget* root = view();
  root->setAutoFillBackground(true);
  QPalette palette = root->palette();
  palette.setColor(QPalette::Window,
                   QColor::fromRgbF(kBackgroundWhite, kBackgroundWhite, kBackgroundWhite, 1.0));
  root->setPalette(palette);
  setTitle(QStringLiteral("Share"));

  if (!MainScreen::isTablet()) {
    // A tablet shows the picker as a sheet the presenter closes; a phone needs its own way out.
    navigationItem().rightBarButtonItem = new BarButtonItem(
        BarButtonItem::SystemItem::Cancel, [this] { cancelButtonTouched(); }, this);
    navigationItemChanged();
  }
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), root);
  escape->setContext(Qt::WindowShortcut);
  connect(escape, &QShortcut::activated, this, [this] { cancelButtonTouched(); });

  addShareButtons();
}

void QSShareViewController::addShareButtons() {
  for (const Destination& destination : kDestinations) {
    createButtonWithBaseFileName(QString::fromLatin1(destination.baseName), destination.index,
                                 QString::fromLatin1(destination.title), m_currentRow,
                                 m_currentColumn, isIndexEnabled(destination.index));
    incrementCurrentRowAndColumn();
  }
}

void QSShareViewController::incrementCurrentRowAndColumn() {
  ++m_currentColumn;
  if (m_currentColumn >= kColumns) {
    m_currentColumn = 0;
    ++m_currentRow;
  }
}

QSShareButton* QSShareViewController::createButtonWithBaseFileName(const QString& baseFileName,
                                                                   int index, const QString& title,
                                                                   unsigned row, unsigned column,
                                                                   bool enabled) {
  const QImage image = imageNamed(QStringLiteral("%1_iOS7.png").arg(baseFileName));
  auto* button = new QSShareButton(image, index, view());
  button->setAccessibleName(title);
  button->setEnabled(enabled);
  connect(button, &QAbstractButton::clicked, this, [this, button] { buttonTouched(button); });

  const QSizeF size = pointSize(image);
  const double top = MainScreen::isTablet() ? kTabletTop : kPhoneTop;
  const QPointF centre(column * (size.width() + kColumnGap) + kLeftMargin + size.width() / 2,
                       top + row * (size.height() + kRowGap) + size.height() / 2);
  button->move(qRound(centre.x() - button->width() / 2.0),
               qRound(centre.y() - button->height() / 2.0));
  button->show();

  QLabel* label = createLabelForButton(button, title, enabled);
  m_buttons.emplace_back(button);
  m_labels.emplace_back(label);
  return button;
}

QLabel* QSShareViewController::createLabelForButton(QSShareButton* button, const QString& title,
                                                    bool enabled) {
  auto* label = new QLabel(title, button->parentWidget());
  label->setFont(theme::systemFont(kLabelFontSize));
  label->setAlignment(Qt::AlignCenter);
  label->setAutoFillBackground(false);
  label->setAttribute(Qt::WA_TranslucentBackground);
  QPalette palette = label->palette();
  palette.setColor(QPalette::Active, QPalette::WindowText, Qt::black);
  palette.setColor(QPalette::Inactive, QPalette::WindowText, Qt::black);
  // Dimmed the way the disabled picture above it is.
  palette.setColor(QPalette::Disabled, QPalette::WindowText,
                   QColor::fromRgbF(0, 0, 0, kDisabledOpacity));
  label->setPalette(palette);
  label->setEnabled(enabled);
  label->adjustSize();

  const QRect frame = button->geometry();
  const double centreX = frame.x() + frame.width() / 2.0;
  const double bottom = frame.y() + frame.height();
  const QPointF centre(centreX, bottom + kLabelGap + label->height() / 2.0);
  label->move(qRound(centre.x() - label->width() / 2.0),
              qRound(centre.y() - label->height() / 2.0));
  label->show();
  return label;
}

void QSShareViewController::updateEnabledStates() {
  for (size_t i = 0; i < m_buttons.size(); ++i) {
    if (!m_buttons[i]) continue;
    const bool enabled = isIndexEnabled(m_buttons[i]->tag());
    m_buttons[i]->setEnabled(enabled);
    if (m_labels[i]) m_labels[i]->setEnabled(enabled);
  }
}

QSShareButton* QSShareViewController::buttonForIndex(int index) const {
  for (const auto& button : m_buttons)
    if (button && button->tag() == index) return button;
  return nullptr;
}

QLabel* QSShareViewController::labelForButton(const QAbstractButton* button) const {
  for (size_t i = 0; i < m_buttons.size(); ++i)
    if (button && m_buttons[i] == button) return m_labels[i];
  return nullptr;
}

void QSShareViewController::buttonTouched(QAbstractButton* sender) {
  auto* button = qobject_cast<QSShareButton*>(sender);
  if (!button || !button->isEnabled()) return;
  finish(button->tag());
}

void QSShareViewController::cancelButtonTouched() { finish(kCancelIndex); }

void QSShareViewController::finish(int index) {
  // Whoever presented the picker acts on exactly one answer; later presses, made while it is
  // being dismissed, would start a second export or dismiss twice.
  if (m_completed || !m_completion) return;
  m_completed = true;
  const Completion completion = m_completion;
  completion(index);
}

}  // namespace duo
