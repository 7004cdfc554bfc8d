#!/bin/sh
# The Debian package made from a built tree: its files, its control fields, its maintainer scripts
# run against stand-in system commands, its catalogue imported by its own tools, and its unit
# checked by systemd-analyze. Skipped (77) until the programs and the catalogue are built.
# Usage: PackageTest.sh BUILD_DIR
set -u
build=$1
programs="peltra peltra-reg peltra-line peltra-say peltra-sql peltra-task peltra-lexicon peltra-sms peltra-report peltra-status"
for p in $programs; do
    [ -x "$build/bin/$p" ] || { echo "SKIP: $build/bin/$p is not built"; exit 77; }
done
[ -f "$build/packaging/catalogue.reg" ] || { echo "SKIP: the catalogue is not built"; exit 77; }

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

(cd "$build" && cpack -G DEB -B "$work/out" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; echo "FAIL: cpack"; exit 1; }
deb=$(ls "$work"/out/peltra_*.deb 2>/dev/null | head -n 1)
[ -n "$deb" ] || { cat "$work/cpack.log"; echo "FAIL: no package made"; exit 1; }

# ---- contents ----
dpkg-deb -c "$deb" >"$work/contents" || fail "dpkg-deb -c"
has() { grep -Eq "^$1 +[^ ]+ +[0-9]+ [0-9-]+ [0-9:]+ \./$2\$" "$work/contents" || fail "no $1 $2 in the package"; }
for p in $programs; do has '-rwxr-xr-x' "usr/bin/$p"; done
for f in peltra-help.html LOGO.BMP catalogue.reg station.reg; do has '-rw-r--r--' "usr/share/peltra/$f"; done
has '-rw-r--r--' usr/lib/systemd/system/peltra.service
# Nothing outside /usr, and the unit is not enabled by the package itself.
awk '{print $6}' "$work/contents" | grep -Ev '^\./(usr/.*)?$' && fail "files outside /usr"
grep -q 'wants/' "$work/contents" && fail "the package enables the unit"

# ---- control fields ----
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = peltra ] || fail "Package is $(field Package)"
depends=$(field Depends)
for d in adduser libc6 libstdc++6 libqt6widgets6 libsqlite3-0; do
    echo "$depends" | grep -q "\\b$d\\b" || fail "Depends lacks $d: $depends"
done
echo "$(field Recommends)" | grep -q espeak-ng || fail "espeak-ng is not recommended"

# ---- maintainer scripts, run with stand-ins that record what they were asked to do ----
dpkg-deb -e "$deb" "$work/control" || fail "dpkg-deb -e"
for s in postinst prerm postrm; do
    [ -x "$work/control/$s" ] || fail "no executable $s"
    sh -n "$work/control/$s" || fail "$s does not parse"
done
mkdir "$work/stubs"
for c in adduser install chown chmod systemctl; do
    printf '#!/bin/sh\necho "%s $*" >>"%s/calls"\n' "$c" "$work" >"$work/stubs/$c"
done
# getent knows the account only once it exists ($work/known).
printf '#!/bin/sh\n[ -e "%s/known" ]\n' "$work" >"$work/stubs/getent"
chmod +x "$work"/stubs/*
PATH="$work/stubs:$PATH" sh "$work/control/postinst" configure || fail "postinst failed"
expect() { grep -qx -- "$1" "$work/calls" || { fail "postinst did not run: $1"; cat "$work/calls"; }; }
expect 'adduser --system --group --home /var/lib/peltra --no-create-home --gecos Peltra station peltra'
expect 'adduser --quiet peltra dialout'
expect 'install -d -o peltra -g peltra -m 0700 /var/lib/peltra'
grep -q '^systemctl \(enable\|start\)' "$work/calls" && fail "postinst enables or starts the unit"
# Run again on an upgrade: the account is not made twice.
: >"$work/known"
: >"$work/calls"
PATH="$work/stubs:$PATH" sh "$work/control/postinst" configure || fail "second postinst failed"
grep -q -- '--system' "$work/calls" && fail "postinst made the account again"
expect 'adduser --quiet peltra dialout'

# ---- the installed tree: the programs run, and the shipped catalogue is the standard one ----
dpkg-deb -x "$deb" "$work/root" || fail "dpkg-deb -x"
bin=$work/root/usr/bin
"$bin/peltra-status" --help >/dev/null || fail "the packaged peltra-status does not run"
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 0700 "$XDG_RUNTIME_DIR"
"$bin/peltra-lexicon" --home "$work/fresh" install-catalogue >/dev/null || fail "install-catalogue"
"$bin/peltra-reg" --home "$work/imported" import "$work/root/usr/share/peltra/catalogue.reg" || fail "import"
"$bin/peltra-lexicon" --home "$work/fresh" list >"$work/fresh.list" 2>&1
"$bin/peltra-lexicon" --home "$work/imported" list >"$work/imported.list" 2>&1
[ "$(wc -l <"$work/fresh.list")" -gt 50 ] || fail "the standard catalogue lists only $(wc -l <"$work/fresh.list") phrases"
cmp -s "$work/fresh.list" "$work/imported.list" || fail "the shipped catalogue differs from the standard one"

# ---- the unit ----
unit=$work/root/usr/lib/systemd/system/peltra.service
for line in 'ExecStart=/usr/bin/peltra --headless --home /var/lib/peltra' 'User=peltra' 'Restart=on-failure' \
    'KillSignal=SIGTERM' 'WantedBy=multi-user.target'; do
    grep -qx -- "$line" "$unit" || fail "the unit lacks $line"
done
# The ordered stop takes up to 20 s for the calls, 20 s for the controller and 20 s per line.
stop=$(sed -n 's/^TimeoutStopSec=\([0-9]*\)$/\1/p' "$unit")
[ "${stop:-0}" -ge 120 ] || fail "TimeoutStopSec=${stop:-unset} is too short for the ordered stop"
if command -v systemd-analyze >/dev/null; then
    # Verified as installed, with the packaged program in place of /usr/bin/peltra.
    mkdir "$work/unit"
    sed "s#^ExecStart=/usr/bin/peltra #ExecStart=$bin/peltra #" "$unit" >"$work/unit/peltra.service"
    systemd-analyze verify "$work/unit/peltra.service" >"$work/verify" 2>&1 || fail "systemd-analyze verify failed"
    [ -s "$work/verify" ] && { cat "$work/verify"; fail "systemd-analyze verify complained"; }
else
    echo "systemd-analyze is not installed: the unit is not verified"
fi

[ "$failures" -eq 0 ] || { echo "$failures failure(s)"; exit 1; }
echo "package $(basename "$deb") checked"
