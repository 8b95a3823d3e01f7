// The Facebook client against a fake Graph service on 127.0.0.1: sign-in with PKCE, the photo
// post, the publishing permission, friend lists and faults.
#include "facebook_test_fixture.h"

class QSFacebookTest : public test::SecretLogSuite {
  Q_OBJECT

 public:
  QSFacebookTest() : SecretLogSuite({kToken, kNewToken}) {}

 private slots:

  void signInUsesPkceAndAcceptsOnlyItsOwnCallback() {
    Fixture f(QString{});
    QVERIFY(!f.facebook->isLoggedIn());
    f.facebook->login();
    QTRY_COMPARE(f.browser.size(), 1);
    const QUrlQuery dialog(f.browser[0]);
    QCOMPARE(f.browser[0].path(), QString("/dialog/oauth"));
    QCOMPARE(dialog.queryItemValue("client_id"), QString("424242"));
    QCOMPARE(dialog.queryItemValue("redirect_uri", QUrl::FullyDecoded),
             QString("fb424242://authorize"));
    QCOMPARE(dialog.queryItemValue("scope", QUrl::FullyDecoded),
             QString("read_stream,user_photos,read_friendlists"));
    QCOMPARE(dialog.queryItemValue("code_challenge_method"), QString("S256"));
    const QByteArray verifier = f.facebook->session()->authorizationFlow()->codeVerifier();
    QCOMPARE(dialog.queryItemValue("code_challenge").toLatin1(), Pkce::challengeFor(verifier));

    const QString state = dialog.queryItemValue("state");
    for (const QString& foreign :
         {"fb999://authorize?code=x&state=" + state, "db-424242://authorize?code=x&state=" + state,
          "https://evil.test/authorize?code=x&state=" + state})
      QVERIFY2(!f.facebook->handleOpenURL(QUrl(foreign)), qPrintable(foreign));
    QVERIFY(f.returnFromBrowser("code=AUTHCODE"));
    QTRY_COMPARE(f.delegate.in, 1);
    QVERIFY(f.facebook->isLoggedIn());
    const auto exchange = f.server.requestsTo("/oauth/access_token");
    QCOMPARE(exchange.size(), 1);
    QCOMPARE(formOf(exchange[0]).value("code_verifier").toLatin1(), verifier);
    QCOMPARE(formOf(exchange[0]).value("code"), QString("AUTHCODE"));
    QTRY_COMPARE(f.stored(FacebookSession::kAccessTokenKey), kNewToken);

    // Requests now carry the token; a second login only repeats the notice.
    f.facebook->getFriendList({});
    QTRY_COMPARE(f.server.requestsTo("/me/friendlists").size(), 1);
    QCOMPARE(f.server.requestsTo("/me/friendlists")[0].headers.value("authorization"),
             "OAuth " + kNewToken.toUtf8());
    f.facebook->login();
    QCOMPARE(f.delegate.in, 2);
    QCOMPARE(f.browser.size(), 1);

    f.facebook->logout();
    QCOMPARE(f.delegate.out, 1);
    QVERIFY(!f.facebook->isLoggedIn());
    QTRY_VERIFY(f.stored(FacebookSession::kAccessTokenKey).isEmpty());
  }

  void signInThatEndsWithoutATokenSignsOut_data() {
    QTest::addColumn<QString>("callback");
    QTest::addColumn<int>("tokenStatus");
    QTest::addColumn<int>("alerts");
    QTest::newRow("refused in the dialog: no alert") << "error=access_denied" << 200 << 0;
    QTest::newRow("token endpoint fault: an alert") << "code=C1" << 500 << 1;
  }
  void signInThatEndsWithoutATokenSignsOut() {
    QFETCH(QString, callback);
    QFETCH(int, tokenStatus);
    QFETCH(int, alerts);
    Fixture f(QString{});
    f.server.enqueue("/oauth/access_token", ScriptedResponse::json(tokenStatus, "{}"));
    QSignalSpy alert(f.facebook.get(), &QSFacebook::alertRequested);
    f.facebook->login();
    QTRY_COMPARE(f.browser.size(), 1);
    QVERIFY(f.returnFromBrowser(callback));
    QTRY_COMPARE(f.delegate.out, 1);
    QCOMPARE(f.delegate.in, 0);
    QCOMPARE(alert.size(), alerts);
    if (alerts) QCOMPARE(alert[0][0].toString(), QString("Error"));
    QVERIFY(!f.facebook->isLoggedIn());
  }

