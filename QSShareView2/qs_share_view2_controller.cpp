#include "qs_share_view2_controller.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QTextBlock>
#include <QTextEdit>

#include <cassert>

#include "bar_button_item.h"
#include "image_view.h"
#include "qs_features.h"
#include "qs_share_navigation_controller.h"
#include "qs_sign_in_panel.h"
#include "run_loop.h"
#include "screen.h"
#include "system_button.h"
#include "theme.h"
#include "toolbar.h"
#include "view_animation.h"

namespace duo {

namespace {

const QColor kButtonColour(0x0a, 0x7a, 0xc4);
const QColor kSeparatorColour(0, 0, 0, 40);
const QColor kDetailColour(0x8e, 0x8e, 0x93);

/// A row of the value-with-detail style: the label at the left, the current choice in grey at
/// the right, then a disclosure chevron. A click selects the row.
class ValueCell : public QWidget {
 public:
  ValueCell(std::function<void()> selected, QWidget* parent)
      : QWidget(parent), m_selected(std::move(selected)) {
    setObjectName(QStringLiteral("Cell"));
    setCursor(Qt::PointingHandCursor);
    m_label = new QLabel(this);
    m_label->setObjectName(QStringLiteral("TextLabel"));
    m_label->setFont(theme::systemFont(17));
    m_label->setStyleSheet(QStringLiteral("color: black; background: transparent;"));
    m_detail = new QLabel(this);
    m_detail->setObjectName(QStringLiteral("DetailTextLabel"));
    m_detail->setFont(theme::systemFont(17));
    m_detail->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_detail->setStyleSheet(QStringLiteral("color: %1; background: transparent;").arg(kDetailColour.name()));
  }
  void setTexts(const QString& label, const QString& detail) {
    m_label->setText(label);
    m_detail->setText(detail);
    layout();
  }

 protected:
  void resizeEvent(QResizeEvent*) override { layout(); }
  void mousePressEvent(QMouseEvent* event) override {
    m_pressed = event->button() == Qt::LeftButton;
    update();
  }
  void mouseReleaseEvent(QMouseEvent* event) override {
    const bool inside = rect().contains(event->position().toPoint());
    const bool pressed = std::exchange(m_pressed, false);
    update();
    if (pressed && inside && m_selected) m_selected();
  }
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (m_pressed) painter.fillRect(rect(), QColor(0, 0, 0, 25));
    // The disclosure chevron.
    QPen pen(QColor(0xc7, 0xc7, 0xcc), 2);
    painter.setPen(pen);
    const double x = width() - 20;
    const double y = height() / 2.0;
    painter.drawPolyline(QPolygonF({{x - 4, y - 6}, {x + 2, y}, {x - 4, y + 6}}));
  }

 private:
  void layout() {
    const int inset = QSShareView2Controller::kSeparatorInset;
    const int labelWidth = m_label->fontMetrics().horizontalAdvance(m_label->text()) + 4;
    m_label->setGeometry(inset, 0, labelWidth, height());
    const int detailLeft = inset + labelWidth + 8;
    m_detail->setGeometry(detailLeft, 0, std::max(0, width() - 34 - detailLeft), height());
    m_detail->setText(m_detail->fontMetrics().elidedText(m_detail->text(), Qt::ElideRight,
                                                         m_detail->width()));
  }

  std::function<void()> m_selected;
  QLabel* m_label;
  QLabel* m_detail;
  bool m_pressed = false;
};

}  // namespace

QSShareView2Controller::QSShareView2Controller(QObject* parent) : ViewController(parent) {}

QSShareView2Controller::~QSShareView2Controller() {
  // What this screen put over its host goes with it.
  delete m_blockingView.data();
  delete m_progressView.data();
  if (m_signInPanel) delete m_signInPanel.data();
}

int QSShareView2Controller::thumbnailSize() const {
  return QSFeatures::isTablet() ? kTabletThumbnailSize : kPhoneThumbnailSize;
}

void QSShareView2Controller::loadView() {
  auto* view = new QWidget;
  view->setObjectName(QStringLiteral("QSShareView2"));
  view->setAttribute(Qt::WA_TranslucentBackground);  // the table's background is clear
  view->resize(MainScreen::bounds().width(), kPreferredHeight);
  setView(view);
}

