#include "qs_flickr_photosets_view_controller.h"

#include <QWidget>

#include <algorithm>

#include "navigation_controller.h"
#include "qs_flickr.h"
#include "qs_social.h"
#include "run_loop.h"

namespace duo {

namespace {

constexpr int kRowHeight = 44;
constexpr double kPopDelay = 0.5;  // seconds between a choice and leaving the screen

}  // namespace

QSFlickrPhotosetsViewController::QSFlickrPhotosetsViewController(const QSFlickrPhotoset& current,
                                                                 QSFlickr* flickr, QObject* parent)
    : TableViewController(parent),
      m_current(current),
      m_flickr(flickr ? flickr : QSSocial::sharedSocial()->flickr()) {
  setTitle(QStringLiteral("Choose Photo Set"));
  setRowHeight(kRowHeight);
  setClearBackground(true);
  setSelectionHandler([this](int row) { choose(row); });
}

void QSFlickrPhotosetsViewController::viewDidLoad() {
  setPreferredContentSize(QSize(view()->width(), kMinimumContentHeight));
  if (!m_flickr) return;
  QPointer<QSFlickrPhotosetsViewController> self(this);
  m_flickr->getPhotosets([self](const QList<QSFlickrPhotoset>& photosets) {
    if (self) self->showPhotosets(photosets);
  });
}

void QSFlickrPhotosetsViewController::showPhotosets(const QList<QSFlickrPhotoset>& photosets) {
  m_photosets = photosets;
  QList<TableRow> rows;
  int checked = -1;
  for (int i = 0; i < m_photosets.size(); ++i) {
    rows.append({m_photosets[i].title(), {}});
    if (checked < 0 && m_photosets[i].photosetID() == m_current.photosetID()) checked = i;
  }
  setRows(rows);
  setCheckedRow(checked);
  if (checked >= 0) scrollToRow(checked, ScrollPosition::Middle);
  setPreferredContentSize(QSize(view()->width(), std::max(kMinimumContentHeight, contentHeight())));
}

void QSFlickrPhotosetsViewController::choose(int row) {
  if (row < 0 || row >= m_photosets.size()) return;
  m_current = m_photosets[row];
  if (m_completion) m_completion(m_current);
  QPointer<QSFlickrPhotosetsViewController> self(this);
  performAfterDelay(kPopDelay, [self] {
    if (!self) return;
    NavigationController* navigation = self->navigationController();
    if (navigation && navigation->topViewController() == self) navigation->popViewController(true);
  });
}

}  // namespace duo
