#!/usr/bin/env bash
# The test command. Installs what is missing, then does each expensive thing
# once:
#   - checks that the sources follow .clang-format (tools/format.sh --check);
#   - the ordinary build (build/normal: the system compiler, RelWithDebInfo)
#     runs every test: those labelled "audio" one by one against a private
#     PulseAudio server started here, the rest in parallel; the measuring
#     programs ("bench") run briefly among them, as smoke tests;
#   - the sanitizer build (build/sanitize: clang with AddressSanitizer and
#     UndefinedBehaviorSanitizer, without the window, whose tests ran in the
#     ordinary build) runs every test but the "audio" ones, the receive-path
#     fuzzer ("fuzz") among them. It compiles at the lowest priority while
#     the ordinary build's tests run (the audio ones mostly wait on the sound
#     server's clock), with line tables for the sanitizers' reports as its
#     only debug information;
#   - renders the screenshots.
# Both builds treat compiler warnings as errors. When ccache is installed
# (tools/install-deps.sh --test installs it) both compile through it, with
# its cache in the usual place (~/.cache/ccache), so that a second run, or a
# fresh clone elsewhere on the same machine, recompiles only what changed.
#
#   tools/run-tests.sh           all of the above (what CI runs)
#   tools/run-tests.sh --quick   the ordinary build and its "unit" and
#                                "loopback" tests only
#   tools/run-tests.sh --bench   the ordinary build and the measuring
#                                programs ("bench") in full, one by one, with
#                                every target held: for a quiet machine
#
# The closing line counts every test run, and the format check as one more:
# "velnar: N passed, N failed".
set -euo pipefail
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$top"
jobs="$(nproc)"

mode=full
case "${1:-}" in
    --quick) mode=quick ;;
    --bench) mode=bench ;;
    "") ;;
    *) echo "usage: tools/run-tests.sh [--quick | --bench]" >&2; exit 2 ;;
esac

tools/install-deps.sh --test

# Compiler caching, when there is a cache: paths inside the tree are made
# relative, so that the cache serves a clone in another folder as well.
# A cache that cannot be written is no cache: ccache would fail every
# compilation instead.
cache_writable() {
    local dir
    dir="$(ccache -k cache_dir 2>/dev/null)" && mkdir -p "$dir" 2>/dev/null && [ -w "$dir" ]
}
cache_flags=()
if command -v ccache >/dev/null && cache_writable; then
    export CCACHE_BASEDIR="$top"
    cache_flags=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache
                 "-DCMAKE_C_FLAGS=-ffile-prefix-map=$top/="
                 "-DCMAKE_CXX_FLAGS=-ffile-prefix-map=$top/=")
fi

status=0
log="$(mktemp)"
sanitize_log="$(mktemp)"
sanitize_pid=""
passed=0
failed=0
cleanup() {
    [ -z "$sanitize_pid" ] || kill -- "-$sanitize_pid" 2>/dev/null || true
    rm -f "$log" "$sanitize_log"
    if [ "$mode" != quick ]; then velnar_audio_stop 2>/dev/null || true; fi
}
trap cleanup EXIT

if [ "$mode" = full ]; then
    echo "== format check"
    if tools/format.sh --check; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
    fi
fi

echo "== build: normal"
cmake -S . -B build/normal -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELNAR_WERROR=ON \
    "${cache_flags[@]}" >/dev/null
cmake --build build/normal -j"$jobs"

# The sanitizer build, configured and compiled in the background at the
# lowest priority; its output goes to a log shown when it fails. It runs in
# a process group of its own, so that an interrupted check stops all of it.
start_sanitize_build() {
    set -m
    (
        CC=clang CXX=clang++ cmake -S . -B build/sanitize -DCMAKE_BUILD_TYPE=Debug \
            -DVELNAR_SANITIZE=ON -DVELNAR_FUZZ=ON -DVELNAR_BENCH=OFF -DVELNAR_UI=OFF \
            -DVELNAR_WERROR=ON "-DCMAKE_C_FLAGS_DEBUG=-gline-tables-only" \
            "-DCMAKE_CXX_FLAGS_DEBUG=-gline-tables-only" "${cache_flags[@]}" >/dev/null &&
            nice -n 19 cmake --build build/sanitize -j"$jobs"
    ) >"$sanitize_log" 2>&1 &
    sanitize_pid=$!
    set +m
}

finish_sanitize_build() {
    local built=0
    wait "$sanitize_pid" || built=$?
    sanitize_pid=""
    if [ "$built" -ne 0 ]; then
        tail -100 "$sanitize_log"
        echo "sanitizer build failed" >&2
        return 1
    fi
}

export QT_QPA_PLATFORM=offscreen
case "$mode" in
quick)
    echo "== tests: normal build, unit and loopback"
    ctest --test-dir build/normal --output-on-failure -j"$jobs" \
        -L 'unit|loopback' -LE 'audio|fuzz' 2>&1 | tee -a "$log" || status=1
    ;;
bench)
    source tools/test-audio-env.sh
    echo "== measuring programs in full, targets held"
    VELNAR_BENCH_FULL=1 ctest --test-dir build/normal --output-on-failure -V -L bench 2>&1 |
        tee -a "$log" || status=1
    ;;
full)
    echo "== build: sanitize (in the background, while the normal build's tests run)"
    start_sanitize_build
    source tools/test-audio-env.sh
    echo "== tests: normal build"
    # Tests labelled "audio" share the one audio server's sinks, so they run
    # one at a time; the rest run in parallel.
    ctest --test-dir build/normal --output-on-failure -j"$jobs" -LE audio 2>&1 |
        tee -a "$log" || status=1
    ctest --test-dir build/normal --output-on-failure -L audio 2>&1 | tee -a "$log" || status=1
    if finish_sanitize_build; then
        echo "== tests: sanitize build (the audio and window tests ran in the normal build)"
        export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
        export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
        ctest --test-dir build/sanitize --output-on-failure -j"$jobs" -LE audio 2>&1 |
            tee -a "$log" || status=1
    else
        status=1
        failed=$((failed + 1))
    fi

    if [ -x tools/screenshots.sh ]; then
        tools/screenshots.sh build/normal build/screenshots || status=1
    fi
    ;;
esac

# ctest's summary lines: "NN% tests passed, F tests failed out of T".
read -r total failedTests < <(awk '/tests passed, [0-9]+ tests failed out of/ {
    f += $(NF-5); t += $NF } END { print t + 0, f + 0 }' "$log")
passed=$((passed + total - failedTests))
failed=$((failed + failedTests))
[ "$total" -gt 0 ] || status=1
[ "$failed" -eq 0 ] || status=1
echo "velnar: $passed passed, $failed failed"
exit $status
