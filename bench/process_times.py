#!/usr/bin/env python3
"""Whole-process timings on the simulated board, as a user meets them.

  start-up   `quelvan --simulate` on the offscreen platform, from starting the process to the
             log line "Quelvan 2.x.4 erkannt" (the message log is mirrored to standard error
             with QT_LOGGING_RULES=quelvan.messages.debug=true); the program is ended then.
  status     `quelvanctl --simulate status`, start to exit.

Each is run once unmeasured (page cache), then RUNS times; prints one line per program:
name, median, min, max in milliseconds, and the number of runs, separated by tabs.

  bench/process_times.py QUELVAN QUELVANCTL [--runs N]
"""

import argparse
import os
import signal
import statistics
import subprocess
import sys
import tempfile
import time

CONNECTED = "Quelvan 2.x.4 erkannt"


def start_up(app, env):
    begin = time.perf_counter()
    process = subprocess.Popen([app, "--simulate"], env=env, stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    try:
        for line in process.stderr:
            if line.rstrip().endswith(CONNECTED):
                return (time.perf_counter() - begin) * 1000.0
        raise RuntimeError("quelvan ended without connecting (exit %s)" % process.wait())
    finally:
        process.send_signal(signal.SIGTERM)
        try:
            process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


def status(ctl, env):
    begin = time.perf_counter()
    done = subprocess.run([ctl, "--simulate", "status"], env=env, stdin=subprocess.DEVNULL,
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    elapsed = (time.perf_counter() - begin) * 1000.0
    if done.returncode != 0:
        raise RuntimeError("quelvanctl status failed: " + done.stderr)
    return elapsed


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("app")
    parser.add_argument("ctl")
    parser.add_argument("--runs", type=int, default=20)
    args = parser.parse_args()

    with tempfile.TemporaryDirectory() as runtime:
        os.chmod(runtime, 0o700)
        env = dict(os.environ)
        env.update({
            "QT_QPA_PLATFORM": "offscreen",
            "QT_LOGGING_RULES": "quelvan.messages.debug=true",
            # The single-instance lock lives here, away from a window the user may have open.
            "XDG_RUNTIME_DIR": runtime,
        })
        for name, measure, program in (("start-up", start_up, args.app), ("status", status, args.ctl)):
            measure(program, env)
            times = [measure(program, env) for _ in range(args.runs)]
            print("%s\t%.2f\t%.2f\t%.2f\t%d" % (name, statistics.median(times), min(times), max(times),
                                                 len(times)))
            sys.stdout.flush()


if __name__ == "__main__":
    main()
