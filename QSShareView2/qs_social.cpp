#include "qs_social.h"

#include <QCoreApplication>
#include <QThread>

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

}  // namespace duo
