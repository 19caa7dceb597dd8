#!/usr/bin/env bash
# fuzz.sh [SECONDS] [TARGET...]: builds the libFuzzer targets with clang and runs each one
# for SECONDS (default 60). Targets: firmware_file, ini, flash, board_answers, argv,
# service_requests, service_replies, mqtt_commands, web_requests (default: all).
# New inputs collect in build-fuzz/corpus/TARGET; crashes are saved in build-fuzz/artifacts.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-60}"
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(firmware_file ini flash board_answers argv service_requests service_replies mqtt_commands web_requests)

compiler="$(command -v clang++-14 || command -v clang++ || true)"
if [ -z "$compiler" ]; then
  echo "fuzz.sh: clang++ not found (scripts/install-deps.sh installs clang-14)" >&2
  exit 2
fi
build="$here/build-fuzz"
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$here}"
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$here/fuzz" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER="$compiler" >/dev/null
fi
cmake --build "$build" -j "${QUELVAN_JOBS:-2}"
mkdir -p "$build/artifacts"

status=0
for target in "${targets[@]}"; do
  binary="$build/${target}_fuzzer"
  if [ ! -x "$binary" ]; then
    echo "fuzz.sh: unknown target '$target'" >&2
    exit 2
  fi
  mkdir -p "$build/corpus/$target"
  echo "== $target for ${seconds}s" >&2
  # Firmware files reach 65,804 bytes; longer inputs than the default 4 KiB are allowed.
  # The board's answers are bounded to 4 KiB by the target itself.
  max_len=70000
  [ "$target" = board_answers ] && max_len=4096
  if ! "$binary" -max_total_time="$seconds" -max_len="$max_len" -timeout=10 \
      -artifact_prefix="$build/artifacts/${target}-" \
      -print_final_stats=1 "$build/corpus/$target" "$here/fuzz/corpus/$target"; then
    echo "fuzz.sh: $target found a problem; see $build/artifacts" >&2
    status=1
  fi
done
exit $status
