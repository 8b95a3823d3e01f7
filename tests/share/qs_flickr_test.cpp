// The Flickr client against a fake Flickr on 127.0.0.1: OAuth 1.0a sign-in with signatures
// checked by an independent computation, the multipart upload and its faults.
#include "flickr_test_fixture.h"

class QSFlickrTest : public test::SecretLogSuite {
  Q_OBJECT

 public:
  QSFlickrTest() : SecretLogSuite({kSecret, kAccess, kAccessSecret, kRequestSecret}) {}

 private slots:
  // A picker leaves its screen half a second after a choice; that step must have run before
  // the application goes, or its pending task is never freed.
  void cleanupTestCase() { QTest::qWait(600); }

  void signInExchangesSignedTokensAndAcceptsOnlyItsOwnCallback() {
    Fixture f(false);
    QVERIFY(!f.flickr->isLoggedIn());
    f.server.enqueue(
        "/services/oauth/request_token",
        text(200, "oauth_callback_confirmed=true&oauth_token=REQ-1&oauth_token_secret=" +
                      kRequestSecret.toLatin1()));
    QVERIFY(f.flickr->login());
    QTRY_COMPARE(f.opened.size(), 1);
    const RecordedRequest asked = f.server.requestsTo("/services/oauth/request_token").value(0);
    QVERIFY(signatureHolds(asked, f.url("/services/oauth/request_token"), {}));
    QCOMPARE(paramsOf(asked).value("oauth_callback"), "flickr" + kKey + "://authorize");
    QVERIFY(!paramsOf(asked).contains("oauth_token"));
    QCOMPARE(f.opened[0].path(), QString("/services/oauth/authorize"));
    QCOMPARE(QUrlQuery(f.opened[0]).queryItemValue("oauth_token"), QString("REQ-1"));
    QCOMPARE(QUrlQuery(f.opened[0]).queryItemValue("perms"), QString("write"));

    const QString callback = "flickr" + kKey + "://authorize";
    for (const QString& refused : QStringList{
             callback + "?oauth_token=OTHER&oauth_verifier=V", callback + "?oauth_token=REQ-1",
             "flickr0000://authorize?oauth_token=REQ-1&oauth_verifier=V",
             "flickr" + kKey + "://elsewhere?oauth_token=REQ-1&oauth_verifier=V",
             "https://evil.example/?oauth_token=REQ-1&oauth_verifier=V"})
      QVERIFY2(!f.flickr->handleOpenURL(QUrl(refused)), qPrintable(refused));
    f.server.enqueue("/services/oauth/access_token",
                     text(200, "fullname=Jane%20Roe&oauth_token=" + kAccess.toLatin1() +
                                   "&oauth_token_secret=" + kAccessSecret.toLatin1() +
                                   "&user_nsid=1234%40N00&username=jroe"));
    const QUrl accepted(callback + "?oauth_token=REQ-1&oauth_verifier=VER-9");
    QVERIFY(f.flickr->handleOpenURL(accepted));
    QVERIFY2(!f.flickr->handleOpenURL(accepted), "a callback is good for one sign-in only");
    QTRY_COMPARE(f.observer.events, QStringList{"in"});
    const RecordedRequest exchange = f.server.requestsTo("/services/oauth/access_token").value(0);
    QVERIFY(signatureHolds(exchange, f.url("/services/oauth/access_token"), kRequestSecret));
    QCOMPARE(paramsOf(exchange).value("oauth_verifier"), QString("VER-9"));
    QCOMPARE(paramsOf(exchange).value("oauth_token"), QString("REQ-1"));
    QVERIFY(f.flickr->isLoggedIn());
    QCOMPARE(f.flickr->flickrUserName(), QString("jroe"));
    QTRY_COMPARE(f.stored(QSFlickr::kOAuthTokenKey), kAccess);
    QCOMPARE(f.stored(QSFlickr::kOAuthTokenSecretKey), kAccessSecret);
    QCOMPARE(QFile::permissions(f.settings->filePath()) & 0077, QFileDevice::Permissions());

    // Signed in: login only confirms; logout forgets the stored token.
    const auto requests = f.server.requests().size();
    QVERIFY(f.flickr->login());
    QCOMPARE(f.observer.events, (QStringList{"in", "in"}));
    QCOMPARE(f.server.requests().size(), requests);
    f.flickr->logout();
    QCOMPARE(f.observer.events.last(), QString("out"));
    QVERIFY(!f.flickr->isLoggedIn());
    QTRY_VERIFY(f.stored(QSFlickr::kOAuthTokenKey).isEmpty());
  }

