#!/usr/bin/env bash
# Installs what is missing, builds Velnar and starts it. The settings file
# "VOIP.set" is kept in the directory this is started from.
set -euo pipefail
here="$(pwd)"
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$top"
tools/install-deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DVELNAR_TESTS=OFF -DVELNAR_BENCH=OFF >/dev/null
cmake --build build/release -j"$(nproc)" --target velnar
cd "$here"
exec "$top/build/release/ui/velnar"
