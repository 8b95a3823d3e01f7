// The Dropbox client against a fake Dropbox on 127.0.0.1: names, the upload request, progress,
// faults, token refresh and sign-in with PKCE.
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTemporaryDir>
#include <QUrlQuery>
#include <QtTest>

#include "dropbox_session.h"
#include "fake_http_server.h"
#include "secret_log_suite.h"
#include "pkce.h"
#include "qs_dropbox.h"
#include "settings_store.h"
#include "token_store.h"

using namespace duo;
using duo::test::FakeHttpServer;
using duo::test::RecordedRequest;
using duo::test::ScriptedResponse;

namespace {

const QString kAccess = QStringLiteral("ACCESS-Zq81-secret");
const QString kRefresh = QStringLiteral("REFRESH-Kp27-secret");
const QString kRenewed = QStringLiteral("ACCESS-renewed-Wm55");


QByteArray uploaded(const RecordedRequest& request) {
  const QJsonObject argument =
      QJsonDocument::fromJson(request.headers.value("dropbox-api-arg")).object();
  QJsonObject metadata;
  metadata.insert("name", argument.value("path").toString().section('/', -1));
  metadata.insert("path_display", argument.value("path"));
  metadata.insert("size", double(request.bodyBytes));
  return QJsonDocument(metadata).toJson(QJsonDocument::Compact);
}

QByteArray expired() {
  return R"({"error_summary": "expired_access_token/..", "error": {".tag": "expired_access_token"}})";
}

/// A client on its own session, settings file and working folder, talking to the fake server.
struct Fixture {
  QTemporaryDir folder;
  FakeHttpServer server;
  std::unique_ptr<SettingsStore> settings;
  QNetworkAccessManager network;
  TokenStore* tokens = nullptr;
  std::unique_ptr<QSDropbox> dropbox;
  QList<int> results;
  QList<qint64> progress;

  explicit Fixture(bool linked = true, int timeoutMs = 5000) {
    server.listen();
    server.setHandler("/2/files/upload", [](const RecordedRequest& request) {
      return ScriptedResponse::json(200, uploaded(request));
    });
    settings = std::make_unique<SettingsStore>(folder.filePath("settings.json"));
    if (linked) {
      settings->setObject(kAccess, DropboxSession::kAccessTokenKey);
      settings->setObject(kRefresh, DropboxSession::kRefreshTokenKey);
    }
    tokens = new TokenStore(*settings, TokenStore::Backend::FileOnly);
    DropboxConfig config;
    config.appKey = "testkey";
    config.apiUrl = config.contentUrl = config.authUrl = server.url();
    config.timeoutMs = timeoutMs;
    auto* session = new DropboxSession(config, tokens, &network);
    tokens->setParent(session);
    dropbox = std::make_unique<QSDropbox>(session, folder.filePath("cache/Dropbox"));
    QTRY_VERIFY(session->isReady());
  }

  void upload(const QByteArray& data, const QString& title, const QString& extension = "jpg") {
    dropbox->setUploadProgressBlock([this](qint64 sent, qint64 total) {
      QCOMPARE(total, 100);
      progress << sent;
    });
    dropbox->uploadImageData(data, extension, {}, title, {},
                             [this](int result) { results << result; });
  }

  /// Waits for the completion, then a little longer for a second one that must not come.
  void finish() {
    QTRY_VERIFY_WITH_TIMEOUT(!results.isEmpty(), 10000);
    QTest::qWait(50);
    QCOMPARE(results.size(), 1);
    QVERIFY(!dropbox->isUploading());
    QVERIFY(dropbox->uploadFileName().isEmpty());
    QVERIFY2(!QDir(dropbox->localWorkingFolder()).exists(), "working folder left behind");
  }
  QString stored(const char* key) const {
    return SettingsStore(settings->filePath()).objectForKey(key).toString();
  }
};

}  // namespace

class QSDropboxTest : public test::SecretLogSuite {
  Q_OBJECT

 public:
  QSDropboxTest() : SecretLogSuite({kAccess, kRefresh, kRenewed}) {}