  void refusedTokenStepsLeaveTheClientSignedOut() {
    Fixture f(false);
    f.server.enqueue("/services/oauth/request_token",
                     text(401, "oauth_problem=signature_invalid&debug_sbs=GET&..."));
    QVERIFY(f.flickr->login());
    QTest::qWait(300);
    QVERIFY(f.opened.isEmpty());
    QVERIFY(!f.flickr->isLoggedIn());
    // The screen waiting for the sign-in hears that it is over.
    QCOMPARE(f.observer.events, QStringList{"out"});
    QVERIFY(!f.flickr->handleOpenURL(
        QUrl("flickr" + kKey + "://authorize?oauth_token=REQ-1&oauth_verifier=V")));
  }

  void storedTokenNeedsBothHalves_data() {
    QTest::addColumn<QString>("token");
    QTest::addColumn<QString>("secret");
    QTest::newRow("token only") << kAccess << QString();
    QTest::newRow("secret only") << QString() << kAccessSecret;
    QTest::newRow("empty token") << "" << kAccessSecret;
  }
  void storedTokenNeedsBothHalves() {
    QFETCH(QString, token);
    QFETCH(QString, secret);
    Fixture f(false);
    if (!token.isNull()) f.settings->setObject(token, QSFlickr::kOAuthTokenKey);
    if (!secret.isNull()) f.settings->setObject(secret, QSFlickr::kOAuthTokenSecretKey);
    FlickrConfig config = f.flickr->flickrContext()->config();
    QSFlickr fresh(config, f.tokens.get(), &f.network);
    fresh.flickrContext();
    QTRY_VERIFY(fresh.isReady());
    QVERIFY(!fresh.isLoggedIn());
  }

  void withoutAKeyNothingIsSentAndUploadsFail() {
    FakeHttpServer server;
    server.listen();
    QTemporaryDir folder;
    SettingsStore settings(folder.filePath("s.json"));
    TokenStore tokens(settings, TokenStore::Backend::FileOnly);
    QNetworkAccessManager network;
    FlickrConfig config;
    config.apiUrl = config.uploadUrl = config.authUrl = server.url();
    QSFlickr flickr(config, &tokens, &network);
    QVERIFY(!flickr.isConfigured());
    QVERIFY(!flickr.login());
    QList<int> results;
    flickr.uploadImage(noise(8, 8), {}, {}, {}, {}, [&](int result) { results << result; });
    QVERIFY(results.isEmpty());  // never from inside the call
    QTRY_COMPARE(results, QList<int>{1});
    QList<QSFlickrPhotoset> sets;
    flickr.getPhotosets([&](const QList<QSFlickrPhotoset>& list) { sets = list; });
    QTRY_COMPARE(sets, QList<QSFlickrPhotoset>{QSFlickrPhotoset::none()});
    QVERIFY(server.requests().isEmpty());
  }

