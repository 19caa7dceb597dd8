#!/usr/bin/env bash
# cross-pool.sh ARCH LOG: called by cross.sh when apt could not read some of the mirror's
# package lists for ARCH (LOG holds what apt-get update said), typically a list caught
# mid-sync whose size no longer matches the signed release file.
#
# Libraries installed for two architectures must have the same version on both, and this
# machine's own come from the security updates: without ARCH's list of them, apt offers only
# older versions for ARCH and refuses. Only with QUELVAN_CROSS_UNVERIFIED_INDEX=1 does this
# take the unreadable lists as the mirror serves them, fetch from the mirror's pool the ARCH
# packages they hold of the libraries this machine has (each checked against that list's
# SHA256), and offer them to apt as a local repository
# (/var/cache/quelvan-cross/ARCH). Apt does not verify these lists against the release's
# signature, which is why it is never done unasked.
set -euo pipefail
arch="$1"
log="$2"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

mapfile -t failed < <(sed -n 's/^E: Failed to fetch \([^ ]*\) .*/\1/p' "$log" | sort -u)
if [ ${#failed[@]} -eq 0 ] || printf '%s\n' "${failed[@]}" | grep -vq "/binary-$arch/"; then
  echo "apt could not read package lists other than $arch's (see above): nothing to work around" >&2
  exit 1
fi
echo "The mirror's package lists for $arch could not be read:" >&2
printf '  %s\n' "${failed[@]}" >&2
if [ "${QUELVAN_CROSS_UNVERIFIED_INDEX:-}" != 1 ]; then
  echo "Run again later, or with QUELVAN_CROSS_UNVERIFIED_INDEX=1 to take $arch's libraries of this" >&2
  echo "machine's versions from the mirror's pool, checked only against those unverified lists." >&2
  exit 1
fi

repo="/var/cache/quelvan-cross/$arch"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
$SUDO mkdir -p "$repo"
# This machine's Multi-Arch: same packages: ARCH's must have the same version as this
# machine's. Every version the unreadable list holds of them is taken, not only the one
# installed here: apt then upgrades this machine's copy to the list's version where the
# installed one has left the mirror (the security updates replace it), as it would with whole
# lists.
dpkg-query -W -f='${Package} ${Multi-Arch}\n' | awk '$2 == "same" {print $1}' | sort -u >"$scratch/host"
: >"$scratch/Packages"
for url in "${failed[@]}"; do
  base="${url%%/dists/*}"
  /usr/lib/apt/apt-helper -o APT::Sandbox::User=root download-file "$url" "$scratch/list.xz" >/dev/null
  xz -dc "$scratch/list.xz" >"$scratch/list"
  echo >>"$scratch/list" # the last stanza ends like the others
  # One line per stanza of a version this machine has: package, version, file, SHA256.
  awk -v host="$scratch/host" '
    BEGIN { while ((getline line < host) > 0) want[line] = 1 }
    /^Package: / { p = $2 } /^Version: / { v = $2 } /^Filename: / { file = $2 } /^SHA256: / { sum = $2 }
    /^$/ { if (p in want) print p, v, file, sum; p = v = file = sum = "" }
  ' "$scratch/list" >"$scratch/wanted"
  while read -r p v file sum; do
    deb="$repo/$(basename "$file")"
    if [ ! -f "$deb" ] || ! echo "$sum  $deb" | sha256sum -c --quiet 2>/dev/null; then
      $SUDO /usr/lib/apt/apt-helper -o APT::Sandbox::User=root download-file "$base/$file" "$deb" "SHA256:$sum" >/dev/null
    fi
    # The list's own stanza, with the file where this repository keeps it.
    awk -v p="$p" -v v="$v" -v name="$(basename "$file")" '
      /^Package: / { keep = ($2 == p) } /^Version: / { keep = keep && ($2 == v) } { stanza = stanza $0 "\n" }
      /^$/ { if (keep) { sub(/\nFilename: [^\n]*/, "\nFilename: ./" name, stanza); printf "%s", stanza } stanza = ""; keep = 0 }
    ' "$scratch/list" >>"$scratch/Packages"
  done <"$scratch/wanted"
  echo "taken from the pool for $arch: $(wc -l <"$scratch/wanted") packages this machine also has" >&2
done
$SUDO cp "$scratch/Packages" "$repo/Packages"
echo "deb [trusted=yes arch=$arch] file:$repo ./" | $SUDO tee "/etc/apt/sources.list.d/quelvan-cross-$arch.list" >/dev/null
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get update -qq \
  -o Dir::Etc::sourcelist="sources.list.d/quelvan-cross-$arch.list" -o Dir::Etc::sourceparts=- \
  -o APT::Get::List-Cleanup=0
