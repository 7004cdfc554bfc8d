#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds the station and runs every test: a short seeded run of
# each fuzz target; every test in the normal build; the core tests under AddressSanitizer with
# UndefinedBehaviorSanitizer; the tests of the code that runs threads under ThreadSanitizer. Each
# sanitizer build compiles only what its tests run. Ends with one line "N passed, N failed" over all
# stages and exits non-zero when anything failed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/install-deps.sh"

passed=0
failed=0
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT

# run_suite NAME BUILD TARGET LABELS [CMAKE ARGS...]: builds TARGET (all when empty) and runs the
# tests whose label matches LABELS (every test when empty), adding them to the tally.
run_suite() {
  local name=$1 build=$2 target=$3 labels=$4
  shift 4
  echo "== $name (at ${SECONDS} s)"
  cmake -S "$root" -B "$build" -G Ninja "$@"
  cmake --build "$build" --parallel "$(nproc)" ${target:+--target "$target"}
  local log="$logs/$(basename "$build").log"
  ctest --test-dir "$build" --output-on-failure --parallel "$(nproc)" ${labels:+-L "$labels"} \
    --no-tests=error 2>&1 | tee "$log" || true
  local summary
  summary=$(grep -E '[0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1 || true)
  if [[ -z "$summary" ]]; then
    echo "$name: CTest gave no summary"
    failed=$((failed + 1))
    return
  fi
  local bad total
  read -r bad total < <(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1 \2/' <<<"$summary")
  passed=$((passed + total - bad))
  failed=$((failed + bad))
}

# fuzz_run TARGET ARGS...: one seeded, bounded run of a fuzz target, counted as one test.
fuzz_run() {
  if "$root/build-fuzz/bin/$1" "${@:2}"; then
    passed=$((passed + 1))
  else
    echo "fuzz run $1 failed"
    failed=$((failed + 1))
  fi
}

# First, the fuzz targets stay buildable and survive a short, repeatable run (fixed seed and run count).
echo "== fuzz smoke runs (at ${SECONDS} s)"
fuzz_targets=(fuzz_phonogram_library fuzz_modulator fuzz_dbf_table fuzz_wav_reader fuzz_sim_plan fuzz_sip_media)
CC=clang CXX=clang++ cmake -S "$root" -B "$root/build-fuzz" -G Ninja -DPELTRA_BUILD_FUZZ=ON \
  -DPELTRA_BUILD_TESTS=OFF -DPELTRA_BUILD_BENCH=OFF
cmake --build "$root/build-fuzz" --parallel "$(nproc)" --target "${fuzz_targets[@]}"
fuzz_run fuzz_phonogram_library -seed=1 -runs=20000
fuzz_run fuzz_modulator -seed=1 -runs=500
fuzz_run fuzz_dbf_table -seed=1 -runs=20000
fuzz_run fuzz_wav_reader -seed=1 -runs=20000
fuzz_run fuzz_sim_plan -seed=1 -runs=20000
fuzz_run fuzz_sip_media -seed=1 -runs=200000

run_suite "tests" "$root/build" "" "" -DCMAKE_BUILD_TYPE=Release -DPELTRA_BUILD_TESTS=ON -DPELTRA_BUILD_BENCH=ON
run_suite "core tests under ASan+UBSan" "$root/build-asan" core_tests "^(core|threads)$" \
  -DPELTRA_SANITIZE=address -DPELTRA_BUILD_BENCH=OFF
run_suite "tests of threaded code under TSan" "$root/build-tsan" thread_tests "^threads$" \
  -DPELTRA_SANITIZE=thread -DPELTRA_BUILD_BENCH=OFF

echo "all stages took ${SECONDS} s"
echo "$passed passed, $failed failed"
[[ $failed -eq 0 ]]
