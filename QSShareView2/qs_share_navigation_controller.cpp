#include "qs_share_navigation_controller.h"

#include <QEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScopedValueRollback>

#include "image_view.h"
#include "navigation_bar.h"
#include "qs_blur_view.h"
#include "qs_transitions.h"
#include "run_loop.h"
#include "screen.h"
#include "table_view_controller.h"
#include "view_animation.h"

namespace duo {

namespace {

const QColor kButtonColour(0x0a, 0x7a, 0xc4);
constexpr double kPresentScale = 1.1;
constexpr double kDismissScale = 0.9;

/// The container's own view: light, with rounded corners that clip what it holds.
class RoundedContainerView : public QWidget {
 public:
  using QWidget::QWidget;

 protected:
  void resizeEvent(QResizeEvent* event) override {
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()), QSShareNavigationController::kCornerRadius,
                        QSShareNavigationController::kCornerRadius);
    setMask(QRegion(path.toFillPolygon().toPolygon()));
    QWidget::resizeEvent(event);
  }
};

}  // namespace

QSShareNavigationController::QSShareNavigationController(ViewController* root, QObject* parent)
    : NavigationController(root, parent) {
  setTransitionProvider([](Operation operation, ViewController*, ViewController*) -> AnimatedTransitioning* {
    if (operation == Operation::Push) return new QSViewControllerPushTransition;
    return new QSViewControllerPopTransition;
  });
  if (root) observe(root);
}

QSShareNavigationController::~QSShareNavigationController() { delete m_dimView.data(); }

void QSShareNavigationController::viewDidLoad() {
  // The plain view of a screen is replaced by one that clips to the rounded corners; what the
  // navigation controller built inside it moves along.
  QWidget* plain = view();
  auto* rounded = new RoundedContainerView;
  rounded->setObjectName(QStringLiteral("QSShareNavigationView"));
  rounded->resize(plain->size());
  rounded->setAttribute(Qt::WA_TranslucentBackground);
  for (QObject* child : plain->children())
    if (auto* widget = qobject_cast<QWidget*>(child)) widget->setParent(rounded);
  setView(rounded);
  delete plain;

  m_backgroundBlurView = new ImageView(rounded);
  m_backgroundBlurView->setObjectName(QStringLiteral("BackgroundBlurView"));
  m_backgroundBlurView->setContentMode(ContentMode::TopLeft);
  m_backgroundBlurView->lower();
  navigationBar()->setShowsStatusArea(false);
  navigationBar()->setClearStyle(true, kButtonColour);
  NavigationController::viewDidLoad();
  rounded->installEventFilter(this);
}

void QSShareNavigationController::observe(ViewController* controller) {
  connect(controller, &ViewController::preferredContentSizeChanged, this,
          [this, guard = QPointer<ViewController>(controller)](const QSize& size) {
            if (!guard || !size.isValid()) return;
            // Asked a little later, so that a screen that sets its size several times while it
            // loads causes one resize, to the last size.
            performAfterDelay(kResizeDelaySeconds, [self = QPointer<QSShareNavigationController>(this),
                                                    guard, height = size.height()] {
              if (self && guard && self->topViewController() == guard)
                self->resizeToHeight(height);
            });
          });
}

void QSShareNavigationController::pushViewController(ViewController* controller, bool animated) {
  if (!controller) return;
  observe(controller);
  // The panel is light, so the lists shown in it are too.
  if (auto* table = qobject_cast<TableViewController*>(controller)) table->setLightAppearance(true);
  NavigationController::pushViewController(controller, animated);
}

QRect QSShareNavigationController::containerFrame(int height) const {
  QWidget* host = m_host ? m_host->view() : nullptr;
  const int hostWidth = host ? host->width() : MainScreen::bounds().width();
  if (MainScreen::isTablet())
    // The window is always upright here, so the landscape-left placement never applies.
    return QRect((hostWidth - kTabletWidth) / 2, kTabletTop, kTabletWidth, height);
  return QRect(kPhoneMargin, kPhoneTop, hostWidth - 2 * kPhoneMargin, height);
}

void QSShareNavigationController::resizeToHeight(double requested) {
  QWidget* host = m_host ? m_host->view() : nullptr;
  if (!host || !isViewLoaded()) return;
  const int top = containerFrame(0).top();
  const int room = host->height() - top - kBottomClearance;
  m_height = std::max(0, std::min(int(requested), room));
  animateViews(kAnimationSeconds, AnimationCurve::EaseInOut,
               {{view(), std::nullopt, containerFrame(m_height), std::nullopt}});
}

