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
  /// Posts through `facebook` (the application's client when null).
  explicit QSFacebookShareViewController(QSFacebook* facebook = nullptr, QObject* parent = nullptr);
  ~QSFacebookShareViewController() override;

  QSFacebook* facebook() const { return m_facebook; }
  /// The album chosen; the default album until a choice.
  QSFacebookAlbum* album() const;
  QSFacebookFriendList friendList() const { return m_friendList; }

  void uploadImage() override { postImage(); }
  void tableViewDidSelectRow(int row) override;

 protected:
  void viewDidLoad() override;
  QString labelForRow(int row) const override;
  QString detailForRow(int row) const override;

  QString serviceName() const override { return QStringLiteral("Facebook"); }
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
  QPointer<QSFacebook> m_facebook;
  QSFacebookAlbum* m_defaultAlbum = nullptr;  // owned: "Duoscope Photos", no identifier
  QPointer<QSFacebookAlbum> m_album;
  QSFacebookFriendList m_friendList;
};

}  // namespace duo
