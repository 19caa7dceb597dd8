#!/usr/bin/env bash
# bench.sh [--full] [--runs N]: builds the benchmarks (RelWithDebInfo, in build/), runs them
# all and prints one table with the targets. Run it on an otherwise idle machine; every figure
# is a median of repetitions.
#
#   --full     the soak runs a whole day (172,800 ticks, some ten minutes) instead of 20,000
#   --runs N   repetitions of the Google Benchmarks, runs of the whole-process timings (default 5
#              and 30)
#
# Its own dependency: Debian's python3-hid for the comparison with quelvanctl status (installed
# here when missing, not by install-deps.sh).
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="$here/build"
soak_ticks=20000
reps=5
runs=30
while [ $# -gt 0 ]; do
  case "$1" in
    --full) soak_ticks=172800 ;;
    --runs) reps="$2"; runs="$2"; shift ;;
    *) echo "usage: $0 [--full] [--runs N]" >&2; exit 2 ;;
  esac
  shift
done

"$here/scripts/install-deps.sh"
if ! dpkg-query -W -f='${Status}' python3-hid 2>/dev/null | grep -q 'install ok installed'; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  echo "Installing python3-hid for the comparison" >&2
  # A list the mirror serves mid-sync (apt names it) need not stop the install: the packages
  # come from the lists that were read, and apt says so if one is missing.
  $SUDO apt-get update -qq || echo "note: apt could not read every package list; installing from the others" >&2
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends python3-hid
fi

QUELVAN_JOBS="${QUELVAN_JOBS:-2}" "$here/scripts/build.sh" "$build" -DQUELVAN_WERROR=ON >/dev/null
cmake --build "$build" --target graph_bench poll_tick_bench flash_bench quelvan_soak status_umockdev_bench \
  service_transfer_bench mqtt_bench web_bench quelvan quelvanctl quelvand >/dev/null

out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
export QT_QPA_PLATFORM=offscreen
gbench=(--benchmark_repetitions="$reps" --benchmark_report_aggregates_only=true --benchmark_format=json)

echo "poll tick ..." >&2
"$build/bench/poll_tick_bench" "${gbench[@]}" >"$out/tick.json" 2>/dev/null
echo "graph ..." >&2
"$build/bench/graph_bench" "${gbench[@]}" >"$out/graph.json" 2>/dev/null
echo "flashing ..." >&2
"$build/bench/flash_bench" --benchmark_format=json >"$out/flash.json" 2>/dev/null
echo "start-up and quelvanctl --simulate status ..." >&2
python3 "$here/bench/process_times.py" "$build/src/app/quelvan" "$build/src/cli/quelvanctl" --runs "$runs" \
  >"$out/process.tsv"
echo "quelvanctl status and python3-hid under umockdev ..." >&2
umockdev-wrapper "$build/bench/status_umockdev_bench" "$build/src/cli/quelvanctl" "$here/bench/status_hid.py" \
  --runs "$runs" >"$out/umockdev.txt"
echo "the service: a forwarded transfer, idle cost, quelvanctl status through it ..." >&2
"$build/bench/service_transfer_bench" "$build/src/daemon/quelvand" "${gbench[@]}" >"$out/service.json" 2>/dev/null
python3 "$here/bench/service_load.py" "$build/src/daemon/quelvand" "$build/src/cli/quelvanctl" --runs "$runs" \
  >"$out/service.tsv"
echo "MQTT: a command to its HID set, a HID read to its publication ..." >&2
"$build/bench/mqtt_bench" "${gbench[@]}" >"$out/mqtt.json" 2>/dev/null
echo "web page: its first load, a slider's change ..." >&2
"$build/bench/web_bench" "${gbench[@]}" >"$out/web.json" 2>/dev/null
echo "soak, $soak_ticks ticks ..." >&2
soak_status=0
"$build/bench/quelvan_soak" --ticks "$soak_ticks" >"$out/soak.txt" 2>"$out/soak.err" || soak_status=$?

python3 - "$out" "$soak_status" <<'EOF'
import json, os, platform, re, sys

out, soak_status = sys.argv[1], int(sys.argv[2])
rows = []

def row(what, result, target="", met=None):
    rows.append((what, result, target, "" if met is None else ("yes" if met else "NO")))

def medians(name):
    data = json.load(open(os.path.join(out, name)))
    found = {}
    for b in data["benchmarks"]:
        if b.get("aggregate_name") == "median":
            found[b["run_name"]] = b
    return found

tick = medians("tick.json")
for size, label in (("1920/1080", "1920 × 1080"), ("682/560", "682 × 560 (start size)")):
    t = tick["BM_PollTick/" + size]["real_time"]
    p = tick["BM_PollTickPainted/" + size]["real_time"]
    full = size == "1920/1080"
    row("Poll tick, %s, 255 entries, graph" % label, "%.2f ms" % t, "≤ 5 ms" if full else "",
        t <= 5 if full else None)
    row("  the same with the repaint", "%.2f ms" % p, "", None)
row("  of which the five reads on the simulated board", "%.1f µs" % tick["BM_BoardReads"]["real_time"])

graph = medians("graph.json")
for key, label, limit in (("BM_DrawGraph/1920/1080", "Graph 1920 × 1080, smooth", 3),
                          ("BM_DrawGraph/3840/2160", "Graph 3840 × 2160, smooth", 8),
                          ("BM_DrawGraphJagged/1920/1080", "Graph 1920 × 1080, jagged", None),
                          ("BM_DrawGraphJagged/3840/2160", "Graph 3840 × 2160, jagged", None)):
    t = graph[key]["real_time"]
    row(label, "%.2f ms" % t, "≤ %d ms" % limit if limit else "", t <= limit if limit else None)

