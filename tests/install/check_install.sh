#!/usr/bin/env bash
# check_install.sh BUILD_DIR VERSION: installs the build into a scratch folder (as a package
# would, under /usr), validates the desktop files there, runs quelvanctl from it, and checks
# that the Debian package holds every installed file and computed its dependencies.
set -euo pipefail
build="$1"
version="$2"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

DESTDIR="$scratch/root" cmake --install "$build" --prefix /usr >/dev/null
root="$scratch/root/usr"
id=info.dravik.Quelvan

expected=(
  bin/quelvan
  bin/quelvanctl
  bin/quelvanctl-graph
  lib/udev/rules.d/70-quelvan.rules
  share/applications/$id.desktop
  share/metainfo/$id.metainfo.xml
  share/icons/hicolor/scalable/apps/$id.svg
)
for size in 16 24 32 48 64 128 256; do expected+=("share/icons/hicolor/${size}x${size}/apps/$id.png"); done
expected+=(
  bin/quelvand
  lib/systemd/system/quelvand.service
  lib/systemd/user/quelvand.service
  lib/sysusers.d/quelvan.conf
  share/man/man1/quelvand.1
  share/man/man1/quelvan.1
  share/man/man1/quelvanctl.1
  share/bash-completion/completions/quelvanctl
  share/zsh/vendor-completions/_quelvanctl
)
for f in "${expected[@]}"; do [ -f "$root/$f" ] || fail "not installed: $f"; done
conf="$scratch/root/etc/quelvan/quelvand.conf"
[ -f "$conf" ] || fail "not installed: /etc/quelvan/quelvand.conf"

# The service: a notify unit with its user, hardened, and a configuration whose every key is
# shown commented out at its default.
unit="$root/lib/systemd/system/quelvand.service"
for line in Type=notify User=quelvan RuntimeDirectory=quelvan ProtectSystem=strict PrivateTmp=yes \
            NoNewPrivileges=yes DevicePolicy=closed "DeviceAllow=char-hidraw rw" WatchdogSec=30 \
            "RestrictAddressFamilies=AF_UNIX AF_NETLINK AF_INET AF_INET6" StateDirectory=quelvan \
            StateDirectoryMode=0700; do
  grep -qx "$line" "$unit" || fail "quelvand.service lacks $line"
done
for unit_file in "$unit" "$root/lib/systemd/user/quelvand.service"; do
  for line in Restart=on-failure LimitNOFILE=4096 SystemCallFilter=@system-service ProtectProc=invisible \
              ProcSubset=pid RemoveIPC=yes; do
    grep -qx "$line" "$unit_file" || fail "$unit_file lacks $line"
  done
  grep -q "^MemoryMax=" "$unit_file" || fail "$unit_file sets no MemoryMax"
  grep -q "^TasksMax=" "$unit_file" || fail "$unit_file sets no TasksMax"
  # systemd's own assessment of what the service is exposed to: 2.5 or lower (10 is the worst).
  score="$(cd "$(dirname "$unit_file")" &&
    systemd-analyze security --offline=yes --no-pager quelvand.service 2>&1 |
    sed -n 's/.*Overall exposure level for quelvand.service: \([0-9.]*\).*/\1/p')"
  [ -n "$score" ] || fail "systemd-analyze security gave no score for $unit_file"
  awk -v s="$score" 'BEGIN { exit !(s <= 2.5) }' || fail "$unit_file: exposure $score, more than 2.5"
done
grep -qx "Type=notify" "$root/lib/systemd/user/quelvand.service" || fail "user unit is not Type=notify"
grep -qx "StateDirectory=quelvan" "$root/lib/systemd/user/quelvand.service" || fail "user unit has no state directory"
grep -qx "#\[web\]" "$conf" || fail "quelvand.conf does not show [web] (commented out: off by default)"
grep -q "^u quelvan " "$root/lib/sysusers.d/quelvan.conf" || fail "sysusers file makes no user quelvan"
for key in poll_ms config_poll_ms boards socket host port username password_file ca_file keepalive client_id \
           discovery_prefix base_topic listen token_file follow place tz noon twilight max siesta acclimate_from \
           acclimate_days acclimate_start save_eeprom; do
  grep -q "^#$key =" "$conf" || fail "quelvand.conf does not show $key"
done
grep -q 'GROUP="quelvan", MODE="0660"' "$root/lib/udev/rules.d/70-quelvan.rules" || fail "udev rule gives no group access"
grep -q 'TAG+="uaccess"' "$root/lib/udev/rules.d/70-quelvan.rules" || fail "udev rule lost uaccess"

