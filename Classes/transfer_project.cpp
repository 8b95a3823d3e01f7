#include "transfer_project.h"

#include <QDir>
#include <QFile>

#include <new>

#include "io/file_io.h"
#include "io/image_codec.h"
#include "transform/image_tools.h"

namespace duo {
namespace {

Result<Image> writeJpeg(const Image& image, const QString& path) {
  Image prepared;
  try {
    prepared = ImageTools::scaleAndRotateImage(image, ImageTools::kKeepOrientation,
                                               TransferProject::kMaxResolution);
  } catch (const std::bad_alloc&) {
    return makeError(ErrorCode::TooLarge, "not enough memory to prepare the photographs");
  }
  auto jpeg = encodeJpeg(prepared, TransferProject::kJpegQuality);
  if (!jpeg) return jpeg.error();
  if (Status written = writeFileAtomically(path.toStdString(), *jpeg); !written)
    return written.error();
  return prepared;
}

}  // namespace

Result<TransferProject> TransferProject::prepare(const StereoPair& pair, const QString& folder) {
  if (pair.leftImage().isNull() || pair.rightImage().isNull())
    return makeError(ErrorCode::InvalidArgument, "there is no pair of photographs to send");
  if (!QDir().mkpath(folder))
    return makeError(ErrorCode::Io, "the folder " + folder.toStdString() + " cannot be created");
  TransferProject project;
  project.leftPath = QDir(folder).filePath(QLatin1String(kLeftFileName));
  project.rightPath = QDir(folder).filePath(QLatin1String(kRightFileName));
  auto left = writeJpeg(pair.leftImage(), project.leftPath);
  if (!left) return left.error();
  auto right = writeJpeg(pair.rightImage(), project.rightPath);
  if (!right) {
    QFile::remove(project.leftPath);
    return right.error();
  }
  // The offset is in points of the result view; the receiver needs pixels of the files sent,
  // which are smaller than the working copies the view shows.
  float scale = pair.scaleForImageView();
  const int leftHeight = pair.leftImage().height();
  if (leftHeight != right->height())
    scale *= static_cast<float>(right->height()) / static_cast<float>(leftHeight);
  const PixelOffset offset = pixelOffsetFor(scale, pair.alignOffsetX(), pair.alignOffsetY());
  project.offsetX = offset.x;
  project.offsetY = offset.y;
  return project;
}

void TransferProject::removeFiles(const QString& folder) {
  QFile::remove(QDir(folder).filePath(QLatin1String(kLeftFileName)));
  QFile::remove(QDir(folder).filePath(QLatin1String(kRightFileName)));
}

}  // namespace duo
