#pragma once

#include <QObject>
#include <QPointer>

namespace duo {

class QSFacebook;
class QSFlickr;

/// The process-wide access point to the Facebook and Flickr clients. Dropbox has its own
/// (QSDropbox::sharedDropbox()).
class QSSocial : public QObject {
  Q_OBJECT

 public:
  /// The one instance, created on first call (thread-safely) and living on the application's
  /// main thread until the process ends. There is no other way to make one.
  static QSSocial* sharedSocial();

  /// The Facebook client, created on first use; call on the main thread.
  QSFacebook* facebook();
  /// Replaces the Facebook client (taken over; the old one is deleted).
  void setFacebook(QSFacebook* facebook);
  /// The Flickr client, created on first use with the build's registration. Main thread only.
  QSFlickr* flickr();
  /// Replaces the Flickr client (taken over; the old one is deleted).
  void setFlickr(QSFlickr* flickr);

  QSSocial(const QSSocial&) = delete;
  QSSocial& operator=(const QSSocial&) = delete;

 private:
  QSSocial() = default;

  QPointer<QSFacebook> m_facebook;
  QPointer<QSFlickr> m_flickr;
};

}  // namespace duo
