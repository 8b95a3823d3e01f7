#include <QtTest>

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QNetworkInformation>

#include "reachability.h"

using namespace duo;

namespace {

using Info = QNetworkInformation;

Reachability::InterfaceFacts interface(bool up, bool running, bool loopback,
                                       QList<QHostAddress> addresses) {
  return {up, running, loopback, std::move(addresses)};
}

}  // namespace

class ReachabilityTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    // The lookup answers through a connection made by slot name; a name that does not match
    // would only warn, and the watcher would wait for an answer forever.
    QTest::failOnWarning(QRegularExpression(QStringLiteral("QObject::connect")));
  }

  void onlineCountsAndCellularIsTheMobileNetwork() {
    const auto status = [](Info::Reachability r, Info::TransportMedium m) {
      return Reachability::statusForNetworkInformation(int(r), int(m));
    };
    QCOMPARE(status(Info::Reachability::Online, Info::TransportMedium::WiFi), 1);
    QCOMPARE(status(Info::Reachability::Online, Info::TransportMedium::Ethernet), 1);
    QCOMPARE(status(Info::Reachability::Online, Info::TransportMedium::Unknown), 1);
    QCOMPARE(status(Info::Reachability::Online, Info::TransportMedium::Cellular), 2);
    // A local or site network does not reach a host on the internet.
    for (auto r :
         {Info::Reachability::Disconnected, Info::Reachability::Local, Info::Reachability::Site})
      QCOMPARE(status(r, Info::TransportMedium::Cellular), 0);
    // An undecided service leaves the question to the interfaces.
    QCOMPARE(status(Info::Reachability::Unknown, Info::TransportMedium::WiFi), std::nullopt);
  }

  void onlyAnActiveInterfaceWithARealAddressCounts() {
    const QHostAddress lan(QStringLiteral("192.168.1.20"));
    const QHostAddress global6(QStringLiteral("2001:db8::5"));
    const QHostAddress linkLocal6(QStringLiteral("fe80::1"));
    const QHostAddress autoIp(QStringLiteral("169.254.7.7"));
    QCOMPARE(Reachability::statusForInterfaces({}), 0);
    QCOMPARE(Reachability::statusForInterfaces({interface(true, true, false, {lan})}), 1);
    QCOMPARE(Reachability::statusForInterfaces({interface(true, true, false, {global6})}), 1);
    // The loopback, an interface that is down or without carrier, or one that only has a
    // link-local address, reaches nothing.
    QCOMPARE(
        Reachability::statusForInterfaces(
            {interface(true, true, true, {QHostAddress::LocalHost, lan}),
             interface(false, false, false, {lan}), interface(true, false, false, {lan}),
             interface(true, true, false, {linkLocal6, autoIp}), interface(true, true, false, {})}),
        0);
    QCOMPARE(Reachability::statusForInterfaces({interface(true, true, false, {linkLocal6}),
                                                interface(true, true, false, {linkLocal6, lan})}),
             1);
  }

  void changesAreSignalledOnceAndOnlyWhenTheStatusChanges() {
    Reachability watcher(QStringLiteral("example.org"));
    QCOMPARE(watcher.hostName(), QStringLiteral("example.org"));
    watcher.setStatusForTesting(0);
    QSignalSpy spy(&watcher, &Reachability::reachabilityChanged);
    QVERIFY(watcher.startNotifier());
    QVERIFY(!watcher.startNotifier());
    QCOMPARE(watcher.currentReachabilityStatus(), 0);

    watcher.setStatusForTesting(2);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(watcher.currentReachabilityStatus(), 2);
    watcher.setStatusForTesting(2);
    QCOMPARE(spy.count(), 1);
    watcher.setStatusForTesting(1);
    QCOMPARE(spy.count(), 2);
    QCOMPARE(watcher.currentReachabilityStatus(), 1);
    watcher.setStatusForTesting(7);  // not a status
    QCOMPARE(watcher.currentReachabilityStatus(), 1);
    QCOMPARE(spy.count(), 2);

    // A pinned status does not drift with the real network.
    QTest::qWait(50);
    QCOMPARE(watcher.currentReachabilityStatus(), 1);
    QCOMPARE(spy.count(), 2);
  }

  void theRealWatcherStartsWithoutHoldingUpTheCaller() {
    QElapsedTimer clock;
    clock.start();
    auto* watcher = Reachability::reachabilityWithHostName(QStringLiteral("localhost"), this);
    QVERIFY(watcher->startNotifier());
    const int status = watcher->currentReachabilityStatus();
    QVERIFY2(clock.elapsed() < 3000, QByteArray::number(clock.elapsed()));
    QVERIFY(status >= 0 && status <= 2);
    // The lookup of a name that resolves changes nothing.
    QTest::qWait(200);
    QCOMPARE(watcher->currentReachabilityStatus(), status);
    watcher->stopNotifier();
    delete watcher;

    // A watcher that goes while its lookup is still out is not called back afterwards, and
    // leaves nothing behind (the sanitizer build's leak check holds it to that).
    for (int i = 0; i < 5; ++i) {
      auto* shortLived = new Reachability(QStringLiteral("duoscope-test.invalid"));
      shortLived->startNotifier();
      delete shortLived;
    }
    QTest::qWait(300);
  }

  void aHostThatDoesNotResolveIsNotReachable() {
    Reachability network(QString{});
    if (network.currentReachabilityStatus() == 0)
      QSKIP("no network here: a failing host name would change nothing");
    // A name that cannot be a host name fails without asking a name server.
    Reachability watcher(QStringLiteral("no..such..host"));
    QSignalSpy spy(&watcher, &Reachability::reachabilityChanged);
    watcher.startNotifier();
    QTRY_COMPARE_WITH_TIMEOUT(watcher.currentReachabilityStatus(), 0, 5000);
    QVERIFY(spy.count() >= 1);
  }
};

QTEST_MAIN(ReachabilityTest)
#include "reachability_test.moc"
