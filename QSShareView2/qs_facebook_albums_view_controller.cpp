#include "qs_facebook_albums_view_controller.h"

#include <QWidget>

#include <algorithm>

#include "navigation_controller.h"
#include "qs_album_cell.h"
#include "qs_facebook.h"
#include "qs_facebook_album.h"
#include "qs_social.h"
#include "run_loop.h"

namespace duo {

namespace {

constexpr int kRowHeight = 44;
constexpr double kPopDelay = 0.5;  // seconds between a choice and leaving the screen

}  // namespace

QSFacebookAlbumsViewController::QSFacebookAlbumsViewController(const QSFacebookAlbum* current,
                                                               QSFacebook* facebook,
                                                               QObject* parent)
    : TableViewController(parent),
      m_currentID(current ? current->albumID() : QString()),
      m_facebook(facebook ? facebook : QSSocial::sharedSocial()->facebook()) {
  setTitle(QStringLiteral("Choose Album"));
  setRowHeight(kRowHeight);
  setClearBackground(true);
  setSelectionHandler([this](int row) { choose(row); });
}

QSFacebookAlbumsViewController::~QSFacebookAlbumsViewController() = default;

QList<QSFacebookAlbum*> QSFacebookAlbumsViewController::albums() const {
  QList<QSFacebookAlbum*> albums;
  for (const QPointer<QSFacebookAlbum>& album : m_albums) albums << album.data();
  return albums;
}

void QSFacebookAlbumsViewController::viewDidLoad() {
  setPreferredContentSize(QSize(view()->width(), kMinimumContentHeight));
  if (!m_facebook) return;
  QPointer<QSFacebookAlbumsViewController> self(this);
  m_facebook->getAlbums([self](const QList<QSFacebookAlbum*>& albums, int) {
    if (self) self->showAlbums(albums);
  });
}

void QSFacebookAlbumsViewController::showAlbums(const QList<QSFacebookAlbum*>& albums) {
  qDeleteAll(std::exchange(m_cells, {}));
  m_albums.clear();
  QList<TableRow> rows;
  int checked = -1;
  for (QSFacebookAlbum* album : albums) {
    // An album without an identifier stands for the default album, which is also what no
    // choice at all means.
    if (checked < 0 && album->albumID() == m_currentID) checked = int(m_albums.size());
    auto* cell = new QSAlbumCell(album, m_facebook->networkAccessManager(), this);
    const int row = int(m_albums.size());
    connect(cell, &QSAlbumCell::coverLoaded, this,
            [this, row](const QImage& cover) { setImageForRow(row, cover); });
    m_albums << album;
    m_cells << cell;
    rows << cell->row();
  }
  setRows(rows);
  setCheckedRow(checked);
  if (checked >= 0) scrollToRow(checked, ScrollPosition::Middle);
  setPreferredContentSize(QSize(view()->width(), std::max(kMinimumContentHeight, contentHeight())));
  for (QSAlbumCell* cell : m_cells) cell->loadCover();
}

void QSFacebookAlbumsViewController::choose(int row) {
  if (row < 0 || row >= m_albums.size() || !m_albums[row]) return;
  m_currentID = m_albums[row]->albumID();
  if (m_completion) m_completion(m_albums[row]);
  QPointer<QSFacebookAlbumsViewController> self(this);
  performAfterDelay(kPopDelay, [self] {
    if (!self) return;
    NavigationController* navigation = self->navigationController();
    if (navigation && navigation->topViewController() == self) navigation->popViewController(true);
  });
}

}  // namespace duo