  void uploadSendsItsFieldsAndAddsToTheSet_data() {
    QTest::addColumn<int>("audience");
    QTest::addColumn<QString>("photoset");  // empty: no attribute
    QTest::addColumn<QString>("title");
    QTest::addColumn<QStringList>("flags");  // is_public, is_friend, is_family
    QTest::newRow("public, no set attribute") << 0 << ""
                                              << "Pier" << QStringList{"1", "0", "0"};
    QTest::newRow("friends, into a set") << 1 << "72157A"
                                         << "" << QStringList{"0", "1", "0"};
    QTest::newRow("family, the None set") << 2 << "0"
                                          << "Pier" << QStringList{"0", "0", "1"};
    QTest::newRow("only me") << 3 << "72157A"
                             << "Pier" << QStringList{"0", "0", "0"};
  }
  void uploadSendsItsFieldsAndAddsToTheSet() {
    QFETCH(int, audience);
    QFETCH(QString, photoset);
    QFETCH(QString, title);
    QFETCH(QStringList, flags);
    Fixture f;
    QVariantMap attributes{{kQSFlickrAudienceKey, audience}};
    if (!photoset.isEmpty())
      attributes.insert(kQSFlickrPhotosetKey,
                        QVariant::fromValue(QSFlickrPhotoset(photoset, "Set", {})));
    f.upload(noise(400, 300), attributes, title, "Seen in 3-D");
    f.finish();
    QCOMPARE(f.results.first(), 0);

    const RecordedRequest sent = f.server.requestsTo(kUpload).value(0);
    QCOMPARE(sent.method, QByteArray("POST"));
    QVERIFY(signatureHolds(sent, f.url(kUpload), kAccessSecret));
    QVERIFY(!signatureHolds(sent, f.url(kUpload), kRequestSecret));  // the check discriminates
    const QMap<QString, QString> fields = paramsOf(sent);
    QCOMPARE((QStringList{fields["is_public"], fields["is_friend"], fields["is_family"]}), flags);
    QCOMPARE(fields["tags"], QString("duoscope"));
    QCOMPARE(fields["content_type"], QString("1"));
    QCOMPARE(fields["hidden"], QString("1"));
    QCOMPARE(fields.value("title"), title);
    QCOMPARE(fields.contains("title"), !title.isEmpty());
    QCOMPARE(fields["description"], QString("Seen in 3-D"));
    const QList<Part> parts = partsOf(sent);
    const auto photo = std::find_if(parts.begin(), parts.end(),
                                    [](const Part& part) { return part.name == "photo"; });
    QVERIFY(photo != parts.end());
    QCOMPARE(photo->filename, QByteArray("Duoscope.jpg"));
    QCOMPARE(photo->contentType, QByteArray("image/jpeg"));
    QImage back;
    QVERIFY(back.loadFromData(photo->body, "JPEG"));
    QCOMPARE(back.size(), QSize(400, 300));

    const bool added = photoset == "72157A";
    const auto calls = f.server.requestsTo(kRest);
    QCOMPARE(calls.size(), added ? 1 : 0);
    if (added) {
      QCOMPARE(calls[0].method, QByteArray("POST"));
      const auto params = paramsOf(calls[0]);
      QCOMPARE(params["method"], QString("flickr.photosets.addPhoto"));
      QCOMPARE(params["photoset_id"], QString("72157A"));
      QCOMPARE(params["photo_id"], QString("4242"));
      QVERIFY(signatureHolds(calls[0], f.url(kRest), kAccessSecret));
    }
    QVERIFY(!f.progress.isEmpty());
    for (int i = 1; i < f.progress.size(); ++i)
      QVERIFY(f.progress[i - 1].first <= f.progress[i].first);
    QCOMPARE(f.progress.last().first, f.progress.last().second);
    QCOMPARE(f.progress.last().second, sent.bodyBytes);
  }

