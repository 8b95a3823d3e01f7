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
  static constexpr double kSignInPanelDelaySeconds = 0.5;

  /// The audience names by index.
  static QString audienceName(int audience);

  /// Posts through `flickr` (the application's client when null).
  explicit QSFlickrShareViewController(QSFlickr* flickr = nullptr, QObject* parent = nullptr);
  ~QSFlickrShareViewController() override;

  QSFlickr* flickr() const { return m_flickr; }
  QSFlickrPhotoset photoset() const { return m_photoset; }
  int audience() const { return m_audience; }

  void presentFromViewController(ViewController* host, Completion completion) override;
  void dismissWithResult(int result) override;
  void uploadImage() override;
  void progressViewDidCancel(QSProgressView* progressView) override;
  void tableViewDidSelectRow(int row) override;

  void updateLogoutButton();
  void loggedIn() override;
  void loggedOut() override;

 protected:
  void viewDidLoad() override;
  QString labelForRow(int row) const override;
  QString detailForRow(int row) const override;
  void logoutButtonTouched() override;

 private:
  void login();

  QPointer<QSFlickr> m_flickr;
  QSFlickrPhotoset m_photoset = QSFlickrPhotoset::none();
  int m_audience = 0;
};

}  // namespace duo
