#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds the station and runs every test: the normal build,
# then the thread-synchronisation tests once more under ThreadSanitizer.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/install-deps.sh"

bash "$root/scripts/build.sh" "$root/build"
status=0
ctest --test-dir "$root/build" --output-on-failure --parallel "$(nproc)" || status=1

# The event and timer tests once more under ThreadSanitizer.
bash "$root/scripts/build.sh" "$root/build-tsan" -DPELTRA_SANITIZE=thread -DPELTRA_BUILD_BENCH=OFF
ctest --test-dir "$root/build-tsan" --output-on-failure --parallel "$(nproc)" \
  -R '^(Event|TimerService)' || status=1

exit $status
