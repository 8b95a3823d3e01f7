// Posting from the result screen to the photo services, each against a fake service on
// 127.0.0.1: the share picker, the upload screen with its pickers, the post with its progress,
// the rating prompt, the failure messages, and the sign-in that waits for the browser.
#include <QTextEdit>
#include <QtTest>

#include "bar_button_item.h"
#include "blend_screen_test_base.h"
#include "camera_app_delegate.h"
#include "dropbox_session.h"
#include "facebook_session.h"
#include "fake_http_server.h"
#include "private_home.h"
#include "qs_dropbox.h"
#include "qs_facebook.h"
#include "qs_facebook_share_view_controller.h"
#include "qs_flickr.h"
#include "qs_flickr_share_view_controller.h"
#include "qs_share_view_controller.h"
#include "qs_sign_in_panel.h"
#include "qs_social.h"
#include "service_config.h"
#include "table_view_controller.h"
#include "settings_keys.h"
#include "token_store.h"

using duo::test::FakeHttpServer;
using duo::test::RecordedRequest;
using duo::test::ScriptedResponse;

namespace {

const QString kFlickrKey = "0123456789abcdef0123456789abcdef";
const QByteArray kFlickrOk = "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n"
                             "<rsp stat=\"ok\">\n<photoid>4242</photoid>\n</rsp>\n";

ScriptedResponse text(int status, const QByteArray& body) {
  ScriptedResponse response;
  response.status = status;
  response.body = body;
  response.headers = {{"Content-Type", "text/xml"}};
  return response;
}

struct Services {
  FakeHttpServer facebook, flickr, dropbox;
  QTemporaryDir folder;
  std::unique_ptr<SettingsStore> settings;
  std::unique_ptr<TokenStore> facebookTokens, flickrTokens;
  QNetworkAccessManager network;
};
Services* g = nullptr;

QString shotsDir() { return qEnvironmentVariable("DUOSCOPE_SHOTS_DIR"); }

}  // namespace

class BlendViewControllerUploadTest : public BlendScreenTestBase {
  Q_OBJECT

  std::unique_ptr<CameraAppDelegate> m_delegate;

  /// Facebook and Flickr clients of their own on the fake services, signed in or not.
  void installClients(bool signedIn) {
    g->settings = std::make_unique<SettingsStore>(g->folder.filePath("services.json"));
    if (signedIn) {
      g->settings->setObject("fb-token", FacebookSession::kAccessTokenKey);
      g->settings->setObject("public_profile,user_photos,publish_actions", FacebookSession::kPermissionsKey);
      g->settings->setObject("flickr-token", QSFlickr::kOAuthTokenKey);
      g->settings->setObject("flickr-secret", QSFlickr::kOAuthTokenSecretKey);
    } else {
      for (const char* key : {FacebookSession::kAccessTokenKey, FacebookSession::kPermissionsKey,
                              QSFlickr::kOAuthTokenKey, QSFlickr::kOAuthTokenSecretKey})
        g->settings->removeObjectForKey(QString::fromLatin1(key));
    }
    g->facebookTokens = std::make_unique<TokenStore>(*g->settings, TokenStore::Backend::FileOnly);
    g->flickrTokens = std::make_unique<TokenStore>(*g->settings, TokenStore::Backend::FileOnly);
    FacebookConfig facebook;
    facebook.appId = "4242";
    facebook.graphUrl = g->facebook.url().resolved(QUrl("/"));
    facebook.dialogUrl = g->facebook.url().resolved(QUrl("/dialog/oauth"));
    facebook.grantsRetiredPermissions = true;
    auto* fb = new QSFacebook(facebook, new TokenStore(*g->settings, TokenStore::Backend::FileOnly), &g->network);
    fb->setBrowserOpener([this](const QUrl& url) { m_browser << url; return true; });
    QSSocial::sharedSocial()->setFacebook(fb);
    FlickrConfig flickr;
    flickr.apiKey = kFlickrKey;
    flickr.sharedSecret = "0123456789abcdef";
    flickr.apiUrl = flickr.uploadUrl = flickr.authUrl = g->flickr.url();
    auto* fl = new QSFlickr(flickr, g->flickrTokens.get(), &g->network);
    fl->setBrowserOpener([this](const QUrl& url) { m_browser << url; return true; });
    QSSocial::sharedSocial()->setFlickr(fl);
    fl->flickrContext();
    QTRY_VERIFY(fl->isReady());
  }