 private slots:
  void namesFollowTheTrimmingRules_data() {
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("extension");
    QTest::addColumn<QString>("name");  // empty: the dated default
    QTest::newRow("blanks around a name with another extension") << "  holiday.png \t"
                                                                 << "jpg"
                                                                 << "holiday.jpg";
    QTest::newRow("only slashes, dots and blanks") << " /./ .. / "
                                                   << "jpg"
                                                   << "";
    QTest::newRow("a path keeps its last component") << "a/b"
                                                     << "jpg"
                                                     << "b.jpg";
    QTest::newRow("no title") << QString() << "jpg"
                              << "";
    QTest::newRow("empty title") << ""
                                 << "gif"
                                 << "";
    QTest::newRow("only an extension is no name") << "trip/ .png"
                                                  << "jpg"
                                                  << "";
    QTest::newRow("dots inside stay") << "my.best.shot.png"
                                      << "gif"
                                      << "my.best.shot.gif";
    QTest::newRow("trimmed again after the extension goes") << "pier .png"
                                                            << "jpg"
                                                            << "pier.jpg";
    QTest::newRow("non-ASCII") << "Größe ☺"
                               << "jpg"
                               << "Größe ☺.jpg";
  }
  void namesFollowTheTrimmingRules() {
    QFETCH(QString, title);
    QFETCH(QString, extension);
    QFETCH(QString, name);
    if (name.isEmpty())
      name = QStringLiteral("Duoscope Image %1.%2")
                 .arg(QDate::currentDate().toString("yyyy-MM-dd"), extension);
    // What the service is asked to store, not only what the helper says.
    Fixture f;
    f.upload("pixels", title, extension);
    f.finish();
    QCOMPARE(f.results.first(), 0);
    const auto sent = f.server.requestsTo("/2/files/upload");
    QCOMPARE(sent.size(), 1);
    const QJsonObject argument =
        QJsonDocument::fromJson(sent[0].headers.value("dropbox-api-arg")).object();
    QCOMPARE(argument.value("path").toString(), "/" + name);
    // A second file of the same name is added beside the first, never over it.
    QCOMPARE(argument.value("mode").toString(), QString("add"));
    QCOMPARE(argument.value("autorename").toBool(), true);
    QVERIFY(!argument.contains("rev"));
    // The header itself is plain ASCII; JSON escapes carry anything else.
    for (const char c : sent[0].headers.value("dropbox-api-arg"))
      QVERIFY(uchar(c) >= 0x20 && uchar(c) < 0x7F);
    QCOMPARE(sent[0].headers.value("authorization"), "Bearer " + kAccess.toUtf8());
    QCOMPARE(sent[0].headers.value("content-type"), QByteArray("application/octet-stream"));
    QCOMPARE(sent[0].body, QByteArray("pixels"));
  }

  void progressComesInOrderAndEndsAtTheWhole() {
    Fixture f;
    QByteArray data(6 << 20, '\0');
    for (int i = 0; i < data.size(); ++i) data[i] = char(i * 131 % 251);
    f.upload(data, "big");
    f.finish();
    QCOMPARE(f.results.first(), 0);
    QVERIFY(!f.progress.isEmpty());
    QCOMPARE(f.progress.last(), 100);
    for (int i = 1; i < f.progress.size(); ++i) QVERIFY(f.progress[i - 1] <= f.progress[i]);
    QCOMPARE(f.server.requestsTo("/2/files/upload").value(0).body, data);
  }

