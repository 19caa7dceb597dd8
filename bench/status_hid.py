#!/usr/bin/python3
# The five reads of `quelvanctl status` (live state, then the four settings reports) in
# Python with Debian's python3-hid, for comparison: find the board by its strings, open it,
# read, print a line. Its hidraw module is used, the same kernel interface as quelvanctl's
# (the package's `hid` module goes through libusb, which an emulated hidraw board lacks).
import sys

try:
    import hidraw as hid
except ImportError:
    import hid

REPORTS = [(1, 42), (2, 28), (4, 17), (5, 29), (6, 25)]

board = None
for info in hid.enumerate():
    if info["manufacturer_string"] == "www.dravik.info" and info["product_string"] == "Quelvan2":
        board = info
        break
if board is None:
    print("error: no Quelvan 2.x board found", file=sys.stderr)
    sys.exit(3)

device = hid.device()
device.open_path(board["path"])
answers = [device.get_feature_report(report, length) for report, length in REPORTS]
device.close()
if any(len(a) != length for a, (_, length) in zip(answers, REPORTS)):
    print("error: a read failed", file=sys.stderr)
    sys.exit(4)
live = answers[0]
print("firmware %d, clock %02d:%02d:%02d" % (live[1], live[8], live[7], live[6]))
