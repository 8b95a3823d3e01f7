// OAuth 1.0a signatures against values computed independently of Qt (RFC 5849 §3.4 by hand:
// percent-encoding, sorted parameters, HMAC-SHA1 with "consumer secret&token secret").
#include <QtTest>

#include "oauth1_signer.h"

using namespace duo;

class OAuth1SignerTest : public QObject {
  Q_OBJECT

 private slots:
  void signaturesMatchAnIndependentComputation_data() {
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QUrl>("url");
    QTest::addColumn<QVariantMap>("parameters");
    QTest::addColumn<QStringList>("credentials");  // key, secret, token, token secret
    QTest::addColumn<QString>("nonce");
    QTest::addColumn<qint64>("timestamp");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("protocol's own example: query parameters")
        << QByteArray("GET")
        << QUrl("http://photos.example.net/photos?file=vacation.jpg&size=original") << QVariantMap{}
        << QStringList{"dpf43f3p2l4k3l03", "kd94hf93k423kf44", "nnch734d00sl2jdk",
                       "pfkkdhi9sl3r4s00"}
        << "kllo9940pd9333jh" << qint64(1191242096) << QByteArray("tR3+Ty81lMeYAr/Fid0kMTYa/WM=");
    QTest::newRow("upload form fields with spaces, reserved and non-ASCII characters")
        << QByteArray("POST") << QUrl("https://up.flickr.example/services/upload/")
        << QVariantMap{{"title", QString::fromUtf8("Duoscope – 3D ☺")},
                       {"description", "a b&c=d"},
                       {"is_public", "0"}}
        << QStringList{"0123456789abcdef0123456789abcdef", "fedcba9876543210",
                       "72157600000000000-abcdef0123456789", "0011223344556677"}
        << "a1b2c3d4" << qint64(1700000000) << QByteArray("Oeyr9qqflC6lU91KRPsonTklPuU=");
    QTest::newRow("request token: callback, no token yet")
        << QByteArray("GET") << QUrl("https://www.flickr.example/services/oauth/request_token")
        << QVariantMap{{"oauth_callback", "flickr0123456789abcdef0123456789abcdef://authorize"}}
        << QStringList{"0123456789abcdef0123456789abcdef", "fedcba9876543210", "", ""} << "n0nce"
        << qint64(1700000001) << QByteArray("4WonOQCJR2w4Ro+Uak98JCPYiws=");
  }
  void signaturesMatchAnIndependentComputation() {
    QFETCH(QByteArray, method);
    QFETCH(QUrl, url);
    QFETCH(QVariantMap, parameters);
    QFETCH(QStringList, credentials);
    QFETCH(QString, nonce);
    QFETCH(qint64, timestamp);
    QFETCH(QByteArray, expected);
    OAuth1Signer signer({credentials[0], credentials[1], credentials[2], credentials[3]});
    QMultiMap<QString, QVariant> fields;
    for (auto it = parameters.cbegin(); it != parameters.cend(); ++it)
      fields.insert(it.key(), it.value());
    const auto oauth = signer.protocolParameters(method, url, fields, nonce, timestamp);
    QCOMPARE(oauth.value("oauth_signature").toByteArray(), expected);
    QCOMPARE(oauth.contains("oauth_token"), !credentials[2].isEmpty());

    // The header carries every protocol parameter once, percent-encoded, and no form field.
    const QByteArray header = OAuth1Signer::authorizationHeader(oauth);
    QVERIFY(header.startsWith("OAuth "));
    QVERIFY(header.contains("oauth_signature=\"" + QUrl::toPercentEncoding(expected) + '"'));
    QVERIFY(!header.contains("title=") && !header.contains("file="));
    QCOMPARE(header.count("oauth_nonce="), 1);
    QCOMPARE(header.contains("oauth_callback="), parameters.contains("oauth_callback"));
  }

  void freshParametersDifferEachTime() {
    OAuth1Signer signer({"key", "secret", "token", "tokensecret"});
    const QUrl url("https://api.example/rest");
    const auto a = signer.protocolParameters("GET", url, {});
    const auto b = signer.protocolParameters("GET", url, {});
    QVERIFY(a.value("oauth_nonce") != b.value("oauth_nonce"));
    QVERIFY(qAbs(a.value("oauth_timestamp").toLongLong() - QDateTime::currentSecsSinceEpoch()) < 5);
  }
};

QTEST_GUILESS_MAIN(OAuth1SignerTest)
#include "oauth1_signer_test.moc"