desktop-file-validate "$root/share/applications/$id.desktop" || fail "desktop entry"
appstreamcli validate --no-net "$root/share/metainfo/$id.metainfo.xml" >/dev/null || fail "metainfo"
grep -q "<release version=\"$version\"" "$root/share/metainfo/$id.metainfo.xml" || fail "metainfo release version"
[ "$(head -c 8 "$root/share/icons/hicolor/48x48/apps/$id.png" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] ||
  fail "48x48 icon is not a PNG"

# The manual pages are well-formed and document every command.
for page in quelvan quelvanctl; do
  warnings="$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$root/share/man/man1/$page.1" 2>&1 >/dev/null)"
  [ -z "$warnings" ] || fail "$page.1: $warnings"
done
man -l "$root/share/man/man1/quelvanctl.1" 2>/dev/null | grep -q "import table" || fail "quelvanctl.1 lacks a command"

# The completions offer the commands, the settings keys and the channel letters.
complete_words() {
  bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _quelvanctl; echo "${COMPREPLY[*]}"' \
    _ "$root/share/bash-completion/completions/quelvanctl" "$@"
}
[[ " $(complete_words quelvanctl im) " == *" import "* ]] || fail "bash completion: commands"
[[ " $(complete_words quelvanctl config set Fan) " == *" FanLow "* ]] || fail "bash completion: keys"
[[ " $(complete_words quelvanctl set "") " == *" L all "* ]] || fail "bash completion: channels"
if command -v zsh >/dev/null; then
  zsh -n "$root/share/zsh/vendor-completions/_quelvanctl" || fail "zsh completion does not parse"
fi

# The installed programs run from their new place.
[ "$("$root/bin/quelvanctl" --version)" = "quelvanctl $version" ] || fail "quelvanctl --version"
[ "$("$root/bin/quelvan" --version)" = "quelvan $version" ] || fail "quelvan --version"
[ "$("$root/bin/quelvand" --version)" = "quelvand $version" ] || fail "quelvand --version"
# The installed service answers the installed quelvanctl, with the shipped configuration.
sed "s|^#socket =.*|socket = $scratch/quelvand.sock|" "$conf" >"$scratch/quelvand.conf"
"$root/bin/quelvand" --config "$scratch/quelvand.conf" --simulate 2>"$scratch/quelvand.log" &
service_pid=$!
for _ in $(seq 100); do [ -S "$scratch/quelvand.sock" ] && break; sleep 0.05; done
QUELVAN_SOCKET="$scratch/quelvand.sock" "$root/bin/quelvanctl" service status >"$scratch/service.txt" ||
  fail "installed quelvanctl service status: $(cat "$scratch/quelvand.log")"
kill "$service_pid"; wait "$service_pid" || fail "quelvand did not end cleanly: $(cat "$scratch/quelvand.log")"
grep -q "QV2-000123" "$scratch/service.txt" || fail "service status shows no board: $(cat "$scratch/service.txt")"
"$root/bin/quelvanctl" --simulate status >"$scratch/status.txt" || fail "installed quelvanctl --simulate status"
grep -q "Firmware version: 4" "$scratch/status.txt" || fail "status output"
QT_QPA_PLATFORM=offscreen "$root/bin/quelvanctl" --simulate graph --output "$scratch/day.png" ||
  fail "installed quelvanctl graph (its renderer beside it)"
[ "$(head -c 8 "$scratch/day.png" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || fail "graph is not a PNG"

# The package: every installed file, and dependencies computed from the binaries.
(cd "$build" && cpack -G DEB -B "$scratch/package" >/dev/null) || fail "cpack"
# The architecture is the build's: amd64 here, arm64 or armhf in the cross builds.
deb="$(ls "$scratch"/package/quelvan_"${version}"_*.deb 2>/dev/null || true)"
[ -f "$deb" ] || fail "no quelvan_${version}_*.deb in $scratch/package"
dpkg-deb -c "$deb" | awk '{print $6}' | sed 's#^\./usr/##' >"$scratch/contents.txt"
for f in "${expected[@]}"; do grep -qx "$f" "$scratch/contents.txt" || fail "not in the package: $f"; done
grep -qx "./etc/quelvan/quelvand.conf" "$scratch/contents.txt" || fail "not in the package: /etc/quelvan/quelvand.conf"
! grep -q "etc/systemd" "$scratch/contents.txt" || fail "the package enables a unit"
dpkg-deb -I "$deb" conffiles | grep -qx "/etc/quelvan/quelvand.conf" || fail "quelvand.conf is not a conffile"
dpkg-deb -I "$deb" postinst | grep -q "systemd-sysusers" || fail "postinst does not create the service's user"
depends="$(dpkg-deb -f "$deb" Depends)"
for lib in libqt6widgets6 libqt6network6 libqt6httpserver6 libhidapi-hidraw0 libudev1 libmosquitto1 libc6 qt6-translations-l10n; do
  [[ "$depends" == *"$lib"* ]] || fail "Depends lacks $lib: $depends"
done
for script in postinst postrm; do
  dpkg-deb -I "$deb" "$script" | grep -q "udevadm control --reload-rules" || fail "$script does not reload udev"
done
echo "install and package: ok"
