#include "received_project_loader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>
#include <limits>

#include "io/image_codec.h"
#include "stereo/pair_loader.h"

namespace duo {
namespace {

Error folderError(const QString& folder, const QString& what) {
  return makeError(ErrorCode::Corrupt, (folder + QStringLiteral(": ") + what).toStdString());
}

/// A whole number within 32 bits, or nullopt.
std::optional<int> wholeNumber(const QJsonValue& value) {
  if (!value.isDouble()) return std::nullopt;
  const double number = value.toDouble();
  if (!(std::fabs(number) <= std::numeric_limits<std::int32_t>::max()) ||
      number != std::trunc(number))
    return std::nullopt;
  return int(number);
}

}  // namespace

Result<ReceivedProjectPair> ReceivedProjectLoader::load(const QString& folder,
                                                        float imageSizePercent) {
  const QDir dir(folder);
  if (!QFileInfo(folder).isDir())
    return makeError(ErrorCode::Io, (folder + QStringLiteral(": not a folder")).toStdString());
  // The file names are fixed: names read from the JSON could point anywhere.
  const QString leftPath = dir.filePath(QStringLiteral("left.jpg"));
  const QString rightPath = dir.filePath(QStringLiteral("right.jpg"));
  QFile json(dir.filePath(QStringLiteral("project.json")));
  for (const QString& path : {leftPath, rightPath, json.fileName()}) {
    if (!QFileInfo(path).isFile())
      return makeError(ErrorCode::Io, (folder + QStringLiteral(": no ") + QFileInfo(path).fileName() +
                                       QStringLiteral(" (not a received project folder?)"))
                                          .toStdString());
  }
  if (json.size() > kMaxProjectFileBytes)
    return folderError(folder, QStringLiteral("project.json is too large to be one"));
  if (!json.open(QIODevice::ReadOnly))
    return makeError(ErrorCode::Io, (json.fileName() + QStringLiteral(": ") + json.errorString()).toStdString());
  QJsonParseError parseError;
  const QJsonDocument document = QJsonDocument::fromJson(json.read(kMaxProjectFileBytes), &parseError);
  if (parseError.error != QJsonParseError::NoError)
    return folderError(folder, QStringLiteral("project.json does not parse: ") + parseError.errorString());
  if (!document.isObject()) return folderError(folder, QStringLiteral("project.json holds no object"));
  const QJsonObject offset = document.object().value(QStringLiteral("offset")).toObject();
  const auto x = wholeNumber(offset.value(QStringLiteral("x")));
  const auto y = wholeNumber(offset.value(QStringLiteral("y")));
  if (!x || !y)
    return folderError(folder, QStringLiteral("project.json has no offset of whole numbers x and y"));

  auto sent = readImageInfoFile(leftPath.toStdString());
  if (!sent) return sent.error();
  auto pair = loadStereoPairFiles(leftPath.toStdString(), rightPath.toStdString(), imageSizePercent);
  if (!pair) return pair.error();
  return ReceivedProjectPair{std::move(*pair),
                             SentAlignment{*x, *y, std::max(sent->width, sent->height)}};
}

}  // namespace duo
