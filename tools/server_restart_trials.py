#!/usr/bin/env python3
"""Restarts the private sound server in the middle of calls and counts how
often the phone recovers.

For each trial velnar-console (on the backend given) calls velnar-echo while
noise plays into the "mic" sink, so that speech flows both ways; once the
phone's recording and playback streams are on the server, the server is
stopped and started again. The trial counts as recovered when the phone's
streams are back on the new server within the wait, "status" is answered
and "hangup" ends the call. A phone that stops answering is killed and a
fresh one started for the next trial. Finally "quit" must end it.

  VELNAR_AUDIO_DIR=/tmp/velnar-audio-me \\
      tools/server_restart_trials.py --build=build/dev --audio=alsa --trials=20

Run from the top of the tree; uses tools/test-audio-env.sh for the server.
"""
import argparse
import os
import queue
import re
import subprocess
import sys
import threading
import time

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
ENV_SCRIPT = os.path.join(TOP, "tools", "test-audio-env.sh")


def audio_env():
    out = subprocess.run(["bash", ENV_SCRIPT, "start"], capture_output=True, text=True,
                         check=True).stdout.strip().splitlines()[-1]
    env = dict(os.environ)
    for pair in out.split():
        key, value = pair.split("=", 1)
        env[key] = value
    return env


def stop_server():
    subprocess.run(["bash", ENV_SCRIPT, "stop"], check=False)
    # The daemon takes a moment to let go of its socket.
    time.sleep(0.3)


class Lines:
    """A child's standard output, read line by line with a time limit."""

    def __init__(self, stream):
        self.queue = queue.Queue()
        threading.Thread(target=self._pump, args=(stream,), daemon=True).start()

    def _pump(self, stream):
        for line in stream:
            self.queue.put(line.rstrip("\n"))
        self.queue.put(None)

    def wait_for(self, wanted, seconds):
        deadline = time.monotonic() + seconds
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                return None
            try:
                line = self.queue.get(timeout=left)
            except queue.Empty:
                return None
            if line is None:
                return None
            if wanted is None or line == wanted:
                return line


def phone_streams(env, pid):
    """Whether the process has a recording and a playback stream on the server."""
    found = {}
    for kind in ("source-outputs", "sink-inputs"):
        listing = subprocess.run(["pactl", "list", kind], env=env, capture_output=True,
                                 text=True).stdout
        found[kind] = re.search(r'application\.process\.id = "%d"' % pid, listing) is not None
    return found["source-outputs"] and found["sink-inputs"]


def wait_until(condition, seconds, step=0.1):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(step)
    return False


def start_noise(env):
    return subprocess.Popen(["pacat", "--device=mic", "--format=s16le", "--rate=8000",
                             "--channels=1", "/dev/urandom"], env=env,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def start_phone(args, env, port):
    env = dict(env, VELNAR_TEST_LOCAL_PORT="-1")  # never the phone port 5036 of a real phone
    phone = subprocess.Popen([args.phone or os.path.join(args.build, "console", "velnar-console"),
                              "--audio=" + args.audio, "--server=127.0.0.1:%d" % port],
                             env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                             stderr=sys.stderr, text=True, bufsize=1, cwd=args.workdir)
    return phone, Lines(phone.stdout)


def send(phone, command):
    try:
        phone.stdin.write(command + "\n")
        phone.stdin.flush()
        return True
    except (BrokenPipeError, OSError):
        return False


def stop_noise(noise):
    noise.kill()
    noise.wait()


def one_trial(args, env, phone, lines):
    """Returns (recovered, seconds until the streams were back, why not)."""
    noise = [start_noise(env)]
    try:
        return restart_mid_call(args, env, phone, lines, noise)
    finally:
        stop_noise(noise[0])


# The noise player dies with the server and is started again with it: the
# phone reopens playback when speech comes back from the echo.
def restart_mid_call(args, env, phone, lines, noise):
    if not send(phone, "call 600") or not lines.wait_for("Connected", 10):
        return False, None, "no Connected"
    if not wait_until(lambda: phone_streams(env, phone.pid), 10):
        return False, None, "streams never came up"
    time.sleep(1.0)  # speech flowing both ways
    stop_server()
    time.sleep(args.down_seconds)
    env.update(audio_env())
    back = time.monotonic()
    stop_noise(noise[0])
    noise[0] = start_noise(env)
    recovered = wait_until(lambda: phone_streams(env, phone.pid), args.wait_seconds)
    seconds = time.monotonic() - back if recovered else None
    if not send(phone, "status") or lines.wait_for(None, 3) is None:
        return False, seconds, "status not answered"
    if not send(phone, "hangup") or not lines.wait_for("Ready", 3):
        return False, seconds, "hangup not done"
    return recovered, seconds, "" if recovered else "streams not back"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default=os.path.join(TOP, "build", "dev"))
    parser.add_argument("--audio", default="alsa")
    parser.add_argument("--trials", type=int, default=20)
    parser.add_argument("--down-seconds", type=float, default=0.5)
    parser.add_argument("--wait-seconds", type=float, default=10)
    parser.add_argument("--workdir", default="/tmp")
    parser.add_argument("--phone", help="the velnar-console to try (default: the build's)")
    args = parser.parse_args()
    args.build = os.path.abspath(args.build)
    env = audio_env()
    echo = subprocess.Popen([os.path.join(args.build, "tools", "velnar-echo"), "--port=0",
                             "--quiet"], stdout=subprocess.PIPE, text=True)
    port = int(re.search(r":(\d+);", echo.stdout.readline()).group(1))
    phone, lines = start_phone(args, env, port)
    recovered, times = 0, []
    for trial in range(1, args.trials + 1):
        ok, seconds, why = one_trial(args, env, phone, lines)
        recovered += ok
        if seconds is not None:
            times.append(seconds)
        print("trial %2d: %s%s" % (trial, "recovered" if ok else "NOT recovered: " + why,
                                    " (streams back after %.1f s)" % seconds if seconds else ""),
              flush=True)
        hung = not ok and (not send(phone, "hangup") or lines.wait_for(None, 3) is None)
        if hung:
            phone.kill()
            phone.wait()
            phone, lines = start_phone(args, env, port)
    send(phone, "quit")
    try:
        phone.wait(timeout=5)
        quit_ok = True
    except subprocess.TimeoutExpired:
        phone.kill()
        quit_ok = False
    echo.terminate()
    echo.wait()
    summary = "%s: %d of %d restarts recovered" % (args.audio, recovered, args.trials)
    if times:
        summary += "; streams back %.1f-%.1f s after the server" % (min(times), max(times))
    print(summary + ("; quit worked" if quit_ok else "; quit HUNG"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
