#!/usr/bin/env bash
# Refreshes the pictures in docs/screenshots (README, AppStream metainfo) from the screenshot
# tests, so that they always show the application as it is built: the tests draw each screen
# at twice the point size, and duoscope-cli scales it to 320 × 568, the phone's own size.
# Every picture shows the bundled sample pair, which is ours to publish.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${DUOSCOPE_BUILD_DIR:-$root/build}")
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# test binary, test function, picture it saves, name in docs/screenshots
shots=(
  "camera_view_controller_test screenshotOfTheRightShotOverTheLeftGhost capture-right-sample.png capture.png"
  "blend_view_controller_test screenshotOfTheLoupe blend-loupe.png alignment.png"
  "blend_view_controller_test screenshotsOfEveryViewMode blend-color.png anaglyph.png"
  "blend_view_controller_test screenshotsOfEveryViewMode blend-stereogram.png stereogram.png"
  "qs_share_view_controller_test screenshots share-picker-phone.png share.png"
)
mkdir -p "$root/docs/screenshots"
for shot in "${shots[@]}"; do
  read -r test function saved name <<<"$shot"
  if [ ! -f "$scratch/$saved" ]; then
    (cd "$scratch" && QT_QPA_PLATFORM=offscreen "$build/tests/$test" "$function" >"$scratch/$test.log" 2>&1) ||
      { cat "$scratch/$test.log" >&2; echo "screenshots: $test $function failed" >&2; exit 1; }
  fi
  [ -f "$scratch/$saved" ] || { echo "screenshots: $test $function saved no $saved" >&2; exit 1; }
  "$build/cli/duoscope-cli" normalize "$scratch/$saved" -o "$root/docs/screenshots/$name" \
    --max-resolution 568 >/dev/null
  echo "docs/screenshots/$name"
done
