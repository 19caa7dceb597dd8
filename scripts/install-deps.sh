#!/usr/bin/env bash
# Installs every Debian 12 package that building, running and testing Quelvan needs.
# Safe to run again: packages already present are skipped.
set -euo pipefail

# The libraries the programs and tests are built against, one list for every architecture:
# scripts/cross.sh installs the same ones for the ARM machines (sourcing this file).
LIBRARIES=(
  qt6-base-dev qt6-svg-dev libgl-dev qt6-httpserver-dev qt6-websockets-dev
  libhidapi-dev libudev-dev libmosquitto-dev
  libcli11-dev nlohmann-json3-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev libumockdev-dev
  libnova-dev
)
# What runs on the building machine: compilers and tools, Qt's code generators, and the
# programs, fonts and texts the tests use.
TOOLS=(
  build-essential cmake ninja-build ccache pkg-config git
  qt6-base-dev-tools qt6-translations-l10n
  umockdev mosquitto openssl dbus-daemon tzdata python3-ephem
  clang-14 libclang-rt-14-dev
  fonts-dejavu-core
  chromium chromium-driver python3-selenium
  librsvg2-bin desktop-file-utils appstream dpkg-dev file zsh man-db
)
PACKAGES=("${TOOLS[@]}" "${LIBRARIES[@]}")
# Sourced (by scripts/cross.sh) only for the lists.
if [ "${BASH_SOURCE[0]}" != "$0" ]; then return 0; fi

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "Installing: ${missing[*]}" >&2
# A list the mirror serves mid-sync (apt names it) need not stop the install: the packages
# come from the lists that were read, and apt says so if one is missing.
$SUDO apt-get update -qq || echo "note: apt could not read every package list; installing from the others" >&2
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
