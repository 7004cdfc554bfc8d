#!/usr/bin/env bash
# Installs every package the station needs to build, test and run on Debian 12. Run as root.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libsqlite3-dev libspandsp-dev nlohmann-json3-dev espeak-ng
  qt6-base-dev qt6-base-dev-tools libgl-dev xvfb xauth poppler-utils
  libgtest-dev libgmock-dev libbenchmark-dev python3-dbf
  clang libclang-rt-14-dev qt6-translations-l10n
  file  # cpack tells the programs it scans for their libraries by it
)

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
apt-get install -y -q --no-install-recommends "${missing[@]}"
