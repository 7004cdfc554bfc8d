#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds the station and runs every test: a short seeded run of
# each fuzz target, then the tests in the normal build, under AddressSanitizer with
# UndefinedBehaviorSanitizer, and under ThreadSanitizer. Exits non-zero when any run fails.
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

# First, the fuzz targets stay buildable and survive a short, repeatable run (fixed seed and run count).
echo "== fuzz smoke runs"
CC=clang CXX=clang++ bash "$root/scripts/build.sh" "$root/build-fuzz" -DPELTRA_BUILD_FUZZ=ON \
  -DPELTRA_BUILD_TESTS=OFF -DPELTRA_BUILD_BENCH=OFF
"$root/build-fuzz/bin/fuzz_phonogram_library" -seed=1 -runs=20000 || status=1
"$root/build-fuzz/bin/fuzz_modulator" -seed=1 -runs=500 || status=1
"$root/build-fuzz/bin/fuzz_dbf_table" -seed=1 -runs=20000 || status=1
"$root/build-fuzz/bin/fuzz_wav_reader" -seed=1 -runs=20000 || status=1
"$root/build-fuzz/bin/fuzz_sim_plan" -seed=1 -runs=20000 || status=1

# Then the tests, last, so that CTest's summary closes the output.
run_suite "tests" "$root/build"
run_suite "tests under ASan+UBSan" "$root/build-asan" -DPELTRA_SANITIZE=address -DPELTRA_BUILD_BENCH=OFF
run_suite "tests under TSan" "$root/build-tsan" -DPELTRA_SANITIZE=thread -DPELTRA_BUILD_BENCH=OFF

exit $status
