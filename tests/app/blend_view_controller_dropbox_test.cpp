// The result screen's Dropbox export against a fake Dropbox on 127.0.0.1: the name prompt, the
// upload with its progress panel, the failure alert, cancel, and the sign-in that resumes the
// send. The shared client is configured through the environment, as a developer would.
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrlQuery>
#include <QtTest>

#include "camera_app_delegate.h"
#include "dropbox_session.h"
#include "plain_root_view_controller.h"
#include "private_home.h"
#include "qs_sign_in_panel.h"
#include "fake_http_server.h"
#include "qs_dropbox.h"
#include "result_screen_fixture.h"
#include "screen.h"

using namespace duo;
using duo::test::RecordedRequest;
using duo::test::ScriptedResponse;

namespace {

test::FakeHttpServer* g_server = nullptr;
const QString kFailed = "Unable to send to Dropbox.\nTry again later.";

ScriptedResponse stored(const RecordedRequest& request) {
  const QJsonObject argument =
      QJsonDocument::fromJson(request.headers.value("dropbox-api-arg")).object();
  return ScriptedResponse::json(
      200, "{\"name\": \"" + argument.value("path").toString().section('/', -1).toUtf8() + "\"}");
}

}  // namespace

class BlendViewControllerDropboxTest : public QObject {
  Q_OBJECT

  std::unique_ptr<test::ResultScreenFixture> m_f;

  QSAlertView* waitForAlert(const QString& title) {
    if (!QTest::qWaitFor([&] { return m_f->shownAlert() != nullptr; }, 10000)) return nullptr;
    QSAlertView* alert = m_f->shownAlert();
    return alert->title() == title ? alert : nullptr;
  }
  /// Answers the name prompt with `name` and "Send".
  void send(const QString& name) {
    QSAlertView* prompt = waitForAlert("Send to Dropbox");
    QVERIFY(prompt);
    QCOMPARE(prompt->message(),
             QString("What name would you like to use\nfor your Duoscope image?"));
    QCOMPARE(prompt->buttonTitleAtIndex(prompt->cancelButtonIndex()), QString("Cancel"));
    QCOMPARE(prompt->buttonTitleAtIndex(prompt->firstOtherButtonIndex()), QString("Send"));
    prompt->textFieldAtIndex(0)->setText(name);
    prompt->dismissWithClickedButtonIndex(prompt->firstOtherButtonIndex(), false);
    m_f->clock.advance(0);
  }
  void waitUntilIdle() {
    QTRY_VERIFY_WITH_TIMEOUT(!QSDropbox::sharedDropbox()->isUploading(), 10000);
    m_f->clock.advance(1);  // the panel's and the dimming's fades
    QVERIFY(!m_f->screen->progressView());
  }

 private slots:
  void init() {
    MainScreen::setSize({320, 568, false});
    m_f = std::make_unique<test::ResultScreenFixture>();
    QVERIFY(m_f->open());
    g_server->clear();
  }
  void cleanup() { m_f.reset(); }

