#pragma once

#include <QList>
#include <QPointer>
#include <QString>

#include <functional>

#include "table_view_controller.h"

namespace duo {

class QSAlbumCell;
class QSFacebook;
class QSFacebookAlbum;

/// Picks the album a photo goes into, from the list the client's getAlbums() gives (sorted, the
/// application's own album among them), each row with its cover. The checkmark starts on the
/// current album; after a choice the completion gets the album and the screen leaves its
/// navigation stack half a second later. The list stays empty while it loads, and stays empty
/// when the account has no albums or the list cannot be had.
class QSFacebookAlbumsViewController : public TableViewController {
  Q_OBJECT

 public:
  using Completion = std::function<void(QSFacebookAlbum* album)>;

  static constexpr int kMinimumContentHeight = 282;

  /// `current` may be null (no choice yet, which is the user's default album). Lists the albums
  /// of `facebook` (the application's client when null).
  explicit QSFacebookAlbumsViewController(const QSFacebookAlbum* current,
                                          QSFacebook* facebook = nullptr,
                                          QObject* parent = nullptr);
  ~QSFacebookAlbumsViewController() override;

  void setCompletion(Completion completion) { m_completion = std::move(completion); }
  QList<QSFacebookAlbum*> albums() const;

 protected:
  void viewDidLoad() override;

 private:
  void showAlbums(const QList<QSFacebookAlbum*>& albums);
  void choose(int row);

  QString m_currentID;
  QPointer<QSFacebook> m_facebook;
  QList<QPointer<QSFacebookAlbum>> m_albums;
  QList<QSAlbumCell*> m_cells;
  Completion m_completion;
};

}  // namespace duo
