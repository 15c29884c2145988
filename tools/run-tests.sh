#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test twice: a normal
# build with g++, and a clang build with AddressSanitizer and
# UndefinedBehaviorSanitizer that also runs the receive-path fuzzer.
# The audio tests run against a private PulseAudio server started here.
set -euo pipefail
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$top"
jobs="$(nproc)"

tools/install-deps.sh --test

cmake -S . -B build/normal -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/normal -j"$jobs"
CC=clang CXX=clang++ cmake -S . -B build/sanitize -DCMAKE_BUILD_TYPE=Debug \
    -DVELNAR_SANITIZE=ON -DVELNAR_FUZZ=ON -DVELNAR_BENCH=OFF >/dev/null
cmake --build build/sanitize -j"$jobs"

source tools/test-audio-env.sh
trap velnar_audio_stop EXIT
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

status=0
log="$(mktemp)"
for build in normal sanitize; do
    echo "== tests: $build build"
    # Tests labelled "audio" share the one audio server's sinks, so they run
    # one at a time; the rest run in parallel.
    ctest --test-dir "build/$build" --output-on-failure -j"$jobs" -LE audio 2>&1 | tee -a "$log" || status=1
    ctest --test-dir "build/$build" --output-on-failure -L audio 2>&1 | tee -a "$log" || status=1
done

if [ -x tools/screenshots.sh ]; then
    tools/screenshots.sh build/normal build/screenshots || status=1
fi

# One closing line over both builds: "N passed, N failed".
read -r total failed < <(awk '/tests passed, [0-9]+ tests failed out of/ {
    f += $(NF-5); t += $NF } END { print t + 0, f + 0 }' "$log")
rm -f "$log"
[ "$total" -gt 0 ] || status=1
[ "$failed" -eq 0 ] || status=1
echo "velnar: $((total - failed)) passed, $failed failed"
exit $status
