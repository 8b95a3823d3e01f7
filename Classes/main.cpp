// duoscope: the stereo photography application in a phone-shaped window.
#include <QApplication>
#include <QCommandLineParser>
#include <QFutureWatcher>
#include <QFileInfo>
#include <QIcon>
#include <QShortcut>
#include <QStandardPaths>
#include <QPointer>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <cstdio>
#include <memory>
#include <optional>

#include "app_window.h"
#include "blend_view_controller.h"
#include "camera_app_delegate.h"
#include "camera_view_controller.h"
#include "command_line_url.h"
#include "file_transfer.h"
#include "folder_camera.h"
#include "qt_camera.h"
#include "instance_cache_folder.h"
#include "instance_url_client.h"
#include "instance_url_server.h"
#include "install_paths.h"
#include "qs_alert_view.h"
#include "render_job.h"
#include "qs_features.h"
#include "received_project_loader.h"
#include "screen.h"
#include "settings_keys.h"
#include "settings_store.h"
#include "stereo/pair_loader.h"

namespace {

// The window scale last asked for with --scale; a desktop-only setting.
const QString kWindowScaleKey = QStringLiteral("WindowScale");
constexpr double kMinimumScale = 0.5;
constexpr double kMaximumScale = 4.0;

/// Whether a window can be opened at all. Without one, every error stays a line on the
/// terminal with its exit status, as for any command-line program.
bool displayAvailable(bool platformGiven) {
  if (platformGiven || !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    return true;  // offscreen, vnc, ...: Qt was told where to draw
  return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

/// A pair that could not be opened: said in the window, then on to the capture.
void reportPairError(const QString& message, duo::CameraViewController* capture) {
  std::fprintf(stderr, "duoscope: %s\n", qPrintable(message));
  auto* alert = new duo::QSAlertView(QStringLiteral("Cannot Open the Photographs"), message,
                                     QStringLiteral("Continue"));
  alert->showWithCompletion([capture = QPointer<duo::CameraViewController>(capture)](duo::QSAlertView*, int) {
    if (capture) capture->launchCurrentPhotoMethod();
  });
}

/// Hands sign-in callback URLs to the running windows, the way the desktop asks for it when a
/// service's sign-in page returns. No display is needed and none is opened. Returns the exit
/// status: 0 when every URL was taken by a window, else 1 with one line on stderr per URL.
int handOverCallbacks(const QStringList& urls, int argc, char** argv) {
  QCoreApplication app(argc, argv);
  duo::InstanceUrlClient client;
  int status = 0;
  for (const QString& text : urls) {
    if (client.deliver(QUrl(text)) == duo::InstanceUrlClient::Outcome::Handled) continue;
    std::fprintf(stderr, "duoscope: %s\n", qPrintable(client.message()));
    status = 1;
  }
  return status;
}

/// What the command line asked to open: a pair, and with a received project its sender's
/// alignment.
struct PairToOpen {
  duo::StereoPair pair;
  std::optional<duo::SentAlignment> alignment;
};

}  // namespace

int main(int argc, char** argv) {
  // The options are read before the window system is opened, so that a mistyped option is
  // reported as such even where no display can be reached.
  // Qt's own options (-platform offscreen, -style …) are for QApplication, which takes them out
  // of argv itself; they are left out of what our parser sees.
  static const QStringList qtOptionsWithValue = {
      QStringLiteral("-platform"), QStringLiteral("-platformpluginpath"),
      QStringLiteral("-platformtheme"), QStringLiteral("-plugin"), QStringLiteral("-display"),
      QStringLiteral("-style"), QStringLiteral("-stylesheet"), QStringLiteral("-qwindowgeometry"),
      QStringLiteral("-qwindowtitle"), QStringLiteral("-qwindowicon")};
  static const QStringList qtFlags = {QStringLiteral("-reverse"), QStringLiteral("-nograb"),
                                      QStringLiteral("-dograb"), QStringLiteral("-sync")};
  QStringList arguments;
  bool qtPlatformGiven = false;
  for (int i = 0; i < argc; ++i) {
    const QString argument = QString::fromLocal8Bit(argv[i]);
    if (i > 0 && qtOptionsWithValue.contains(argument) && i + 1 < argc) {
      qtPlatformGiven = qtPlatformGiven || argument == QLatin1String("-platform");
      ++i;
      continue;
    }
    if (i > 0 && qtFlags.contains(argument)) continue;
    arguments << argument;
  }
  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("Duoscope: stereo photography (anaglyphs, stereograms and wigglegrams)."));
  const QCommandLineOption helpOption({QStringLiteral("h"), QStringLiteral("help")},
                                      QStringLiteral("Show this help."));
  const QCommandLineOption versionOption(QStringLiteral("version"), QStringLiteral("Show the version."));
  const QCommandLineOption screenOption(
      QStringLiteral("screen"),
      QStringLiteral("Screen size in points: 320x480, 320x568 (default), another WIDTHxHEIGHT, "
                     "phone, phone-tall or tablet."),
      QStringLiteral("size"), QStringLiteral("320x568"));
  const QCommandLineOption leftOption(
      QStringLiteral("left"), QStringLiteral("Left photograph: open the result screen on a pair."),
      QStringLiteral("file"));
  const QCommandLineOption rightOption(
      QStringLiteral("right"), QStringLiteral("Right photograph (with --left)."), QStringLiteral("file"));
  const QCommandLineOption scaleOption(
      QStringLiteral("scale"),
      QStringLiteral("Draw the whole window this many times larger (0.5 to 4; remembered for the "
                     "next start, 1 goes back to normal)."),
      QStringLiteral("factor"));
  const QCommandLineOption cameraDirOption(
      QStringLiteral("camera-dir"),
      QStringLiteral("Take the camera's shots from the pictures in this folder, in name order "
                     "(for a computer without a camera, demonstrations and tests)."),
      QStringLiteral("folder"));
  const QCommandLineOption sbsOption(
      QStringLiteral("sbs"),
      QStringLiteral("FILE is one side-by-side image: parallel (left view on the left) or cross "
                     "(swapped; the default for .jps)."),
      QStringLiteral("layout"));
  const QCommandLineOption projectOption(
      QStringLiteral("project"),
      QStringLiteral("A project folder received from another device (left.jpg, right.jpg, "
                     "project.json): opens the result screen on it with its alignment."),
      QStringLiteral("folder"));
  const QCommandLineOption peerOption(
      QStringLiteral("peer"),
      QStringLiteral("Sending to another device also tries the receiver at HOST:PORT (for networks "
                     "where receivers cannot be found automatically)."),
      QStringLiteral("host:port"));
  const QCommandLineOption sampleOption(
      QStringLiteral("sample"),
      QStringLiteral("Open the result screen on the sample pair installed with the program."));
  parser.addOptions({helpOption, versionOption, screenOption, leftOption, rightOption, scaleOption,
                     cameraDirOption, sbsOption, peerOption, projectOption, sampleOption});
  parser.addPositionalArgument(
      QStringLiteral("FILE"),
      QStringLiteral("A whole pair in one file: an MPO from a 3-D camera, a .jps, or a side-by-side "
                     "image with --sbs. Opens the result screen on it."),
      QStringLiteral("[FILE]"));
  parser.addPositionalArgument(
      QStringLiteral("URL"),
      QStringLiteral("A sign-in callback URL (scheme://...), as the desktop passes it when a "
                     "service's sign-in page in the browser returns: handed to the running "
                     "window that waits for it, then this program exits (status 1 when no "
                     "window took it)."),
      QStringLiteral("[URL...]"));
  if (!parser.parse(arguments)) {
    std::fprintf(stderr, "duoscope: %s (try --help)\n", qPrintable(parser.errorText()));
    return 2;
  }
  if (parser.isSet(helpOption)) {
    std::fputs(qPrintable(parser.helpText().replace(QStringLiteral("<executable_name>"), QStringLiteral("duoscope"))), stdout);
    return 0;
  }
  if (parser.isSet(versionOption)) {
    std::printf("duoscope %s\n", DUOSCOPE_VERSION);
    return 0;
  }
  // Files the desktop opens with us arrive as file: URLs.
  QStringList positional;
  for (const QString& argument : parser.positionalArguments()) {
    positional << duo::CommandLineUrl::localFileArgument(argument);
    if (positional.last().startsWith(QLatin1String("file:"), Qt::CaseInsensitive) &&
        duo::CommandLineUrl::isUrlArgument(positional.last())) {
      std::fprintf(stderr, "duoscope: %s: only files on this computer can be opened\n",
                   qPrintable(argument));
      return 2;
    }
  }
  // A callback URL the desktop handed over goes to the running windows; this process starts no
  // window of its own. A file of that name is still a file.
  QStringList callbackUrls;
  for (const QString& argument : positional)
    if (duo::CommandLineUrl::isUrlArgument(argument)) callbackUrls << argument;
  if (!callbackUrls.isEmpty()) {
    if (callbackUrls.size() != positional.size() || parser.isSet(leftOption) ||
        parser.isSet(rightOption) || parser.isSet(projectOption) || parser.isSet(sbsOption) ||
        parser.isSet(sampleOption)) {
      std::fprintf(stderr,
                   "duoscope: callback URLs go to the running windows; give them without a FILE, "
                   "--left, --right, --project, --sbs or --sample\n");
      return 2;
    }
    return handOverCallbacks(callbackUrls, argc, argv);
  }
  const QString screenText = parser.value(screenOption);
  const auto screen = duo::parseScreenOption(screenText.toStdString());
  if (!screen) {
    std::fprintf(stderr,
                 "duoscope: --screen expects WIDTHxHEIGHT in points (at least 320x480, portrait), "
                 "phone, phone-tall or tablet; got '%s'\n",
                 qPrintable(screenText));
    return 2;
  }
  if (parser.isSet(leftOption) != parser.isSet(rightOption)) {
    std::fprintf(stderr, "duoscope: --left and --right go together\n");
    return 2;
  }
  QString cameraFolder;
  if (parser.isSet(cameraDirOption)) {
    cameraFolder = parser.value(cameraDirOption);
    if (!QFileInfo(cameraFolder).isDir()) {
      std::fprintf(stderr, "duoscope: --camera-dir: '%s' is not a folder\n", qPrintable(cameraFolder));
      return 2;
    }
  }
  if (parser.isSet(peerOption)) {
    const QString peer = parser.value(peerOption);
    const qsizetype colon = peer.lastIndexOf(QLatin1Char(':'));
    bool number = false;
    const int port = colon > 0 ? peer.mid(colon + 1).toInt(&number) : 0;
    if (!number || port < 1 || port > 65535) {
      std::fprintf(stderr, "duoscope: --peer expects HOST:PORT (port 1 to 65535); got '%s'\n",
                   qPrintable(peer));
      return 2;
    }
    duo::FileTransfer::setDirectPeer(peer);
  }
  std::optional<double> askedScale;
  if (parser.isSet(scaleOption)) {
    bool number = false;
    const double value = parser.value(scaleOption).toDouble(&number);
    if (!number || !(value >= kMinimumScale && value <= kMaximumScale)) {
      std::fprintf(stderr, "duoscope: --scale expects a factor from 0.5 to 4; got '%s'\n",
                   qPrintable(parser.value(scaleOption)));
      return 2;
    }
    askedScale = value;
  }

  // The settings are read before the window system opens: the window scale must be known then.
  QCoreApplication::setApplicationName(QStringLiteral("duoscope"));
  duo::SettingsStore& store = duo::SettingsStore::standard();
  if (askedScale) store.setFloat(*askedScale, kWindowScaleKey);
  const double scale = store.objectForKey(kWindowScaleKey).isValid()
                           ? double(store.floatForKey(kWindowScaleKey))
                           : 1.0;
  // Programs started later (the web browser) must not inherit our factor: it is put back once
  // Qt has read it.
  const bool hadScaleFactor = qEnvironmentVariableIsSet("QT_SCALE_FACTOR");
  const QByteArray originalScaleFactor = qgetenv("QT_SCALE_FACTOR");
  if (scale >= kMinimumScale && scale <= kMaximumScale && scale != 1.0) {
    // Qt multiplies every screen's own ratio by this factor, so the phone-shaped window is drawn
    // larger at full sharpness; a factor the user gave Qt already is kept on top.
    bool given = false;
    const double outer = qEnvironmentVariable("QT_SCALE_FACTOR").toDouble(&given);
    qputenv("QT_SCALE_FACTOR", QByteArray::number(given && outer > 0 ? outer * scale : scale));
  }

  const bool display = displayAvailable(qtPlatformGiven);
  const bool projectAsked = parser.isSet(projectOption);
  const bool sampleAsked = parser.isSet(sampleOption);
  const int sources = int(!positional.isEmpty()) + int(parser.isSet(leftOption)) +
                      int(projectAsked) + int(sampleAsked);
  if (positional.size() > 1 || sources > 1) {
    std::fprintf(stderr, "duoscope: give one FILE, --left and --right, --project or --sample\n");
    return 2;
  }
  QString sampleFolder;
  if (sampleAsked) {
    sampleFolder = duo::InstallPaths::dataDirectory() + QStringLiteral("/sample");
    if (!QFileInfo(sampleFolder + QStringLiteral("/left.jpg")).isFile()) {
      std::fprintf(stderr,
                   "duoscope: --sample: no sample pair beside this program (looked in %s)\n",
                   qPrintable(sampleFolder));
      return 1;
    }
  }
  std::optional<duo::SideBySideLayout> layout;
  if (parser.isSet(sbsOption)) {
    layout = duo::sideBySideLayoutFromString(parser.value(sbsOption).toStdString());
    if (!layout || positional.isEmpty()) {
      std::fprintf(stderr, "duoscope: --sbs takes parallel or cross, and a FILE\n");
      return 2;
    }
  }
  const bool singleFile = !positional.isEmpty();
  const bool pairAsked = parser.isSet(leftOption) || singleFile || projectAsked || sampleAsked;
  const QString projectFolder = parser.value(projectOption);
  const QString sampleLeft = sampleFolder + QStringLiteral("/left.jpg");
  const QString sampleRight = sampleFolder + QStringLiteral("/right.jpg");
  const std::string leftPath = singleFile    ? positional.first().toStdString()
                               : sampleAsked ? sampleLeft.toStdString()
                                             : parser.value(leftOption).toStdString();
  const std::string rightPath =
      sampleAsked ? sampleRight.toStdString() : parser.value(rightOption).toStdString();
  // Reads the pair named on the command line: two files, one holding both views, or a
  // received project folder.
  const auto loadPair = [singleFile, layout, leftPath, rightPath,
                         projectFolder](float size) -> duo::Result<PairToOpen> {
    if (!projectFolder.isEmpty()) {
      auto project = duo::ReceivedProjectLoader::load(projectFolder, size);
      if (!project) return project.error();
      return PairToOpen{std::move(project->pair), project->alignment};
    }
    auto pair = singleFile ? duo::loadStereoPairFile(leftPath, layout, size)
                           : duo::loadStereoPairFiles(leftPath, rightPath, size);
    if (!pair) return pair.error();
    return PairToOpen{std::move(*pair), std::nullopt};
  };
  if (pairAsked) duo::registerSettings(store, QDateTime::currentDateTimeUtc());
  auto workingSize = float(store.integerForKey(duo::keys::kImageSize));
  if (!(workingSize > 0)) workingSize = 50;  // a damaged setting: the default working size

  // Without a window a bad pair is reported before anything else happens.
  std::optional<PairToOpen> pair;
  if (pairAsked && !display) {
    auto loaded = loadPair(workingSize);
    if (!loaded) {
      std::fprintf(stderr, "duoscope: %s\n", loaded.error().message.c_str());
      return 1;
    }
    pair = std::move(*loaded);
  }

  // Keep the exact ratio of a high-density display (1.5, 2, ...) so the phone layout is drawn at
  // the display's own pixels rather than rounded.
  QGuiApplication::setHighDpiScaleFactorRoundingPolicy(
      Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
  QApplication app(argc, argv);
  if (hadScaleFactor) qputenv("QT_SCALE_FACTOR", originalScaleFactor);
  else qunsetenv("QT_SCALE_FACTOR");
  QApplication::setApplicationName(QStringLiteral("duoscope"));
  QApplication::setApplicationDisplayName(QStringLiteral("Duoscope"));
  QApplication::setApplicationVersion(QStringLiteral(DUOSCOPE_VERSION));
  QGuiApplication::setDesktopFileName(QStringLiteral("duoscope"));
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/images/duoscope.svg")));

  duo::MainScreen::setSize(*screen);
  duo::QSFeatures::setTablet(screen->tablet);

  if (!store.loadError().isEmpty())
    std::fprintf(stderr, "duoscope: %s\n", qPrintable(store.loadError()));

  // Each running instance renders into a cache folder of its own, so that a second window never
  // empties or overwrites the first one's outputs. Without a usable cache folder a private
  // temporary one stands in.
  QString cacheError;
  auto cacheFolder = duo::InstanceCacheFolder::acquire(
      QStandardPaths::writableLocation(QStandardPaths::CacheLocation), &cacheError);
  std::unique_ptr<QTemporaryDir> fallbackCache;
  if (cacheFolder) {
    duo::BlendViewController::setDefaultCachesDirectory(cacheFolder->path());
  } else {
    std::fprintf(stderr, "duoscope: %s; using a temporary cache folder\n", qPrintable(cacheError));
    fallbackCache = std::make_unique<QTemporaryDir>();
    if (fallbackCache->isValid())
      duo::BlendViewController::setDefaultCachesDirectory(fallbackCache->path());
  }

  // The camera: the folder named on the command line, else the computer's own, else none (the
  // capture then works from the photo library).
  if (!cameraFolder.isEmpty())
    duo::CameraDevice::setShared(std::make_unique<duo::FolderCamera>(cameraFolder));
  else
    duo::CameraDevice::setShared(duo::makeSystemCamera());

  duo::CameraAppDelegate delegate(store);
  auto* root = new duo::CameraViewController(store);
  // A pair named on the command line takes the place of the intro and the first capture.
  if (pairAsked) root->deferFirstLaunch();
  delegate.applicationDidFinishLaunching(root);
  // Sign-in callbacks that the desktop hands to another `duoscope URL` come here through this
  // instance's socket; without it the window still works, only a browser sign-in cannot finish.
  duo::InstanceUrlServer callbackServer(
      [&delegate](const QUrl& url) { return delegate.applicationOpenURL(url); });
  QString listenError;
  if (!callbackServer.listen(&listenError))
    std::fprintf(stderr, "duoscope: %s; sign-ins in the browser cannot return to this window\n",
                 qPrintable(listenError));
  auto* quit = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q), delegate.window());
  quit->setContext(Qt::ApplicationShortcut);
  QObject::connect(quit, &QShortcut::activated, &app, &QApplication::quit);

