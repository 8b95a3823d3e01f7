#pragma once

#include <QPointer>

#include "qs_flickr.h"
#include "qs_flickr_photoset.h"
#include "qs_share_view2_controller.h"

namespace duo {

/// The Flickr upload screen: the caption and the photo, the photo set ("None" unless one is
/// chosen) and the audience (Public, Friends, Family or Only Me), posted with the application's
/// Flickr client. Signing in happens in the browser; "Post" waits for it.
class QSFlickrShareViewController : public QSShareView2Controller, public QSFlickrDelegate {
  Q_OBJECT

 public:
  /// The audience names by index.
  static QString audienceName(int audience);

  /// Posts through `flickr` (the application's client when null).
  explicit QSFlickrShareViewController(QSFlickr* flickr = nullptr, QObject* parent = nullptr);
  ~QSFlickrShareViewController() override;

  QSFlickr* flickr() const { return m_flickr; }
  QSFlickrPhotoset photoset() const { return m_photoset; }
  int audience() const { return m_audience; }

  void uploadImage() override { postImage(); }
  void tableViewDidSelectRow(int row) override;

  void loggedIn() override { QSShareView2Controller::loggedIn(); }
  void loggedOut() override { QSShareView2Controller::loggedOut(); }

 protected:
  void viewDidLoad() override;
  QString labelForRow(int row) const override;
  QString detailForRow(int row) const override;

  QString serviceName() const override { return QStringLiteral("Flickr"); }
  bool isSignedIn() override;
  bool isSigningIn() override;
  void clientLogin() override;
  void clientLogout() override;
  void clientCancelLogin() override;
  bool clientIsUploading() override;
  void clientUpload(const QString& caption, ProgressBlock progress,
                    std::function<void(int result)> done) override;
  void clientCancelUpload() override;

 private:
  QPointer<QSFlickr> m_flickr;
  QSFlickrPhotoset m_photoset = QSFlickrPhotoset::none();
  int m_audience = 0;
};

}  // namespace duo
