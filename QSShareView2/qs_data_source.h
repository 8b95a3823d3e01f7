#pragma once

#include <QDateTime>
#include <QImage>
#include <QObject>
#include <QPointF>
#include <QPointer>
#include <QSizeF>
#include <QString>

class QWidget;

namespace duo {

class QSDataSource;

/// Hears from a loader. Both calls are optional (empty by default) and always arrive on the
/// main thread, from the event loop.
class QSDataSourceDelegate {
 public:
  virtual ~QSDataSourceDelegate() = default;
  /// 0: everything was loaded already; 1: a page was added and more follow; 2: loading ended.
  virtual void itemsAreAvailable(QSDataSource* source, int status) {
    (void)source;
    (void)status;
  }
  /// `customView` may be null.
  virtual void dataErrorOccurred(QSDataSource* source, const QString& message, QWidget* customView) {
    (void)source;
    (void)message;
    (void)customView;
  }
};

/// The common base of the photo and album loaders and of the photo and album records.
class QSDataSource : public QObject {
  Q_OBJECT

 public:
  /// The type of every Facebook and Flickr source.
  static constexpr int kServiceDataSourceType = 1;

  explicit QSDataSource(QObject* parent = nullptr);
  QSDataSource(int dataSourceType, const QImage& image, const QSizeF& size, const QString& url,
               const QString& sourceURL, const QString& caption, const QString& cacheIdentifier,
               QObject* parent = nullptr);
  ~QSDataSource() override;

  int dataSourceType() const { return m_dataSourceType; }
  void setDataSourceType(int type) { m_dataSourceType = type; }
  /// Not owned; a delegate that goes away is simply not told any more.
  QSDataSourceDelegate* delegate() const { return m_delegate; }
  void setDelegate(QSDataSourceDelegate* delegate) { m_delegate = delegate; }
  /// "default" while unset. (The property's name keeps its historical spelling.)
  QString cacheIdenfifier() const;
  void setCacheIdenfifier(const QString& identifier) { m_cacheIdentifier = identifier; }
  QDateTime lastUpdated() const { return m_lastUpdated; }
  QImage image() const { return m_image; }
  void setImage(const QImage& image) { m_image = image; }
  QImage sourceImage() const { return m_sourceImage; }
  void setSourceImage(const QImage& image) { m_sourceImage = image; }
  QSizeF size() const { return m_size; }
  void setSize(const QSizeF& size) { m_size = size; }
  QString url() const { return m_url; }
  void setUrl(const QString& url) { m_url = url; }
  QString sourceURL() const { return m_sourceURL; }
  void setSourceURL(const QString& url) { m_sourceURL = url; }
  QString caption() const { return m_caption; }
  void setCaption(const QString& caption) { m_caption = caption; }
  QDateTime date() const { return m_date; }
  void setDate(const QDateTime& date) { m_date = date; }
  QPointF contentOffset() const { return m_contentOffset; }
  void setContentOffset(const QPointF& offset) { m_contentOffset = offset; }

  virtual bool shouldShowCaptions() const { return false; }
  virtual bool hasChildren() const { return false; }
  virtual bool hasLatestAtTop() const { return true; }
  virtual QImage dataLogo() const { return {}; }
  virtual QString dataURL() const { return {}; }
  virtual int numberOfItems() const { return 0; }
  /// Null past the end; owned by this source.
  virtual QSDataSource* itemForIndex(int index) const {
    (void)index;
    return nullptr;
  }
  virtual void getItems() {}
  virtual void cancel() {}
  virtual void reset() { m_contentOffset = {}; }

  /// Records the update time for statuses 1 and 2 and tells the delegate on the main thread.
  /// Callable from any thread.
  void notifyDelegate(int status);
  /// Tells the delegate of a failure on the main thread. Callable from any thread; the custom
  /// view, if any, must outlive the call's delivery.
  void notifyDelegateOfError(const QString& message, QWidget* customView = nullptr);

 private:
  int m_dataSourceType = 0;
  QSDataSourceDelegate* m_delegate = nullptr;
  QString m_cacheIdentifier;
  QDateTime m_lastUpdated;
  QImage m_image;
  QImage m_sourceImage;
  QSizeF m_size;
  QString m_url;
  QString m_sourceURL;
  QString m_caption;
  QDateTime m_date;
  QPointF m_contentOffset;
};

}  // namespace duo
