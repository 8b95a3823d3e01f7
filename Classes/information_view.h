#pragma once

#include <QPointer>
#include <QWidget>

#include <functional>
#include <vector>

#include "image_view.h"
#include "qs_button.h"

namespace duo {


/// The introduction laid over the capture screen before the first capture: an instruction
/// picture, a looping film of how a stereo pair is taken, "More" (the product's web page) and
/// "Continue". It fades in when shown and, once faded out, takes itself down and tells whoever
/// showed it.
class InformationView : public QWidget {
  Q_OBJECT
 public:
  static constexpr double kFadeSeconds = 0.3;
  static constexpr double kAnimationSeconds = 7.0;
  static constexpr int kButtonBottomMargin = 20;
  static constexpr int kButtonHeight = 43;
  static constexpr int kButtonWidth = 137;
  static constexpr int kMoreX = 21;
  static constexpr int kContinueX = 162;
  static constexpr int kAnimationX = 216;
  static constexpr int kAnimationTopBelowPicture = 111;
  static constexpr int kAnimationWidth = 77;
  static constexpr int kAnimationHeight = 121;

  /// Built invisible (opacity 0) with `frame` in its parent's coordinates; the caller adds it
  /// to a view and then calls show().
  explicit InformationView(const QRect& frame, QWidget* parent = nullptr);
  ~InformationView() override;

  /// Told, with this overlay, once it has faded out and taken itself down.
  void setCallback(std::function<void(InformationView*)> callback) { m_callback = std::move(callback); }

  /// Fades in. (It hides QWidget::show() on purpose: showing the overlay is its fade.)
  void show();
  void moreButtonClick();
  void continueButtonClick();
  void dismissDialog();

  /// The names of the film's 58 pictures, in order.
  static std::vector<QString> animationFrameNames();

  ImageView* informationImageView() const { return m_informationImageView; }
  ImageView* animationAImageView() const { return m_animationAImageView; }
  QSButton* moreButton() const { return m_moreButton; }
  QSButton* continueButton() const { return m_continueButton; }

 private:
  void dismissAnimationComplete();

  QPointer<ImageView> m_informationImageView;
  QPointer<ImageView> m_animationAImageView;
  QPointer<QSButton> m_moreButton;
  QPointer<QSButton> m_continueButton;
  std::function<void(InformationView*)> m_callback;
  bool m_dismissing = false;
};

}  // namespace duo