  void storedTokenOpensWithoutTheBrowserUnlessExpired_data() {
    QTest::addColumn<int>("daysLeft");
    QTest::newRow("valid") << 30;
    QTest::newRow("expired") << -1;
  }
  void storedTokenOpensWithoutTheBrowserUnlessExpired() {
    QFETCH(int, daysLeft);
    QTemporaryDir folder;
    SettingsStore settings(folder.filePath("settings.json"));
    settings.setObject(kToken, FacebookSession::kAccessTokenKey);
    settings.setObject(QDateTime::currentDateTimeUtc().addDays(daysLeft).toString(Qt::ISODate),
                       FacebookSession::kExpirationKey);
    FacebookConfig config;
    config.appId = "424242";
    config.graphUrl = config.dialogUrl = QUrl("http://127.0.0.1:9/");
    QNetworkAccessManager network;
    QSFacebook facebook(config, new TokenStore(settings, TokenStore::Backend::FileOnly), &network);
    QList<QUrl> browser;
    facebook.setBrowserOpener([&](const QUrl& url) {
      browser << url;
      return true;
    });
    Delegate delegate;
    facebook.setDelegate(&delegate);
    // Signing in at once, while the stored token is still being read, finds it all the same.
    facebook.session();
    facebook.login();
    if (daysLeft > 0) {
      QTRY_COMPARE(delegate.in, 1);
      QVERIFY(browser.isEmpty());
    } else {
      QTRY_COMPARE(browser.size(), 1);
      QVERIFY(!facebook.isLoggedIn());
    }
  }

  void withoutAnAppIdNothingIsAttempted() {
    Fixture f(QString{}, false, QString());
    QSignalSpy alerts(f.facebook.get(), &QSFacebook::alertRequested);
    f.facebook->login();
    QTRY_COMPARE(f.delegate.out, 1);
    QCOMPARE(alerts.size(), 1);
    QVERIFY(alerts[0][1].toString().contains("not set up"));
    f.upload();
    QCOMPARE(f.finish(), 1);
    QVERIFY(f.facebook->uploadErrorMessage().contains("not set up"));
    QVERIFY(f.browser.isEmpty());
    QVERIFY(f.server.requests().isEmpty());
  }

