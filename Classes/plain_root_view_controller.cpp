#include "plain_root_view_controller.h"

#include <QLabel>

#include "image_resources.h"
#include "image_view.h"
#include "screen.h"
#include "theme.h"

namespace duo {

void PlainRootViewController::viewDidLoad() {
  QWidget* root = view();
  const QSize bounds = MainScreen::bounds();

  auto* mark = new ImageView(imageNamed(QStringLiteral("duoscope.png")), root);
  mark->setContentMode(ContentMode::AspectFit);
  mark->setGeometry((bounds.width() - 96) / 2, bounds.height() / 2 - 110, 96, 96);

  auto* name = new QLabel(QStringLiteral("Duoscope"), root);
  name->setFont(theme::systemFont(26, QFont::DemiBold));
  name->setStyleSheet(QStringLiteral("color: %1;").arg(theme::primaryText().name()));
  name->setAlignment(Qt::AlignCenter);
  name->setGeometry(0, bounds.height() / 2 - 4, bounds.width(), 34);

  auto* hint = new QLabel(QStringLiteral("Stereo photographs, aligned by hand."), root);
  hint->setFont(theme::systemFont(14));
  hint->setStyleSheet(QStringLiteral("color: %1;").arg(theme::secondaryText().name()));
  hint->setAlignment(Qt::AlignCenter);
  hint->setWordWrap(true);
  hint->setGeometry(24, bounds.height() / 2 + 34, bounds.width() - 48, 40);
}

}  // namespace duo
