#pragma once

#include <QList>
#include <QPointer>

#include "flickr_api_request.h"
#include "qs_data_source.h"

namespace duo {

class QSFlickr;
class QSFlickrPhoto;

/// The user's Flickr photos, loaded page after page ("flickr.people.getPhotos", 100 a page)
/// until a short page or 1000 photos. Photos without both a thumbnail and a source are left out.
/// Delegate statuses: 0 already loaded, 1 a page was added, 2 loading ended. A token the service
/// refuses signs the user out; any other failure is reported as an error message.
class QSFlickrPhotosDataSource : public QSDataSource, public FlickrAPIRequestDelegate {
  Q_OBJECT

 public:
  static constexpr int kPageSize = 100;
  static constexpr int kMaximumItems = 1000;
  static constexpr char kErrorMessage[] =
      "Having trouble communicating\nwith Flickr.\n\nTry again later.";

  explicit QSFlickrPhotosDataSource(QSFlickr* flickr, QObject* parent = nullptr);
  ~QSFlickrPhotosDataSource() override;

  QSFlickr* flickr() const { return m_flickr; }
  bool gettingItems() const { return m_gettingItems; }
  bool allLoaded() const { return m_allLoaded; }
  /// The page the next request asks for (from 1).
  int page() const { return m_page; }

  QImage dataLogo() const override;
  int numberOfItems() const override { return int(m_photos.size()); }
  QSDataSource* itemForIndex(int index) const override;
  void getItems() override;
  void cancel() override;
  void reset() override;

  void flickrAPIRequestDidCompleteWithResponse(FlickrAPIRequest* request,
                                               const QVariantMap& response) override;
  void flickrAPIRequestDidFailWithError(FlickrAPIRequest* request,
                                        const FlickrError& error) override;

 private:
  void requestPage();
  void finishLoading();

  QPointer<QSFlickr> m_flickr;
  QList<QSFlickrPhoto*> m_photos;
  int m_page = 1;
  bool m_gettingItems = false;
  bool m_allLoaded = false;
};

}  // namespace duo
