#pragma once

#include <QObject>

namespace duo {

/// The process-wide access point to the Facebook and Flickr clients. Dropbox has its own
/// (QSDropbox::sharedDropbox()).
class QSSocial : public QObject {
  Q_OBJECT

 public:
  /// The one instance, created on first call (thread-safely) and living on the application's
  /// main thread until the process ends. There is no other way to make one.
  static QSSocial* sharedSocial();

  QSSocial(const QSSocial&) = delete;
  QSSocial& operator=(const QSSocial&) = delete;

 private:
  QSSocial() = default;
};

}  // namespace duo
