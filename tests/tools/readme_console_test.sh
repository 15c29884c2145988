#!/usr/bin/env bash
# The README's console command line, as written there (only the build
# directory and the echo server's port put in), against the echo server: it
# must take "call 100" to "Connected" and end on "quit". Taken from the
# README each time, so that the two cannot drift apart.
#
#   readme_console_test.sh SOURCE_DIR BUILD_DIR
# As the README runs it, the console phone binds UDP port 5036; the test
# asks it for a free port instead where the program offers that, and runs
# alone in case it does not.
set -euo pipefail
source_dir="$1"
build_dir="$2"
work="$(mktemp -d)"
echo_pid=""
phone_pid=""
cleanup() {
    for pid in $phone_pid $echo_pid; do
        kill -TERM "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

line="$(grep -m1 '^build/release/console/velnar-console ' "$source_dir/README.md")" ||
    fail "the README has no line starting build/release/console/velnar-console"
[[ "$line" == *127.0.0.1:5037* ]] || fail "the README's line names no echo server: $line"

"$build_dir/tools/velnar-echo" --quiet --port 0 >"$work/echo.out" 2>&1 &
echo_pid=$!
for _ in $(seq 100); do
    [[ "$(head -n1 "$work/echo.out")" =~ ^listening\ on\ 127\.0\.0\.1:([0-9]+)\; ]] && break
    sleep 0.1
done
port="${BASH_REMATCH[1]:-}"
[ -n "$port" ] || fail "the echo server did not start: $(cat "$work/echo.out")"

command="${line//build\/release\//$build_dir/}"
command="${command//127.0.0.1:5037/127.0.0.1:$port}"
cd "$work"
mkfifo input
VELNAR_TEST_LOCAL_PORT=-1 eval "$command" <input >phone.out 2>phone.err &
phone_pid=$!
exec 3>input
echo "call 100" >&3
for _ in $(seq 100); do
    grep -qx Connected phone.out && break
    kill -0 "$phone_pid" 2>/dev/null || break
    sleep 0.1
done
grep -qx Connected phone.out || fail "no Connected from '$command': $(cat phone.out phone.err)"
echo quit >&3
exec 3>&-
status=0
wait "$phone_pid" || status=$?
phone_pid=""
[ "$status" = 0 ] || fail "exit status $status: $(cat phone.err)"
expected=$'Calling...\nConnected\nHanging up...\nReady'
[ "$(cat phone.out)" = "$expected" ] || fail "status lines: $(cat phone.out)"
echo "ok: $command"
