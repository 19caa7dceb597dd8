#!/usr/bin/env bash
# screenshot.sh [--page NAME [--output FILE]] [--size WxH] [--show-hidden] [BUILD_DIR]: builds
# the screenshot tool and renders the window, connected to the simulated board, into PNG
# files (offscreen; no display needed). Without --page it renders the README's pictures:
# the page "Kanäle A-F" into docs/screenshot.png and the page "Grafik" into
# docs/screenshot-graph.png. NAME is the object name of a page (tsChannelsAF, tsData,
# tsVisualize, tsConfig, tsExpert, ...); its picture goes to FILE, or
# docs/screenshot-NAME.png. --size renders the window at that size (the start size unless
# given); --show-hidden shows the tabs of "Expertenoptionen" and "JMP-Pin" too.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
page=""
output=""
dir=""
extra=()
while [ $# -gt 0 ]; do
  case "$1" in
    --page) page="${2:?--page needs a page name}"; shift 2 ;;
    --output) output="${2:?--output needs a file}"; shift 2 ;;
    --size) extra+=(--size "${2:?--size needs WxH}"); shift 2 ;;
    --show-hidden) extra+=(--show-hidden); shift ;;
    -*) echo "usage: $0 [--page NAME [--output FILE]] [--size WxH] [--show-hidden] [BUILD_DIR]" >&2; exit 2 ;;
    *) dir="$1"; shift ;;
  esac
done
dir="${dir:-$here/build}"
if [ ! -f "$dir/CMakeCache.txt" ]; then
  cmake -S "$here" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$dir" -j "${QUELVAN_JOBS:-2}" --target quelvan_screenshot
mkdir -p "$here/docs"
render() {
  QT_QPA_PLATFORM=offscreen "$dir/src/app/quelvan_screenshot" --page "$1" ${extra[@]+"${extra[@]}"} "$2"
  echo "wrote $2"
}
if [ -n "$page" ]; then
  render "$page" "${output:-$here/docs/screenshot-$page.png}"
else
  render tsChannelsAF "$here/docs/screenshot.png"
  render tsVisualize "$here/docs/screenshot-graph.png"
fi
