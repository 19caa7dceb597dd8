#!/usr/bin/env bash
# cross-check.sh ARCH DEB (called by `scripts/cross.sh ARCH --check`): installs the package
# with apt on a minimal Debian 12 root of that architecture and runs its programs there,
# emulated by qemu. The root is made once (debootstrap --foreign, its second stage under
# qemu) and kept in build-ARCH/root; the package is removed again at the end, so the next
# check starts from the same root. Needs root (or sudo) and the Debian mirror apt uses here.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
arch="$1"
deb="$(realpath "$2")"
case "$arch" in
  arm64) cpu=aarch64 ;;
  armhf) cpu=arm ;;
  *) echo "usage: scripts/cross-check.sh arm64|armhf DEB" >&2; exit 2 ;;
esac
if [ "$(id -u)" -ne 0 ]; then exec sudo "$0" "$@"; fi
root="$here/build-$arch/root"
start=$(date +%s)
step() { echo "== $* ($(($(date +%s) - start)) s)"; }

mirror=$(grep -hE '^URIs:' /etc/apt/sources.list.d/*.sources 2>/dev/null | awk '{print $2}' | grep -v security | head -n1)
[ -n "$mirror" ] || mirror=$(grep -hoE '^deb +https?://[^ ]+' /etc/apt/sources.list 2>/dev/null | awk '{print $2}' | head -n1)
command -v debootstrap >/dev/null || apt-get install -y -qq debootstrap >/dev/null

# The kernel hands the root's programs to the interpreter that binfmt_misc names, looked up
# inside the root: qemu has to be there under that name.
interpreter=$(sed -n 's/^interpreter //p' "/proc/sys/fs/binfmt_misc/qemu-$cpu")
if [ ! -f "$root/.quelvan-ready" ]; then
  step "Debian 12 $arch root in $root"
  # A root left half made may still have file systems mounted in it: never remove through them.
  for m in dev/pts dev sys proc; do umount "$root/$m" 2>/dev/null || true; done
  rm -rf --one-file-system "$root"
  debootstrap --arch="$arch" --foreign --variant=minbase bookworm "$root" "$mirror" >"$root.log" 2>&1 \
    || { echo "debootstrap failed (see $root.log)" >&2; exit 1; }
  mkdir -p "$root$(dirname "$interpreter")"
  cp -L "$interpreter" "$root$interpreter"
  chroot "$root" /debootstrap/debootstrap --second-stage >>"$root.log" 2>&1 \
    || { echo "debootstrap's second stage failed (see $root.log)" >&2; exit 1; }
  cp /etc/apt/sources.list.d/*.sources "$root/etc/apt/sources.list.d/" 2>/dev/null && rm -f "$root/etc/apt/sources.list"
  touch "$root/.quelvan-ready"
fi
for m in proc sys dev dev/pts; do mountpoint -q "$root/$m" || mount --bind "/$m" "$root/$m"; done
service=""
cleanup() {
  [ -n "$service" ] && kill "$service" 2>/dev/null
  for m in dev/pts dev sys proc; do umount "$root/$m" 2>/dev/null || true; done
}
trap cleanup EXIT
in_root() {
  env -i HOME=/root TERM=dumb LANG=C.UTF-8 PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    "$@"
}
run() { echo "\$ $*"; in_root chroot "$root" /bin/sh -c "$*"; }

step "apt install $(basename "$deb") in the $arch root"
cp "$deb" "$root/tmp/"
# A list the mirror serves mid-sync is left out (apt says which); the package's dependencies
# come from the others.
in_root chroot "$root" apt-get update -qq || echo "note: apt could not read every package list in the root" >&2
in_root chroot "$root" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
  "/tmp/$(basename "$deb")" >"$root.install.log" 2>&1 || { cat "$root.install.log" >&2; exit 1; }
echo "dpkg in the root: $(in_root chroot "$root" dpkg-query -W -f='${Package} ${Version} ${Architecture}' quelvan)"

step "programs"
run quelvanctl --version
run quelvanctl --simulate status
mkdir -p "$root/run/quelvan"
# Started without the function, so that $! is quelvand itself (env and chroot exec it).
env -i HOME=/root LANG=C.UTF-8 PATH=/usr/sbin:/usr/bin:/sbin:/bin chroot "$root" quelvand --simulate 2>"$root.quelvand.log" &
service=$!
for _ in $(seq 100); do [ -S "$root/run/quelvan/quelvand.sock" ] && break; sleep 0.2; done
run quelvanctl service status
kill "$service"; wait "$service" || true; service=""
run QT_QPA_PLATFORM=offscreen quelvan --version

step "remove the package"
in_root chroot "$root" dpkg --purge quelvan >/dev/null
for f in /usr/bin/quelvan /usr/bin/quelvanctl /usr/bin/quelvand; do
  if [ -e "$root$f" ]; then echo "$f is still there after removing the package" >&2; exit 1; fi
done
step "installed, ran and removed cleanly on Debian 12 $arch"
