#pragma once

#include <QList>
#include <QPointer>

#include <functional>

#include "qs_facebook_friend_list.h"
#include "table_view_controller.h"

namespace duo {

class QSFacebook;

/// Picks who sees a post: "Public", "Friends" and "Only Me", then the user's own friend lists
/// as the client lists them. The checkmark starts on the current choice; after a choice the
/// completion gets the list and the screen leaves its navigation stack half a second later.
class QSFacebookAudienceViewController : public TableViewController {
  Q_OBJECT

 public:
  using Completion = std::function<void(const QSFacebookFriendList& list)>;

  static constexpr int kMinimumContentHeight = 282;

  /// The three audiences every account has, in the order shown.
  static QList<QSFacebookFriendList> standardAudiences();

  /// Lists the friend lists of `facebook` (the application's client when null).
  explicit QSFacebookAudienceViewController(const QSFacebookFriendList& current,
                                            QSFacebook* facebook = nullptr,
                                            QObject* parent = nullptr);

  void setCompletion(Completion completion) { m_completion = std::move(completion); }
  const QList<QSFacebookFriendList>& friendLists() const { return m_lists; }

 protected:
  void viewDidLoad() override;

 private:
  void showLists(const QList<QSFacebookFriendList>& lists);
  void choose(int row);

  QSFacebookFriendList m_current;
  QPointer<QSFacebook> m_facebook;
  QList<QSFacebookFriendList> m_lists;
  Completion m_completion;
};

}  // namespace duo