  void faultsFailOnceAndLeaveNothingBehind_data() {
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("behaviour");
    const int respond = int(ScriptedResponse::Behaviour::Respond);
    QTest::newRow("403") << 403 << QByteArray("{\"error_summary\": \"no_write_permission/\"}")
                         << respond;
    QTest::newRow("429") << 429 << QByteArray("{\"error_summary\": \"too_many_requests/\"}")
                         << respond;
    QTest::newRow("500") << 500 << QByteArray("oops") << respond;
    QTest::newRow("401 not about the token")
        << 401 << QByteArray("{\"error\": {\".tag\": \"missing_scope\"}}") << respond;
    QTest::newRow("malformed JSON") << 200 << QByteArray("{name: x}") << respond;
    QTest::newRow("truncated JSON") << 200 << QByteArray("{\"name\": \"x.jpg\", \"size") << respond;
    QTest::newRow("JSON without a name") << 200 << QByteArray("{\"size\": 3}") << respond;
    QTest::newRow("stops mid-response") << 200 << QByteArray("{\"name\": \"x.jpg\", \"size\": 3}")
                                        << int(ScriptedResponse::Behaviour::CloseMidResponse);
    QTest::newRow("time-out") << 200 << QByteArray() << int(ScriptedResponse::Behaviour::Hang);
    QTest::newRow("connection refused") << 0 << QByteArray() << respond;
  }
  void faultsFailOnceAndLeaveNothingBehind() {
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(int, behaviour);
    Fixture f(true, 400);
    if (status == 0) {
      // A port that was just free: nothing listens there.
      QTcpServer probe;
      probe.listen(QHostAddress::LocalHost, 0);
      const quint16 port = probe.serverPort();
      probe.close();
      DropboxConfig config = f.dropbox->session()->config();
      config.contentUrl.setPort(port);
      auto* session = new DropboxSession(config, f.tokens, &f.network);
      f.tokens->setParent(session);
      f.dropbox = std::make_unique<QSDropbox>(session, f.folder.filePath("cache/Dropbox"));
      QTRY_VERIFY(session->isReady());
    } else {
      ScriptedResponse response = ScriptedResponse::json(status, body);
      response.behaviour = ScriptedResponse::Behaviour(behaviour);
      f.server.enqueue("/2/files/upload", response);
    }
    f.upload("pixels", "fault");
    f.finish();
    QCOMPARE(f.results.first(), 1);
    // None of these says the sign-in is gone, and none is retried with a refresh.
    QVERIFY(f.dropbox->session()->isLinked());
    QVERIFY(f.server.requestsTo("/oauth2/token").isEmpty());
    // The next upload is unaffected.
    f.results.clear();
    if (status == 0) return;
    f.upload("pixels", "again");
    f.finish();
    QCOMPARE(f.results.first(), 0);
  }

