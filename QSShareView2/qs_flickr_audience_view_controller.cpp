#include "qs_flickr_audience_view_controller.h"

#include <QPointer>
#include <QWidget>

#include <algorithm>

#include "navigation_controller.h"
#include "run_loop.h"

namespace duo {

namespace {

constexpr int kRowHeight = 44;
constexpr double kPopDelay = 0.5;  // seconds between a choice and leaving the screen

}  // namespace

QSFlickrAudienceViewController::QSFlickrAudienceViewController(int currentAudience, QObject* parent)
    : TableViewController(parent), m_audience(currentAudience) {
  setTitle(QStringLiteral("Audience"));
  setRowHeight(kRowHeight);
  setClearBackground(true);
  setRows({{QStringLiteral("Public"), {}},
           {QStringLiteral("Friends"), {}},
           {QStringLiteral("Family"), {}},
           {QStringLiteral("Only Me"), {}}});
  // An index outside 0–3 checks nothing rather than guessing.
  setCheckedRow(currentAudience);
  setSelectionHandler([this](int row) { choose(row); });
}

void QSFlickrAudienceViewController::viewDidLoad() {
  setPreferredContentSize(QSize(view()->width(), std::max(kMinimumContentHeight, contentHeight())));
}

void QSFlickrAudienceViewController::choose(int row) {
  m_audience = row;
  if (m_completion) m_completion(row);
  QPointer<QSFlickrAudienceViewController> self(this);
  performAfterDelay(kPopDelay, [self] {
    if (!self) return;
    NavigationController* navigation = self->navigationController();
    if (navigation && navigation->topViewController() == self) navigation->popViewController(true);
  });
}

}  // namespace duo
