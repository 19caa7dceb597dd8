#!/usr/bin/env python3
"""The settings history's disk use for a year of one change a day: quelvand on the simulated
board (its day program as the board starts) keeps the history in a scratch folder while
`quelvanctl config set` changes a setting DAYS times; then the folder's size on disk (du,
whole blocks) and in bytes, and the entries kept.

  bench/history_disk.py QUELVAND QUELVANCTL [--days N]
"""

import argparse
import os
import socket
import subprocess
import tempfile
import time


def on_disk(folder):
    blocks = apparent = files = 0
    for root, dirs, names in os.walk(folder):
        for name in dirs + names:
            st = os.lstat(os.path.join(root, name))
            blocks += st.st_blocks * 512
            apparent += st.st_size
            files += name.endswith(".ini")
    return blocks, apparent, files


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("quelvand")
    parser.add_argument("quelvanctl")
    parser.add_argument("--days", type=int, default=365)
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as folder:
        sock = os.path.join(folder, "quelvand.sock")
        history = os.path.join(folder, "history")
        conf = os.path.join(folder, "quelvand.conf")
        with open(conf, "w") as f:
            f.write("[service]\npoll_ms = 1000\nsocket = %s\n[history]\nfolder = %s\n" % (sock, history))
        service = subprocess.Popen([args.quelvand, "--config", conf, "--simulate=" + os.path.join(folder, "board.state")],
                                   stdin=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        env = dict(os.environ, QUELVAN_SOCKET=sock)
        try:
            for _ in range(500):
                if os.path.exists(sock):
                    break
                time.sleep(0.01)
            for day in range(args.days):
                subprocess.run([args.quelvanctl, "--service", "config", "set", "FanLow", str(day % 200 + 10)],
                               env=env, check=True, stdout=subprocess.DEVNULL)
            time.sleep(1.5)
        finally:
            service.terminate()
            service.wait()
        blocks, apparent, files = on_disk(history)
        print("settings history, %d changes (one a day for a year)\t%.2f MB on disk\t(%d entries kept, %.0f KB of text)"
              % (args.days, blocks / 1e6, files, apparent / 1e3))


if __name__ == "__main__":
    main()
