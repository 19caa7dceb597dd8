#!/usr/bin/env bash
# build.sh BUILD_DIR [cmake options...]: configure (once) and build with ccache.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
dir="$1"; shift
jobs="${QUELVAN_JOBS:-2}"
# Let ccache reuse objects between clones in different folders (CI builds a fresh clone).
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$here}"
export CCACHE_NOHASHDIR="${CCACHE_NOHASHDIR:-true}"
# Precompiled headers are cacheable only with these relaxations.
export CCACHE_SLOPPINESS="${CCACHE_SLOPPINESS:-pch_defines,time_macros,include_file_mtime,include_file_ctime}"
if [ ! -f "$dir/CMakeCache.txt" ]; then
  cmake -S "$here" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
else
  cmake -S "$here" -B "$dir" "$@" >/dev/null
fi
cmake --build "$dir" -j "$jobs"
