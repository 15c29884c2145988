#!/usr/bin/env bash
# Installs what is missing, builds Velnar and starts it. The settings file
# "VOIP.set" is kept in the directory this is started from.
#
# So that the first call reaches something, the phone comes with its echo
# server (velnar-echo: it answers every call and sends your voice back).
# When the directory holds no VOIP.set, the phone starts the echo server on
# 127.0.0.1:5037 (on a free port when that one is taken) and writes a
# VOIP.set that names it, as the Settings dialog writes it. Whenever VOIP.set
# names such a local echo address, the echo server is started again; any
# other server is left alone. The echo server stops when the phone exits.
#
#   tools/run-phone.sh                  build in build/release, then run
#   tools/run-phone.sh --build-dir DIR  run what is already built in DIR:
#                                       nothing is installed, configured or built
set -euo pipefail
here="$(pwd)"
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

build_dir=""
while [ $# -gt 0 ]; do
    case "$1" in
        --build-dir) [ $# -ge 2 ] || { echo "run-phone.sh: --build-dir needs a directory" >&2; exit 2; }
                     build_dir="$2"; shift 2 ;;
        --build-dir=*) build_dir="${1#*=}"; shift ;;
        --help) sed -n '2,15s/^# \{0,1\}//p' "${BASH_SOURCE[0]}"; exit 0 ;;
        *) echo "run-phone.sh: unknown option '$1' (see --help)" >&2; exit 2 ;;
    esac
done

if [ -z "$build_dir" ]; then
    cd "$top"
    tools/install-deps.sh
    cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DVELNAR_TESTS=OFF -DVELNAR_BENCH=OFF >/dev/null
    cmake --build build/release -j"$(nproc)" --target velnar velnar-console velnar_echo_peer
    build_dir="$top/build/release"
    cd "$here"
fi
build_dir="$(cd "$build_dir" && pwd)"
phone="$build_dir/ui/velnar"
# The phone itself starts the echo server and writes VOIP.set, as it does
# when started from the desktop menu; here the folder is this directory.
exec "$phone" --desktop="$here"
