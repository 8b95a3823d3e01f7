// The result screen's exports: the dispatch from the share picker's index, what each
// destination is given, and the return to the screen afterwards.
#include "blend_view_controller.h"

#include <QDateTime>
#include <QDir>
#include <QFutureWatcher>
#include <QtConcurrent/QtConcurrentRun>

#include "app_config.h"
#include "cache/render_cache.h"
#include "camera_app_delegate.h"
#include "clipboard_export.h"
#include "file_transfer.h"
#include "io/file_io.h"
#include "io/image_codec.h"
#include "mail_composer.h"
#include "open_in_service.h"
#include "photo_library.h"
#include "dropbox_session.h"
#include "qs_alert_view.h"
#include "qs_dropbox.h"
#include "qs_facebook.h"
#include "qs_facebook_share_view_controller.h"
#include "qs_flickr.h"
#include "qs_flickr_share_view_controller.h"
#include "qs_sign_in_panel.h"
#include "qs_social.h"
#include "qt_image.h"
#include "render/renderer.h"
#include "run_loop.h"
#include "settings_keys.h"
#include "settings_store.h"
#include "stereo/output_kind.h"
#include "transfer_project.h"
#include "view_animation.h"

namespace duo {

namespace {

const QString kContinue = QStringLiteral("Continue");
const QString kProcessingMessage = QStringLiteral(" Processing images...");
const QString kMailSubject = QStringLiteral("Duoscope Photo");
constexpr int kMailJpegQuality = 80;
constexpr int kDropboxJpegQuality = 80;
const QString kDropboxFailed = QStringLiteral("Unable to send to Dropbox.\nTry again later.");
const QString kFacebookFailed = QStringLiteral("Unable to send to Facebook.\nTry again later.");
const QString kFlickrFailed = QStringLiteral("Unable to send to Flickr.\nTry again later.");
const QString kUploadCaption = QStringLiteral("Check out my Duoscope photo");
constexpr double kSaveAnimationSeconds = 0.5;
constexpr QRect kSavedImageTarget{5, 27, 40, 30};

/// The wigglegram's exports that build or read the GIF before anything shows: the window is
/// dimmed with a message for them first.
bool dimsFirst(int index) { return index == 1 || index == 6 || index == 7 || index == 9; }

using SaveOutcome = Result<QString>;

void showAlert(const QString& title, const QString& message, std::function<void()> closed) {
  auto* alert = new QSAlertView(title, message, kContinue);
  alert->showWithCompletion([closed = std::move(closed)](QSAlertView*, int) {
    if (closed) closed();
  });
}

}  // namespace

void BlendViewController::executeShareBarButtonIndex(int index) {
  if (index < 0 || index > 9 || index == 2) return;
  m_lastShareIndex = index;
  if (viewMode() == 4 && dimsFirst(index))
    if (CameraAppDelegate* application = CameraAppDelegate::shared())
      application->dimScreen(kProcessingMessage);
  // One turn later, so that the dimming is drawn before the GIF is built.
  performAfterDelay(0, [guard = QPointer<BlendViewController>(this), index] {
    if (!guard) return;
    switch (index) {
      case 0: guard->sendToCameraRoll(); break;
      case 1: guard->sendMail(); break;
      case 3: guard->sendToFacebook(); break;
      case 4: guard->sendToTwitter(); break;
      case 5: guard->sendToFlickr(); break;
      case 6: guard->sendToDropbox(); break;
      case 7: guard->sendToClipboard(); break;
      case 8: guard->sendToiPad(); break;
      case 9: guard->sendToApp(); break;
    }
  });
}

std::optional<Image> BlendViewController::getImageToSend() const {
  const auto kind = outputKindFromInt(viewMode());
  if (!kind) return std::nullopt;
  return stillImageForExport(*kind, m_shownStill.get());
}

Result<std::vector<std::uint8_t>> BlendViewController::getAnimatedGifDataToSend() {
  const auto kind = outputKindFromInt(viewMode());
  return animatedGifDataToSend(m_pair, kind.value_or(OutputKind::Alignment), *m_cache);
}

QImage BlendViewController::stillPictureToSend() {
  const std::optional<Image> image = getImageToSend();
  return image ? toQImage(*image) : QImage();
}

void BlendViewController::unDimApplication() {
  if (CameraAppDelegate* application = CameraAppDelegate::shared()) application->unDimScreen();
}

void BlendViewController::finishExport() {
  resetFadeItems();
  askForRating();
}

// ---------------------------------------------------------------------------------------------
// Photo library

void BlendViewController::sendToCameraRoll() {
  const bool animation = viewMode() == 4;
  std::vector<std::uint8_t> bytes;
  std::optional<Image> still;
  if (animation) {
    auto gif = getAnimatedGifDataToSend();
    if (gif) bytes = std::move(*gif);
  } else {
    still = getImageToSend();
  }
  // Encoding and the durable write run on a worker; the alert comes back here, as a library's
  // completion would.
  auto* watcher = new QFutureWatcher<SaveOutcome>(this);
  connect(watcher, &QFutureWatcher<SaveOutcome>::finished, this, [this, watcher] {
    watcher->deleteLater();
    const SaveOutcome saved = watcher->result();
    if (saved) {
      showSaveAnimation();
      showAlert(QStringLiteral("Save Complete"), QStringLiteral("Saved image to the Camera Roll."),
                [guard = QPointer<BlendViewController>(this)] {
                  if (guard) guard->finishExport();
                });
    } else {
      showAlert(QStringLiteral("Could Not Save"),
                QStringLiteral("Could not save image to the Camera Roll."),
                [guard = QPointer<BlendViewController>(this)] {
                  if (guard) guard->finishExport();
                });
    }
  });
  watcher->setFuture(QtConcurrent::run(
      [animation, bytes = std::move(bytes), still = std::move(still),
       when = QDateTime::currentDateTime()]() -> SaveOutcome {
        if (animation) {
          if (bytes.empty()) return makeError(ErrorCode::InvalidArgument, "no animation to save");
          return PhotoLibrary::saveToAlbum(bytes, QStringLiteral("gif"), when);
        }
        if (!still) return makeError(ErrorCode::InvalidArgument, "no image to save");
        // PNG keeps the output's exact pixels; the anaglyphs' colours are the point of them.
        auto png = encodePng(*still);
        if (!png) return png.error();
        return PhotoLibrary::saveToAlbum(*png, QStringLiteral("png"), when);
      }));
}

void BlendViewController::showSaveAnimation() {
  QImage picture = m_imageView ? m_imageView->image() : QImage();
  if (picture.isNull() && m_pair.sharedLeftImage() && !m_pair.leftImage().isNull())
    picture = toQImage(m_pair.sharedLeftImage());
  delete m_savedImageView.data();
  m_savedImageView = new ImageView(picture, view());
  m_savedImageView->setGeometry(m_imageView->geometry());
  m_savedImageView->setContentMode(m_imageView->contentMode());
  m_savedImageView->setAttribute(Qt::WA_TransparentForMouseEvents);
  insertSubviewAbove(m_savedImageView, m_imageView);
  m_savedImageView->show();
  animateViews(kSaveAnimationSeconds, AnimationCurve::EaseInOut,
               {{m_savedImageView.data(), 0.0, kSavedImageTarget, {}}},
               [saved = m_savedImageView](bool) { delete saved.data(); });
}

// ---------------------------------------------------------------------------------------------
// Mail

void BlendViewController::sendMail() {
  std::vector<std::uint8_t> bytes;
  QString extension;
  QString problem;
  if (viewMode() == 4) {
    auto gif = getAnimatedGifDataToSend();
    unDimApplication();
    if (gif) bytes = std::move(*gif);
    else problem = QString::fromStdString(gif.error().message);
    extension = QStringLiteral("gif");
  } else if (const std::optional<Image> image = getImageToSend()) {
    auto jpeg = encodeJpeg(*image, kMailJpegQuality);
    if (jpeg) bytes = std::move(*jpeg);
    else problem = QString::fromStdString(jpeg.error().message);
    extension = QStringLiteral("jpg");
  }

  // Every composed mail takes the next number, sent or not.
  const qint64 counter = m_store.integerForKey(keys::kImageCounter);
  m_store.setInteger(counter + 1, keys::kImageCounter);
  // Mail programs take an attachment's type from its name, so the name carries it.
  const QString name = QString::asprintf("Duoscope_%.4lld", static_cast<long long>(counter)) +
                       QLatin1Char('.') + extension;
  QString attachment;
  if (problem.isEmpty() && !bytes.empty()) {
    auto written = MailComposer::writeAttachment(name, bytes);
    if (written) attachment = *written;
    else problem = QString::fromStdString(written.error().message);
  } else if (problem.isEmpty()) {
    problem = QStringLiteral("There is no picture to attach.");
  }
  if (!problem.isEmpty()) {
    showAlert(QStringLiteral("Cannot Compose the Mail"), problem,
              [guard = QPointer<BlendViewController>(this)] {
                if (guard) guard->finishExport();
              });
    return;
  }

  const QString page = QStringLiteral("https://%1/app/id%2")
                           .arg(QLatin1String(config::kStoreHost),
                                QLatin1String(config::kProductStoreIdentifier));
  MailComposer::Message message;
  message.subject = kMailSubject;
  message.body = QStringLiteral("Check out the photo I made with Duoscope (%1).").arg(page);
  message.attachmentPath = attachment;

  auto* composer = new MailComposer(this);
  connect(composer, &MailComposer::finished, this,
          [this, composer](bool handedOver, const QString& error) {
            composer->deleteLater();
            m_isShowingModal = false;
            if (handedOver) {
              finishExport();
              return;
            }
            showAlert(QStringLiteral("Cannot Compose the Mail"), error,
                      [guard = QPointer<BlendViewController>(this)] {
                        if (guard) guard->finishExport();
                      });
          });
  m_isShowingModal = true;
  if (!composer->compose(message)) {
    m_isShowingModal = false;
    composer->deleteLater();
    finishExport();
  }
}

// ---------------------------------------------------------------------------------------------
// Clipboard

void BlendViewController::sendToClipboard() {
  if (viewMode() == 4) {
    auto gif = getAnimatedGifDataToSend();
    unDimApplication();
    if (!gif) {
      showAlert(QStringLiteral("Could Not Copy"), QString::fromStdString(gif.error().message),
                [guard = QPointer<BlendViewController>(this)] {
                  if (guard) guard->resetFadeItems();
                });
      return;
    }
    const QByteArray bytes(reinterpret_cast<const char*>(gif->data()), qsizetype(gif->size()));
    // Programs that take GIFs paste the animation; the rest paste its first frame.
    copyImageToClipboard(QImage::fromData(bytes, "GIF"), bytes);
  } else {
    copyImageToClipboard(stillPictureToSend());
  }
  showAlert(QStringLiteral("Copy Complete"), QStringLiteral("Copied image to the clipboard."),
            [guard = QPointer<BlendViewController>(this)] {
              if (guard) guard->finishExport();
            });
}

// ---------------------------------------------------------------------------------------------
// Another application

void BlendViewController::sendToApp() {
  std::vector<std::uint8_t> bytes;
  QString extension = QStringLiteral("png");
  QString problem;
  if (viewMode() == 4) {
    auto gif = getAnimatedGifDataToSend();
    unDimApplication();
    extension = QStringLiteral("gif");
    if (gif) bytes = std::move(*gif);
    else problem = QString::fromStdString(gif.error().message);
  } else if (const std::optional<Image> image = getImageToSend()) {
    auto png = encodePng(*image);
    if (png) bytes = std::move(*png);
    else problem = QString::fromStdString(png.error().message);
  } else {
    problem = QStringLiteral("There is no picture to hand over.");
  }
  const QString folder = PhotoLibrary::documentsFolder();
  m_exportFilePath = folder + QStringLiteral("/DuoscopeExport.") + extension;
  if (problem.isEmpty()) {
    if (!QDir().mkpath(folder)) {
      problem = QStringLiteral("The folder %1 cannot be created.").arg(folder);
    } else if (Status written = writeFileAtomically(m_exportFilePath.toStdString(), bytes); !written) {
      problem = QString::fromStdString(written.error().message);
    }
  }
  // A menu for a file that was not written would hand over nothing, or an older export.
  if (!problem.isEmpty()) {
    showAlert(QStringLiteral("Could Not Export"), problem,
              [guard = QPointer<BlendViewController>(this)] {
                if (guard) guard->resetFadeItems();
              });
    return;
  }

  const QString mimeType = extension == QLatin1String("png") ? QStringLiteral("image/png")
                                                              : QStringLiteral("image/gif");
  const std::vector<DesktopApplication> applications = OpenInService::applicationsForType(mimeType);
  if (applications.empty()) {
    showAlert(QStringLiteral("Open In"), QStringLiteral("No application can open this file."),
              [guard = QPointer<BlendViewController>(this)] {
                if (guard) guard->resetFadeItems();
              });
    return;
  }
  auto* sheet = new QSActionSheet(QStringLiteral("Open In"), QStringLiteral("Cancel"));
  for (const DesktopApplication& application : applications) sheet->addButtonWithTitle(application.name);
  m_isShowingModal = true;
  sheet->showFromBarButtonItem(
      m_actionButton, m_toolbar, true,
      [guard = QPointer<BlendViewController>(this), applications, path = m_exportFilePath](
          QSActionSheet* shown, int index) {
        if (!guard) return;
        guard->m_isShowingModal = false;
        const int first = shown->cancelButtonIndex() == 0 ? 1 : 0;
        const int chosen = index - first;
        if (index != shown->cancelButtonIndex() && chosen >= 0 && chosen < int(applications.size())) {
          const Status launched = OpenInService::launch(applications[std::size_t(chosen)].id, path);
          if (!launched) {
            showAlert(QStringLiteral("Could Not Open"),
                      QString::fromStdString(launched.error().message),
                      [guard] {
                        if (guard) guard->resetFadeItems();
                      });
            return;
          }
        }
        guard->resetFadeItems();
      });
}

void BlendViewController::sendToTwitter() {
  // The share picker never offers it here: the desktop has no system composer for it.
  resetFadeItems();
}

// ---------------------------------------------------------------------------------------------
// Another device

void BlendViewController::sendToiPad() {
  // The offset is converted with the view's present scale, so the pair must know it.
  syncPairGeometry();
  // Reducing and encoding two photographs takes around 0.1 s for camera-sized working copies:
  // done on a worker from a snapshot of the pair, so the window keeps drawing meanwhile.
  using Prepared = Result<TransferProject>;
  auto* watcher = new QFutureWatcher<Prepared>(this);
  connect(watcher, &QFutureWatcher<Prepared>::finished, this, [this, watcher] {
    watcher->deleteLater();
    const Prepared project = watcher->result();
    if (!project) {
      showAlert(QStringLiteral("Could Not Send"), QString::fromStdString(project.error().message),
                [guard = QPointer<BlendViewController>(this)] {
                  if (guard) guard->resetFadeItems();
                });
      return;
    }
    delete m_fileTransfer.data();
    m_fileTransfer = new FileTransfer(this);
    m_fileTransfer->setDelegate(this);
    m_fileTransfer->setFiles(project->leftPath, project->rightPath);
    m_fileTransfer->setOffsetX(project->offsetX);
    m_fileTransfer->setOffsetY(project->offsetY);
    m_fileTransfer->transfer();
  });
  watcher->setFuture(QtConcurrent::run(&TransferProject::prepare, m_pair,
                                       PhotoLibrary::documentsFolder()));
}

void BlendViewController::fileTransferDidTransferProject(FileTransfer* transfer, bool) {
  // The transfer is calling: it goes once it has returned. Success and failure end alike.
  if (transfer == m_fileTransfer) m_fileTransfer = nullptr;
  transfer->deleteLater();
  TransferProject::removeFiles(PhotoLibrary::documentsFolder());
  resetFadeItems();
}

// ---------------------------------------------------------------------------------------------
// Photo services

void BlendViewController::reportServiceNotConfigured(const QString& service) {
  unDimApplication();
  showAlert(service, QStringLiteral("%1 is not configured in this build of Duoscope.").arg(service),
            [guard = QPointer<BlendViewController>(this)] {
              if (guard) guard->resetFadeItems();
            });
}

void BlendViewController::sendToFacebook() {
  QSFacebook* facebook = QSSocial::sharedSocial()->facebook();
  if (!facebook->isConfigured()) return reportServiceNotConfigured(QStringLiteral("Facebook"));
  // Where the service no longer grants posting at all, the user is told so rather than to
  // try again later.
  presentUploadScreen(new QSFacebookShareViewController(facebook), kFacebookFailed,
                      [facebook = QPointer<QSFacebook>(facebook)] {
                        return facebook && facebook->uploadWasRefused() ? facebook->uploadErrorMessage()
                                                                        : QString();
                      });
}

void BlendViewController::sendToFlickr() {
  QSFlickr* flickr = QSSocial::sharedSocial()->flickr();
  if (!flickr->isConfigured()) return reportServiceNotConfigured(QStringLiteral("Flickr"));
  presentUploadScreen(new QSFlickrShareViewController(flickr), kFlickrFailed, {});
}

void BlendViewController::presentUploadScreen(QSShareView2Controller* screen, const QString& failed,
                                              std::function<QString()> reason) {
  const QImage image = stillPictureToSend();
  if (image.isNull()) {
    delete screen;
    showAlert(QString(), failed, [guard = QPointer<BlendViewController>(this)] {
      if (guard) guard->resetFadeItems();
    });
    return;
  }
  screen->setParent(this);
  screen->addImage(image);
  screen->setInitialCaption(kUploadCaption);
  m_isShowingModal = true;
  screen->presentFromViewController(
      this, [guard = QPointer<BlendViewController>(this), failed, reason](int result) {
        if (!guard) return;
        guard->m_isShowingModal = false;
        if (result == 1) {
          guard->askForRating();
        } else if (result == 2) {
          // The fixed message, and what the service said when it said why.
          const QString why = reason ? reason() : QString();
          (new QSAlertView(QString(), why.isEmpty() ? failed : failed + QStringLiteral("\n\n") + why,
                           QString(), {kContinue}))
              ->show();
        }
        guard->resetFadeItems();
      });
}

// ---------------------------------------------------------------------------------------------
// Dropbox

void BlendViewController::startDropboxSignIn(DropboxSession* session) {
  // Once linked, the application's handling of the callback sends again; here the panel that
  // waits for the browser goes. The wigglegram's dimming stays on meanwhile: the send that
  // resumes lifts it, and so does giving up.
  endDropboxSignIn();
  m_dropboxLinked = connect(session, &DropboxSession::linked, this, [this] { endDropboxSignIn(); });
  m_dropboxLinkFailed = connect(session, &DropboxSession::linkFailed, this, [this](const QString& reason) {
    endDropboxSignIn();
    unDimApplication();
    // Given up or refused in the browser needs no message; a token that could not be had does.
    if (!reason.isEmpty() && reason != QLatin1String("access_denied")) {
      showAlert(QString(), kDropboxFailed, [guard = QPointer<BlendViewController>(this)] {
        if (guard) guard->resetFadeItems();
      });
      return;
    }
    resetFadeItems();
  });
  if (!session->linkFromController(this)) {
    endDropboxSignIn();
    unDimApplication();
    showAlert(QString(), kDropboxFailed, [guard = QPointer<BlendViewController>(this)] {
      if (guard) guard->resetFadeItems();
    });
    return;
  }
  auto* panel = new QSSignInPanel(QStringLiteral("Dropbox"));
  panel->setAbandonHandler([session = QPointer<DropboxSession>(session)] {
    if (session) session->cancelLink();
  });
  panel->showInView(windowView() ? windowView() : view());
  m_signInPanel = panel;
}

void BlendViewController::endDropboxSignIn() {
  disconnect(m_dropboxLinked);
  disconnect(m_dropboxLinkFailed);
  if (QSSignInPanel* panel = std::exchange(m_signInPanel, nullptr)) panel->dismiss();
}

void BlendViewController::sendToDropbox() {
  endDropboxSignIn();
  QSDropbox* dropbox = QSDropbox::sharedDropbox();
  DropboxSession* session = dropbox->session();
  if (!session->isConfigured()) return reportServiceNotConfigured(QStringLiteral("Dropbox"));
  // The stored sign-in is read from the secret store at start-up; wait for it rather than ask
  // the user to sign in again.
  if (!session->isReady()) {
    session->whenReady([guard = QPointer<BlendViewController>(this)] {
      if (guard) guard->sendToDropbox();
    });
    return;
  }
  if (!session->isLinked()) {
    startDropboxSignIn(session);
    return;
  }

  QByteArray bytes;
  QString extension;
  if (viewMode() == 4) {
    auto gif = getAnimatedGifDataToSend();
    unDimApplication();
    if (gif) bytes = QByteArray(reinterpret_cast<const char*>(gif->data()), qsizetype(gif->size()));
    extension = QStringLiteral("gif");
  } else if (const std::optional<Image> image = getImageToSend()) {
    auto jpeg = encodeJpeg(*image, kDropboxJpegQuality);
    if (jpeg) bytes = QByteArray(reinterpret_cast<const char*>(jpeg->data()), qsizetype(jpeg->size()));
    extension = QStringLiteral("jpg");
  }
  if (bytes.isEmpty()) {
    showAlert(QString(), kDropboxFailed, [guard = QPointer<BlendViewController>(this)] {
      if (guard) guard->resetFadeItems();
    });
    return;
  }

  auto* prompt = new QSAlertView(QStringLiteral("Send to Dropbox"),
                                 QStringLiteral("What name would you like to use\nfor your Duoscope image?"),
                                 QStringLiteral("Cancel"), {QStringLiteral("Send")});
  prompt->setAlertViewStyle(QSAlertView::Style::PlainTextInput);
  m_isShowingModal = true;
  prompt->showWithCompletion([guard = QPointer<BlendViewController>(this), bytes, extension](
                                 QSAlertView* shown, int index) {
    if (!guard) return;
    guard->m_isShowingModal = false;
    if (index == shown->cancelButtonIndex()) {
      guard->resetFadeItems();
      return;
    }
    const QLineEdit* field = shown->textFieldAtIndex(0);
    const QString title = field ? field->text() : QString();
    guard->dimScreen();
    guard->showProgressView();
    QSDropbox* dropbox = QSDropbox::sharedDropbox();
    dropbox->setUploadProgressBlock([guard](qint64 sent, qint64 total) {
      if (guard && guard->m_progressView && total > 0)
        guard->m_progressView->setPercentComplete(float(double(sent) / double(total)));
    });
    dropbox->uploadImageData(bytes, extension, QString(), title, QString(), [guard](int result) {
      if (!guard) return;
      guard->unDimScreen();
      guard->hideProgressView();
      guard->resetFadeItems();
      if (result == 1) {
        auto* failed = new QSAlertView(QString(), kDropboxFailed, QString(), {kContinue});
        failed->show();
      } else {
        guard->askForRating();
      }
    });
  });
}

}  // namespace duo
