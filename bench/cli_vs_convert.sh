#!/usr/bin/env bash
# Wall clock and peak memory of `duoscope-cli render` (colour anaglyph of a 4000 × 3000 pair at
# 50 %) against ImageMagick's one-process equivalent, measured in the same run.
#   bench/cli_vs_convert.sh [BUILD_DIR]   (a build with -DDUOSCOPE_BENCH=ON; needs the Debian
#   packages imagemagick, hyperfine and time, which this script installs if missing)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
need=()
for p in imagemagick hyperfine time; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  sudo=(); [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  "${sudo[@]}" apt-get install -y --no-install-recommends "${need[@]}"
fi

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
"$build/bench/make_camera_pair" "$tmp"
cli="$build/cli/duoscope-cli"
# ImageMagick's own binary, not whatever else is called convert on the PATH.
convert=/usr/bin/convert

hyperfine --warmup 1 --runs 7 \
  "$cli render $tmp/L.jpg $tmp/R.jpg --kind color --enhance off -o $tmp/duoscope.png" \
  "$convert $tmp/R.jpg $tmp/L.jpg -auto-orient -resize 50% -compose Stereo -composite $tmp/magick.png"

for run in "$cli render $tmp/L.jpg $tmp/R.jpg --kind color --enhance off -o $tmp/duoscope.png" \
           "$cli render $tmp/L.jpg $tmp/R.jpg --kind color -o $tmp/duoscope.png"; do
  peak=$(/usr/bin/time -f '%M' $run 2>&1 >/dev/null | tail -n 1)
  echo "peak memory $((peak / 1024)) MB: $run"
done
