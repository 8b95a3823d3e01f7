#!/usr/bin/env bash
# Sets up, builds everything with AddressSanitizer (and its leak checker) and
# UndefinedBehaviorSanitizer into build-asan/ (or $DUOSCOPE_ASAN_BUILD_DIR), and runs the whole
# test suite under them. Any report fails the test that caused it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${DUOSCOPE_ASAN_BUILD_DIR:-$root/build-asan}
"$root/scripts/setup.sh"

launcher=()
if command -v ccache >/dev/null; then
  export CCACHE_DIR=${CCACHE_DIR:-$HOME/.cache/ccache}
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
# RelWithDebInfo: optimised as shipped, with the line numbers a report needs. No benchmarks:
# nothing runs them here. GCC leaves float-cast-overflow (a float too large for the integer it
# is converted to) out of "undefined", where clang, and so the fuzz build, has it; without it a
# fuzz finding of that kind would replay here as a pass.
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DDUOSCOPE_SANITIZE=address,undefined,float-cast-overflow -DDUOSCOPE_BENCH=OFF \
  "${launcher[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:detect_stack_use_after_return=1:strict_init_order=1:check_initialization_order=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
# Only allocations of other libraries, each entry with its reason.
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/scripts/lsan-suppressions.txt:print_suppressions=0}
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"