  void rejectedTokenIsRefreshedOnce_data() {
    QTest::addColumn<int>("refreshStatus");
    QTest::addColumn<QByteArray>("refreshBody");
    QTest::addColumn<int>("retryStatus");
    QTest::addColumn<int>("result");
    QTest::addColumn<bool>("linked");
    const QByteArray renewed = "{\"access_token\": \"" + kRenewed.toUtf8() +
                               "\", \"token_type\": \"bearer\", \"expires_in\": 14400}";
    QTest::newRow("renewed, sent again") << 200 << renewed << 200 << 0 << true;
    QTest::newRow("renewed, rejected again") << 200 << renewed << 401 << 1 << true;
    QTest::newRow("refresh refused: unlinked")
        << 400
        << QByteArray(
               "{\"error\": \"invalid_grant\", \"error_description\": \"refresh token is "
               "invalid\"}")
        << 0 << 1 << false;
    QTest::newRow("refresh endpoint down: still linked")
        << 503 << QByteArray("busy") << 0 << 1 << true;
    QTest::newRow("refresh answer unreadable")
        << 200 << QByteArray("{\"access_token\": ") << 0 << 1 << true;
  }
  void rejectedTokenIsRefreshedOnce() {
    QFETCH(int, refreshStatus);
    QFETCH(QByteArray, refreshBody);
    QFETCH(int, retryStatus);
    QFETCH(int, result);
    QFETCH(bool, linked);
    Fixture f;
    QSignalSpy unlinked(f.dropbox->session(), &DropboxSession::unlinked);
    f.server.enqueue("/2/files/upload", ScriptedResponse::json(401, expired()));
    if (retryStatus == 401)
      f.server.enqueue("/2/files/upload", ScriptedResponse::json(401, expired()));
    f.server.enqueue("/oauth2/token", ScriptedResponse::json(refreshStatus, refreshBody));
    f.upload(QByteArray(300000, 'x'), "retry");
    f.finish();
    QCOMPARE(f.results.first(), result);
    QCOMPARE(f.dropbox->session()->isLinked(), linked);
    QCOMPARE(unlinked.size(), linked ? 0 : 1);

    const auto refreshes = f.server.requestsTo("/oauth2/token");
    QCOMPARE(refreshes.size(), 1);
    const QUrlQuery form(QString::fromUtf8(refreshes[0].body));
    QCOMPARE(form.queryItemValue("grant_type"), QString("refresh_token"));
    QCOMPARE(form.queryItemValue("refresh_token", QUrl::FullyDecoded), kRefresh);
    QCOMPARE(form.queryItemValue("client_id"), QString("testkey"));
    const auto uploads = f.server.requestsTo("/2/files/upload");
    QCOMPARE(uploads.size(), retryStatus != 0 ? 2 : 1);
    if (uploads.size() == 2) {
      QCOMPARE(uploads[1].headers.value("authorization"), "Bearer " + kRenewed.toUtf8());
      QCOMPARE(f.stored(DropboxSession::kAccessTokenKey), kRenewed);
      QCOMPARE(f.stored(DropboxSession::kRefreshTokenKey), kRefresh);
    }
    if (!linked) {
      QTRY_VERIFY(f.stored(DropboxSession::kRefreshTokenKey).isEmpty());
      QVERIFY(f.stored(DropboxSession::kAccessTokenKey).isEmpty());
    }
    // Progress never goes back, even though the file went out twice.
    for (int i = 1; i < f.progress.size(); ++i) QVERIFY(f.progress[i - 1] <= f.progress[i]);
  }

  void cancelHalfwayCallsNoCompletionAndCleansUp() {
    Fixture f;
    ScriptedResponse stall;
    stall.behaviour = ScriptedResponse::Behaviour::StallUpload;
    stall.stallAfterBytes = 1 << 20;
    f.server.enqueue("/2/files/upload", stall);
    QSignalSpy received(&f.server, &FakeHttpServer::requestReceived);
    f.upload(QByteArray(32 << 20, 'c'), "halfway");
    QTRY_VERIFY(!received.isEmpty());
    QVERIFY(f.dropbox->isUploading());
    QVERIFY(QDir(f.dropbox->localWorkingFolder()).exists());
    f.dropbox->cancelUpload();
    QVERIFY(!f.dropbox->isUploading());
    QVERIFY(!QDir(f.dropbox->localWorkingFolder()).exists());
    QTest::qWait(200);
    QVERIFY(f.results.isEmpty());
    QVERIFY(f.progress.isEmpty() || f.progress.last() < 100);
    // Nothing of the cancelled upload reaches the next one.
    f.upload("next", "next");
    f.finish();
    QCOMPARE(f.results, QList<int>{0});
  }

  void unlinkedUploadFailsWithoutAsking() {
    Fixture f(false);
    QVERIFY(!f.dropbox->session()->isLinked());
    f.upload("pixels", "x");
    QVERIFY(f.results.isEmpty());  // never inside the call
    f.finish();
    QCOMPARE(f.results.first(), 1);
    QVERIFY(f.server.requests().isEmpty());
  }

