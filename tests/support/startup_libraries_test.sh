#!/bin/sh
# Fails when a program links a library whose name matches PATTERN (an extended regex), so that
# the dynamic linker would load it, and everything it depends on, at every start.
# Usage: startup_libraries_test.sh PATTERN PROGRAM...
set -u
pattern=$1
shift
status=0
for program in "$@"; do
  needed=$(readelf -d "$program") || exit 1
  if printf '%s\n' "$needed" | grep -E "\(NEEDED\).*\[($pattern)"; then
    echo "FAIL: $program loads the libraries above at every start" >&2
    status=1
  fi
done
exit $status
