#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test (GUI tests on Qt's offscreen platform).
# With --sanitize (or CI=true) the whole suite runs a second time under ASan + UBSan.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
"$here/scripts/install-deps.sh"

sanitize=0
[ "${CI:-}" = "true" ] && sanitize=1
for a in "$@"; do [ "$a" = "--sanitize" ] && sanitize=1; done

"$here/scripts/build.sh" "$here/build" -DQUELVAN_WERROR=ON
(cd "$here/build" && ctest --output-on-failure -j 2)

if [ "$sanitize" = 1 ]; then
  "$here/scripts/build.sh" "$here/build-asan" -DQUELVAN_WERROR=ON -DQUELVAN_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
  export ASAN_OPTIONS="abort_on_error=1:detect_leaks=1:halt_on_error=1"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
  export LSAN_OPTIONS="suppressions=$here/tests/lsan.supp:print_suppressions=0"
  (cd "$here/build-asan" && ctest --output-on-failure -j 2)
fi