  void signInSendsTheChallengeOfTheVerifier_data() {
    QTest::addColumn<bool>("throughLoopback");
    QTest::newRow("browser back at the loopback redirect") << true;
    QTest::newRow("callback URL handed in") << false;
  }
  void signInSendsTheChallengeOfTheVerifier() {
    QFETCH(bool, throughLoopback);
    Fixture f(false);
    f.server.enqueue(
        "/oauth2/token",
        ScriptedResponse::json(200, "{\"access_token\": \"" + kAccess.toUtf8() +
                                        "\", \"token_type\": \"bearer\", \"expires_in\": 14400, "
                                        "\"refresh_token\": \"" +
                                        kRefresh.toUtf8() + "\"}"));
    DropboxSession* session = f.dropbox->session();
    QUrl page;
    session->setBrowserOpener([&page](const QUrl& url) {
      page = url;
      return true;
    });
    QSignalSpy linked(session, &DropboxSession::linked);
    QVERIFY(session->linkFromController(nullptr));
    QTRY_VERIFY(page.isValid());
    const QUrlQuery asked(page);
    QCOMPARE(page.path(), QString("/oauth2/authorize"));
    QCOMPARE(asked.queryItemValue("client_id"), QString("testkey"));
    QCOMPARE(asked.queryItemValue("response_type"), QString("code"));
    QCOMPARE(asked.queryItemValue("code_challenge_method"), QString("S256"));
    QCOMPARE(asked.queryItemValue("token_access_type"), QString("offline"));
    const QByteArray verifier = session->authorizationFlow()->codeVerifier();
    QVERIFY(verifier.size() >= 43 && verifier.size() <= 128);
    QCOMPARE(asked.queryItemValue("code_challenge").toLatin1(), Pkce::challengeFor(verifier));
    const QUrl redirect(asked.queryItemValue("redirect_uri", QUrl::FullyDecoded));
    QCOMPARE(redirect.host(), QString("127.0.0.1"));

    // A callback with another state is not this sign-in's (another window's, or forged).
    QUrl forged = redirect;
    forged.setQuery("code=stolen&state=wrong");
    QVERIFY(!session->handleOpenURL(forged));
    QTest::qWait(100);
    QVERIFY(f.server.requestsTo("/oauth2/token").isEmpty());

    QUrl back = redirect;
    back.setQuery("code=the-code&state=" + asked.queryItemValue("state"));
    if (throughLoopback) {
      std::unique_ptr<QNetworkReply> reply(f.network.get(QNetworkRequest(back)));
      QTRY_VERIFY(reply->isFinished());
      QCOMPARE(reply->error(), QNetworkReply::NoError);
    } else {
      QVERIFY(!session->handleOpenURL(QUrl("db-otherkey://2/token?code=x")));
      QVERIFY(session->handleOpenURL(back));
    }
    QTRY_COMPARE(linked.size(), 1);
    QVERIFY(session->isLinked());
    const auto exchange = f.server.requestsTo("/oauth2/token");
    QCOMPARE(exchange.size(), 1);
    const QUrlQuery form(QString::fromUtf8(exchange[0].body));
    QCOMPARE(form.queryItemValue("grant_type"), QString("authorization_code"));
    QCOMPARE(form.queryItemValue("code"), QString("the-code"));
    QCOMPARE(form.queryItemValue("code_verifier").toLatin1(), verifier);
    QCOMPARE(QUrl(form.queryItemValue("redirect_uri", QUrl::FullyDecoded)), redirect);
    QTRY_COMPARE(f.stored(DropboxSession::kRefreshTokenKey), kRefresh);
    QCOMPARE(f.stored(DropboxSession::kAccessTokenKey), kAccess);
  }

  void sharedInstancesAreCreatedOnce() {
    QSDropbox* first = nullptr;
    QThread racer;
    QObject::connect(&racer, &QThread::started, [&first] { first = QSDropbox::sharedDropbox(); });
    racer.start();
    QSDropbox* second = QSDropbox::sharedDropbox();
    racer.quit();
    racer.wait();
    QCOMPARE(first, second);
    QCOMPARE(second->thread(), QCoreApplication::instance()->thread());
  }
};

int main(int argc, char** argv) {
  QTemporaryDir home;
  // The shared instance must find neither the user's settings nor a real service.
  qputenv("XDG_CONFIG_HOME", home.filePath("config").toUtf8());
  qputenv("XDG_CACHE_HOME", home.filePath("cache").toUtf8());
  qunsetenv("DBUS_SESSION_BUS_ADDRESS");
  QCoreApplication app(argc, argv);
  QSDropboxTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "qs_dropbox_test.moc"