QImage QSShareNavigationController::hostImage() const {
  QWidget* host = m_host ? m_host->view() : nullptr;
  if (!host || host->size().isEmpty()) return {};
  const double scale = MainScreen::scale();
  QImage picture(host->size() * scale, QImage::Format_RGB32);
  picture.setDevicePixelRatio(scale);
  picture.fill(Qt::black);
  QPainter painter(&picture);
  host->render(&painter, QPoint(), QRegion(), QWidget::DrawChildren);
  painter.end();
  return applyBlurWithRadius(picture, kBlurRadius, QColor::fromRgbF(1, 1, 1, 0.85f), 1.0);
}

void QSShareNavigationController::viewWillLayoutSubviews() {
  // Drawing the host delivers the container's own pending move and resize events.
  if (!m_backgroundBlurView || !m_host || m_capturing) return;
  const QScopedValueRollback<bool> capturing(m_capturing, true);
  if (m_backgroundBlurView->image().isNull()) {
    // The host is drawn without the container and the dimming over it.
    const bool dimShown = m_dimView && m_dimView->isVisible();
    if (m_dimView) m_dimView->hide();
    view()->hide();
    m_backgroundBlurView->setImage(hostImage());
    if (dimShown) m_dimView->show();
    view()->show();
  }
  // The blurred copy stays put over the host while the container moves and grows over it.
  const QWidget* host = m_host->view();
  m_backgroundBlurView->setGeometry(-view()->x(), -view()->y(), host->width(), host->height());
  m_backgroundBlurView->lower();
}

bool QSShareNavigationController::eventFilter(QObject* watched, QEvent* event) {
  if (watched == view() && (event->type() == QEvent::Resize || event->type() == QEvent::Move)) {
    if (event->type() == QEvent::Resize) layoutContent();
    viewWillLayoutSubviews();
  }
  return NavigationController::eventFilter(watched, event);
}

void QSShareNavigationController::presentFromViewController(ViewController* host) {
  if (!host || m_host) return;
  m_host = host;
  QWidget* hostView = host->view();
  m_dimView = new QWidget(hostView);
  m_dimView->setObjectName(QStringLiteral("DimView"));
  m_dimView->setAutoFillBackground(true);
  QPalette palette = m_dimView->palette();
  palette.setColor(QPalette::Window, QColor::fromRgbF(0, 0, 0, kDimAlpha));
  m_dimView->setPalette(palette);
  m_dimView->setGeometry(hostView->rect());
  setViewAlpha(m_dimView, 0);
  m_dimView->show();
  m_dimView->raise();

  setParent(host);
  QWidget* container = view();
  container->setParent(hostView);
  container->setGeometry(containerFrame(m_height));
  viewWillAppear(true);
  setViewAlpha(container, 0);
  setViewTransform(container, QTransform::fromScale(kPresentScale, kPresentScale));
  container->show();
  container->raise();
  viewWillLayoutSubviews();
  animateViews(kAnimationSeconds, AnimationCurve::EaseInOut,
               {{m_dimView.data(), 1.0, std::nullopt, std::nullopt},
                {container, 1.0, std::nullopt, QTransform()}},
               [self = QPointer<QSShareNavigationController>(this)](bool) {
                 if (self && !self->m_dismissing) self->viewDidAppear(true);
               });
}

void QSShareNavigationController::dismissWithCompletion(std::function<void()> completion) {
  if (m_dismissing) return;
  m_dismissing = true;
  viewWillDisappear(true);
  animateViews(kAnimationSeconds, AnimationCurve::EaseInOut,
               {{m_dimView.data(), 0.0, std::nullopt, std::nullopt},
                {view(), 0.0, std::nullopt, QTransform::fromScale(kDismissScale, kDismissScale)}},
               [self = QPointer<QSShareNavigationController>(this),
                completion = std::move(completion)](bool) {
                 if (self) {
                   delete self->m_dimView.data();
                   self->viewDidDisappear(true);
                   self->view()->hide();
                   self->view()->setParent(nullptr);
                   self->setParent(nullptr);
                 }
                 if (completion) completion();
               });
}

}  // namespace duo
