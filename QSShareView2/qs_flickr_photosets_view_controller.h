#pragma once

#include <QList>
#include <QPointer>

#include <functional>

#include "qs_flickr_photoset.h"
#include "table_view_controller.h"

namespace duo {

class QSFlickr;

/// Picks the photo set an upload goes into: "None" first, then the user's sets as the client
/// lists them, with a checkmark on the current choice. After a choice the completion gets the
/// set and the screen leaves its navigation stack half a second later.
class QSFlickrPhotosetsViewController : public TableViewController {
  Q_OBJECT

 public:
  using Completion = std::function<void(const QSFlickrPhotoset& photoset)>;

  /// The height the screen asks for at least, in points.
  static constexpr int kMinimumContentHeight = 282;

  /// Lists the sets of `flickr` (the application's client when null).
  explicit QSFlickrPhotosetsViewController(const QSFlickrPhotoset& current,
                                           QSFlickr* flickr = nullptr, QObject* parent = nullptr);

  void setCompletion(Completion completion) { m_completion = std::move(completion); }
  const QList<QSFlickrPhotoset>& photosets() const { return m_photosets; }

 protected:
  void viewDidLoad() override;

 private:
  void showPhotosets(const QList<QSFlickrPhotoset>& photosets);
  void choose(int row);

  QSFlickrPhotoset m_current;
  QPointer<QSFlickr> m_flickr;
  QList<QSFlickrPhotoset> m_photosets;
  Completion m_completion;
};

}  // namespace duo
