#!/usr/bin/env python3
"""quelvand's work in instructions, counted by Valgrind's callgrind, for a small computer's budget.

  idle       one simulated board polled once a second, no client, SECONDS: instructions per
             minute; then the same with MQTT connected to a mosquitto on a loopback port and
             the web page open (its event stream), as at a tank with Home Assistant and a phone.
  command    MQTT light commands to the board, one every 0.2 s: instructions per command,
             the idle work of the same time taken off.
  page       page loads as a browser makes them: the page, the boards, the status, the day
             program, the weather and the event stream's first state; per load, idle taken off.
  memory     without callgrind: resident memory (VmRSS, its peak VmHWM) idle without MQTT
             and the page, and with both after the commands and page loads.

  bench/service_instructions.py QUELVAND [--seconds N] [--commands N] [--pages N] [--mosquitto PATH]
      [--qemu QEMU PLUGIN]    (QUELVAND built for QEMU's architecture, e.g. build-arm64's)
Prints one line per figure, tab-separated. Everything talks to 127.0.0.1 only.
"""

import argparse
import glob
import json
import os
import socket
import struct
import subprocess
import tempfile
import time

from service_load import memory_kib, open_page_stream, start_broker, start_service


def callgrind_total(path):
    """The instruction count (Ir) of one callgrind dump."""
    with open(path) as f:
        for line in f:
            if line.startswith("totals:") or line.startswith("summary:"):
                return int(line.split()[1])
    raise RuntimeError("no totals in " + path)


class Callgrind:
    """quelvand under callgrind; count() gives the instructions since the last count()."""

    def __init__(self, quelvand):
        self.quelvand = quelvand

    def command(self, folder):
        self.folder = folder
        return ["valgrind", "--tool=callgrind", "--quiet",
                "--callgrind-out-file=" + os.path.join(folder, "callgrind.out.%p"), self.quelvand]

    def started(self, pid):
        self.pid = pid
        self.control("-z")

    def control(self, option):
        subprocess.run(["callgrind_control", option, str(self.pid)], check=True, stdout=subprocess.DEVNULL)

    def count(self):
        before = set(glob.glob(os.path.join(self.folder, "callgrind.out.*")))
        self.control("-d")  # dumps and zeroes
        for _ in range(200):
            new = set(glob.glob(os.path.join(self.folder, "callgrind.out.*"))) - before
            if new:
                time.sleep(0.2)  # the dump written in full
                return callgrind_total(new.pop())
            time.sleep(0.05)
        raise RuntimeError("callgrind wrote no dump")


class QemuPlugin:
    """quelvand for another architecture under qemu-user with bench/qemu_insn_counter.c, which
    writes its running count to a file ten times a second."""

    def __init__(self, qemu, plugin, quelvand):
        self.qemu, self.plugin, self.quelvand = qemu, plugin, quelvand

    def command(self, folder):
        self.path = os.path.join(folder, "instructions")
        return [self.qemu, "-plugin", "%s,out=%s" % (self.plugin, self.path), self.quelvand]

    def started(self, pid):
        self.last = self.read()

    def read(self):
        time.sleep(0.25)  # the count written since now
        with open(self.path) as f:
            return int(f.read())

    def count(self):
        now = self.read()
        spent, self.last = now - self.last, now
        return spent


def mqtt_packet(kind, body):
    length = len(body)
    encoded = b""
    while True:
        byte = length % 128
        length //= 128
        encoded += bytes([byte | (0x80 if length else 0)])
        if not length:
            return bytes([kind]) + encoded + body


def mqtt_string(text):
    data = text.encode()
    return struct.pack("!H", len(data)) + data


class MqttClient:
    """A minimal MQTT 3.1.1 client: connect, subscribe, publish at QoS 0, read publishes."""

    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=10)
        self.buffer = b""
        self.sock.sendall(mqtt_packet(0x10, mqtt_string("MQTT") + bytes([4, 2]) + struct.pack("!H", 60)
                                      + mqtt_string("quelvan-bench-ha")))
        self.read_packet()  # CONNACK

    def read_packet(self):
        while True:
            if len(self.buffer) >= 2:
                length, shift, i = 0, 0, 1
                while i < len(self.buffer):
                    length += (self.buffer[i] & 0x7F) << shift
                    shift += 7
                    i += 1
                    if not self.buffer[i - 1] & 0x80:
                        break
                else:
                    i = None
                if i is not None and len(self.buffer) >= i + length:
                    kind, body = self.buffer[0], self.buffer[i:i + length]
                    self.buffer = self.buffer[i + length:]
                    return kind, body
            data = self.sock.recv(65536)
            if not data:
                raise RuntimeError("the broker closed the connection")
            self.buffer += data

    def subscribe(self, topic):
        self.sock.sendall(mqtt_packet(0x82, struct.pack("!H", 1) + mqtt_string(topic) + b"\0"))

    def next_publish(self):
        while True:
            kind, body = self.read_packet()
            if kind & 0xF0 == 0x30:
                n = struct.unpack("!H", body[:2])[0]
                return body[2:2 + n].decode(), body[2 + n:]

    def publish(self, topic, payload):
        self.sock.sendall(mqtt_packet(0x30, mqtt_string(topic) + payload))


def board_serial(client):
    client.subscribe("quelvan/+/availability")
    while True:
        topic, payload = client.next_publish()
        parts = topic.split("/")
        if len(parts) == 3 and parts[1] != "service" and payload == b"online":
            return parts[1]


