#!/usr/bin/env bash
# duoscope-cli's main job, the colour anaglyph of a 4000 × 3000 camera pair written as a PNG at
# 50 %, against ImageMagick's and FFmpeg's one-process equivalents, all measured in the same run:
# wall clock (hyperfine) and peak memory (GNU time), on one pinned core and unpinned, on the
# camera pair and on a noisy pair (heavy grain: harder on every decoder and compressor).
#   bench/cli_vs_convert.sh [BUILD_DIR] [CORE]
# BUILD_DIR is a build with -DDUOSCOPE_BENCH=ON (default build-bench), CORE the core that pinned
# runs share (default 1). Installs the Debian packages imagemagick, ffmpeg, hyperfine and time
# when they are missing. Run it on a quiet machine: the load is printed before and after.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
core=${2:-1}
need=()
for p in imagemagick ffmpeg hyperfine time; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  sudo=(); [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  "${sudo[@]}" apt-get update
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y --no-install-recommends "${need[@]}"
fi

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cli="$build/cli/duoscope-cli"
# The distributions' own binaries, not whatever else is called so on the PATH.
convert=/usr/bin/convert
ffmpeg=/usr/bin/ffmpeg

# The same job for each tool, as an argument list: L and R in, out.png out.
job() {
  local tool=$1 dir=$2
  case $tool in
    duoscope) echo "$cli render $dir/L.jpg $dir/R.jpg --kind color --enhance off -o $dir/duoscope.png" ;;
    imagemagick) echo "$convert $dir/R.jpg $dir/L.jpg -auto-orient -resize 50% -compose Stereo -composite $dir/magick.png" ;;
    # Both views halved, side by side, then the red-cyan (Dubois) anaglyph of the pair.
    ffmpeg) echo "$ffmpeg -v error -y -i $dir/L.jpg -i $dir/R.jpg -filter_complex [0:v]scale=iw/2:ih/2[l];[1:v]scale=iw/2:ih/2[r];[l][r]hstack,stereo3d=sbsl:arcd -frames:v 1 $dir/ffmpeg.png" ;;
  esac
}
tools=(duoscope imagemagick ffmpeg)

# Mean wall clock of each tool and its ratio to duoscope, then each one's peak memory.
measure() {
  local pair=$1 dir=$2 cores=$3
  local pin=() names=() commands=()
  [ "$cores" = pinned ] && pin=(taskset -c "$core")
  for tool in "${tools[@]}"; do
    names+=(-n "$tool")
    commands+=("${pin[*]} $(job "$tool" "$dir")")
  done
  echo "== $pair pair, $cores ($(uptime | sed 's/.*load/load/'))"
  hyperfine -N --warmup 1 --runs 7 --style basic --export-json "$tmp/times.json" \
    "${names[@]}" "${commands[@]}" >/dev/null
  set -f  # the words of a job are split, never globbed
  for tool in "${tools[@]}"; do
    # shellcheck disable=SC2046
    peak=$(/usr/bin/time -f '%M' "${pin[@]}" $(job "$tool" "$dir") 2>&1 >/dev/null | tail -n 1)
    echo "$tool $peak" >>"$tmp/peaks"
  done
  set +f
  python3 - "$tmp/times.json" "$tmp/peaks" <<'EOF'
import json, sys
results = json.load(open(sys.argv[1]))["results"]
peaks = dict(line.split() for line in open(sys.argv[2]))
ours = results[0]["mean"]
print(f"  {'tool':<12} {'mean':>9} {'± sd':>8} {'× duoscope':>11} {'peak MB':>8}")
for r in results:
    name = r["command"]
    print(f"  {name:<12} {r['mean'] * 1000:7.0f} ms {r['stddev'] * 1000:5.0f} ms "
          f"{r['mean'] / ours:11.2f} {int(peaks[name]) / 1024:8.0f}")
EOF
  rm -f "$tmp/peaks"
}

for pair in camera noisy; do
  dir="$tmp/$pair"
  mkdir -p "$dir"
  if [ "$pair" = noisy ]; then
    "$build/bench/make_camera_pair" "$dir" --noisy
  else
    "$build/bench/make_camera_pair" "$dir"
  fi
  measure "$pair" "$dir" pinned
  measure "$pair" "$dir" unpinned
done
echo "Goals (pinned): duoscope at least 10 x faster than imagemagick and 3 x faster than ffmpeg," \
  "peak memory at most 80 MB."
echo "load after: $(uptime | sed 's/.*load/load/')"
