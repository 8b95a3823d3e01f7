#include "information_view.h"

#include <QUrl>


#include "app_config.h"
#include "image_resources.h"
#include "qs_alert_view.h"
#include "qs_button.h"
#include "url_opener.h"
#include "view_animation.h"

namespace duo {

namespace {

/// Picture numbers of the film and how many of its 58 places each takes: the camera rises and
/// shoots, rests, steps sideways, rests, shoots again and holds the finished pair.
struct FrameRun {
  int first;
  int last;
  int repeat;  // each picture of the run is shown this many times
};
constexpr FrameRun kFilm[] = {{0, 0, 5},   {5, 11, 1},  {12, 12, 6}, {18, 30, 1},
                              {31, 31, 5}, {36, 42, 1}, {43, 43, 15}};

}  // namespace

std::vector<QString> InformationView::animationFrameNames() {
  std::vector<QString> names;
  for (const FrameRun& run : kFilm)
    for (int n = run.first; n <= run.last; ++n)
      for (int i = 0; i < run.repeat; ++i)
        names.push_back(QStringLiteral("AnimationA%1").arg(n, 2, 10, QLatin1Char('0')));
  return names;
}

InformationView::InformationView(const QRect& frame, QWidget* parent) : QWidget(parent) {
  setGeometry(frame);
  setAttribute(Qt::WA_TranslucentBackground);
  setViewAlpha(this, 0);

  const double buttonTop = frame.height() - kButtonBottomMargin - kButtonHeight;

  // The picture is centred in the space above the buttons.
  m_informationImageView = new ImageView(imageNamed(QStringLiteral("Information Screen")), this);
  const QSizeF picture = m_informationImageView->imagePointSize();
  const QRectF pictureFrame(frame.width() * 0.5 - picture.width() * 0.5,
                            buttonTop * 0.5 - picture.height() * 0.5, picture.width(),
                            picture.height());
  const QRect pictureRect = pictureFrame.toRect();
  m_informationImageView->setGeometry(pictureRect);

  std::vector<QImage> frames;
  for (const QString& name : animationFrameNames()) frames.push_back(imageNamed(name));
  m_animationAImageView = new ImageView(this);
  m_animationAImageView->setGeometry(kAnimationX, pictureRect.y() + kAnimationTopBelowPicture,
                                     kAnimationWidth, kAnimationHeight);
  m_animationAImageView->setAnimationImages(std::move(frames), kAnimationSeconds);
  m_animationAImageView->startAnimating();

  m_moreButton = QSButton::newButton(QStringLiteral("More"), this);
  m_moreButton->setGeometry(kMoreX, int(buttonTop), kButtonWidth, kButtonHeight);
  connect(m_moreButton, &QAbstractButton::clicked, this, [this] { moreButtonClick(); });

  m_continueButton = QSButton::newButton(QStringLiteral("Continue"), this);
  m_continueButton->setGeometry(kContinueX, int(buttonTop), kButtonWidth, kButtonHeight);
  connect(m_continueButton, &QAbstractButton::clicked, this, [this] { continueButtonClick(); });
  m_continueButton->setDefault(true);
}

InformationView::~InformationView() = default;

void InformationView::show() {
  QWidget::show();
  raise();
  animateViews(kFadeSeconds, AnimationCurve::EaseInOut, {{this, 1.0, {}, {}}});
}

void InformationView::moreButtonClick() {
  const QUrl page(QString::fromLatin1(config::kProductPageUrl));
  if (openURL(page)) return;
  // Nothing could show the page: said rather than ignored, and the intro stays.
  auto* alert = new QSAlertView(
      QStringLiteral("Cannot Open the Page"),
      QStringLiteral("No web browser or other program on this computer could open %1.")
          .arg(page.toDisplayString()),
      QStringLiteral("Continue"));
  alert->showWithCompletion([](QSAlertView*, int) {});
}

void InformationView::continueButtonClick() { dismissDialog(); }

void InformationView::dismissDialog() {
  if (m_dismissing) return;  // a second click while fading out
  m_dismissing = true;
  animateViews(kFadeSeconds, AnimationCurve::EaseInOut, {{this, 0.0, {}, {}}},
               [guard = QPointer<InformationView>(this)](bool) {
                 if (guard) guard->dismissAnimationComplete();
               });
}

void InformationView::dismissAnimationComplete() {
  if (m_animationAImageView && m_animationAImageView->isAnimating())
    m_animationAImageView->stopAnimating();
  for (QWidget* part : {static_cast<QWidget*>(m_informationImageView.data()),
                        static_cast<QWidget*>(m_animationAImageView.data()),
                        static_cast<QWidget*>(m_moreButton.data()),
                        static_cast<QWidget*>(m_continueButton.data())})
    if (part) part->hide();
  hide();
  setParent(nullptr);
  // The callback may show the next screen at once; this overlay goes after it has been told.
  auto callback = std::move(m_callback);
  if (callback) callback(this);
  deleteLater();
}

}  // namespace duo
