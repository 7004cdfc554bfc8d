#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds the station and shows its configuration store at
# work: a sample configuration is imported into a demonstration home folder, read back key by
# key, and the whole tree is printed as .reg text.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/install-deps.sh"
bash "$root/scripts/build.sh" "$root/build"

home=$root/demo-home
rm -rf "$home"
reg=("$root/build/bin/peltra-reg" --home "$home")

echo "== Importing examples/station.reg into $home/registry.db"
"${reg[@]}" import "$root/examples/station.reg"
echo
echo "== The lines: Software\\PELTRA\\Ports"
"${reg[@]}" list 'Software\PELTRA\Ports'
echo
echo "== One port's settings: Software\\PELTRA\\Ports\\COM2"
"${reg[@]}" list 'Software\PELTRA\Ports\COM2'
echo
echo "== The whole store"
"${reg[@]}" export 'Software\PELTRA'
