#include "qs_social.h"

#include <QCoreApplication>
#include <QThread>

#include "qs_facebook.h"

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

}  // namespace duo
