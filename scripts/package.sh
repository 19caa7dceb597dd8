#!/usr/bin/env bash
# package.sh: builds the Debian package build/quelvan_<version>_amd64.deb (installing what is
# missing first). With --check it then installs the package, runs both programs from it and
# removes it again (needs root, and changes this machine's packages).
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
"$here/scripts/install-deps.sh"
"$here/scripts/build.sh" "$here/build"
(cd "$here/build" && cpack -G DEB >/dev/null)
deb="$(ls -t "$here"/build/quelvan_*_amd64.deb | head -n 1)"
echo "$deb"

if [ "${1:-}" = "--check" ]; then
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  $SUDO apt-get install -y -qq "$deb" >/dev/null
  quelvanctl --version
  quelvanctl --simulate status >/dev/null
  QT_QPA_PLATFORM=offscreen quelvan --version
  $SUDO dpkg --purge quelvan >/dev/null
  for f in /usr/bin/quelvan /usr/bin/quelvanctl /usr/lib/udev/rules.d/70-quelvan.rules; do
    if [ -e "$f" ]; then echo "$f is still there after removing the package" >&2; exit 1; fi
  done
  echo "installed, ran and removed cleanly"
fi
