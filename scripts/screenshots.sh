#!/usr/bin/env bash
# Screenshots of the server's windows, as PNG under build/screenshots/ (or
# $BUILD/screenshots/), on the offscreen platform. Builds nothing: it uses
# quorvexd, quorvex, quorvex-sim and the two render programs of an existing
# build (scripts/build.sh).
#
# 1. The real server on a private session bus, with a CTM counter, a height
#    sensor and a scale simulated on ptys and height tracking on: the client
#    shows the sampler window (ShowSampler) while the counter runs, then the
#    settings dialog (ShowSettings), then closes coils and shows the history
#    window (quorvex history). The server saves each window it shows into
#    QUORVEX_SCREENSHOT_DIR: server-FormSamples.png, server-FormDevices.png,
#    server-FormHistory.png.
# 2. What a client cannot ask for, rendered by programs over the same
#    window classes: the sampler with its sample list (sampler.png,
#    sampler-list.png) and every tab of the settings dialog
#    (settings-<tab>-<defaults|values>.png).
set -euo pipefail

if [[ "${QUORVEX_SCREENSHOTS_INNER:-}" != 1 ]]; then
    command -v dbus-run-session >/dev/null || { echo "screenshots: dbus-run-session is missing (Debian package dbus-bin)" >&2; exit 1; }
    export QUORVEX_SCREENSHOTS_INNER=1
    exec dbus-run-session -- bash "$0" "$@" </dev/null
fi

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${BUILD:-$repo/build}"
build="$(cd "$build" 2>/dev/null && pwd)" || { echo "screenshots: no build directory '${BUILD:-$repo/build}' (set BUILD)" >&2; exit 1; }
server_bin="$build/src/quorvexd"
client_bin="$build/tools/quorvex"
sim_bin="$build/sim/quorvex-sim"
sampler_render="$build/tests/screenshots/quorvex_screenshots"
settings_render="$build/tests/ui/quorvex_settings_screenshots"
for bin in "$server_bin" "$client_bin" "$sim_bin" "$sampler_render" "$settings_render"; do
    [[ -x "$bin" ]] || { echo "screenshots: $bin is missing; build the project first (scripts/build.sh)" >&2; exit 1; }
done
out="$build/screenshots"
mkdir -p "$out"

tmp="$(mktemp -d /tmp/quorvex-screenshots.XXXXXX)"
pids=()
cleanup() {
    local status=$?
    trap - EXIT INT TERM
    exec 3>&- 4>&- 2>/dev/null || true
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill -TERM "${pids[i]}" 2>/dev/null || true
    done
    for pid in "${pids[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$tmp"
    exit "$status"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# Simulators fed with commands through a fifo each, so the counter can run.
start_sim() { # name fd model options...
    local name=$1 fd=$2 model=$3
    shift 3
    mkfifo "$tmp/$name.in"
    "$sim_bin" "$model" --link "$tmp/$name" "$@" <"$tmp/$name.in" >"$tmp/$name.out" 2>"$tmp/$name.err" &
    pids+=($!)
    eval "exec $fd>\"\$tmp/\$name.in\""
    for _ in $(seq 50); do
        [[ -e "$tmp/$name" ]] && return 0
        sleep 0.1
    done
    echo "screenshots: simulator $model did not start:" >&2
    cat "$tmp/$name.err" >&2
    exit 1
}
start_sim counter 3 ctm1 --count 0
start_sim height 4 ctm1 --count 512
"$sim_bin" d400 --link "$tmp/scale" --weight 1250.5 </dev/null >"$tmp/scale.out" 2>&1 &
pids+=($!)

ini_dir="$tmp/config/Velkaro s.r.l."
mkdir -p "$ini_dir"
cat >"$ini_dir/Quorvex.ini" <<EOF
[Bilancia]
Marca=BILANCIAI
Modello=D400
Porta=1
Settaggio="9600,N,8,1"
Divisore=1

[Contametri]
Marca=CTM
Modello=1
Porta=2
Settaggio="9600,N,8,1"
Divisore="0,01"

[Altezza]
Marca=CTM
Modello=1
Porta=3
Settaggio="9600,N,8,1"
Divisore="0,01"
MisuraMedia=1
IntervalloDiCampionamento="0,2"
DistanzaSensoreArrotolatore=3
DistanzaOperatoreArrotolatore="1,5"

[Porte]
1=$tmp/scale
2=$tmp/counter
3=$tmp/height
EOF

XDG_CONFIG_HOME="$tmp/config" XDG_DATA_HOME="$tmp/data" XDG_RUNTIME_DIR="$tmp" QT_QPA_PLATFORM=offscreen LC_ALL=it_IT.UTF-8 LANG=it_IT.UTF-8 \
    QUORVEX_SCREENSHOT_DIR="$tmp/shots" "$server_bin" --serve </dev/null >"$tmp/server.log" 2>&1 &
pids+=($!)
server_pid=$!
mkdir -p "$tmp/shots"
name_owned() {
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner string:com.velkaro.Quorvex 2>/dev/null | grep -q 'boolean true'
}
for _ in $(seq 100); do
    name_owned && break
    kill -0 "$server_pid" 2>/dev/null || break
    sleep 0.1
done
name_owned || { echo "screenshots: the server did not take its bus name:" >&2; cat "$tmp/server.log" >&2; exit 1; }

# The counter runs on by 0.5 ten times a second for 3 s while the height
# wavers around 5.12; the sampler records a sample every 0.2 of length.
for step in $(seq 0 29); do
    echo "count $((step * 50 + 17))" >&3
    echo "count $((512 + (step % 7) * 9 - (step % 3) * 11))" >&4
    sleep 0.1
done

wait_for() { # file
    for _ in $(seq 50); do
        [[ -s "$1" ]] && return 0
        sleep 0.1
    done
    echo "screenshots: $1 was not written; server output:" >&2
    cat "$tmp/server.log" >&2
    exit 1
}
shoot() { # window-object-name operation args...
    local window=$1
    shift
    rm -f "$tmp/shots/$window.png"
    "$client_bin" --timeout 10 "$@" >/dev/null
    wait_for "$tmp/shots/$window.png"
    # Copied under a temporary name and renamed, so the PNG in $out is whole.
    cp "$tmp/shots/$window.png" "$out/.server-$window.png.tmp"
    mv -f "$out/.server-$window.png.tmp" "$out/server-$window.png"
    echo "$out/server-$window.png"
}
shoot FormSamples ShowSampler true
shoot FormDevices ShowSettings

# Two coils closed, the second while the third is being wound, for the
# history window: its list, the chart of the newest coil, and the live series.
for coil in 1 2; do
    "$client_bin" --timeout 10 LeggiPeso >/dev/null
    "$client_bin" --timeout 10 AzzeraLunghezza
    echo "count 0" >&3
    for step in $(seq 0 19); do
        echo "count $((step * 50 + 17))" >&3
        echo "count $((505 + coil * 10 + (step % 5) * 7 - (step % 3) * 9))" >&4
        sleep 0.1
    done
done
"$client_bin" --timeout 10 AzzeraLunghezza
for step in $(seq 0 9); do
    echo "count $((step * 50 + 17))" >&3
    sleep 0.1
done
shoot FormHistory history

# The renders of what a client cannot show.
XDG_RUNTIME_DIR="$tmp" QT_QPA_PLATFORM=offscreen "$sampler_render" "$out"
XDG_RUNTIME_DIR="$tmp" QT_QPA_PLATFORM=offscreen "$settings_render" "$out"
