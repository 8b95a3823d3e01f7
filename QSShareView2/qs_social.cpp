#include "qs_social.h"

#include <QCoreApplication>
#include <QThread>

#include "qs_facebook.h"
#include "qs_flickr.h"
#include "service_config.h"
#include "settings_store.h"

namespace duo {

QSSocial* QSSocial::sharedSocial() {
  static QSSocial* const instance = [] {
    auto* social = new QSSocial;
    if (QCoreApplication* application = QCoreApplication::instance())
      if (social->thread() != application->thread()) social->moveToThread(application->thread());
    return social;
  }();
  return instance;
}

QSFacebook* QSSocial::facebook() {
  if (!m_facebook) m_facebook = new QSFacebook(this);
  return m_facebook;
}

void QSSocial::setFacebook(QSFacebook* facebook) {
  if (facebook == m_facebook) return;
  delete m_facebook.data();
  if (facebook) facebook->setParent(this);
  m_facebook = facebook;
}

QSFlickr* QSSocial::flickr() {
  if (!m_flickr) {
    const FlickrConfig config = ServiceConfig::flickr(&SettingsStore::standard());
    m_flickr = new QSFlickr(config.apiKey, config.sharedSecret, this);
  }
  return m_flickr;
}

void QSSocial::setFlickr(QSFlickr* flickr) {
  if (flickr == m_flickr) return;
  delete m_flickr.data();
  if (flickr) flickr->setParent(this);
  m_flickr = flickr;
}

}  // namespace duo
