#include "idle_inhibitor.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

#include <cstdio>
#include <memory>

namespace duo {
namespace {

IdleInhibitor* g_override = nullptr;

}  // namespace

IdleInhibitor::IdleInhibitor(QDBusConnection bus, QString reason, QObject* parent)
    : QObject(parent), m_bus(std::move(bus)), m_reason(std::move(reason)) {}

IdleInhibitor::~IdleInhibitor() {
  if (m_cookie) sendUnInhibit(*m_cookie);
}

IdleInhibitor& IdleInhibitor::shared() {
  if (g_override) return *g_override;
  // Made on first use: connecting to the session bus is only worth it once a transfer runs.
  static auto* instance = new IdleInhibitor(QDBusConnection::sessionBus());
  return *instance;
}

void IdleInhibitor::setShared(IdleInhibitor* inhibitor) { g_override = inhibitor; }

void IdleInhibitor::setIdleTimerDisabled(bool disabled) {
  if (disabled == m_disabled) return;
  m_disabled = disabled;
  if (disabled) {
    // An answer still on its way will be kept, since it is wanted again.
    if (!m_cookie && !m_requestPending) sendInhibit();
  } else if (m_cookie) {
    sendUnInhibit(*m_cookie);
    m_cookie.reset();
  }
}

void IdleInhibitor::sendInhibit() {
  if (!m_bus.isConnected()) {
    warnOnce(QStringLiteral("no session bus"));
    return;
  }
  QDBusMessage call = QDBusMessage::createMethodCall(QLatin1String(kService), QLatin1String(kPath),
                                                     QLatin1String(kInterface),
                                                     QStringLiteral("Inhibit"));
  const QString application = QCoreApplication::applicationName().isEmpty()
                                  ? QStringLiteral("duoscope")
                                  : QCoreApplication::applicationName();
  call << application << m_reason;
  m_requestPending = true;
  auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
    w->deleteLater();
    m_requestPending = false;
    const QDBusPendingReply<std::uint32_t> reply = *w;
    if (reply.isError()) {
      warnOnce(reply.error().message());
      return;
    }
    const std::uint32_t cookie = reply.value();
    // Released while the answer travelled: give it back at once rather than keep the screen
    // awake for nobody.
    if (!m_disabled) {
      sendUnInhibit(cookie);
      return;
    }
    m_cookie = cookie;
  });
}

void IdleInhibitor::sendUnInhibit(std::uint32_t cookie) {
  QDBusMessage call = QDBusMessage::createMethodCall(QLatin1String(kService), QLatin1String(kPath),
                                                     QLatin1String(kInterface),
                                                     QStringLiteral("UnInhibit"));
  call << cookie;
  m_bus.send(call);  // nothing to wait for: the answer carries no value
}

void IdleInhibitor::warnOnce(const QString& why) {
  if (m_warned) return;
  m_warned = true;
  std::fprintf(stderr, "duoscope: cannot keep the screen awake during transfers (%s)\n",
               qPrintable(why));
}

}  // namespace duo
