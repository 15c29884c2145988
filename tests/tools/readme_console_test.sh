#!/usr/bin/env bash
# The README's console command line, as written there (only the build
# directory and the echo server's port put in), against the echo server:
# "call 100" must reach "Connected" and "quit" end it. Read from the README
# each time, so that the two cannot drift apart.
#
#   readme_console_test.sh SOURCE_DIR BUILD_DIR
# The line must ask for a free local port: it is run beside the window.
set -euo pipefail
work="$(mktemp -d)"
pids=""
trap 'kill $pids 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
cd "$work"

line="$(grep -m1 '^build/release/console/velnar-console .*127\.0\.0\.1:5037' "$1/README.md")" ||
    fail "the README has no console command line that calls 127.0.0.1:5037"
[[ "$line" == *--local-port=0* ]] || fail "the README's console line would take port 5036: $line"

"$2/tools/velnar-echo" --quiet --port 0 >echo.out 2>&1 &
pids="$!"
for _ in $(seq 100); do
    [[ "$(head -n1 echo.out)" =~ ^listening\ on\ 127\.0\.0\.1:([0-9]+)\; ]] && break
    sleep 0.1
done
port="${BASH_REMATCH[1]:-}"
[ -n "$port" ] || fail "the echo server did not start: $(cat echo.out)"

command="${line//build\/release\//$2/}"
command="${command//127.0.0.1:5037/127.0.0.1:$port}"
mkfifo input
eval "$command" <input >phone.out 2>phone.err &
phone=$!
pids="$pids $phone"
exec 3>input
echo "call 100" >&3
for _ in $(seq 100); do
    grep -qx Connected phone.out || ! kill -0 "$phone" 2>/dev/null && break
    sleep 0.1
done
grep -qx Connected phone.out || fail "no Connected from '$command': $(cat phone.out phone.err)"
echo quit >&3
exec 3>&-
wait "$phone" || fail "exit status $?: $(cat phone.err)"
[ "$(cat phone.out)" = $'Calling...\nConnected\nHanging up...\nReady' ] ||
    fail "status lines: $(cat phone.out)"
echo "ok: $command"
