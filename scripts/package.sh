#!/usr/bin/env bash
# Builds the Debian package (build/quorvex_<version>_<arch>.deb) and checks
# it as installed files: unpacked into a scratch folder, the programs answer
# --version, each manual page renders without a warning, the service files
# name the installed server, and systemd-analyze (where it exists) finds
# nothing to say about the user unit.
#
#   BUILD=build-dir scripts/package.sh
set -euo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(realpath -m "${BUILD:-$repo/build}")"
fail() { echo "package: $*" >&2; exit 1; }

scratch="$(mktemp -d /tmp/quorvex-package.XXXXXX)"
trap 'rm -rf "$scratch"' EXIT
root="$scratch/root"

[[ -f "$build/build.ninja" ]] || cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
# Install builds nothing by itself: build what the package holds.
cmake --build "$build" --target quorvexd quorvex quorvex-sim quorvex_completion quorvex_docs >"$scratch/build.log" 2>&1 \
    || { cat "$scratch/build.log" >&2; fail "build failed"; }
rm -f "$build"/quorvex_*.deb
(cd "$build" && cpack -G DEB -B "$build") >"$scratch/cpack.log" 2>&1 || { cat "$scratch/cpack.log" >&2; fail "cpack failed"; }
debs=("$build"/quorvex_*.deb)
[[ -f "${debs[0]}" ]] || fail "cpack made no .deb"
deb="${debs[0]}"
dpkg-deb -x "$deb" "$root"
echo "package: $(basename "$deb"): $(dpkg-deb -f "$deb" Depends)"

for file in usr/bin/quorvexd usr/bin/quorvex usr/bin/quorvex-sim usr/libexec/quorvex/quorvex-local \
    usr/share/dbus-1/services/com.velkaro.Quorvex.service \
    usr/share/dbus-1/interfaces/com.velkaro.Quorvex.Global.xml \
    usr/share/dbus-1/interfaces/com.velkaro.Quorvex.Diagnostics.xml \
    usr/lib/systemd/user/quorvex.service usr/share/bash-completion/completions/quorvex \
    usr/lib/udev/rules.d/60-quorvex-serial.rules \
    usr/share/doc/quorvex/Quorvex.ini.example usr/share/doc/quorvex/plant-feed.md \
    usr/share/doc/quorvex/copyright usr/share/doc/quorvex/changelog.gz; do
    [[ -e "$root/$file" ]] || fail "missing /$file"
done
dpkg-deb -f "$deb" Depends | grep -q libqt6core6 || fail "no shared library dependencies"
dpkg-deb -f "$deb" Depends | grep -q libmosquitto1 || fail "no dependency on the MQTT client library"
if command -v lintian >/dev/null; then
    # Tags go to stdout; stderr only says that it runs as root.
    report="$(lintian --fail-on error,warning "$deb" 2>/dev/null)" || fail "lintian: $report"
    echo "package: lintian finds no error or warning${report:+ (${report//$'\n'/; })}"
fi

# The programs run from the unpacked tree (libraries of the package first).
export LD_LIBRARY_PATH="$root/usr/lib:$root/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || echo x86_64-linux-gnu)${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
for program in quorvexd quorvex quorvex-sim; do
    version="$("$root/usr/bin/$program" --version)" || fail "$program --version failed"
    [[ "$version" == "$program "[0-9]* ]] || fail "$program --version printed '$version'"
    "$root/usr/bin/$program" --help >/dev/null || fail "$program --help failed"
    echo "package: $version"
done
# `quorvex models` runs quorvex-local, installed in libexec: it lists the models.
"$root/usr/libexec/quorvex/quorvex-local" models | grep -q '^BILANCIAI  *D400 ' \
    || fail "the installed quorvex-local does not list the built-in models"
# The completion offers the operations of the interface.
completion="$(bash -c 'source "$1"; COMP_WORDS=(quorvex LeggiP); COMP_CWORD=1; _quorvex; echo "${COMPREPLY[*]}"' \
    _ "$root/usr/share/bash-completion/completions/quorvex")" || fail "the completion does not run"
[[ " $completion " == *" LeggiPeso_BILANCIAI_D400 "* ]] || fail "the completion of 'LeggiP' gave '$completion'"

for page in "$root"/usr/share/man/man1/*.1*; do
    warnings="$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)" || fail "man -l $(basename "$page") failed"
    [[ -z "$warnings" ]] || fail "$(basename "$page"): $warnings"
done
[[ $(ls "$root"/usr/share/man/man1 | wc -l) -eq 3 ]] || fail "expected three manual pages"

unit="$root/usr/lib/systemd/user/quorvex.service"
grep -q '^ExecStart=/usr/bin/quorvexd ' "$unit" || fail "the unit does not start /usr/bin/quorvexd"
grep -q '^Type=notify$' "$unit" && grep -q '^WatchdogSec=' "$unit" || fail "the unit is not Type=notify with a watchdog"
grep -q '^SystemdService=quorvex.service$' "$root/usr/share/dbus-1/services/com.velkaro.Quorvex.service" \
    || fail "D-Bus activation does not go through the user unit"
# The udev rules: ModemManager leaves each listed bridge alone, FTDI's latency timer is 1 ms.
rules="$root/usr/lib/udev/rules.d/60-quorvex-serial.rules"
for vendor in 0403 067b 10c4 1a86; do
    grep -q "ATTRS{idVendor}==\"$vendor\", ENV{ID_MM_DEVICE_IGNORE}=\"1\"" "$rules" \
        || fail "the udev rules do not keep ModemManager off vendor $vendor"
done
grep -q 'DRIVER=="ftdi_sio", ATTR{latency_timer}="1"' "$rules" || fail "the udev rules leave FTDI's latency timer alone"
if command -v udevadm >/dev/null && udevadm verify --help >/dev/null 2>&1; then
    report="$(udevadm verify "$rules" 2>&1)" || fail "udevadm verify: $report"
fi
grep -q '^Exec=/usr/bin/quorvexd ' "$root/usr/share/dbus-1/services/com.velkaro.Quorvex.service" \
    || fail "the D-Bus service file does not start /usr/bin/quorvexd"
if command -v systemd-analyze >/dev/null; then
    # Verified where it was unpacked: the unit's programs must exist.
    mkdir -m 700 "$scratch/runtime"
    sed "s|/usr/bin/quorvexd|$root/usr/bin/quorvexd|" "$unit" >"$scratch/quorvex.service"
    report="$(XDG_RUNTIME_DIR="$scratch/runtime" systemd-analyze --user verify --man=no "$scratch/quorvex.service" 2>&1)" \
        || fail "systemd-analyze verify: $report"
    [[ -z "$report" ]] || fail "systemd-analyze verify: $report"
    XDG_RUNTIME_DIR="$scratch/runtime" systemd-analyze --user security --offline=true "$scratch/quorvex.service" 2>/dev/null \
        | sed -n 's/^→ /package: /p' || true
else
    echo "package: no systemd-analyze here; the unit was not verified"
fi
echo "package: $deb checked"
