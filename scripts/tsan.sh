#!/usr/bin/env bash
# Builds the engine tests with ThreadSanitizer into build-tsan/ (or $DUOSCOPE_TSAN_BUILD_DIR) and
# runs the tests that share state between threads: the render cache's writer, the work queue,
# the pixel pool and concurrent GIF builds. A gtest filter as the first argument picks others.
#
#   scripts/tsan.sh ['*RenderCache*:*WorkQueue*']
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${DUOSCOPE_TSAN_BUILD_DIR:-$root/build-tsan}
filter=${1:-'*RenderCache*:*WorkQueue*:*Concurrent*'}
"$root/scripts/setup.sh"

launcher=()
if command -v ccache >/dev/null; then
  export CCACHE_DIR=${CCACHE_DIR:-$HOME/.cache/ccache}
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDUOSCOPE_SANITIZE=thread \
  "${launcher[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)" --target engine_tests

# A race is a failure even when the test's own checks pass.
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}
"$build/tests/engine_tests" --gtest_filter="$filter"