void QSShareView2Controller::viewDidLoad() {
  QWidget* root = view();
  auto* cancel = new BarButtonItem(BarButtonItem::SystemItem::Cancel, [this] { dismissWithResult(0); }, this);
  auto* post = new BarButtonItem(QStringLiteral("Post"), [this] { uploadImage(); }, this);
  post->setBold(true);
  const bool tablet = QSFeatures::isTablet();
  cancel->setTitlePositionAdjustment(tablet ? -2 : 6);
  post->setTitlePositionAdjustment(tablet ? 2 : -6);
  m_postButton = post;
  navigationItem().leftBarButtonItem = cancel;
  navigationItem().rightBarButtonItem = post;
  navigationItemChanged();

  auto* imageCell = new QWidget(root);
  imageCell->setObjectName(QStringLiteral("ImageCell"));
  m_textView = configureImageCell(imageCell);
  m_textView->setPlainText(m_caption);
  m_cells << imageCell;
  for (int row = 1; row < numberOfRows(); ++row)
    m_cells << new ValueCell([this, row] { tableViewDidSelectRow(row); }, root);
  for (int row = 0; row < numberOfRows(); ++row) {
    auto* separator = new QWidget(root);
    separator->setAutoFillBackground(true);
    QPalette palette = separator->palette();
    palette.setColor(QPalette::Window, kSeparatorColour);
    separator->setPalette(palette);
    m_separators << separator;
  }
  layoutTable();
  root->installEventFilter(this);
}

bool QSShareView2Controller::eventFilter(QObject* watched, QEvent* event) {
  if (watched == view() && event->type() == QEvent::Resize) layoutTable();
  return ViewController::eventFilter(watched, event);
}

void QSShareView2Controller::viewWillAppear(bool) {
  const QSize preferred(view()->width(), kPreferredHeight + kAccessoryToolbarHeight);
  if (preferred == preferredContentSize() && m_navigation) {
    // Back from a picker of another height: the container fits this screen again.
    performAfterDelay(QSShareNavigationController::kResizeDelaySeconds,
                      [navigation = m_navigation, height = preferred.height()] {
                        if (navigation) navigation->resizeToHeight(height);
                      });
  }
  setPreferredContentSize(preferred);
  layoutTable();
}

void QSShareView2Controller::viewDidAppear(bool) {
  if (m_textView) m_textView->setFocus();
}

void QSShareView2Controller::layoutTable() {
  QWidget* root = view();
  int y = 0;
  for (int row = 0; row < m_cells.size(); ++row) {
    const int height = row == 0 ? heightForImageCell() : kRowHeight;
    if (m_cells[row]) m_cells[row]->setGeometry(0, y, root->width(), height);
    y += height;
    if (row < m_separators.size() && m_separators[row])
      m_separators[row]->setGeometry(kSeparatorInset, y - 1, root->width() - kSeparatorInset, 1);
    if (row > 0) reloadRow(row);
  }
  if (m_toolbar) m_toolbar->setGeometry(0, y, root->width(), kAccessoryToolbarHeight);
}

QTextEdit* QSShareView2Controller::configureImageCell(QWidget* cell) {
  const int inset = kSeparatorInset;
  const int size = thumbnailSize();
  auto* text = new QTextEdit(cell);
  text->setObjectName(QStringLiteral("CaptionTextView"));
  text->setFrameShape(QFrame::NoFrame);
  text->setAcceptRichText(false);
  text->setStyleSheet(QStringLiteral("QTextEdit { background: transparent; color: black; }"));
  text->viewport()->setAutoFillBackground(false);
  text->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  text->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  QFont font = theme::systemFont(kCaptionFontSize);
  text->setFont(font);
  text->document()->setDocumentMargin(0);
  // The text never runs under the thumbnail: the editor stops short of it.
  const int textRight = size + inset + 10;
  const auto spaceLines = [text] {
    QTextCursor cursor(text->document());
    cursor.select(QTextCursor::Document);
    QTextBlockFormat block;
    block.setLineHeight(kCaptionLineSpacing, QTextBlockFormat::LineDistanceHeight);
    cursor.mergeBlockFormat(block);
  };
  connect(text, &QTextEdit::textChanged, text, [spaceLines, text] {
    const QSignalBlocker blocker(text);
    spaceLines();
  });
  text->setGeometry(inset, inset, cell->width() - inset - textRight, heightForImageCell() - inset);

  auto* thumbnail = new ImageView(m_image, cell);
  thumbnail->setObjectName(QStringLiteral("ImageView"));
  thumbnail->setContentMode(ContentMode::AspectFill);
  // Laid out from the cell's right edge whatever its width turns out to be.
  struct Layout : QObject {
    QTextEdit* text;
    ImageView* image;
    int inset;
    int size;
    int textRight;
    Layout(QObject* parent, QTextEdit* t, ImageView* i, int in, int s, int r)
        : QObject(parent), text(t), image(i), inset(in), size(s), textRight(r) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
      if (event->type() == QEvent::Resize) {
        auto* cell = static_cast<QWidget*>(watched);
        text->setGeometry(inset, inset, cell->width() - inset - textRight, cell->height() - inset);
        image->setGeometry(cell->width() - inset - size, inset, size, size);
      }
      return false;
    }
  };
  cell->installEventFilter(new Layout(cell, text, thumbnail, inset, size, textRight));
  thumbnail->setGeometry(cell->width() - inset - size, inset, size, size);
  return text;
}

