#!/usr/bin/env bash
# The console-only configuration that the README documents (no window, no
# tests, no benchmarks) configures on its own, without Qt Widgets, and
# builds the console phone and the echo server; the programs run.
#
#   console_only_build_test.sh SOURCE_DIR SCRATCH_DIR
#
# The scratch folder is kept between runs, so that a second run rebuilds
# nothing; the compiler cache (ccache), when installed, makes a fresh one
# cheap.
set -euo pipefail
source_dir="$1"
scratch="$2"
fail() { echo "FAIL: $*" >&2; exit 1; }

launcher=()
if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
mkdir -p "$scratch"
cmake -S "$source_dir" -B "$scratch" -DVELNAR_UI=OFF -DVELNAR_TESTS=OFF -DVELNAR_BENCH=OFF \
    -DVELNAR_WERROR=ON "${launcher[@]}" >"$scratch/configure.log" 2>&1 ||
    { cat "$scratch/configure.log" >&2; fail "the console-only build does not configure"; }
if grep -q '^Qt6Widgets_DIR:PATH=/' "$scratch/CMakeCache.txt"; then
    fail "the console-only build looks for Qt Widgets"
fi

cmake --build "$scratch" -j"$(nproc)" --target velnar-console velnar_echo_peer \
    >"$scratch/build.log" 2>&1 ||
    { tail -50 "$scratch/build.log" >&2; fail "the console-only build does not build"; }
console="$scratch/console/velnar-console"
"$console" --version | grep -q '^velnar-console (Velnar) ' || fail "velnar-console --version"
if ldd "$console" | grep -q 'libQt6Widgets'; then
    fail "velnar-console links Qt Widgets"
fi
"$scratch/tools/velnar-echo" --version | grep -q '^velnar-echo (Velnar) ' ||
    fail "velnar-echo --version"
echo "ok: console-only build in $scratch"
