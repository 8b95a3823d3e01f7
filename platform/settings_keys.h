#pragma once

#include <QDateTime>

#include "settings_store.h"

namespace duo::keys {

// Keys of the settings store. Values and meanings: see registerSettings below and the settings
// description in resources/.
inline const QString kShowIntro = QStringLiteral("ShowIntro");
inline const QString kColorMethod = QStringLiteral("ColorMethod");
inline const QString kAnaglyphEnhance = QStringLiteral("AnaglyphEnhance");
inline const QString kStereogramDots = QStringLiteral("StereogramDots");
inline const QString kStereoBorderSize = QStringLiteral("StereoBorderSize");
inline const QString kImageCounter = QStringLiteral("ImageCounter");
inline const QString kLastRatingDate = QStringLiteral("LastRatingDate");
inline const QString kProvidedRating = QStringLiteral("ProvidedRating");
inline const QString kSaveCamera = QStringLiteral("SaveCamera");
inline const QString kImageSize = QStringLiteral("ImageSize");
// Never registered: absent until the capture screen's buttons write them.
inline const QString kFlashOn = QStringLiteral("FlashOn");
inline const QString kAlignmentMode = QStringLiteral("AlignmentMode");
inline const QString kFrontCameraOn = QStringLiteral("FrontCameraOn");

}  // namespace duo::keys

namespace duo {

/// Writes the default of every registered key that has no stored value yet, in a fixed order;
/// a stored false or 0 is a value and stays. `now` becomes LastRatingDate on the first start.
void registerSettings(SettingsStore& store, const QDateTime& now);

}  // namespace duo