def http_get(port, path, token):
    with socket.create_connection(("127.0.0.1", port), timeout=30) as s:
        s.sendall(("GET %s HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Bearer %s\r\nConnection: close\r\n\r\n"
                   % (path, token)).encode())
        data = b""
        while True:
            chunk = s.recv(65536)
            if not chunk:
                break
            data += chunk
    if b" 200 " not in data.split(b"\r\n", 1)[0]:
        raise RuntimeError("GET %s: %s" % (path, data[:80]))
    return data


def load_page(port, token, serial):
    for path in ("/", "/api/boards", "/api/boards/%s/status" % serial, "/api/boards/%s/schedule" % serial,
                 "/api/boards/%s/weather" % serial):
        http_get(port, path, token)
    stream = open_page_stream_with(port, token)
    data = b""
    while b"event: status" not in data:
        data += stream.recv(65536)
    stream.close()


def open_page_stream_with(port, token):
    stream = socket.create_connection(("127.0.0.1", port), timeout=30)
    stream.sendall(("GET /api/events HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Bearer %s\r\n\r\n"
                    % token).encode())
    return stream


def drain(stream, seconds):
    """Reads what the open page is sent for this long, as a browser would."""
    end = time.monotonic() + seconds
    stream.settimeout(0.2)
    while time.monotonic() < end:
        try:
            if not stream.recv(65536):
                return
        except socket.timeout:
            pass


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("quelvand")
    parser.add_argument("--seconds", type=int, default=60)
    parser.add_argument("--commands", type=int, default=20)
    parser.add_argument("--pages", type=int, default=10)
    parser.add_argument("--mosquitto", default="/usr/sbin/mosquitto")
    parser.add_argument("--qemu", nargs=2, metavar=("QEMU", "PLUGIN"),
                        help="count under qemu-user with the counter plugin (QUELVAND built for its architecture)")
    args = parser.parse_args()
    counter = QemuPlugin(args.qemu[0], args.qemu[1], args.quelvand) if args.qemu else Callgrind(args.quelvand)
    per_minute = 60.0 / args.seconds

    # Idle, neither MQTT nor the page, counted; then uncounted for its memory.
    with tempfile.TemporaryDirectory() as folder:
        process, _ = start_service(counter.command(folder), folder)
        try:
            counted = counter
            counted.started(process.pid)
            time.sleep(3)
            counted.count()
            time.sleep(args.seconds)
            idle = counted.count() * per_minute
            print("idle, one board polled once a second\t%.3g instructions per minute" % idle)
        finally:
            process.terminate()
            process.wait()
        # Not under qemu: the emulator's own memory would be counted with the program's.
        if not args.qemu:
            process, _ = start_service([args.quelvand], folder)
            time.sleep(args.seconds / 4)
            print("resident memory idle, no MQTT, no page\t%.1f MB\t(peak %.1f MB)"
                  % (memory_kib(process.pid, "VmRSS") / 1024.0, memory_kib(process.pid, "VmHWM") / 1024.0))
            process.terminate()
            process.wait()

    # MQTT and the web page on, one page open; commands, then page loads.
    for counting in (True, False) if not args.qemu else (True,):
        with tempfile.TemporaryDirectory() as folder:
            broker, mqtt_port = start_broker(args.mosquitto, folder)
            web_port = free_port()
            argv = counter.command(folder) if counting else [args.quelvand]
            process, _ = start_service(argv, folder, mqtt_port=mqtt_port, web_port=web_port)
            try:
                counted = counter if counting else None
                if counting:
                    counted.started(process.pid)
                client = MqttClient(mqtt_port)
                serial = board_serial(client)
                stream = open_page_stream(folder, web_port)
                token = open(os.path.join(folder, "web-token")).read().strip()
                drain(stream, 3)
                if counting:
                    counted.count()
                    drain(stream, args.seconds)
                    busy_idle = counted.count() * per_minute
                    print("idle with MQTT connected and the page open\t%.3g instructions per minute" % busy_idle)
                begin = time.monotonic()
                for i in range(args.commands):
                    brightness = 1000 + 37 * i
                    client.publish("quelvan/%s/channel_a/set" % serial,
                                   json.dumps({"state": "ON", "brightness": brightness}).encode())
                    drain(stream, 0.2)
                drain(stream, 1)
                if counting:
                    spent = counted.count() - busy_idle / 60.0 * (time.monotonic() - begin)
                    print("one MQTT light command\t%.3g instructions\t(%d commands, idle taken off)"
                          % (spent / args.commands, args.commands))
                begin = time.monotonic()
                for _ in range(args.pages):
                    load_page(web_port, token, serial)
                drain(stream, 1)
                if counting:
                    spent = counted.count() - busy_idle / 60.0 * (time.monotonic() - begin)
                    print("one page load\t%.3g instructions\t(%d loads, idle taken off)" % (spent / args.pages, args.pages))
                else:
                    print("resident memory with MQTT and the page, after the commands and loads\t%.1f MB\t(peak %.1f MB)"
                          % (memory_kib(process.pid, "VmRSS") / 1024.0, memory_kib(process.pid, "VmHWM") / 1024.0))
                stream.close()
            finally:
                process.terminate()
                process.wait()
                broker.terminate()
                broker.wait()


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


if __name__ == "__main__":
    main()
