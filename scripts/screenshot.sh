#!/usr/bin/env bash
# screenshot.sh [BUILD_DIR]: builds the screenshot tool and renders the window, connected to
# the simulated board, into docs/screenshot.png (offscreen; no display needed).
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
dir="${1:-$here/build}"
if [ ! -f "$dir/CMakeCache.txt" ]; then
  cmake -S "$here" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$dir" -j "${QUELVAN_JOBS:-2}" --target quelvan_screenshot
mkdir -p "$here/docs"
QT_QPA_PLATFORM=offscreen "$dir/src/app/quelvan_screenshot" "$here/docs/screenshot.png"
echo "wrote docs/screenshot.png"
