#pragma once

#include <QPointer>

#include <functional>

#include "navigation_controller.h"

namespace duo {

class ImageView;

/// The floating container an upload screen and its pickers are shown in over the screen they
/// post from: a rounded, light panel near the top of the host, with its own clear navigation
/// bar, over a blurred copy of the host and a dimmed host. It grows and shrinks to the height
/// its top screen asks for, as far as the host leaves room.
class QSShareNavigationController : public NavigationController {
  Q_OBJECT

 public:
  static constexpr double kCornerRadius = 7;
  static constexpr double kAnimationSeconds = 0.35;
  static constexpr double kResizeDelaySeconds = 0.3;
  static constexpr int kInitialHeight = 282;
  static constexpr int kPhoneMargin = 15;
  static constexpr int kPhoneTop = 20;
  static constexpr int kTabletWidth = 390;
  static constexpr int kTabletTop = 304;
  static constexpr int kTabletLandscapeLeftTop = 70;
  /// Room left free below the container.
  static constexpr int kBottomClearance = 44;
  static constexpr double kDimAlpha = 0.5;
  static constexpr double kBlurRadius = 20;

  explicit QSShareNavigationController(ViewController* root, QObject* parent = nullptr);
  ~QSShareNavigationController() override;

  /// Adds the dimming and the container over `host`'s view and brings them in (0.35 s): the
  /// container from 1.1 times its size, both fading in.
  void presentFromViewController(ViewController* host);
  /// Fades the dimming and the container out while the container shrinks to 0.9 (0.35 s), then
  /// takes both away and calls `completion`.
  void dismissWithCompletion(std::function<void()> completion);

  void pushViewController(ViewController* controller, bool animated) override;
  /// Fits the container to `height`, at most what the host leaves below the container's top
  /// less kBottomClearance, animated over 0.35 s.
  void resizeToHeight(double height);

  ViewController* hostViewController() const { return m_host; }
  /// The container's height as it was last set (the target of a running resize).
  int containerHeight() const { return m_height; }
  QWidget* dimView() const { return m_dimView; }
  ImageView* backgroundBlurView() const { return m_backgroundBlurView; }
  /// The host's whole view drawn into an image and blurred (radius 20, white at 0.85).
  QImage hostImage() const;

 protected:
  void viewDidLoad() override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void observe(ViewController* controller);
  QRect containerFrame(int height) const;
  void viewWillLayoutSubviews();

  QPointer<ViewController> m_host;
  QPointer<QWidget> m_dimView;
  QPointer<ImageView> m_backgroundBlurView;
  int m_height = kInitialHeight;
  bool m_dismissing = false;
  bool m_capturing = false;
};

}  // namespace duo
