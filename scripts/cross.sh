#!/usr/bin/env bash
# cross.sh ARCH [--check]: builds Quelvan for a Raspberry Pi's Debian (ARCH arm64 or armhf) on
# this amd64 Debian 12 machine, with Debian's cross compilers and the target's libraries
# installed beside this machine's through multiarch (installing what is missing, as root or
# through sudo). It configures build-ARCH/ with cmake/debian-cross.cmake, builds everything,
# runs the tests under qemu (those that cannot run emulated are listed with the reason) and
# builds build-ARCH/quelvan_<version>_ARCH.deb.
# --check builds the package (without the tests) and installs it with apt on a minimal
# Debian 12 root of that architecture (debootstrap --foreign, qemu for the second stage, kept
# in build-ARCH/root), then runs the programs there.
# QUELVAN_JOBS (default 2) sets the parallel jobs; everything runs at the lowest priority.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
arch="${1:-}"
mode="${2:-}"
case "$arch" in
  arm64) cpu=aarch64 ;;
  armhf) cpu=arm ;;
  *) echo "usage: scripts/cross.sh arm64|armhf [--check]" >&2; exit 2 ;;
esac
build="$here/build-$arch"
jobs="${QUELVAN_JOBS:-2}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
apt_get() { $SUDO env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 "$@"; }
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
step() { echo "== $* ($(date -u +%H:%M:%S))"; }

# What this machine needs for itself, then the same libraries as the native build's, for ARCH.
step "packages"
"$here/scripts/install-deps.sh"
# shellcheck source=install-deps.sh
source "$here/scripts/install-deps.sh"
added=0
if ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
  $SUDO dpkg --add-architecture "$arch"
  added=1
fi
wanted=("crossbuild-essential-$arch" qemu-user-static binfmt-support debootstrap "pkgconf:$arch")
# One line per library: its name, its architecture ("all" or this machine's) and its
# Multi-Arch field (one apt-cache call: each costs seconds on a busy machine).
while read -r p kind multiarch; do
  if [ "$kind" = all ]; then
    continue # the same files for every architecture: this machine's serve
  elif [ "$multiarch" = same ]; then
    wanted+=("$p:$arch")
  else
    # Installing it for ARCH would remove this machine's own: what needs it is skipped below.
    echo "not installed for $arch: $p (it cannot be installed beside this machine's own)"
  fi
