#!/usr/bin/env bash
# The test command. Installs what is missing, then does each expensive thing
# once:
#   - checks that the sources follow .clang-format (tools/format.sh --check);
#   - the ordinary build (build/normal: the system compiler, RelWithDebInfo,
#     benchmarks compiled but not run) runs every test: those labelled
#     "audio" one by one against a private PulseAudio server started here,
#     the rest in parallel;
#   - the sanitizer build (build/sanitize: clang with AddressSanitizer and
#     UndefinedBehaviorSanitizer) runs every test but the "audio" ones,
#     the receive-path fuzzer ("fuzz") among them;
#   - renders the screenshots.
# Both builds treat compiler warnings as errors.
#
#   tools/run-tests.sh           all of the above (what CI runs)
#   tools/run-tests.sh --quick   the ordinary build and its "unit" and
#                                "loopback" tests only
#
# The closing line counts every test of both builds, and the format check
# as one more: "velnar: N passed, N failed".
set -euo pipefail
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$top"
jobs="$(nproc)"

quick=0
case "${1:-}" in
    --quick) quick=1 ;;
    "") ;;
    *) echo "usage: tools/run-tests.sh [--quick]" >&2; exit 2 ;;
esac

tools/install-deps.sh --test

status=0
log="$(mktemp)"
passed=0
failed=0
cleanup() {
    rm -f "$log"
    if [ "$quick" -eq 0 ]; then velnar_audio_stop 2>/dev/null || true; fi
}
trap cleanup EXIT

if [ "$quick" -eq 0 ]; then
    echo "== format check"
    if tools/format.sh --check; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
    fi
fi

echo "== build: normal"
cmake -S . -B build/normal -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELNAR_WERROR=ON >/dev/null
cmake --build build/normal -j"$jobs"

export QT_QPA_PLATFORM=offscreen
if [ "$quick" -eq 1 ]; then
    echo "== tests: normal build, unit and loopback"
    ctest --test-dir build/normal --output-on-failure -j"$jobs" \
        -L 'unit|loopback' -LE 'audio|fuzz' 2>&1 | tee -a "$log" || status=1
else
    source tools/test-audio-env.sh
    echo "== tests: normal build"
    # Tests labelled "audio" share the one audio server's sinks, so they run
    # one at a time; the rest run in parallel.
    ctest --test-dir build/normal --output-on-failure -j"$jobs" -LE audio 2>&1 |
        tee -a "$log" || status=1
    ctest --test-dir build/normal --output-on-failure -L audio 2>&1 | tee -a "$log" || status=1

    echo "== build: sanitize"
    CC=clang CXX=clang++ cmake -S . -B build/sanitize -DCMAKE_BUILD_TYPE=Debug \
        -DVELNAR_SANITIZE=ON -DVELNAR_FUZZ=ON -DVELNAR_BENCH=OFF -DVELNAR_WERROR=ON >/dev/null
    cmake --build build/sanitize -j"$jobs"
    echo "== tests: sanitize build (the audio tests ran in the normal build)"
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    ctest --test-dir build/sanitize --output-on-failure -j"$jobs" -LE audio 2>&1 |
        tee -a "$log" || status=1

    if [ -x tools/screenshots.sh ]; then
        tools/screenshots.sh build/normal build/screenshots || status=1
    fi
fi

# ctest's summary lines: "NN% tests passed, F tests failed out of T".
read -r total failedTests < <(awk '/tests passed, [0-9]+ tests failed out of/ {
    f += $(NF-5); t += $NF } END { print t + 0, f + 0 }' "$log")
passed=$((passed + total - failedTests))
failed=$((failed + failedTests))
[ "$total" -gt 0 ] || status=1
[ "$failed" -eq 0 ] || status=1
echo "velnar: $passed passed, $failed failed"
exit $status
