#pragma once

#include <QAbstractButton>
#include <QImage>
#include <QPointer>

#include <functional>
#include <vector>

#include "view_controller.h"

class QLabel;

namespace duo {

/// A destination of the share picker: its picture, exactly the picture's size, dimmed while
/// pressed and drawn faint while disabled. `tag()` is the index the picker reports.
class QSShareButton : public QAbstractButton {
  Q_OBJECT
 public:
  QSShareButton(const QImage& image, int tag, QWidget* parent = nullptr);
  int tag() const { return m_tag; }
  const QImage& image() const { return m_image; }
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  QImage m_image;
  QImage m_pressedImage;
  int m_tag = 0;
};

/// The share-target picker: a grid of nine labelled destinations, three to a row, some disabled
/// for the kind of output, the network and the desktop. It only reports which destination was
/// chosen (its index) or -1 for Cancel, through the completion; whoever presents it acts on the
/// index and dismisses it. The completion is called at most once over the picker's life, so a
/// second press while the picker is still on screen (it is being dismissed) does nothing. It is
/// shown inside a navigation container; Escape cancels as the Cancel button does.
///
/// Indices: 0 photo library, 1 mail, 3 social network, 4 short-message service, 5 photo-sharing
/// service, 6 file storage, 7 clipboard, 8 tablet viewer, 9 another application (2 is unused).
class QSShareViewController : public ViewController {
  Q_OBJECT
 public:
  using Completion = std::function<void(int)>;
  enum class InterfaceOrientation { Portrait, PortraitUpsideDown, LandscapeLeft, LandscapeRight };

  static constexpr int kCancelIndex = -1;
  /// The output kinds: none, still image (0 counts as one too), wigglegram.
  static constexpr int kFileTypeNone = -1;
  static constexpr int kFileTypeStill = 1;
  static constexpr int kFileTypeWigglegram = 2;

  /// No output, no network, no completion.
  explicit QSShareViewController(QObject* parent = nullptr);
  QSShareViewController(int fileType, bool networkAvailable, Completion completion,
                        QObject* parent = nullptr);

  int fileType() const { return m_fileType; }
  void setFileType(int fileType);
  bool isNetworkAvailable() const { return m_networkAvailable; }
  void setIsNetworkAvailable(bool available);
  const Completion& completion() const { return m_completion; }
  void setCompletion(Completion completion) { m_completion = std::move(completion); }
  unsigned currentRow() const { return m_currentRow; }
  void setCurrentRow(unsigned row) { m_currentRow = row; }
  unsigned currentColumn() const { return m_currentColumn; }
  void setCurrentColumn(unsigned column) { m_currentColumn = column; }

  /// Whether the destination with this index can be chosen now, from the output kind, the
  /// network and what the desktop offers.
  bool isIndexEnabled(int index) const;

  /// The destination buttons in placement order (empty before the view is loaded).
  const std::vector<QPointer<QSShareButton>>& buttons() const { return m_buttons; }
  /// The button reporting `index`, or nullptr.
  QSShareButton* buttonForIndex(int index) const;
  /// The title label under `button`, or nullptr.
  QLabel* labelForButton(const QAbstractButton* button) const;

  /// Portrait only.
  bool shouldAutorotateToInterfaceOrientation(InterfaceOrientation orientation) const {
    return orientation == InterfaceOrientation::Portrait;
  }

  void buttonTouched(QAbstractButton* sender);
  void cancelButtonTouched();

 protected:
  void viewDidLoad() override;

  void addShareButtons();
  void incrementCurrentRowAndColumn();
  QSShareButton* createButtonWithBaseFileName(const QString& baseFileName, int index,
                                              const QString& title, unsigned row, unsigned column,
                                              bool enabled);
  QLabel* createLabelForButton(QSShareButton* button, const QString& title, bool enabled);

 private:
  void finish(int index);
  void updateEnabledStates();

  int m_fileType = kFileTypeNone;
  bool m_networkAvailable = false;
  Completion m_completion;
  bool m_completed = false;
  unsigned m_currentRow = 0;
  unsigned m_currentColumn = 0;
  std::vector<QPointer<QSShareButton>> m_buttons;
  std::vector<QPointer<QLabel>> m_labels;  // parallel to m_buttons
};

}  // namespace duo
