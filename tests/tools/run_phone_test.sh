#!/usr/bin/env bash
# The run command's first run, as a new user meets it: in an empty
# directory, tools/run-phone.sh (on an existing build, nothing installed or
# built) starts the echo server, writes VOIP.set naming it and starts the
# window (offscreen here). The console phone, reading that VOIP.set, must
# get a call through; stopping the run command must stop the echo server.
# A second run finds the file and starts the echo server again.
#
#   run_phone_test.sh SOURCE_DIR BUILD_DIR
# The window binds UDP port 5036: this test runs alone.
set -euo pipefail
source_dir="$1"
build_dir="$2"
console="$build_dir/console/velnar-console"
work="$(mktemp -d)"
run_pid=""
cleanup() {
    # Only what this test started: the run command and its children.
    if [ -n "$run_pid" ]; then
        kill -TERM "$run_pid" 2>/dev/null || true
        wait "$run_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

export QT_QPA_PLATFORM=offscreen VELNAR_AUDIO=none
cd "$work"

# Starts the run command in the background; its output goes to run.log.
start_run() {
    bash "$source_dir/tools/run-phone.sh" --build-dir "$build_dir" >run.log 2>&1 &
    run_pid=$!
    for _ in $(seq 100); do
        pgrep -P "$run_pid" -x velnar >/dev/null && pgrep -P "$run_pid" -x velnar-echo >/dev/null && return 0
        sleep 0.1
    done
    cat run.log >&2
    fail "the run command did not start the phone and the echo server"
}

# Stops it and checks that everything it started is gone.
stop_run() {
    local children
    children="$(pgrep -P "$run_pid" -x 'velnar|velnar-echo' | tr '\n' ' ')"
    kill -TERM "$run_pid"
    wait "$run_pid" || true
    run_pid=""
    for pid in $children; do
        for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        if kill -0 "$pid" 2>/dev/null; then
            local name
            name="$(cat "/proc/$pid/comm")"
            kill -TERM "$pid"
            fail "process $pid ($name) outlived the run command"
        fi
    done
    return 0
}

# A call through the console phone with the directory's VOIP.set; it gives
# up after $1 seconds (10) without "Connected".
call_echo() {
    "$console" --audio none --local-port 0 --call 100 --seconds 0 --timeout "${1:-10}" \
        >call.out 2>call.err
}

start_run
[ -f VOIP.set ] || fail "no VOIP.set written"
content="$(cat VOIP.set; echo x)"
[[ "$content" =~ ^:@127\.0\.0\.1:([0-9]+)$'\n'1000x$ ]] || fail "VOIP.set holds '$content'"
port="${BASH_REMATCH[1]}"
[ "$(stat -c %a VOIP.set)" = 600 ] || fail "VOIP.set has mode $(stat -c %a VOIP.set)"
grep -q "127.0.0.1:$port.*Options → Settings" run.log || fail "no line about VOIP.set: $(cat run.log)"
call_echo || fail "no call through the echo server: $(cat call.out call.err)"
grep -qx Connected call.out || fail "no Connected: $(cat call.out)"
stop_run
call_echo 3 && fail "the echo server still answers on port $port"

start_run
call_echo || fail "the second run did not start the echo server again: $(cat call.out call.err run.log)"
stop_run
echo "ok: echo server on 127.0.0.1:$port"
