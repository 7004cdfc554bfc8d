#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds the station and shows what stands so far: a sample
# configuration is imported into a demonstration home folder, read back key by key and printed
# as .reg text; then the simulated lines are probed and a few values are spoken as phrase codes.
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
echo
echo "== The simulated lines present"
"$root/build/bin/peltra-line" --home "$home" probe --sim 2 | grep '^SIM'
echo
echo "== What the station says for a debt of 1251,32 hryvnias, a date and a flat"
say=("$root/build/bin/peltra-say" --home "$home")
echo "1251,32:    $("${say[@]}" money hryvnia 1251,32 | tr '\n' ' ')"
echo "2008-03-25: $("${say[@]}" function 3 2008-03-25 | tr '\n' ' ')"
echo "flat 5/2:   $("${say[@]}" function 12 5/2 | tr '\n' ' ')"
