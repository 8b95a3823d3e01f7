// Sign-in callbacks reaching a window through its instance socket, sent by the real
// `duoscope URL` as the desktop starts it: the application's routing with the Dropbox, Facebook
// and Flickr clients on a fake service, and two windows that each get only their own callback.
#include <QNetworkAccessManager>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QUrlQuery>
#include <QtTest>

#include "camera_app_delegate.h"
#include "dropbox_session.h"
#include "fake_http_server.h"
#include "instance_url_server.h"
#include "private_home.h"
#include "qs_dropbox.h"
#include "qs_facebook.h"
#include "qs_flickr.h"
#include "qs_social.h"
#include "runtime_folder.h"
#include "settings_store.h"
#include "token_store.h"

using namespace duo;
using duo::test::FakeHttpServer;
using duo::test::ScriptedResponse;

namespace {

const QString kFlickrKey = QStringLiteral("0123456789abcdef0123456789abcdef");
const QString kFlickrCallback = "flickr" + kFlickrKey + "://authorize";
FakeHttpServer* g_server = nullptr;

/// What `duoscope URL…` ended with.
struct Sent {
  int exitCode = -1;
  QString error;
};

/// Runs `duoscope` with `urls` while this process goes on serving its sockets.
Sent handOver(const QStringList& urls) {
  QProcess process;
  process.start(QStringLiteral(DUOSCOPE_APP_PATH), urls);
  [&] { QTRY_VERIFY_WITH_TIMEOUT(process.state() == QProcess::NotRunning, 20000); }();
  return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
          QString::fromLocal8Bit(process.readAllStandardError())};
}

ScriptedResponse form(const QByteArray& body) {
  ScriptedResponse response;
  response.body = body;
  response.headers = {{"Content-Type", "text/plain"}};
  return response;
}

/// How the services stand when the callback arrives.
enum class Waiting { FlickrForCallback, FlickrTokenStep, Dropbox, Facebook };

}  // namespace

Q_DECLARE_METATYPE(Waiting)

class UrlHandoffRoutingTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir m_dir;
  QNetworkAccessManager m_network;
  std::unique_ptr<SettingsStore> m_settings;
  std::unique_ptr<TokenStore> m_tokens;
  QList<QUrl> m_browser;

  /// A Flickr client on the fake service that has asked for a request token (owned by the
  /// caller, and gone before the test ends: it writes to this test's token store).
  QSFlickr* flickrSigningIn(const QByteArray& requestToken, bool tokenStepHangs = false) {
    FlickrConfig config;
    config.apiKey = kFlickrKey;
    config.sharedSecret = QStringLiteral("fedcba9876543210");
    config.apiUrl = config.uploadUrl = config.authUrl = g_server->url();
    auto* flickr = new QSFlickr(config, m_tokens.get(), &m_network);
    flickr->setBrowserOpener([this](const QUrl& url) {
      m_browser << url;
      return true;
    });
    ScriptedResponse token =
        form("oauth_callback_confirmed=true&oauth_token=" + requestToken + "&oauth_token_secret=s");
    if (tokenStepHangs) token.behaviour = ScriptedResponse::Behaviour::Hang;
    g_server->enqueue("/services/oauth/request_token", token);
    const qsizetype opened = m_browser.size();
    flickr->login();
    [&] {
      if (tokenStepHangs)
        QTRY_VERIFY(!g_server->requestsTo("/services/oauth/request_token").isEmpty());
      else
        QTRY_COMPARE(m_browser.size(), opened + 1);
    }();
    return flickr;
  }

 private slots:
  void init() {
    QFile::remove(m_dir.filePath("settings.json"));  // no sign-in stays from the last test
    m_settings = std::make_unique<SettingsStore>(m_dir.filePath("settings.json"));
    m_tokens = std::make_unique<TokenStore>(*m_settings, TokenStore::Backend::FileOnly);
    g_server->clear();
    m_browser.clear();
  }
  void cleanup() {
    QSSocial::sharedSocial()->setFlickr(nullptr);
    QSSocial::sharedSocial()->setFacebook(nullptr);
    QSDropbox::sharedDropbox()->session()->cancelLink();
    m_tokens.reset();
  }

  void callbacksReachOnlyTheSignInWaitingForThem_data() {
    QTest::addColumn<Waiting>("waiting");
    QTest::addColumn<QString>("callback");  // {state}: the state of the sign-in under way
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("exchange");  // the token request the callback may start
    QTest::addColumn<int>("exchanges");
    const QByteArray flickrExchange = "/services/oauth/access_token";
    QTest::newRow("flickr with the pending token")
        << Waiting::FlickrForCallback << kFlickrCallback + "?oauth_token=REQ-1&oauth_verifier=V9"
        << 0 << flickrExchange << 1;
    QTest::newRow("flickr while a sign-in step runs")
        << Waiting::FlickrTokenStep << kFlickrCallback + "?oauth_token=REQ-1&oauth_verifier=V9" << 0
        << flickrExchange << 0;
    QTest::newRow("flickr without a verifier")
        << Waiting::FlickrForCallback << kFlickrCallback + "?oauth_token=REQ-1" << 1
        << flickrExchange << 0;
    QTest::newRow("facebook with its state")
        << Waiting::Facebook << "fb424242://authorize?code=C1&state={state}" << 0
        << QByteArray("/oauth/access_token") << 1;
    QTest::newRow("fb scheme of another application")
        << Waiting::Facebook << "fb999://authorize?code=C1&state={state}" << 1
        << QByteArray("/oauth/access_token") << 0;
    QTest::newRow("any other scheme")
        << Waiting::FlickrForCallback
        << "otherapp://authorize?oauth_token=REQ-1&oauth_verifier=V9&code=C1" << 1 << flickrExchange
        << 0;
    QTest::newRow("dropbox with a wrong state")
        << Waiting::Dropbox << "{redirect}?code=C1&state=not-{state}" << 1
        << QByteArray("/oauth2/token") << 0;
    QTest::newRow("dropbox sign-in refused")
        << Waiting::Dropbox << "{redirect}?error=access_denied&state={state}" << 0
        << QByteArray("/oauth2/token") << 0;
  }
  void callbacksReachOnlyTheSignInWaitingForThem() {
    QFETCH(Waiting, waiting);
    QFETCH(QString, callback);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, exchange);
    QFETCH(int, exchanges);
    SettingsStore store(m_dir.filePath("app-settings.json"));
    CameraAppDelegate delegate(store);
    InstanceUrlServer server(
        [&delegate](const QUrl& url) { return delegate.applicationOpenURL(url); });
    QString error;
    QVERIFY2(server.listen(&error), qPrintable(error));

    DropboxSession* dropbox = QSDropbox::sharedDropbox()->session();
    QSignalSpy dropboxFailed(dropbox, &DropboxSession::linkFailed);
    QSignalSpy dropboxLinked(dropbox, &DropboxSession::linked);
    if (waiting == Waiting::FlickrForCallback || waiting == Waiting::FlickrTokenStep) {
      QSSocial::sharedSocial()->setFlickr(
          flickrSigningIn("REQ-1", waiting == Waiting::FlickrTokenStep));
    } else if (waiting == Waiting::Facebook) {
      FacebookConfig config;
      config.appId = QStringLiteral("424242");
      config.graphUrl = g_server->url().resolved(QUrl("/"));
      config.dialogUrl = g_server->url().resolved(QUrl("/dialog/oauth"));
      auto* facebook = new QSFacebook(
          config, new TokenStore(*m_settings, TokenStore::Backend::FileOnly), &m_network);
      facebook->setBrowserOpener([this](const QUrl& url) {
        m_browser << url;
        return true;
      });
      QSSocial::sharedSocial()->setFacebook(facebook);
      facebook->login();
    } else {
      dropbox->setBrowserOpener([this](const QUrl& url) {
        m_browser << url;
        return true;
      });
      QVERIFY2(dropbox->linkFromController(nullptr), "the Dropbox redirect port is taken");
    }
    if (waiting != Waiting::FlickrTokenStep) QTRY_COMPARE(m_browser.size(), 1);
    const QUrlQuery page(m_browser.value(0));
    callback.replace("{redirect}", page.queryItemValue("redirect_uri", QUrl::FullyDecoded))
        .replace("{state}", page.queryItemValue("state"));

    const Sent sent = handOver({callback});
    QCOMPARE(sent.exitCode, exitCode);
    QCOMPARE(sent.error.isEmpty(), exitCode == 0);
    if (exitCode != 0)
      QVERIFY2(sent.error.contains("no window was waiting"), qPrintable(sent.error));
    QTest::qWait(200);  // a token request that must not be made has had time to go out
    QCOMPARE(g_server->requestsTo(exchange).size(), exchanges);
    if (waiting == Waiting::Dropbox) {
      // A refused sign-in ends it, and nothing carries on as if linked.
      QCOMPARE(dropboxFailed.size(), exitCode == 0 ? 1 : 0);
      QCOMPARE(dropboxLinked.size(), 0);
      QVERIFY(!dropbox->isLinked());
      QVERIFY(g_server->requestsTo("/2/files/upload").isEmpty());
    }
  }

  void twoWindowsEachTakeOnlyTheirOwnCallback() {
    QList<QUrl> takenByA;
    QList<QUrl> takenByB;
    const std::unique_ptr<QSFlickr> flickrA(flickrSigningIn("REQ-A"));
    const std::unique_ptr<QSFlickr> flickrB(flickrSigningIn("REQ-B"));
    const auto handler = [](QSFlickr* flickr, QList<QUrl>* taken) {
      return [flickr, taken](const QUrl& url) {
        const bool handled = flickr->handleOpenURL(url);
        if (handled) *taken << url;
        return handled;
      };
    };
    InstanceUrlServer windowA(handler(flickrA.get(), &takenByA));
    InstanceUrlServer windowB(handler(flickrB.get(), &takenByB));
    QString error;
    QVERIFY2(windowA.listen(&error), qPrintable(error));
    QVERIFY2(windowB.listen(RuntimeFolder::path(), "instance-b.sock", &error), qPrintable(error));

    const QUrl forB(kFlickrCallback + "?oauth_token=REQ-B&oauth_verifier=VB");
    const QUrl forA(kFlickrCallback + "?oauth_token=REQ-A&oauth_verifier=VA");
    // Both in one start, as the desktop may pass several URLs.
    QCOMPARE(handOver({forB.toString(), forA.toString()}).exitCode, 0);
    QCOMPARE(takenByA, QList<QUrl>{forA});
    QCOMPARE(takenByB, QList<QUrl>{forB});
    const Sent again = handOver({forA.toString()});
    QCOMPARE(again.exitCode, 1);
    QVERIFY2(again.error.contains("no window was waiting"), qPrintable(again.error));
    QCOMPARE(takenByA.size(), 1);
  }
};

int main(int argc, char** argv) {
  QTemporaryDir home;
  test::usePrivateHome(home);
  // The sockets of this suite's windows, and of no one else's.
  qputenv("XDG_RUNTIME_DIR", home.path().toUtf8());
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  FakeHttpServer server;
  server.listen();
  g_server = &server;
  server.setHandler("/oauth/access_token", [](const test::RecordedRequest&) {
    return ScriptedResponse::json(200, R"({"access_token": "fb-token", "token_type": "bearer"})");
  });
  for (const char* role : {"API", "CONTENT", "AUTH"})
    qputenv(QByteArray("DUOSCOPE_DROPBOX_") + role + "_URL", server.url().toString().toUtf8());
  qputenv("DUOSCOPE_DROPBOX_APP_KEY", "testkey");
  UrlHandoffRoutingTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "url_handoff_routing_test.moc"
