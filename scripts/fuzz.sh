#!/usr/bin/env bash
# Builds the libFuzzer targets in fuzz/ with clang, AddressSanitizer and UndefinedBehaviorSanitizer
# into build-fuzz/ (or $DUOSCOPE_FUZZ_BUILD_DIR) and runs each for SECONDS (default 60), one after
# the other, at low priority. Prints per target the inputs executed, the coverage libFuzzer
# reached (cov: edges, ft: features) and the crashes found; exit status 1 when any target found
# one. Every input that crashed, leaked, timed out or ran out of memory is kept in
# BUILD/findings/NAME/ (seeds that still crash are among them); the growing corpus lives in
# BUILD/corpus/NAME/, seeded from fuzz/corpus/NAME/ (copy a crashing input there once it is
# fixed, so that CTest replays it for good).
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${DUOSCOPE_FUZZ_BUILD_DIR:-$root/build-fuzz}
seconds=${1:-60}
shift $(( $# > 0 ? 1 : 0 ))
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(decode_image render_pair exif_orientation batch_sources settings_file mpo_parser transfer_receiver)
fi

# libFuzzer ships with clang's runtime libraries; only this script needs them.
"$root/scripts/setup.sh" clang-14 libclang-rt-14-dev

launcher=()
if command -v ccache >/dev/null; then
  export CCACHE_DIR=${CCACHE_DIR:-$HOME/.cache/ccache}
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
CC=clang-14 CXX=clang++-14 cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DDUOSCOPE_FUZZ=ON -DDUOSCOPE_BUILD_TESTS=OFF "${launcher[@]}" >/dev/null
nice -n 10 cmake --build "$build" -j"$(nproc)" --target "${targets[@]/#/fuzz_}"

# Leaks count as findings; the fuzz build carries ASan's leak checker.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

found=0
summary=()
for name in "${targets[@]}"; do
  corpus="$build/corpus/$name"
  findings="$build/findings/$name"
  log="$build/fuzz-$name.log"
  mkdir -p "$corpus" "$findings"
  started="$build/fuzz-$name.started"
  touch "$started"
  # Fork mode with crashes ignored: each crash is saved and fuzzing goes on for the whole time,
  # so one known fault (or a crashing regression seed not yet fixed) does not end the run
  # before the others are looked for.
  options=(-fork=1 -ignore_crashes=1 -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2560
           -artifact_prefix="$findings/")
  [ -f "$root/fuzz/$name.dict" ] && options+=(-dict="$root/fuzz/$name.dict")
  echo "fuzz: $name for ${seconds}s (log $log)"
  status=0
  # The first folder receives what libFuzzer finds; the saved seeds are only read.
  nice -n 10 "$build/fuzz/fuzz_$name" "${options[@]}" "$corpus" "$root/fuzz/corpus/$name" \
    >"$log" 2>&1 || status=$?
  # The last progress line: "#EXECS: cov: N ft: N corp: N exec/s N oom/timeout/crash: ...".
  progress=$(grep -E '^#[0-9]+: cov: ' "$log" | tail -n1 || true)
  execs=$(sed -n 's/^#\([0-9]*\):.*/\1/p' <<<"$progress")
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$progress")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$progress")
  # This run's crashes, leaks, timeouts and out-of-memory inputs; slow inputs are only noted.
  crashes=$(find "$findings" -type f -newer "$started" ! -name 'slow-unit-*' | wc -l)
  if [ "$status" -ne 0 ] && [ "$crashes" -eq 0 ]; then
    crashes=1  # stopped by something that left no input behind: see the log
  fi
  [ "$crashes" -gt 0 ] && found=1
  summary+=("$(printf '%-18s execs %-10s cov %-6s ft %-7s crashes %s' "$name" "${execs:-?}" \
    "${cov:-?}" "${ft:-?}" "$crashes")")
done

echo
printf '%s\n' "${summary[@]}"
if [ "$found" -ne 0 ]; then
  echo "fuzz: findings in $build/findings/ (logs in $build/fuzz-*.log)" >&2
  exit 1
fi
