#!/usr/bin/env python3
"""quelvand's cost, as the issue's targets measure it, on the simulated board.

  idle       quelvand holding one board, polling it once a second, no client: the share of
             one core it uses over SECONDS (its time on a CPU, from /proc/PID/schedstat), and its resident
             memory at the end (VmRSS) and at most (VmHWM), with its proportional share (Pss) and
             its own written pages (Private_Dirty); then the same with MQTT connected to a
             mosquitto on a loopback port (Home Assistant discovery published, the state once a
             second); then with the web page on and one page open (its event stream reading
             the state once a second).
  status     `quelvanctl status` through the service against `quelvanctl --direct
             --simulate=STATE status` on the board's state file, whole processes, started
             alternately; median, min and max of RUNS each, and the median CPU time spent
             (through the service: quelvanctl's and the service's together).

  bench/service_load.py QUELVAND QUELVANCTL [--seconds N] [--runs N] [--mosquitto PATH]
Prints one line per figure, tab-separated.
"""

import argparse
import os
import resource
import socket
import statistics
import subprocess
import tempfile
import time


def start_service(quelvand, folder, state=None, mqtt_port=None, web_port=None):
    sock = os.path.join(folder, "quelvand.sock")
    conf = os.path.join(folder, "quelvand.conf")
    with open(conf, "w") as f:
        f.write("[service]\npoll_ms = 1000\nsocket = %s\n" % sock)
        # All three keepers on: the clock (on by default), alarms with every bound, the history.
        f.write("[alarm]\nwater_min = 20\nwater_max = 30\nsupply_min = 10.5\nsupply_max = 13.5\n")
        f.write("[history]\nfolder = %s\n" % os.path.join(folder, "history"))
        if mqtt_port:
            f.write("[mqtt]\nhost = 127.0.0.1\nport = %d\nclient_id = quelvand-bench\n" % mqtt_port)
        if web_port:
            f.write("[web]\nport = %d\ntoken_file = %s\n" % (web_port, os.path.join(folder, "web-token")))
    simulate = "--simulate=" + state if state else "--simulate"
    # QUELVAND may also be a command line that runs it (under valgrind, for example), which
    # starts far more slowly.
    command = quelvand if isinstance(quelvand, list) else [quelvand]
    process = subprocess.Popen(command + ["--config", conf, simulate], stdin=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    for _ in range(500 if command == [quelvand] else 6000):
        try:
            s = socket.socket(socket.AF_UNIX)
            s.connect(sock)
            s.close()
            return process, sock
        except OSError:
            time.sleep(0.01)
    process.kill()
    raise RuntimeError("quelvand did not answer")


def cpu_seconds(pid):
    # The scheduler's own count, in nanoseconds: the clock ticks of /proc/PID/stat are far
    # too coarse for a process that wakes once a second.
    with open("/proc/%d/schedstat" % pid) as f:
        return int(f.read().split()[0]) / 1e9


def start_broker(mosquitto, folder):
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    conf = os.path.join(folder, "mosquitto.conf")
    with open(conf, "w") as f:
        f.write("persistence false\nuser root\nlistener %d 127.0.0.1\nallow_anonymous true\n" % port)
    process = subprocess.Popen([mosquitto, "-c", conf], stdin=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for _ in range(500):
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return process, port
        except OSError:
            time.sleep(0.01)
    process.kill()
    raise RuntimeError("mosquitto did not answer")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def open_page_stream(folder, port):
    """What an open page holds: the event stream, with the token in its header."""
    path = os.path.join(folder, "web-token")
    for _ in range(500):
        if os.path.exists(path):
            break
        time.sleep(0.01)
    token = open(path).read().strip()
    for _ in range(500):
        try:
            stream = socket.create_connection(("127.0.0.1", port))
            break
        except OSError:
            time.sleep(0.01)
    stream.sendall(("GET /api/events HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Bearer %s\r\n\r\n"
                    % token).encode())
    return stream


def read_for(stream, seconds):
    """Reads the stream as the page does for this long; the events it carried."""
    end = time.monotonic() + seconds
    events = 0
    stream.settimeout(0.5)
    while time.monotonic() < end:
        try:
            data = stream.recv(65536)
        except socket.timeout:
            continue
        if not data:
            break
        events += data.count(b"event: status")
    return events


def rollup_kib(pid, key):
    with open("/proc/%d/smaps_rollup" % pid) as f:
        for line in f:
            if line.startswith(key + ":"):
                return int(line.split()[1])
    return 0


def memory_kib(pid, key):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith(key + ":"):
                return int(line.split()[1])
    return 0


def timed(argv, env, service_pid=None):
    """Wall time and CPU time (the command's, and the service's while it ran) in ms."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    service_before = cpu_seconds(service_pid) if service_pid else 0.0
    begin = time.perf_counter()
    subprocess.run(argv, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    wall = (time.perf_counter() - begin) * 1000.0
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime) * 1000.0
    if service_pid:
        cpu += (cpu_seconds(service_pid) - service_before) * 1000.0
    return wall, cpu


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("quelvand")
    parser.add_argument("quelvanctl")
    parser.add_argument("--seconds", type=int, default=60)
    parser.add_argument("--runs", type=int, default=30)
    parser.add_argument("--mosquitto", default="/usr/sbin/mosquitto")
    args = parser.parse_args()

    for with_mqtt in (False, True):
        with tempfile.TemporaryDirectory() as folder:
            broker, port = start_broker(args.mosquitto, folder) if with_mqtt else (None, None)
            process, _ = start_service(args.quelvand, folder, mqtt_port=port)
            suffix = " with MQTT connected" if with_mqtt else ""
            try:
                time.sleep(2)
                before = cpu_seconds(process.pid)
                time.sleep(args.seconds)
                used = cpu_seconds(process.pid) - before
                print("idle CPU, one board polled once a second, clock, alarms and history on%s\t%.3f %% of a core\t(%d s)"
                      % (suffix, 100.0 * used / args.seconds, args.seconds))
                print("resident memory%s\t%.1f MB\t(peak %.1f MB; Pss %.1f MB, own written pages %.1f MB)"
                      % (suffix, memory_kib(process.pid, "VmRSS") / 1024.0, memory_kib(process.pid, "VmHWM") / 1024.0,
                         rollup_kib(process.pid, "Pss") / 1024.0, rollup_kib(process.pid, "Private_Dirty") / 1024.0))
            finally:
                process.terminate()
                process.wait()
                if broker:
                    broker.terminate()
                    broker.wait()

    with tempfile.TemporaryDirectory() as folder:
        port = free_port()
        process, _ = start_service(args.quelvand, folder, web_port=port)
        try:
            stream = open_page_stream(folder, port)
            read_for(stream, 2)
            before = cpu_seconds(process.pid)
            events = read_for(stream, args.seconds)
            used = cpu_seconds(process.pid) - before
            print("CPU with the web page open, one board polled once a second\t%.3f %% of a core\t(%d s, %d state events)"
                  % (100.0 * used / args.seconds, args.seconds, events))
            print("resident memory with the web page open\t%.1f MB\t(peak %.1f MB; Pss %.1f MB, own written pages %.1f MB)"
                  % (memory_kib(process.pid, "VmRSS") / 1024.0, memory_kib(process.pid, "VmHWM") / 1024.0,
                     rollup_kib(process.pid, "Pss") / 1024.0, rollup_kib(process.pid, "Private_Dirty") / 1024.0))
            stream.close()
        finally:
            process.terminate()
            process.wait()

    with tempfile.TemporaryDirectory() as folder:
        state = os.path.join(folder, "board.json")
        process, sock = start_service(args.quelvand, folder, state)
        env = dict(os.environ, QUELVAN_SOCKET=sock)
        try:
            served = [args.quelvanctl, "--service", "status"]
            direct = [args.quelvanctl, "--direct", "--simulate=" + state, "status"]
            timed(served, env)
            timed(direct, env)
            times = {"served": [], "direct": []}
            for _ in range(args.runs):
                times["served"].append(timed(served, env, process.pid))
                times["direct"].append(timed(direct, env))
            for name, label in (("served", "quelvanctl status through the service"),
                                ("direct", "quelvanctl --direct --simulate=STATE status")):
                wall = [w for w, _ in times[name]]
                cpu = [c for _, c in times[name]]
                print("%s\t%.2f ms\t(min %.2f, max %.2f; CPU %.2f ms%s; %d runs)"
                      % (label, statistics.median(wall), min(wall), max(wall), statistics.median(cpu),
                         " with the service's" if name == "served" else "", len(wall)))
        finally:
            process.terminate()
            process.wait()


if __name__ == "__main__":
    main()