  void uploadFaultsFailOnce_data() {
    QTest::addColumn<ScriptedResponse>("response");
    QTest::addColumn<int>("result");
    QTest::addColumn<bool>("signsOut");
    QTest::newRow("token rejected mid-session")
        << xml(200, R"(<rsp stat="fail"><err code="98" msg="Invalid auth token" /></rsp>)") << 1
        << true;
    QTest::newRow("401 with oauth problem")
        << text(401, "oauth_problem=token_rejected") << 1 << true;
    QTest::newRow("403") << xml(403, "<html>Forbidden</html>") << 1 << false;
    QTest::newRow("500") << text(500, "Internal Server Error") << 1 << false;
    QTest::newRow("service failure")
        << xml(200, R"(<rsp stat="fail"><err code="5" msg="Filetype was not recognised" /></rsp>)")
        << 1 << false;
    QTest::newRow("malformed") << xml(200, "<rsp stat=\"ok\"><photoid>1</rsp>") << 1 << false;
    QTest::newRow("truncated") << xml(200, "<rsp stat=\"ok\"><photoid>12") << 1 << false;
    QTest::newRow("entities refused")
        << xml(200, R"(<!DOCTYPE r [<!ENTITY a "x">]><rsp stat="ok"><photoid>&a;</photoid></rsp>)")
        << 1 << false;
    ScriptedResponse cut = xml(200, "<rsp stat=\"ok\">\n<photoid>4242</photoid>\n</rsp>\n");
    cut.behaviour = ScriptedResponse::Behaviour::CloseMidResponse;
    QTest::newRow("server stops mid-response") << cut << 1 << false;
    ScriptedResponse hang;
    hang.behaviour = ScriptedResponse::Behaviour::Hang;
    QTest::newRow("time-out") << hang << 1 << false;
  }
  void uploadFaultsFailOnce() {
    QFETCH(ScriptedResponse, response);
    QFETCH(int, result);
    QFETCH(bool, signsOut);
    Fixture f(true, 500);
    f.server.enqueue(kUpload, response);
    f.upload(noise(64, 48),
             {{kQSFlickrPhotosetKey, QVariant::fromValue(QSFlickrPhotoset("9", "S", {}))}});
    f.finish();
    QCOMPARE(f.results.first(), result);
    QCOMPARE(f.observer.events, signsOut ? QStringList{"out"} : QStringList{});
    QVERIFY(f.server.requestsTo(kRest).isEmpty());
  }

  void aFailedSetAddStillCountsAsUploaded() {
    Fixture f;
    f.server.enqueue(kRest, text(500, "down"));
    f.upload(noise(64, 48),
             {{kQSFlickrPhotosetKey, QVariant::fromValue(QSFlickrPhotoset("9", "S", {}))}});
    f.finish();
    QCOMPARE(f.results.first(), 0);
    QCOMPARE(f.server.requestsTo(kRest).size(), 1);
  }

  void connectionRefusedFails() {
    QTcpServer closed;
    closed.listen(QHostAddress::LocalHost);
    QUrl site(QString("http://127.0.0.1:%1").arg(closed.serverPort()));
    closed.close();
    Fixture f(true, 5000, site);
    f.upload(noise(64, 48));
    f.finish();
    QCOMPARE(f.results.first(), 1);
  }

  void cancelHalfwayCallsNothingAndAnotherCallFailsTheUpload() {
    Fixture f;
    ScriptedResponse stall;
    stall.behaviour = ScriptedResponse::Behaviour::StallUpload;
    stall.stallAfterBytes = 200000;
    f.server.enqueue(kUpload, stall);
    f.upload(noise(1200, 900));
    QTRY_VERIFY(!f.progress.isEmpty() && f.progress.last().first > 0);
    f.flickr->cancelUpload();
    QVERIFY(!f.flickr->isUploading());
    f.flickr->cancelUpload();  // idle: nothing
    QTest::qWait(300);
    QVERIFY(f.results.isEmpty());
    QVERIFY(QDir(f.temp()).isEmpty());

    // A photo-set list asked for while an upload runs takes the shared request object: the
    // upload must end (failed) rather than wait for ever.
    f.server.enqueue(kUpload, stall);
    f.upload(noise(1200, 900));
    QTRY_VERIFY(!f.progress.isEmpty());
    bool listed = false;
    f.flickr->getPhotosets([&](const QList<QSFlickrPhotoset>&) { listed = true; });
    f.finish();
    QCOMPARE(f.results.first(), 1);
    QTRY_VERIFY(listed);
  }
};

QTEST_MAIN(QSFlickrTest)
#include "qs_flickr_test.moc"