QWidget* QSShareView2Controller::cellForRow(int row) const {
  return row >= 0 && row < m_cells.size() ? m_cells[row].data() : nullptr;
}

void QSShareView2Controller::reloadRow(int row) {
  if (row < 1 || row >= m_cells.size()) return;
  if (auto* cell = dynamic_cast<ValueCell*>(m_cells[row].data()))
    cell->setTexts(labelForRow(row), detailForRow(row));
}

QString QSShareView2Controller::labelForRow(int) const { return {}; }
QString QSShareView2Controller::detailForRow(int) const { return {}; }
void QSShareView2Controller::tableViewDidSelectRow(int) {}

void QSShareView2Controller::setupToolbar() {
  m_toolbar = new Toolbar(view());
  m_toolbar->setObjectName(QStringLiteral("AccessoryToolbar"));
  m_toolbar->setBarColor(Qt::transparent);
  auto* clear = new BarButtonItem(QStringLiteral("Clear"), [this] { clearButtonTouched(); }, this);
  auto* space = new BarButtonItem(BarButtonItem::SystemItem::FlexibleSpace, {}, this);
  m_logoutButton = new BarButtonItem(QStringLiteral("Logout"), [this] { logoutButtonTouched(); }, this);
  m_toolbar->setItems({clear, space, m_logoutButton.data()});
  for (BarButtonItem* item : {clear, m_logoutButton.data()})
    if (auto* button = qobject_cast<SystemButton*>(item->button())) button->setTitleColor(kButtonColour);
  m_toolbar->show();
  layoutTable();
}

void QSShareView2Controller::clearButtonTouched() {
  if (m_textView) m_textView->clear();
}

void QSShareView2Controller::presentFromViewController(ViewController* host, Completion completion) {
  assert(!m_image.isNull() && "Image required");
  if (m_image.isNull() || !host || m_navigation) return;
  m_host = host;
  m_completion = std::move(completion);
  auto* navigation = new QSShareNavigationController(this);
  m_navigation = navigation;
  navigation->presentFromViewController(host);
  view();  // the client's delegate from now on
  if (!isSignedIn()) login();
}

void QSShareView2Controller::login() {
  clientLogin();
  performAfterDelay(kSignInPanelDelaySeconds, [self = QPointer<QSShareView2Controller>(this)] {
    if (self && !self->isSignedIn() && self->isSigningIn()) self->showSignInPanel();
  });
}

void QSShareView2Controller::updateLogoutButton() {
  const bool signedIn = isSignedIn();
  if (m_logoutButton) m_logoutButton->setTitle(signedIn ? QStringLiteral("Logout") : QStringLiteral("Login"));
  if (m_postButton) m_postButton->setEnabled(signedIn);
}

void QSShareView2Controller::loggedIn() {
  hideSignInPanel();
  updateLogoutButton();
}

void QSShareView2Controller::loggedOut() {
  hideSignInPanel();
  updateLogoutButton();
}

void QSShareView2Controller::logoutButtonTouched() {
  updateLogoutButton();
  if (isSignedIn()) {
    clientLogout();
    dismissWithResult(0);
  } else {
    login();
  }
}

void QSShareView2Controller::clientUpload(const QString&, ProgressBlock, std::function<void(int)>) {}

void QSShareView2Controller::postImage() {
  if (!isSignedIn() || clientIsUploading()) return;
  if (m_textView) m_textView->clearFocus();
  dimScreen();
  showProgressView();
  QPointer<QSShareView2Controller> self(this);
  clientUpload(
      m_textView ? m_textView->toPlainText() : m_caption,
      [self](qint64 sent, qint64 total) {
        if (self && self->m_progressView && total > 0)
          self->m_progressView->setPercentComplete(float(double(sent) / double(total)));
      },
      [self](int result) {
        if (!self) return;
        self->unDimScreen();
        self->hideProgressView();
        performAfterDelay(kDismissDelaySeconds, [self, result] {
          if (self) self->dismissWithResult(result == 0 ? 1 : 2);
        });
      });
}

