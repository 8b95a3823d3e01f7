#pragma once

#include <QImage>
#include <QPointer>
#include <QString>

#include <functional>

#include <QTextEdit>

#include "qs_blur_view.h"
#include "qs_share_navigation_controller.h"
#include "qs_sign_in_panel.h"
#include "view_controller.h"



namespace duo {

class BarButtonItem;


class Toolbar;

/// The base of the upload screens: a small table with the caption editor beside a thumbnail of
/// the image, then two rows that open pickers; "Cancel" and "Post" in the bar; while posting,
/// the host dimmed with the progress panel over it. It shows itself in a
/// QSShareNavigationController floating over the host and reports once through its completion:
/// 0 cancelled or signed out, 1 posted, 2 failed. Subclasses fill the rows and post.
class QSShareView2Controller : public ViewController, public QSProgressViewDelegate {
  Q_OBJECT

 public:
  using Completion = std::function<void(int result)>;

  static constexpr int kPreferredHeight = 282;
  static constexpr int kImageRowHeight = 150;
  static constexpr int kRowHeight = 44;
  static constexpr int kPhoneThumbnailSize = 70;
  static constexpr int kTabletThumbnailSize = 90;
  static constexpr int kAccessoryToolbarHeight = 44;
  static constexpr double kCaptionFontSize = 20;
  static constexpr double kCaptionLineSpacing = 2;
  static constexpr int kSeparatorInset = 15;
  static constexpr double kBlockingAlpha = 0.4;
  static constexpr double kFadeSeconds = 0.1;
  static constexpr double kDismissDelaySeconds = 0.25;
  /// A stored sign-in opens at once; only one that goes to the browser gets the waiting panel.
  static constexpr double kSignInPanelDelaySeconds = 0.5;

  explicit QSShareView2Controller(QObject* parent = nullptr);
  ~QSShareView2Controller() override;

  void setInitialCaption(const QString& caption) { m_caption = caption; }
  QString caption() const { return m_caption; }
  void addImage(const QImage& image) { m_image = image; }
  QImage image() const { return m_image; }

  /// Shows this screen over `host` and keeps `completion` for its end, then signs in to the
  /// service if needed. The image must have been added ("Image required").
  void presentFromViewController(ViewController* host, Completion completion);

  ViewController* hostViewController() const { return m_host; }
  QSShareNavigationController* shareNavigationController() const { return m_navigation; }

  void dismiss() { dismissWithResult(0); }
  void dismissWithSuccess() { dismissWithResult(1); }
  /// Takes the keyboard away and the container; when it has gone, the completion is called
  /// with `result`, once.
  void dismissWithResult(int result);

  /// Dims the host with a black view (to 0.4 in 0.1 s); unDimScreen() fades it out and removes it.
  void dimScreen();
  void unDimScreen();
  /// The progress panel, centred on the host, fading in over 0.1 s; hideProgressView() fades
  /// it out and removes it.
  void showProgressView();
  void hideProgressView();
  void progressViewDidCancel(QSProgressView* progressView) override;

  int heightForImageCell() const { return kImageRowHeight; }
  /// Installs the caption editor and the thumbnail in `cell`; returns the editor.
  QTextEdit* configureImageCell(QWidget* cell);
  /// Posts the image: subclasses only ("Subclasses must override uploadImage").
  virtual void uploadImage();

  /// "Logout" when signed in, else "Login"; "Post" only when signed in.
  void updateLogoutButton();
  /// The service's client says the user signed in or out (or a sign-in ended).
  Q_INVOKABLE void loggedIn();
  Q_INVOKABLE void loggedOut();

  // The table: row 0 the image cell, rows 1 and 2 a label, the current choice and a disclosure.
  int numberOfRows() const { return 3; }
  QWidget* cellForRow(int row) const;
  /// Shows the current label and choice of `row` again.
  void reloadRow(int row);
  /// What a click on a row does.
  virtual void tableViewDidSelectRow(int row);

  QTextEdit* textView() const { return m_textView; }
  Toolbar* toolbar() const { return m_toolbar; }
  BarButtonItem* logoutButton() const { return m_logoutButton; }
  BarButtonItem* postButton() const { return m_postButton; }
  QWidget* blockingView() const { return m_blockingView; }
  QSProgressView* progressView() const { return m_progressView; }
  QSSignInPanel* signInPanel() const { return m_signInPanel; }
  int thumbnailSize() const;

 protected:
  void loadView() override;
  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;
  void viewDidAppear(bool animated) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

  /// The label and the current choice of rows 1 and 2.
  virtual QString labelForRow(int row) const;
  virtual QString detailForRow(int row) const;
  /// The accessory toolbar with "Clear" and the sign-in button, under the table (this desktop
  /// has no on-screen keyboard to carry it).
  void setupToolbar();
  virtual void clearButtonTouched();
  /// Signs out and dismisses with 0 when signed in; otherwise signs in.
  void logoutButtonTouched();

  // What a subclass's client does. The defaults stand for no client at all.
  using ProgressBlock = std::function<void(qint64 sent, qint64 total)>;
  virtual QString serviceName() const { return {}; }
  virtual bool isSignedIn() { return false; }
  /// A sign-in is waiting for the browser (or for its last step).
  virtual bool isSigningIn() { return false; }
  virtual void clientLogin() {}
  virtual void clientLogout() {}
  virtual void clientCancelLogin() {}
  virtual bool clientIsUploading() { return false; }
  /// Uploads the image with `caption`; `done` gets the client's upload result (0 uploaded).
  virtual void clientUpload(const QString& caption, ProgressBlock progress,
                            std::function<void(int result)> done);
  virtual void clientCancelUpload() {}

  /// The posting steps of uploadImage(): dims the host, shows the progress, uploads through the
  /// client, and dismisses with 1 (uploaded) or 2 a quarter of a second after it ends.
  void postImage();
  /// Pushes a picker into the container, the keyboard taken away first.
  void pushPicker(ViewController* picker);

  QString m_caption;
  QImage m_image;

 private:
  void layoutTable();
  void login();
  void showSignInPanel();
  void hideSignInPanel();

  QPointer<ViewController> m_host;
  QPointer<QSShareNavigationController> m_navigation;
  Completion m_completion;
  QPointer<QWidget> m_blockingView;
  QPointer<QSProgressView> m_progressView;
  QPointer<QSSignInPanel> m_signInPanel;
  QPointer<QTextEdit> m_textView;
  QPointer<Toolbar> m_toolbar;
  QPointer<BarButtonItem> m_logoutButton;
  QPointer<BarButtonItem> m_postButton;
  QList<QPointer<QWidget>> m_cells;
  QList<QPointer<QWidget>> m_separators;
  bool m_dismissing = false;
};

}  // namespace duo