  const auto presentPair = [&delegate, &store, root](PairToOpen loaded) {
    // As if both photographs had been picked from the library.
    auto result = std::make_unique<duo::BlendViewController>(store);
    result->setPair(std::move(loaded.pair));
    if (loaded.alignment) result->setSentAlignment(*loaded.alignment);
    result->setPhotoMethod(duo::CameraViewController::kLibrary);
    root->presentPair(std::move(result));
    if (delegate.splashScreen()) delegate.splashScreen()->raise();  // the splash fades to it
  };
  if (pair) presentPair(std::move(*pair));
  if (pairAsked && display) {
    // The window is up at once with the busy overlay; the photographs are read and decoded on
    // a worker meanwhile.
    delegate.dimScreen(QStringLiteral(" Opening photographs..."));
    auto* watcher = new QFutureWatcher<duo::Result<PairToOpen>>(&delegate);
    QObject::connect(watcher, &QFutureWatcher<duo::Result<PairToOpen>>::finished, &delegate,
                     [watcher, &delegate, presentPair, root] {
                       watcher->deleteLater();
                       auto loaded = watcher->result();
                       delegate.unDimScreen();
                       if (loaded) presentPair(std::move(*loaded));
                       else reportPairError(QString::fromStdString(loaded.error().message), root);
                     });
    watcher->setFuture(QtConcurrent::run(loadPair, workingSize));
  }
  QObject::connect(&app, &QGuiApplication::applicationStateChanged, &delegate,
                   [&delegate](Qt::ApplicationState state) {
                     if (state == Qt::ApplicationActive) delegate.applicationDidBecomeActive();
                   });
  const int status = app.exec();
  // A render still running holds the render cache; it ends before the cache folder goes, and
  // renders still queued are dropped.
  duo::renderThreadPool().clear();
  duo::renderThreadPool().waitForDone();
  // Camera shots still being written to the album are finished before the process goes.
  QThreadPool::globalInstance()->waitForDone();
  duo::CameraDevice::setShared(nullptr);
  return status;
}
