#include "settings_keys.h"

namespace duo {

void registerSettings(SettingsStore& store, const QDateTime& now) {
  // Real writes, not a fallback layer: after the first start the store holds the defaults like
  // values the user set, and removing a key brings its default back at the next start.
  const auto absent = [&store](const QString& key) { return !store.objectForKey(key).isValid(); };
  if (absent(keys::kShowIntro)) store.setBool(true, keys::kShowIntro);
  if (absent(keys::kColorMethod)) store.setInteger(4, keys::kColorMethod);
  if (absent(keys::kAnaglyphEnhance)) store.setBool(true, keys::kAnaglyphEnhance);
  if (absent(keys::kStereogramDots)) store.setBool(false, keys::kStereogramDots);
  if (absent(keys::kStereoBorderSize)) store.setInteger(10, keys::kStereoBorderSize);
  if (absent(keys::kImageCounter)) store.setInteger(0, keys::kImageCounter);
  if (absent(keys::kLastRatingDate)) store.setObject(now, keys::kLastRatingDate);
  if (absent(keys::kProvidedRating)) store.setBool(false, keys::kProvidedRating);
  if (absent(keys::kSaveCamera)) store.setBool(true, keys::kSaveCamera);
  if (absent(keys::kImageSize)) store.setInteger(50, keys::kImageSize);
}

}  // namespace duo