  void postSendsTheImageCaptionAndAudienceAsMultipart_data() {
    QTest::addColumn<QString>("albumID");
    QTest::addColumn<QString>("audience");
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("privacy");
    QTest::newRow("default album, default audience")
        << ""
        << "" << QByteArray("/me/photos") << QByteArray(R"({"value":"EVERYONE"})");
    QTest::newRow("chosen album and friend list")
        << "A77"
        << "ALL_FRIENDS" << QByteArray("/A77/photos") << QByteArray(R"({"value":"ALL_FRIENDS"})");
  }
  void postSendsTheImageCaptionAndAudienceAsMultipart() {
    QFETCH(QString, albumID);
    QFETCH(QString, audience);
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, privacy);
    Fixture f;
    f.server.setHandler("/A77/photos", [](const RecordedRequest&) {
      return ScriptedResponse::json(200, R"({"id": "1002"})");
    });
    QSFacebookAlbum album(QJsonObject{{"id", albumID}, {"name", "Trips"}}, nullptr, QString());
    QVariantMap attributes;
    if (!audience.isEmpty()) attributes.insert(QSFacebook::kAudienceKey, audience);
    f.upload(attributes, &album);
    QCOMPARE(f.finish(), 0);
    const auto sent = f.server.requestsTo(path);
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent[0].headers.value("authorization"), "OAuth " + kToken.toUtf8());
    const auto parts = partsOf(sent[0]);
    QCOMPARE(parts.keys().size(), 3);
    QCOMPARE(parts.value("privacy").second, privacy);
    QCOMPARE(parts.value("caption").second, QByteArray("Check out my Duoscope photo"));
    QVERIFY(parts.value("picture").first.contains("Content-Type: image/jpeg"));
    QCOMPARE(QImage::fromData(parts.value("picture").second, "JPEG").size(), QSize(64, 48));
    QVERIFY(!f.progress.isEmpty());
    for (int i = 1; i < f.progress.size(); ++i) QVERIFY(f.progress[i - 1] <= f.progress[i]);
    QCOMPARE(f.progress.last(), sent[0].bodyBytes);
  }

  void refusedPublishingPermissionIsResultTwo_data() {
    QTest::addColumn<QString>("callback");
    QTest::addColumn<QByteArray>("permissions");
    QTest::newRow("refused in the dialog") << "error=access_denied" << QByteArray();
    QTest::newRow("unticked in the dialog")
        << "code=C2"
        << QByteArray(R"({"data":[{"permission":"publish_actions","status":"declined"}]})");
  }
  void refusedPublishingPermissionIsResultTwo() {
    QFETCH(QString, callback);
    QFETCH(QByteArray, permissions);
    Fixture f("user_photos");
    f.server.setHandler("/me/permissions", [permissions](const RecordedRequest&) {
      return ScriptedResponse::json(200, permissions);
    });
    f.upload();
    QTRY_COMPARE(f.browser.size(), 1);
    const QUrlQuery dialog(f.browser[0]);
    QCOMPARE(dialog.queryItemValue("scope"), QString("publish_actions"));
    QCOMPARE(dialog.queryItemValue("auth_type"), QString("rerequest"));
    QVERIFY(f.returnFromBrowser(callback));
    QCOMPARE(f.finish(), 2);
    QVERIFY(f.server.requestsTo("/me/photos").isEmpty());
  }

  void grantedPublishingPermissionPostsWithTheNewToken() {
    Fixture f("user_photos");
    f.server.setHandler("/me/permissions", [](const RecordedRequest&) {
      return ScriptedResponse::json(
          200, R"({"data":[{"permission":"publish_actions","status":"granted"}]})");
    });
    f.upload();
    QTRY_COMPARE(f.browser.size(), 1);
    QVERIFY(f.returnFromBrowser("code=C3"));
    QCOMPARE(f.finish(), 0);
    QCOMPARE(f.server.requestsTo("/me/photos").value(0).headers.value("authorization"),
             "OAuth " + kNewToken.toUtf8());
    QVERIFY(f.facebook->hasPublishPermissions());
  }

  void theRealServiceSaysPostingIsNoLongerAllowed() {
    Fixture f("user_photos", true);
    f.upload();
    QCOMPARE(f.finish(), 2);
    QCOMPARE(f.facebook->uploadErrorMessage(), FacebookSession::retiredPermissionMessage());
    QVERIFY(f.browser.isEmpty());
    QVERIFY(f.server.requests().isEmpty());
    // Nor does its sign-in dialog take the retired read permissions any more.
    f.facebook->logout();
    f.facebook->login();
    QTRY_COMPARE(f.browser.size(), 1);
    QCOMPARE(QUrlQuery(f.browser[0]).queryItemValue("scope"), QString("user_photos"));
    // The real addresses are known as such.
    qunsetenv("DUOSCOPE_FACEBOOK_GRAPH_URL");
    QVERIFY(!FacebookConfig::fromEnvironment().grantsRetiredPermissions);
  }

  void faultsFailOnceAndLeaveNothingRunning_data() {
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("behaviour");
    QTest::addColumn<bool>("signedOut");
    const int respond = int(ScriptedResponse::Behaviour::Respond);
    const QByteArray expired =
        R"({"error":{"message":"Session has expired","type":"OAuthException","code":190}})";
    QTest::newRow("401") << 401 << QByteArray("{}") << respond << true;
    QTest::newRow("token rejected mid-session") << 400 << expired << respond << true;
    QTest::newRow("403") << 403
                         << QByteArray(R"({"error":{"message":"Permissions error","code":200}})")
                         << respond << false;
    QTest::newRow("500") << 500 << QByteArray("oops") << respond << false;
    QTest::newRow("malformed JSON") << 200 << QByteArray("{\"id\":") << respond << false;
    QTest::newRow("no id") << 200 << QByteArray("{}") << respond << false;
    QTest::newRow("stops mid-response")
        << 200 << QByteArray(2000, ' ') + "{\"id\":\"1\"}"
        << int(ScriptedResponse::Behaviour::CloseMidResponse) << false;
    QTest::newRow("time-out") << 200 << QByteArray() << int(ScriptedResponse::Behaviour::Hang)
                              << false;
  }
  void faultsFailOnceAndLeaveNothingRunning() {
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(int, behaviour);
    QFETCH(bool, signedOut);
    Fixture f("user_photos,publish_actions", false, "424242", 300);
    ScriptedResponse response = ScriptedResponse::json(status, body);
    response.behaviour = ScriptedResponse::Behaviour(behaviour);
    f.server.enqueue("/me/photos", response);
    f.upload();
    QCOMPARE(f.finish(), 1);
    QCOMPARE(f.delegate.out, signedOut ? 1 : 0);
    QCOMPARE(f.facebook->isLoggedIn(), !signedOut);
    if (signedOut) QTRY_VERIFY(f.stored(FacebookSession::kAccessTokenKey).isEmpty());
    QVERIFY(!f.facebook->uploadErrorMessage().contains(kToken));
  }

  void connectionRefusedFailsOnce() {
    Fixture f;
    QTcpServer closed;
    closed.listen(QHostAddress::LocalHost);
    const quint16 port = closed.serverPort();
    closed.close();
    FacebookConfig config;
    config.appId = "424242";
    config.graphUrl = QUrl(QString("http://127.0.0.1:%1/").arg(port));
    config.grantsRetiredPermissions = true;
    f.facebook = std::make_unique<QSFacebook>(
        config, new TokenStore(*f.settings, TokenStore::Backend::FileOnly), &f.network);
    QTRY_VERIFY(f.facebook->session()->isOpen());
    f.upload();
    QCOMPARE(f.finish(), 1);
  }

  void cancelHalfwayReportsNothing() {
    Fixture f;
    ScriptedResponse stall;
    stall.behaviour = ScriptedResponse::Behaviour::StallUpload;
    stall.stallAfterBytes = 100000;
    f.server.enqueue("/me/photos", stall);
    f.facebook->cancelUpload();  // nothing running: nothing happens
    QImage big(1200, 900, QImage::Format_RGB32);
    for (int y = 0; y < big.height(); ++y)
      for (int x = 0; x < big.width(); ++x) big.setPixel(x, y, qRgb(x * 7, y * 13, x ^ y));
    f.facebook->setUploadProgressBlock([&](qint64 sent, qint64) { f.progress << sent; });
    f.facebook->uploadImage(big, nullptr, {}, "c", {}, [&](int r) { f.results << r; });
    QTRY_VERIFY(!f.progress.isEmpty() && f.progress.last() > 0);
    QVERIFY(f.facebook->isUploading());
    f.facebook->cancelUpload();
    QVERIFY(!f.facebook->isUploading());
    QTest::qWait(300);
    QVERIFY(f.results.isEmpty());
    // The next upload runs normally.
    f.upload();
    QCOMPARE(f.finish(), 0);
  }

  void cancellingEverythingLeavesNothingWaiting() {
    Fixture f;
    ScriptedResponse hang;
    hang.behaviour = ScriptedResponse::Behaviour::Hang;
    f.server.enqueue("/me/photos", hang);
    f.server.enqueue("/me", hang);
    f.upload();
    QSFacebookPhotosDataSource* source = f.facebook->photosDataSource();
    source->setDelegate(&f.delegate);
    source->getItems();
    QTRY_COMPARE(f.server.requests().size(), 2);
    f.facebook->cancelAllFacebookOperations();
    QVERIFY(!f.facebook->isUploading());
    QVERIFY(!source->isGettingItems());
    QTest::qWait(100);
    QVERIFY(f.results.isEmpty() && f.delegate.statuses.isEmpty() && f.delegate.errors.isEmpty());
    // Both start again normally.
    f.server.setHandler("/me", [page = 0](const RecordedRequest&) mutable {
      return ScriptedResponse::json(200, albumPage(page++, 1, [](int) { return QString("A"); }));
    });
    source->getItems();
    QTRY_COMPARE(f.delegate.statuses, QList<int>{2});
    f.upload();
    QCOMPARE(f.finish(), 0);
  }

  void friendListsComeInAnswerOrder() {
    Fixture f;
    f.server.enqueue("/me/friendlists", ScriptedResponse::json(200, R"({"data":[
        {"id":"11","name":"Close Friends","list_type":"close_friends"},
        "junk", {"id":"12","name":"Family","list_type":"family"}]})"));
    f.server.enqueue("/me/friendlists", ScriptedResponse::json(400, R"({"error":{"code":10}})"));
    QList<QSFacebookFriendList> first;
    QList<QSFacebookFriendList> second{QSFacebookFriendList("x", "x", "x")};
    f.facebook->getFriendList([&](const QList<QSFacebookFriendList>& lists) { first = lists; });
    QTRY_COMPARE(first.size(), 2);
    QCOMPARE(first[1], QSFacebookFriendList("12", "Family", "family"));
    f.facebook->getFriendList([&](const QList<QSFacebookFriendList>& lists) { second = lists; });
    QTRY_VERIFY(second.isEmpty());
  }

  void socialHoldsOneFacebookClient() {
    QSFacebook* facebook = QSSocial::sharedSocial()->facebook();
    QVERIFY(facebook);
    QCOMPARE(QSSocial::sharedSocial()->facebook(), facebook);
  }
};

int main(int argc, char** argv) {
  QTemporaryDir home;
  // The shared instance must find neither the user's settings nor a real service.
  qputenv("XDG_CONFIG_HOME", home.filePath("config").toUtf8());
  qputenv("XDG_CACHE_HOME", home.filePath("cache").toUtf8());
  qunsetenv("DBUS_SESSION_BUS_ADDRESS");
  QApplication app(argc, argv);
  QSFacebookTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "qs_facebook_test.moc"
