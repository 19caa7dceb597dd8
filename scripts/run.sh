#!/usr/bin/env bash
# Installs what is missing, builds, and starts Quelvan against its built-in simulated board.
# Extra arguments go to the program.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
"$here/scripts/install-deps.sh"
"$here/scripts/build.sh" "$here/build"
# On a machine without a display (a headless box over ssh), the command-line tool shows
# the same simulated board instead of a window that could not open.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "No display found: showing the simulated board with quelvanctl instead of the window." >&2
  exec "$here/build/src/cli/quelvanctl" --simulate status
fi
exec "$here/build/src/app/quelvan" --simulate "$@"
