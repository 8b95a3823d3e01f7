#include "qs_facebook_audience_view_controller.h"

#include <QWidget>

#include <algorithm>

#include "navigation_controller.h"
#include "qs_facebook.h"
#include "qs_social.h"
#include "run_loop.h"

namespace duo {

namespace {

constexpr int kRowHeight = 44;
constexpr double kPopDelay = 0.5;  // seconds between a choice and leaving the screen

}  // namespace

QList<QSFacebookFriendList> QSFacebookAudienceViewController::standardAudiences() {
  return {{QStringLiteral("0"), QStringLiteral("Public"), QStringLiteral("EVERYONE")},
          {QStringLiteral("1"), QStringLiteral("Friends"), QStringLiteral("ALL_FRIENDS")},
          {QStringLiteral("2"), QStringLiteral("Only Me"), QStringLiteral("SELF")}};
}

QSFacebookAudienceViewController::QSFacebookAudienceViewController(
    const QSFacebookFriendList& current, QSFacebook* facebook, QObject* parent)
    : TableViewController(parent),
      m_current(current),
      m_facebook(facebook ? facebook : QSSocial::sharedSocial()->facebook()) {
  setTitle(QStringLiteral("Audience"));
  setRowHeight(kRowHeight);
  setClearBackground(true);
  setSelectionHandler([this](int row) { choose(row); });
  // The standard audiences need no answer from the service; the user's lists join them later.
  showLists({});
}

void QSFacebookAudienceViewController::viewDidLoad() {
  setPreferredContentSize(QSize(view()->width(), std::max(kMinimumContentHeight, contentHeight())));
  if (!m_facebook) return;
  QPointer<QSFacebookAudienceViewController> self(this);
  m_facebook->getFriendList([self](const QList<QSFacebookFriendList>& lists) {
    if (self) self->showLists(lists);
  });
}

void QSFacebookAudienceViewController::showLists(const QList<QSFacebookFriendList>& lists) {
  m_lists = standardAudiences() + lists;
  QList<TableRow> rows;
  int checked = -1;
  for (int i = 0; i < m_lists.size(); ++i) {
    rows.append({m_lists[i].name(), {}});
    if (checked < 0 && m_lists[i].listID() == m_current.listID()) checked = i;
  }
  setRows(rows);
  setCheckedRow(checked);
  if (!isViewLoaded()) return;
  if (checked >= 0) scrollToRow(checked, ScrollPosition::Middle);
  setPreferredContentSize(QSize(view()->width(), std::max(kMinimumContentHeight, contentHeight())));
}

void QSFacebookAudienceViewController::choose(int row) {
  if (row < 0 || row >= m_lists.size()) return;
  m_current = m_lists[row];
  if (m_completion) m_completion(m_current);
  QPointer<QSFacebookAudienceViewController> self(this);
  performAfterDelay(kPopDelay, [self] {
    if (!self) return;
    NavigationController* navigation = self->navigationController();
    if (navigation && navigation->topViewController() == self) navigation->popViewController(true);
  });
}

}  // namespace duo