  void linkedSendUploadsTheOutputUnderTheTypedName_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("magic");
    QTest::newRow("anaglyph as JPEG") << 1 << "/holiday.jpg" << QByteArray("\xFF\xD8\xFF");
    QTest::newRow("wigglegram as GIF") << 4 << "/holiday.gif" << QByteArray("GIF89a");
  }
  void linkedSendUploadsTheOutputUnderTheTypedName() {
    QFETCH(int, mode);
    QFETCH(QString, name);
    QFETCH(QByteArray, magic);
    QVERIFY(m_f->select(mode));
    g_server->setHandler("/2/files/upload", stored);
    m_f->screen->executeShareBarButtonIndex(6);
    m_f->clock.advance(0);
    send("  holiday.png ");
    QVERIFY(m_f->screen->progressView());
    QTRY_COMPARE(g_server->requestsTo("/2/files/upload").size(), 1);
    const RecordedRequest upload = g_server->requestsTo("/2/files/upload").first();
    QCOMPARE(QJsonDocument::fromJson(upload.headers.value("dropbox-api-arg"))
                 .object()
                 .value("path")
                 .toString(),
             name);
    QVERIFY(upload.body.startsWith(magic));
    waitUntilIdle();
    QSAlertView* shown = m_f->shownAlert();
    QVERIFY(!shown || shown->message() != kFailed);
  }

  void failedUploadSaysSo() {
    QVERIFY(m_f->select(1));
    g_server->enqueue("/2/files/upload", ScriptedResponse::json(500, "{}"));
    m_f->screen->executeShareBarButtonIndex(6);
    m_f->clock.advance(0);
    send("x");
    waitUntilIdle();
    QSAlertView* alert = waitForAlert(QString());
    QVERIFY(alert);
    QCOMPARE(alert->message(), kFailed);
    QCOMPARE(alert->numberOfButtons(), 1);
    QCOMPARE(alert->buttonTitleAtIndex(0), QString("Continue"));
  }

  void cancellingThePanelStopsTheUploadSilently() {
    QVERIFY(m_f->select(1));
    ScriptedResponse stall;
    stall.behaviour = ScriptedResponse::Behaviour::StallUpload;
    g_server->enqueue("/2/files/upload", stall);
    m_f->screen->executeShareBarButtonIndex(6);
    m_f->clock.advance(0);
    send("x");
    QTRY_COMPARE(g_server->requestsTo("/2/files/upload").size(), 1);
    QVERIFY(QSDropbox::sharedDropbox()->isUploading());
    m_f->screen->progressViewDidCancel(m_f->screen->progressView());
    waitUntilIdle();
    QTest::qWait(100);
    QVERIFY(!m_f->shownAlert());
    QVERIFY(!m_f->screen->blockingView());
    // The upload's working copy goes with it.
    const QDir working(QSDropbox::sharedDropbox()->localWorkingFolder());
    QVERIFY(!working.exists() || working.isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
  }

  void aSignInLeftInTheBrowserIsGivenUp_data() {
    QTest::addColumn<bool>("byCancel");
    QTest::addColumn<int>("mode");
    QTest::newRow("Cancel on the panel") << true << 1;
    QTest::newRow("no callback in ten minutes, wigglegram") << false << 4;
  }
  void aSignInLeftInTheBrowserIsGivenUp() {
    QFETCH(bool, byCancel);
    QFETCH(int, mode);
    // The application, for its busy overlay: the wigglegram's send dims the window first.
    SettingsStore appStore(m_f->dir.filePath("app.json"));
    CameraAppDelegate application(appStore);
    application.applicationDidFinishLaunching(new PlainRootViewController);
    m_f->clock.advance(2);
    DropboxSession* session = QSDropbox::sharedDropbox()->session();
    session->unlinkAll();
    session->setBrowserOpener([](const QUrl&) { return true; });
    QVERIFY(m_f->select(mode));
    m_f->screen->executeShareBarButtonIndex(6);
    m_f->clock.advance(0);
    QTRY_VERIFY(session->isLinking());
    // The dimming stays while the browser is out; the send that resumes would lift it.
    QCOMPARE(bool(application.messageLabel()), mode == 4);
    QSSignInPanel* panel = m_f->window->findChild<QSSignInPanel*>();
    QVERIFY(panel);
    QCOMPARE(panel->message(), QString("Waiting for you to sign in to Dropbox\nin your web browser"));
    if (byCancel) {
      panel->cancelButton()->click();
    } else {
      m_f->clock.advance(QSSignInPanel::kLifetimeSeconds - 1);
      QVERIFY(session->isLinking());
      m_f->clock.advance(1);
    }
    m_f->clock.advance(1);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!session->isLinking());
    QVERIFY(!m_f->window->findChild<QSSignInPanel*>());
    QVERIFY(!m_f->shownAlert());
    QVERIFY(!application.messageLabel());
  }

  void signInFirstThenTheSendCarriesOn() {
    DropboxSession* session = QSDropbox::sharedDropbox()->session();
    session->unlinkAll();
    QUrl page;
    session->setBrowserOpener([&page](const QUrl& url) {
      page = url;
      return true;
    });
    QVERIFY(m_f->select(1));
    m_f->screen->executeShareBarButtonIndex(6);
    m_f->clock.advance(0);
    QTRY_VERIFY(page.isValid());
    QVERIFY(!m_f->shownAlert());
    g_server->enqueue("/oauth2/token", ScriptedResponse::json(
                                           200,
                                           "{\"access_token\": \"a2\", \"token_type\": \"bearer\", "
                                           "\"refresh_token\": \"r2\"}"));
    QVERIFY(m_f->window->findChild<QSSignInPanel*>());
    const QUrlQuery asked(page);
    QUrl back(asked.queryItemValue("redirect_uri", QUrl::FullyDecoded));
    back.setQuery("code=c&state=" + asked.queryItemValue("state"));
    // The callback comes in as the desktop hands it over, to the application's routing.
    CameraAppDelegate application(*m_f->store);
    QVERIFY(application.applicationOpenURL(back));
    QTRY_VERIFY(session->isLinked());
    m_f->clock.advance(0);  // the send resumes one turn after the link
    // Linked: the name prompt follows without choosing Dropbox again.
    QVERIFY(waitForAlert("Send to Dropbox"));
    m_f->shownAlert()->dismissWithClickedButtonIndex(m_f->shownAlert()->cancelButtonIndex(), false);
    m_f->clock.advance(1);
    QVERIFY(!QSDropbox::sharedDropbox()->isUploading());
  }
};

int main(int argc, char** argv) {
  QTemporaryDir home;
  test::usePrivateHome(home);
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  test::FakeHttpServer server;
  server.listen();
  g_server = &server;
  for (const char* role : {"API", "CONTENT", "AUTH"})
    qputenv(QByteArray("DUOSCOPE_DROPBOX_") + role + "_URL", server.url().toString().toUtf8());
  qputenv("DUOSCOPE_DROPBOX_APP_KEY", "testkey");
  {
    SettingsStore settings(SettingsStore::standardFilePath());
    settings.setObject(QStringLiteral("stored-access"), DropboxSession::kAccessTokenKey);
    settings.setObject(QStringLiteral("stored-refresh"), DropboxSession::kRefreshTokenKey);
  }
  BlendViewControllerDropboxTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "blend_view_controller_dropbox_test.moc"
