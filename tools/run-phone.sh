#!/usr/bin/env bash
# Installs what is missing, builds Velnar and starts it. The settings file
# "VOIP.set" is kept in the directory this is started from.
#
# So that the first call reaches something, the phone comes with its echo
# server (velnar-echo: it answers every call and sends your voice back).
# When the directory holds no VOIP.set, the echo server is started on
# 127.0.0.1:5037 (on a free port when that one is taken) and a VOIP.set that
# names it is written, as the Settings dialog writes it. Whenever VOIP.set
# names such a local echo address, the echo server is started again; any
# other server is left alone. The echo server stops when the phone exits.
#
#   tools/run-phone.sh                  build in build/release, then run
#   tools/run-phone.sh --build-dir DIR  run what is already built in DIR:
#                                       nothing is installed, configured or built
set -euo pipefail
here="$(pwd)"
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
settings="VOIP.set"
echo_port=5037

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
    cmake --build build/release -j"$(nproc)" --target velnar velnar_echo_peer
    build_dir="$top/build/release"
    cd "$here"
fi
build_dir="$(cd "$build_dir" && pwd)"
phone="$build_dir/ui/velnar"
echo_server="$build_dir/tools/velnar-echo"

echo_pid=""

# Starts the echo server on 127.0.0.1:$1 (0: a free port) in the background
# and sets echo_port to the port it listens on; fails when it cannot bind.
start_echo() {
    local first_line
    local fifo
    fifo="$(mktemp -u)"
    mkfifo "$fifo"
    "$echo_server" --quiet --port "$1" >"$fifo" 2>/dev/null &
    echo_pid=$!
    # Its first line names the port; it says nothing when it cannot bind.
    if read -r first_line <"$fifo" && [[ "$first_line" =~ ^listening\ on\ 127\.0\.0\.1:([0-9]+)\; ]]; then
        echo_port="${BASH_REMATCH[1]}"
        rm -f "$fifo"
        return 0
    fi
    rm -f "$fifo"
    wait "$echo_pid" 2>/dev/null || true
    echo_pid=""
    return 1
}

stop_echo() {
    [ -n "$echo_pid" ] || return 0
    kill -TERM "$echo_pid" 2>/dev/null || true
    wait "$echo_pid" 2>/dev/null || true
    echo_pid=""
}

# The port of the local echo address that VOIP.set names (written with an
# empty user name and password, as this script writes it), or nothing.
echo_port_in_settings() {
    local words=()
    IFS=$' \t\r\n' read -r -d '' -a words <"$settings" 2>/dev/null || true
    if [[ "${words[0]:-}" =~ ^:@127\.0\.0\.1:([0-9]+)$ ]] && [ "${BASH_REMATCH[1]}" != 5036 ]; then
        echo "${BASH_REMATCH[1]}"
    fi
}

if [ ! -e "$settings" ]; then
    if ! start_echo "$echo_port" && ! start_echo 0; then
        echo "Cannot start the echo server ($echo_server); $settings not written." >&2
    elif (umask 077 && printf ':@127.0.0.1:%s\n1000' "$echo_port" >"$settings"); then
        echo "Wrote $settings: calls go to the bundled echo server on 127.0.0.1:$echo_port" \
             "(dial any number to hear yourself); change it in Options → Settings."
    else
        echo "Cannot write $settings here; the echo server is on 127.0.0.1:$echo_port" \
             "(enter it in Options → Settings)." >&2
    fi
else
    port="$(echo_port_in_settings)"
    if [ -n "$port" ]; then
        start_echo "$port" ||
            echo "The echo server cannot listen on 127.0.0.1:$port (taken); not started." >&2
    fi
fi

if [ -z "$echo_pid" ]; then
    exec "$phone"
fi

trap stop_echo EXIT
"$phone" &
phone_pid=$!
# Ctrl-C reaches this script (a background program ignores it): end the
# phone, and the echo server after it.
trap 'kill -TERM "$phone_pid" 2>/dev/null || true' INT TERM HUP
status=0
while :; do
    wait "$phone_pid" && status=0 || status=$?
    kill -0 "$phone_pid" 2>/dev/null || break
done
exit "$status"