for line in open(os.path.join(out, "process.tsv")):
    name, median, low, high, n = line.split("\t")
    label = {"start-up": "Start-up to \"Quelvan 2.x.4 erkannt\" (--simulate, offscreen)",
             "status": "quelvanctl --simulate status"}[name]
    row(label, "%s ms (min %s)" % (median, low))

text = open(os.path.join(out, "umockdev.txt")).read()
ctl = float(re.search(r"quelvanctl status\s+median\s+([\d.]+)", text).group(1))
py = float(re.search(r"python3-hid, the same reads\s+median\s+([\d.]+)", text).group(1))
row("quelvanctl status, real backend, umockdev", "%.2f ms" % ctl)
row("  python3-hid, the same five reads", "%.2f ms" % py)
row("  python3-hid / quelvanctl", "%.2f ×" % (py / ctl), "≥ 5 ×", py / ctl >= 5)

service = medians("service.json")
direct = service["BM_GetOnTheSimulatedBoard"]["real_time"]
forwarded = service["BM_GetForwardedByTheService"]["real_time"]
row("One get forwarded by quelvand (simulated board)", "%.1f µs" % forwarded)
row("  added to the transfer by the service", "%.1f µs" % (forwarded - direct))
for line in open(os.path.join(out, "service.tsv")):
    what, result, detail = line.rstrip("\n").split("\t")
    mqtt = " with MQTT connected" if "MQTT" in what else ""
    if "web page" in what:
        row("quelvand " + what, result + " " + detail)
    elif what.startswith("idle CPU"):
        share = float(result.split()[0])
        row("quelvand idle, one board polled once a second" + mqtt, result, "≤ 0.2 %", share <= 0.2)
    elif what.startswith("resident memory"):
        mb = float(result.split()[0])
        row("quelvand resident memory" + mqtt, result + " " + detail, "≤ 15 MB" if not mqtt else "", mb <= 15 or mqtt)
    else:
        row(what, result + " " + detail)
mqtt = {k.replace("/manual_time", ""): v for k, v in medians("mqtt.json").items()}
for name, label in (("BM_LightCommandToHidSet/0", "MQTT light command to its HID set, tool side"),
                    ("BM_HidReadToPublishedState", "HID read to the published state, tool side")):
    us = mqtt[name]["real_time"]
    row(label, "%.0f µs" % us, "≤ 5 ms", us <= 5000)
for name, label in (("BM_LightCommandToHidSet/1000", "  the same with 1 ms per transfer, as on USB"),
                    ("BM_LightCommandThroughBrokerToHidSet", "  the same from a client through mosquitto"),
                    ("BM_HidReadThroughBrokerToStateReceived", "  the same until a client has it")):
    if name in mqtt:
        row(label, "%.0f µs" % mqtt[name]["real_time"])

web = medians("web.json")
first = web["BM_FirstPageLoad"]
row("Web page's first load on loopback (HTML, boards, status, day program, weather)",
    "%.1f ms" % (first["real_time"] / 1000.0))
row("  the page's size", "%.1f KB" % (first["page_bytes"] / 1024.0), "< 100 KB", first["page_bytes"] < 100 * 1024)
row("  a slider's change, POST to the answer read back", "%.2f ms" % (web["BM_ChannelChangeAnswered"]["real_time"] / 1000.0))

flash = json.load(open(os.path.join(out, "flash.json")))
for b in flash["benchmarks"]:
    m = re.match(r"BM_Flash(Core|Window)/(\d+)/", b["name"])
    what = "quelvanctl's procedure" if m.group(1) == "Core" else "window (log, progress)"
    over = b["over_min_pct"]
    row("Flash 30 KiB, %s ms per report, %s" % (int(m.group(2)) / 1000, what),
        "%.0f ms, +%.2f %% over %d ms" % (b["real_time"], over, b["min_ms"]), "≤ +2 %", over <= 2)

soak = open(os.path.join(out, "soak.txt")).read()
ticks = re.search(r"soak: (\d+) ticks", soak).group(1)
rate = re.search(r"(\d+) ticks per second", soak).group(1)
errors = int(re.search(r"errors: (\d+)", soak).group(1))
memory = re.search(r"start ([\d.]+) MiB, after warm-up \((\d+) ticks\) ([\d.]+) MiB, end ([\d.]+) MiB; "
                   r"growth after warm-up ([+-][\d.]+) MiB", soak)
row("Soak, %s ticks: ticks per second" % ticks, rate)
row("  errors", str(errors), "0", errors == 0)
row("  resident memory start / after warm-up / end", "%s / %s / %s MiB" % (memory.group(1), memory.group(3),
                                                                          memory.group(4)))
growth = float(memory.group(5))
row("  growth after warm-up", "%+.2f MiB" % growth, "< 1 MiB", growth < 1 and soak_status == 0)

cpu = next((l.split(":", 1)[1].strip() for l in open("/proc/cpuinfo") if l.startswith("model name")), "?")
print("Machine: %s, %d cores, Linux %s" % (cpu, os.cpu_count(), platform.release()))
width = max(len(r[0]) for r in rows)
rwidth = max(len(r[1]) for r in rows)
print("%-*s  %-*s  %-8s  %s" % (width, "Benchmark", rwidth, "Result", "Target", "Met"))
for what, result, target, met in rows:
    print("%-*s  %-*s  %-8s  %s" % (width, what, rwidth, result, target, met))
EOF
