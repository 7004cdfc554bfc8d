#!/usr/bin/env bash
# Installs the Debian 12 packages the station needs. Run as root. With "station", only those that
# build and run the station and its tools (the main job); with "station sip", SIPp as well, for the
# SIP demo's far ends; without, also those of the tests, benchmarks, fuzz targets and packaging.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libsqlite3-dev libspandsp-dev nlohmann-json3-dev espeak-ng libre-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev qt6-translations-l10n
)
if [[ "${1:-}" != station ]]; then
  packages+=(
    xvfb xauth poppler-utils
    libgtest-dev libgmock-dev libbenchmark-dev python3-dbf
    sip-tester  # SIPp: the scripted SIP far ends of the tests, the benchmark and the SIP demo
    clang libclang-rt-14-dev
    file  # cpack tells the programs it scans for their libraries by it
  )
elif [[ "${2:-}" == sip ]]; then
  packages+=(sip-tester)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#packages[@]} packages present"
  exit 0
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing packages (${missing[*]}); run as root to install them" >&2
  exit 1
fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
# Unpacking without a disk sync after every file halves the time on a fresh machine; a crash in the
# middle is mended by running this again.
apt-get install -y -q --no-install-recommends -o Dpkg::Options::=--force-unsafe-io "${missing[@]}"
