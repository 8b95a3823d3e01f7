#!/usr/bin/env bash
# The main job: set up, build, and run the command-line tool on the bundled sample pair.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${DUOSCOPE_BUILD_DIR:-$root/build}
"$root/scripts/setup.sh"
"$root/scripts/build.sh"

cli="$build/cli/duoscope-cli"
sample="$root/resources/sample"
out="$build/main-job"
mkdir -p "$out"

"$cli" info "$sample/left.jpg" "$sample/right.jpg"
# Half the longer side, as the default ImageSize of 50 % gives.
"$cli" normalize "$sample/left.jpg" -o "$out/left-working.png" --max-resolution 480
"$cli" normalize "$sample/right.jpg" -o "$out/right-working.png" --max-resolution 480
"$cli" info "$out/left-working.png" "$out/right-working.png"
echo "Working copies written to $out"
