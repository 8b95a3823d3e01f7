#pragma once

#include <QDateTime>
#include <QFutureWatcher>
#include <QList>
#include <QObject>
#include <QString>

namespace duo {

/// One picture file of the library.
struct LibraryEntry {
  QString path;
  QDateTime modified;  ///< last modification, to the millisecond
  qint64 size = 0;     ///< bytes
  bool operator==(const LibraryEntry&) const = default;
};

/// Lists the pictures of a folder and its subfolders: files whose name ends in one of
/// PhotoLibrary::imageExtensions(), newest first by modification time (ties by path). Hidden
/// files and folders (names starting with a dot) are skipped. Linked folders are followed, but
/// no folder is entered twice and no file is listed twice, so a link back up the tree ends
/// there. A missing or unreadable folder has no pictures; unreadable subfolders are skipped.
class LibraryScanner : public QObject {
  Q_OBJECT
 public:
  explicit LibraryScanner(QObject* parent = nullptr);
  ~LibraryScanner() override;

  /// The listing, made on the calling thread.
  static QList<LibraryEntry> scan(const QString& folder);

  /// Starts a listing of `folder` on a worker thread; finished() follows on this object's
  /// thread. A listing still running is superseded: its result is never delivered.
  void start(const QString& folder);
  bool isRunning() const { return m_running; }

 signals:
  void finished(const QList<duo::LibraryEntry>& entries);

 private:
  QFutureWatcher<QList<LibraryEntry>>* m_watcher = nullptr;
  bool m_running = false;
};

}  // namespace duo