done < <(apt-cache show --no-all-versions "${LIBRARIES[@]}" |
           awk '/^Package:/ {p = $2; a = ""; m = "no"} /^Architecture:/ {a = $2} /^Multi-Arch:/ {m = $2}
                /^$/ && p {print p, a, m; p = ""} END {if (p) print p, a, m}')
missing=()
for p in "${wanted[@]}"; do installed "$p" || missing+=("$p"); done
if [ ${#missing[@]} -gt 0 ]; then
  # Fresh lists before installing: ARCH's libraries must have the versions this machine's
  # have or will have. A mirror without ARCH's lists (or with broken ones) would make every
  # apt-get update on this machine fail from now on: then an architecture added here is taken
  # away again, unless the owner asked for ARCH's libraries from the pool (cross-pool.sh says
  # how), which is then done again each time with the lists as they are.
  # Only this machine's lists and ARCH's are fetched (the others are kept as they are): a
  # broken list of another architecture would otherwise keep apt from taking ARCH's lists of
  # the same release.
  update_log="$(mktemp)"
  if ! apt_get update -qq -o APT::Architectures="$(dpkg --print-architecture),$arch" \
         -o APT::Get::List-Cleanup=0 2>&1 | tee "$update_log"; then
    if ! "$here/scripts/cross-pool.sh" "$arch" "$update_log"; then
      rm -f "$update_log"
      if [ "$added" = 1 ]; then
        $SUDO dpkg --remove-architecture "$arch"
        echo "apt could not read the package lists for $arch: $arch removed again, nothing built" >&2
      else
        echo "apt could not read the package lists: nothing installed, nothing built" >&2
      fi
      exit 1
    fi
    echo "note: until the mirror's lists for $arch are whole again, apt-get update on this machine reports them" >&2
  fi
  rm -f "$update_log"
  echo "Installing: ${missing[*]}"
  apt_get install -y -qq --no-install-recommends "${missing[@]}"
fi
# Programs started by the tests (quelvand, quelvanctl) are started as programs, not through
# CTest's emulator: the kernel has to hand ARCH's programs to qemu by itself.
if [ ! -e /proc/sys/fs/binfmt_misc/register ]; then
  $SUDO mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
fi
if [ ! -e "/proc/sys/fs/binfmt_misc/qemu-$cpu" ]; then
  $SUDO update-binfmts --enable "qemu-$cpu"
fi

step "configure and build in $build"
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$here}"
export CCACHE_NOHASHDIR="${CCACHE_NOHASHDIR:-true}"
export CCACHE_SLOPPINESS="${CCACHE_SLOPPINESS:-pch_defines,time_macros,include_file_mtime,include_file_ctime}"
if [ ! -f "$build/CMakeCache.txt" ]; then
  # The benchmarks are measured on the building machine (docs/performance.md), not here.
  cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_TOOLCHAIN_FILE="$here/cmake/debian-cross.cmake" -DQUELVAN_DEB_ARCH="$arch" -DQUELVAN_BUILD_BENCH=OFF
fi
nice -n 19 cmake --build "$build" -j "$jobs"

# Tests that cannot run emulated: a pattern of test names and, at the same place, the reason.
# The native build runs them all.
skip_pattern=(
  '^(backend|quelvanctl)_umockdev$'
  '^fuzz\.'
  '^schedule\.GraphRenderer\.DrawsTheSamePictureAsTheWindow$|^window\.(AppStartTest|ServiceModeTest)$'
  '^window\.ProgressDialogTest$'
  '^window\.FaultInjectionTest$'
)
skip_reason=(
  "umockdev's preload library is this machine's (amd64) and cannot be loaded into an emulated program; its development package cannot be installed for $arch beside this machine's"
  "the fuzz targets are built by this machine's clang for this machine, not for $arch: the native build runs them"
  "starts a program through Qt's QProcess, which asks for clone(CLONE_VFORK|CLONE_PIDFD): Debian 12's qemu-user refuses that with EINVAL, so an emulated Qt program can start none (the programs themselves start none this way)"
  "checks that a step within 200 ms of the last one is not shown; emulated, showing the dialog takes longer than that by itself"
  "runs every window operation with every transfer failing: emulated on two shared cores it takes longer than its 300 s limit"
)
if [ "$mode" != "--check" ]; then
  step "tests under qemu-$cpu-static"
  for i in "${!skip_pattern[@]}"; do
    while read -r name; do
      echo "skipped under emulation: $name: ${skip_reason[$i]}"
    done < <(cd "$build" && ctest -N -R "${skip_pattern[$i]}" | sed -n 's/^ *Test *#[0-9]*: //p')
  done
  all_skipped="$(IFS='|'; echo "${skip_pattern[*]}")"
  (cd "$build" && QT_QPA_PLATFORM=offscreen DEB_HOST_ARCH="$arch" \
     nice -n 19 ctest -j "$jobs" --output-on-failure --timeout 900 -E "$all_skipped")
fi

step "package"
rm -f "$build"/quelvan_*_"$arch".deb
# dpkg-shlibdeps looks up the target's libraries (and their packages) for DEB_HOST_ARCH.
(cd "$build" && DEB_HOST_ARCH="$arch" cpack -G DEB >/dev/null)
deb="$(ls "$build"/quelvan_*_"$arch".deb)"
dpkg-deb -f "$deb" Package Version Architecture Depends
echo "$deb"

[ "$mode" = "--check" ] || exit 0
exec "$here/scripts/cross-check.sh" "$arch" "$deb"
