#!/usr/bin/env bash
# Configures and builds the station into build/ (or the folder given as $1, with extra CMake
# arguments after it). Every program lands in <build>/bin.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
shift || true
cmake -S "$root" -B "$build" -G Ninja "$@"
cmake --build "$build" --parallel "$(nproc)"