void QSShareView2Controller::pushPicker(ViewController* picker) {
  if (m_textView) m_textView->clearFocus();
  if (m_navigation) m_navigation->pushViewController(picker, true);
  else delete picker;
}

void QSShareView2Controller::dismissWithResult(int result) {
  if (m_textView) m_textView->clearFocus();
  if (m_dismissing || !m_navigation) return;
  m_dismissing = true;
  hideSignInPanel();
  QPointer<QSShareNavigationController> navigation = m_navigation;
  navigation->dismissWithCompletion([navigation, self = QPointer<QSShareView2Controller>(this), result] {
    Completion completion = self ? std::exchange(self->m_completion, nullptr) : nullptr;
    // The container goes, and this screen, its root, with it.
    if (navigation) navigation->deleteLater();
    if (completion) completion(result);
  });
}

void QSShareView2Controller::dimScreen() {
  QWidget* host = m_host ? m_host->view() : nullptr;
  if (!host) return;
  delete m_blockingView.data();
  auto* blocking = new QWidget(host);
  blocking->setObjectName(QStringLiteral("BlockingView"));
  blocking->setAutoFillBackground(true);
  QPalette palette = blocking->palette();
  palette.setColor(QPalette::Window, Qt::black);
  blocking->setPalette(palette);
  blocking->setGeometry(host->rect());
  setViewAlpha(blocking, 0);
  blocking->show();
  blocking->raise();
  m_blockingView = blocking;
  animateViews(kFadeSeconds, AnimationCurve::EaseInOut, {{blocking, kBlockingAlpha, {}, {}}});
}

void QSShareView2Controller::unDimScreen() {
  QPointer<QWidget> blocking = std::exchange(m_blockingView, nullptr);
  if (!blocking) return;
  animateViews(kFadeSeconds, AnimationCurve::EaseInOut, {{blocking.data(), 0.0, {}, {}}},
               [blocking](bool) { delete blocking.data(); });
}

void QSShareView2Controller::showProgressView() {
  QWidget* host = m_host ? m_host->view() : nullptr;
  if (!host) return;
  delete m_progressView.data();
  auto* progress = new QSProgressView(QPoint(), host);
  progress->setDelegate(this);
  progress->move((host->width() - progress->width()) / 2, (host->height() - progress->height()) / 2);
  progress->QWidget::show();
  progress->raise();
  m_progressView = progress;
  animateViews(kFadeSeconds, AnimationCurve::EaseOut, {{progress, 1.0, {}, {}}});
}

void QSShareView2Controller::hideProgressView() {
  QPointer<QSProgressView> progress = std::exchange(m_progressView, nullptr);
  if (!progress) return;
  progress->setDelegate(nullptr);
  animateViews(kFadeSeconds, AnimationCurve::EaseIn, {{progress.data(), 0.0, {}, {}}},
               [progress](bool) { delete progress.data(); });
}

void QSShareView2Controller::progressViewDidCancel(QSProgressView*) {
  hideProgressView();
  unDimScreen();
  clientCancelUpload();  // the screen stays for another try
}

void QSShareView2Controller::uploadImage() {
  assert(false && "Subclasses must override uploadImage");
}

void QSShareView2Controller::showSignInPanel() {
  QWidget* host = m_host ? m_host->view() : nullptr;
  if (!host || m_signInPanel) return;
  auto* panel = new QSSignInPanel(serviceName());
  panel->setAbandonHandler([self = QPointer<QSShareView2Controller>(this)] {
    if (self) self->clientCancelLogin();
  });
  // Below the floating container, where it covers none of the upload screen.
  const int containerBottom = m_navigation && m_navigation->isViewLoaded()
                                  ? m_navigation->view()->geometry().bottom()
                                  : kPreferredHeight;
  panel->showInView(host, std::min(host->height() - QSSignInPanel::kHeight - 10,
                                   std::max(containerBottom + 10, host->height() / 2)));
  m_signInPanel = panel;
}

void QSShareView2Controller::hideSignInPanel() {
  if (QSSignInPanel* panel = std::exchange(m_signInPanel, nullptr)) panel->dismiss();
}

}  // namespace duo