  QList<QUrl> m_browser;

  /// The upload screen shown over the result screen, once in place.
  template <typename Screen>
  Screen* uploadScreen() {
    for (int i = 0; i < 100; ++i) {
      if (auto* screen = m_screen->findChild<Screen*>(); screen && screen->isViewLoaded()) return screen;
      m_clock.advance(0.05);
    }
    return nullptr;
  }
  /// Chooses `index` in the share picker and waits for the export to start.
  void share(int index) {
    QSShareViewController* picker = openSharePicker();
    QVERIFY(picker);
    QVERIFY(picker->buttonForIndex(index) && picker->buttonForIndex(index)->isEnabled());
    picker->buttonForIndex(index)->click();
    m_clock.advance(0.5);
    m_clock.advance(0);
  }
  void saveShot(const QString& name) {
    if (!shotsDir().isEmpty()) saveScreenshot(m_window.get(), shotsDir() + "/" + name);
  }
  /// Runs the clock in steps until `done` or `seconds` of real time have passed.
  bool waitFor(const std::function<bool()>& done, int ms = 10000) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < ms) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
      m_clock.advance(0.05);
    }
    return done();
  }

 private slots:
  void init() {
    setUp();
    // Five days since the last prompt: a post leads to it.
    m_store->setObject(QDateTime::currentDateTimeUtc().addDays(-10), keys::kLastRatingDate);
    m_delegate = std::make_unique<CameraAppDelegate>(*m_store);
    installClients(true);
    m_browser.clear();
    for (FakeHttpServer* server : {&g->facebook, &g->flickr, &g->dropbox}) server->clear();
    g->facebook.setHandler("/me/photos", [](const RecordedRequest&) {
      return ScriptedResponse::json(200, R"({"id": "777"})");
    });
    g->facebook.setHandler("/me/permissions", [](const RecordedRequest&) {
      return ScriptedResponse::json(200, R"({"data": [{"permission": "publish_actions", "status": "granted"}]})");
    });
    g->flickr.setHandler("/services/upload/", [](const RecordedRequest&) {
      return text(200, kFlickrOk);
    });
    g->flickr.setHandler("/services/rest/", [](const RecordedRequest&) {
      return ScriptedResponse::json(200, R"({"stat": "ok"})");
    });
    g->dropbox.setHandler("/2/files/upload", [](const RecordedRequest&) {
      return ScriptedResponse::json(200, R"({"name": "x"})");
    });
  }
  void cleanup() {
    m_delegate.reset();
    tearDown();
  }

  void postsFromTheResultScreen_data() {
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("mode");
    for (int mode : {1, 2, 3}) {
      QTest::addRow("Facebook, mode %d", mode) << 3 << mode;
      QTest::addRow("Flickr, mode %d", mode) << 5 << mode;
    }
    for (int mode : {1, 2, 3, 4}) QTest::addRow("Dropbox, mode %d", mode) << 6 << mode;
  }
  void postsFromTheResultScreen() {
    QFETCH(int, index);
    QFETCH(int, mode);
    QVERIFY(open());
    m_screen->reachability()->setStatusForTesting(1);
    select(mode);
    share(index);
    if (index == 6) {
      QVERIFY(waitFor([this] { return shownAlert() != nullptr; }));  // once the stored link is read
      QSAlertView* prompt = shownAlert();
      QCOMPARE(prompt->title(), QString("Send to Dropbox"));
      if (mode == 1) {
        m_clock.advance(0.5);  // the prompt's entrance
        saveShot("dropbox-name-prompt.png");
      }
      prompt->textFieldAtIndex(0)->setText("holiday");
      prompt->dismissWithClickedButtonIndex(prompt->firstOtherButtonIndex(), false);
      m_clock.advance(0);
      QVERIFY(m_screen->progressView());
      QVERIFY(waitFor([] { return !QSDropbox::sharedDropbox()->isUploading(); }));
      QCOMPARE(g->dropbox.requestsTo("/2/files/upload").size(), 1);
    } else {
      QSShareView2Controller* screen = index == 3
          ? static_cast<QSShareView2Controller*>(uploadScreen<QSFacebookShareViewController>())
          : uploadScreen<QSFlickrShareViewController>();
      QVERIFY(screen);
      QCOMPARE(screen->textView()->toPlainText(), QString("Check out my Duoscope photo"));
      QVERIFY(waitFor([screen] { return screen->postButton()->isEnabled(); }));  // the stored sign-in
      QCOMPARE(screen->logoutButton()->title(), QString("Logout"));
      screen->textView()->setPlainText("Bridge in 3-D");
      screen->postButton()->trigger();
      QVERIFY(screen->progressView());
      QVERIFY(screen->blockingView());
      const QByteArray path = index == 3 ? "/me/photos" : "/services/upload/";
      FakeHttpServer& server = index == 3 ? g->facebook : g->flickr;
      QVERIFY(waitFor([&] { return !server.requestsTo(path).isEmpty(); }));
      QVERIFY(server.requestsTo(path).first().body.contains("Bridge in 3-D"));
      QVERIFY(server.requestsTo(path).first().body.contains("\xFF\xD8\xFF"));  // a JPEG
      QVERIFY(waitFor([this] { return !m_screen->findChild<QSShareView2Controller*>(); }));
    }
    m_clock.advance(1);
    QSAlertView* rating = shownAlert();
    QVERIFY(rating);
    QCOMPARE(rating->title(), QString("Help Spread the Word"));
    QVERIFY(!m_screen->isShowingModal());
  }

  void failuresSaySo_data() {
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("message");
    QTest::newRow("Facebook") << 3 << "Unable to send to Facebook.\nTry again later.";
    QTest::newRow("Flickr") << 5 << "Unable to send to Flickr.\nTry again later.";
  }
  void failuresSaySo() {
    QFETCH(int, index);
    QFETCH(QString, message);
    g->facebook.setHandler("/me/photos", [](const RecordedRequest&) {
      return ScriptedResponse::json(500, R"({"error": {"code": 2}})");
    });
    g->flickr.setHandler("/services/upload/", [](const RecordedRequest&) {
      return ScriptedResponse::json(500, "{}");
    });
    QVERIFY(open());
    m_screen->reachability()->setStatusForTesting(1);
    select(1);
    share(index);
    QSShareView2Controller* screen = m_screen->findChild<QSShareView2Controller*>();
    QVERIFY(waitFor([&] { return (screen = m_screen->findChild<QSShareView2Controller*>()) && screen->isViewLoaded(); }));
    QVERIFY(waitFor([screen] { return screen->postButton()->isEnabled(); }));
    screen->postButton()->trigger();
    QVERIFY(waitFor([this] { return shownAlert() != nullptr; }));
    QCOMPARE(shownAlert()->message(), message);
    QCOMPARE(shownAlert()->buttonTitleAtIndex(0), QString("Continue"));
  }

  void signInWaitsForTheBrowserAndCanBeGivenUp() {
    installClients(false);
    QVERIFY(open());
    m_screen->reachability()->setStatusForTesting(1);
    select(1);
    g->flickr.enqueue("/services/oauth/request_token",
                      text(200, "oauth_callback_confirmed=true&oauth_token=REQ-1&oauth_token_secret=s"));
    share(5);
    auto* screen = uploadScreen<QSFlickrShareViewController>();
    QVERIFY(screen);
    QVERIFY(waitFor([this] { return !m_browser.isEmpty(); }));
    m_clock.advance(1);
    QCOMPARE(screen->logoutButton()->title(), QString("Login"));
    QVERIFY(!screen->postButton()->isEnabled());
    QVERIFY(screen->signInPanel());
    QVERIFY(screen->signInPanel()->message().contains("Flickr"));
    saveShot("upload-flickr-signing-in.png");
    // Given up: the browser's callback finds no sign-in waiting for it.
    screen->signInPanel()->cancelButton()->click();
    m_clock.advance(1);
    QVERIFY(!screen->signInPanel());
    QVERIFY(!m_delegate->applicationOpenURL(
        QUrl("flickr" + kFlickrKey + "://authorize?oauth_token=REQ-1&oauth_verifier=V")));
    QCOMPARE(screen->logoutButton()->title(), QString("Login"));
  }

  void signInCompletedByItsCallbackEnablesPost() {
    installClients(false);
    QVERIFY(open());
    m_screen->reachability()->setStatusForTesting(1);
    select(1);
    g->flickr.enqueue("/services/oauth/request_token",
                      text(200, "oauth_callback_confirmed=true&oauth_token=REQ-1&oauth_token_secret=s"));
    g->flickr.enqueue("/services/oauth/access_token",
                      text(200, "fullname=Jane&oauth_token=AT&oauth_token_secret=AS&user_nsid=1&username=jane"));
    share(5);
    auto* screen = uploadScreen<QSFlickrShareViewController>();
    QVERIFY(screen && waitFor([this] { return !m_browser.isEmpty(); }));
    QVERIFY(m_delegate->applicationOpenURL(
        QUrl("flickr" + kFlickrKey + "://authorize?oauth_token=REQ-1&oauth_verifier=V")));
    QVERIFY(waitFor([screen] { return screen->postButton()->isEnabled(); }));
    m_clock.advance(1);
    QCOMPARE(screen->logoutButton()->title(), QString("Logout"));
    QVERIFY(!screen->signInPanel());
  }

  void uploadScreensAndPickersLookRight_data() {
    QTest::addColumn<int>("index");
    QTest::newRow("facebook") << 3;
    QTest::newRow("flickr") << 5;
  }
  void uploadScreensAndPickersLookRight() {
    QFETCH(int, index);
    g->facebook.setHandler("/me/friendlists", [](const RecordedRequest&) {
      return ScriptedResponse::json(200, R"({"data": [{"id": "9", "name": "Climbing", "list_type": "user_created"}]})");
    });
    g->flickr.setHandler("/services/rest/", [](const RecordedRequest&) {
      return ScriptedResponse::json(200, R"({"photosets": {"photoset": [
        {"id": "72", "title": {"_content": "Bridges"}, "description": {"_content": ""}}]}, "stat": "ok"})");
    });
    QVERIFY(open());
    m_screen->reachability()->setStatusForTesting(1);
    select(1);
    share(index);
    QSShareView2Controller* screen = index == 3
        ? static_cast<QSShareView2Controller*>(uploadScreen<QSFacebookShareViewController>())
        : uploadScreen<QSFlickrShareViewController>();
    QVERIFY(screen);
    m_clock.advance(1);
    const QString name = QTest::currentDataTag();
    QCOMPARE(screen->title(), index == 3 ? QString("Facebook") : QString("Flickr"));
    QWidget* container = screen->shareNavigationController()->view();
    QCOMPARE(container->geometry(), QRect(15, 20, 290, 282 + 44));  // with the toolbar under the rows
    saveShot("upload-" + name + ".png");
    // The audience picker, pushed into the container and back with the choice.
    screen->tableViewDidSelectRow(2);
    QVERIFY(waitFor([screen] { return screen->shareNavigationController()->viewControllers().size() == 2; }));
    m_clock.advance(1);
    QCoreApplication::processEvents();
    m_clock.advance(1);
    saveShot("upload-" + name + "-audience.png");
    auto* picker = qobject_cast<TableViewController*>(screen->shareNavigationController()->topViewController());
    QVERIFY(picker);
    picker->selectRow(1);
    m_clock.advance(2);
    QCOMPARE(screen->shareNavigationController()->viewControllers().size(), size_t(1));
    const auto* detail = screen->cellForRow(2)->findChild<QLabel*>("DetailTextLabel");
    QCOMPARE(detail->text(), QString("Friends"));
    screen->tableViewDidSelectRow(1);
    QVERIFY(waitFor([screen, index] {
      auto* top = qobject_cast<TableViewController*>(screen->shareNavigationController()->topViewController());
      return screen->shareNavigationController()->viewControllers().size() == 2 && top &&
             (index == 3 || top->numberOfRows() == 2);  // "None" and the fake account's set
    }));
    m_clock.advance(1);
    saveShot("upload-" + name + "-albums.png");
  }
};

int main(int argc, char** argv) {
  QTemporaryDir home;
  test::usePrivateHome(home);
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  Services services;
  g = &services;
  for (FakeHttpServer* server : {&services.facebook, &services.flickr, &services.dropbox}) server->listen();
  for (const char* role : {"API", "CONTENT", "AUTH"})
    qputenv(QByteArray("DUOSCOPE_DROPBOX_") + role + "_URL", services.dropbox.url().toString().toUtf8());
  qputenv("DUOSCOPE_DROPBOX_APP_KEY", "testkey");
  {
    SettingsStore settings(SettingsStore::standardFilePath());
    settings.setObject(QStringLiteral("stored-access"), DropboxSession::kAccessTokenKey);
    settings.setObject(QStringLiteral("stored-refresh"), DropboxSession::kRefreshTokenKey);
  }
  BlendViewControllerUploadTest test;
  const int status = QTest::qExec(&test, argc, argv);
  g = nullptr;
  return status;
}

#include "blend_view_controller_upload_test.moc"
