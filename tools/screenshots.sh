#!/usr/bin/env bash
# Renders the main dialog, the Settings dialog and the messages window as PNG
# files under a virtual X server, with the real xcb platform (so the
# desktop's font and style apply, unlike the offscreen platform of the tests).
#
#   tools/screenshots.sh [BUILD_DIR [OUTPUT_DIR]]
#
# BUILD_DIR defaults to build/normal, OUTPUT_DIR to BUILD_DIR/screenshots.
# The images committed under docs/ are made this way.
set -euo pipefail
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$top/build/normal}"
out="${2:-$build/screenshots}"
tool="$build/tools/velnar_screenshots"

if [ ! -x "$tool" ]; then
    echo "screenshots: $tool is not built" >&2
    exit 1
fi
if ! command -v xvfb-run >/dev/null; then
    echo "screenshots: xvfb-run is missing (Debian package xvfb)" >&2
    exit 1
fi

mkdir -p "$out"
runtime="$(mktemp -d)"
trap 'rm -rf "$runtime"' EXIT
# The offscreen platform the tests export would bypass the X server.
env -u QT_QPA_PLATFORM QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$runtime" \
    timeout 120 xvfb-run -a -s "-screen 0 1280x1024x24" "$tool" "$out"
for name in main-dialog settings messages main-dialog-v2 settings-v2; do
    if [ ! -s "$out/$name.png" ]; then
        echo "screenshots: $out/$name.png was not written" >&2
        exit 1
    fi
done
echo "screenshots: written to $out"
