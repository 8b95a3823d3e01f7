#pragma once

#include <QPointer>

#include "qs_facebook_friend_list.h"
#include "qs_share_view2_controller.h"

namespace duo {

class QSFacebook;
class QSFacebookAlbum;

/// The Facebook upload screen: the caption and the photo, the album ("Duoscope Photos" unless
/// another is chosen) and the audience ("Public" unless another is chosen), posted with the
/// application's Facebook client. Signing in happens in the browser; "Post" waits for it.
class QSFacebookShareViewController : public QSShareView2Controller {
  Q_OBJECT

 public:
  static constexpr double kSignInPanelDelaySeconds = 0.5;

  /// Posts through `facebook` (the application's client when null).
  explicit QSFacebookShareViewController(QSFacebook* facebook = nullptr, QObject* parent = nullptr);
  ~QSFacebookShareViewController() override;

  QSFacebook* facebook() const { return m_facebook; }
  /// The album chosen; never null once the view has loaded (the default album until a choice).
  QSFacebookAlbum* album() const;
  QSFacebookFriendList friendList() const { return m_friendList; }

  void presentFromViewController(ViewController* host, Completion completion) override;
  void dismissWithResult(int result) override;
  void uploadImage() override;
  void progressViewDidCancel(QSProgressView* progressView) override;
  void tableViewDidSelectRow(int row) override;

  /// "Logout" when signed in, else "Login"; "Post" only when signed in.
  void updateLogoutButton();
  Q_INVOKABLE void loggedIn();
  Q_INVOKABLE void loggedOut();

 protected:
  void viewDidLoad() override;
  QString labelForRow(int row) const override;
  QString detailForRow(int row) const override;
  void logoutButtonTouched() override;

 private:
  void login();

  QPointer<QSFacebook> m_facebook;
  QSFacebookAlbum* m_defaultAlbum = nullptr;  // owned: "Duoscope Photos", no identifier
  QPointer<QSFacebookAlbum> m_album;
  QSFacebookFriendList m_friendList;
};

}  // namespace duo
