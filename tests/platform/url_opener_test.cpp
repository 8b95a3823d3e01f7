#include <QtTest>

#include "url_opener.h"

using namespace duo;

class UrlOpenerTest : public QObject {
  Q_OBJECT

 private slots:
  void cleanup() {
    setURLOpenerForTesting({});
    setCanOpenURLForTesting({});
  }

  void webMailAndFileLinksCanAlwaysBeOpened() {
    for (const char* link : {"https://example.org/app?id=1", "http://example.org", "HTTPS://X.ORG",
                             "mailto:someone@example.org", "file:///tmp/picture.png"})
      QVERIFY2(canOpenURL(QUrl(QString::fromLatin1(link))), link);
  }

  void otherSchemesNeedAHandlerAndNonsenseNeverOpens() {
    // Nobody handles this scheme, whether or not the desktop can be asked at all.
    QVERIFY(!canOpenURL(QUrl(QStringLiteral("duoscope-no-such-handler-7f3a://open?x=1"))));
    QVERIFY(!canOpenURL(QUrl(QStringLiteral("duoscope-no-such-handler-7f3a://again"))));
    QVERIFY(!canOpenURL(QUrl()));
    QVERIFY(!canOpenURL(QUrl(QStringLiteral("just some words"))));
    QVERIFY(!canOpenURL(QUrl(QStringLiteral("-bad:scheme"))));
    QVERIFY(!openURL(QUrl()));
    QVERIFY(!openURL(QUrl(QStringLiteral("relative/path"))));
  }

  void hooksReplaceTheDesktopAndCanBeRemoved() {
    QList<QUrl> opened;
    setURLOpenerForTesting([&](const QUrl& url) {
      opened << url;
      return url.host() == QLatin1String("ok.example");
    });
    QVERIFY(openURL(QUrl(QStringLiteral("https://ok.example/page"))));
    QVERIFY(!openURL(QUrl(QStringLiteral("https://refused.example/"))));
    QCOMPARE(opened, (QList<QUrl>{QUrl(QStringLiteral("https://ok.example/page")),
                                  QUrl(QStringLiteral("https://refused.example/"))}));

    setCanOpenURLForTesting([](const QUrl& url) { return url.scheme() == QLatin1String("store"); });
    QVERIFY(canOpenURL(QUrl(QStringLiteral("store://app/1"))));
    QVERIFY(!canOpenURL(QUrl(QStringLiteral("https://example.org"))));
    setCanOpenURLForTesting({});
    QVERIFY(canOpenURL(QUrl(QStringLiteral("https://example.org"))));
    QVERIFY(!canOpenURL(QUrl(QStringLiteral("store://app/1"))));

    // Once removed, the hook is no longer asked.
    setURLOpenerForTesting({});
    QVERIFY(!openURL(QUrl()));
    QCOMPARE(opened.size(), 2);
  }
};

QTEST_MAIN(UrlOpenerTest)
#include "url_opener_test.moc"
