#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds the station and runs every test: the normal build,
# then the same tests under AddressSanitizer with UndefinedBehaviorSanitizer, and under
# ThreadSanitizer. Exits non-zero when any run fails.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/install-deps.sh"

status=0
run_suite() {
  local name=$1 build=$2
  shift 2
  echo "== $name"
  bash "$root/scripts/build.sh" "$build" "$@"
  ctest --test-dir "$build" --output-on-failure --parallel "$(nproc)" || status=1
}

run_suite "tests" "$root/build"
run_suite "tests under ASan+UBSan" "$root/build-asan" -DPELTRA_SANITIZE=address -DPELTRA_BUILD_BENCH=OFF
run_suite "tests under TSan" "$root/build-tsan" -DPELTRA_SANITIZE=thread -DPELTRA_BUILD_BENCH=OFF
exit $status
