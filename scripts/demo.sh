#!/usr/bin/env bash
# Quorvex demo: simulated instruments, the server and live readings, all on a
# private D-Bus session bus and in temporary files, cleaned up at the end.
#
#   BUILD=build-dir DEMO_SECONDS=20 scripts/demo.sh
#
# BUILD        build directory (default: ./build under the repository); the
#              script builds nothing, it needs quorvexd, quorvex and quorvex-sim
# DEMO_SECONDS how long to show readings (default 20; 0 = until Ctrl-C)
#
# What it does:
#   1. starts one simulator per role for which the simulator registry
#      (quorvex-sim --list) has a model the server can drive: the scale is a
#      D400; counter and service roles are wired up when a model for them
#      exists, and left unconfigured otherwise; the height sensor is an
#      instrument defined in a file (ACME H10, an instrument definition in
#      the settings' strumenti folder) served by quorvex-sim --definition;
#   2. writes the settings file (roles and [Porte]) into a temporary
#      XDG_CONFIG_HOME;
#   3. starts quorvexd on the private bus;
#   4. prints the readings once a second with the quorvex client.
set -euo pipefail

# Run the rest inside a private session bus; dbus-run-session ends the bus
# daemon when the script inside it ends.
if [[ "${QUORVEX_DEMO_INNER:-}" != 1 ]]; then
    command -v dbus-run-session >/dev/null || { echo "demo: dbus-run-session is missing (Debian package dbus-bin)" >&2; exit 1; }
    export QUORVEX_DEMO_INNER=1
    exec dbus-run-session -- bash "$0" "$@" </dev/null
fi

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${BUILD:-$repo/build}"
build="$(cd "$build" 2>/dev/null && pwd)" || { echo "demo: no build directory '${BUILD:-$repo/build}' (set BUILD)" >&2; exit 1; }
seconds="${DEMO_SECONDS:-20}"
[[ "$seconds" =~ ^[0-9]+$ ]] || { echo "demo: DEMO_SECONDS must be a whole number of seconds" >&2; exit 1; }

server_bin="$build/src/quorvexd"
client_bin="$build/tools/quorvex"
sim_bin="$build/sim/quorvex-sim"
for bin in "$server_bin" "$client_bin" "$sim_bin"; do
    if [[ ! -x "$bin" ]]; then
        echo "demo: $bin not found; build first:" >&2
        echo "  cmake -S $repo -B $build -G Ninja && ninja -C $build quorvexd quorvex quorvex-sim" >&2
        exit 1
    fi
done

tmp="$(mktemp -d /tmp/quorvex-demo.XXXXXX)"
pids=()

cleanup() {
    local status=$?
    trap - EXIT INT TERM
    # Newest first: readers, then the server, then the simulators.
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
# Ctrl-C (or a TERM) is the normal way to end an endless demo.
trap 'exit 0' INT TERM

# Roles and the simulators that can play them, in order of preference:
#   group  simulator-model  Marca  Modello  Divisore  simulator options
# A role takes the first model the simulator registry offers. The drivers
# are looked up by the server as <Operation>_<Marca>_<Modello>.
roles=(
    "Bilancia   d400     BILANCIAI D400    1   --weight 12.5 --tare 1.25 --drift 0.1"
    "Bilancia   bc100m   EUROBIL   BC100M  1   --weight 12.5 --drift 0.1"
    "Contametri rlc1     RLC       1       1   --length 1234 --weight 100"
    "Contametri cm78     ELAP      CM78    1   --value 12.345"
    "Contametri cm78a    ELAP      CM78A   1   --value 123.456"
    "Contametri ctm1     CTM       1       1   --count 1234"
    "Contametri proface  COMAR     PROFACE 1   --length 1234 --weight 1250"
    "Altezza    definition ACME    H10     1   --number 0250.0"
    "Altezza    ctm1     CTM       1       1   --count 250"
    "Servizio   melsec   CTM       MELSEC  0"
)

available="$("$sim_bin" --list | cut -f1)"
has_model() { [[ "$1" == definition ]] || grep -qx -- "$1" <<<"$available"; }

ini_dir="$tmp/config/Velkaro s.r.l."
ini="$ini_dir/Quorvex.ini"
mkdir -p "$ini_dir"

# The height sensor defined in a file: a polled text instrument.
definition="$ini_dir/Quorvex/strumenti/acme-h10.ini"
mkdir -p "$(dirname "$definition")"
cat >"$definition" <<'INI'
; A height sensor the server was not built with, defined in a file.
[Strumento]
Marca=ACME
Modello=H10
Protocollo=ASCII
Settaggio=9600,N,8,1

[LeggiAltezza]
Richiesta="H?\r"
Fine="\r"
Formato="^H=([0-9]+\.[0-9]) mm\r$"
Esempio="H=0250.0 mm\r"
Attesa=1000
INI
declare -A role_model=()
declare -A role_text=()
declare -A role_driver=() # Marca_Modello of the role's instrument
port=0
porte=""

start_sim() { # model link options...
    local model=$1 link=$2
    shift 2
    local what=("$model")
    [[ "$model" == definition ]] && what=(--definition "$definition")
    "$sim_bin" "${what[@]}" --link "$link" "$@" </dev/null >"$tmp/$model.out" 2>"$tmp/$model.err" &
    pids+=($!)
    for _ in $(seq 50); do
        [[ -e "$link" ]] && return 0
        kill -0 "${pids[-1]}" 2>/dev/null || break
        sleep 0.1
    done
    echo "demo: simulator $model did not start:" >&2
    cat "$tmp/$model.err" >&2
    return 1
}

declare -A sim_port=() # one simulator per model, shared by the roles it plays
for line in "${roles[@]}"; do
    read -r group model marca modello divisore options <<<"$line"
    [[ -n "${role_model[$group]:-}" ]] && continue
    has_model "$model" || continue
    if [[ -z "${sim_port[$model]:-}" ]]; then
        port=$((port + 1))
        # A model that refuses the suggested options runs with its defaults.
        # shellcheck disable=SC2086 # the options are words on purpose
        start_sim "$model" "$tmp/$model" $options 2>/dev/null || start_sim "$model" "$tmp/$model"
        sim_port[$model]=$port
        porte+="$port=$tmp/$model"$'\n'
    fi
    role_model[$group]=$model
    role_driver[$group]="${marca}_$modello"
    role_text[$group]="[$group]
Marca=$marca
Modello=$modello
Porta=${sim_port[$model]}
Settaggio=\"9600,N,8,1\"
Divisore=$divisore
"
done

[[ -n "${role_model[Bilancia]:-}" ]] || { echo "demo: the simulator registry has no scale model (d400)" >&2; exit 1; }

{
    for group in Bilancia Contametri Altezza Servizio; do
        [[ -n "${role_text[$group]:-}" ]] && printf '%s\n' "${role_text[$group]}"
    done
    printf '[Porte]\n%s' "$porte"
} >"$ini"

echo "== Quorvex demo =="
echo "build:     $build"
echo "bus:       private ($DBUS_SESSION_BUS_ADDRESS)"
for group in Bilancia Contametri Altezza Servizio; do
    if [[ -n "${role_model[$group]:-}" ]]; then
        printf '%-11s simulator %-8s on port %s -> %s\n' "$group:" "${role_model[$group]}" \
            "${sim_port[${role_model[$group]}]}" "$(readlink "$tmp/${role_model[$group]}")"
    else
        printf '%-11s no simulator: left unconfigured (readings 0)\n' "$group:"
    fi
done
echo "settings:  $ini"
sed 's/^/    /' "$ini"

# The server, started directly with a non-empty command line (an empty one
# would make it end at once).
XDG_CONFIG_HOME="$tmp/config" XDG_RUNTIME_DIR="$tmp" QT_QPA_PLATFORM=offscreen \
    "$server_bin" --serve </dev/null >"$tmp/server.log" 2>&1 &
pids+=($!)
server_pid=$!

name_owned() {
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner string:com.velkaro.Quorvex 2>/dev/null | grep -q 'boolean true'
}
for _ in $(seq 100); do
    name_owned && break
    kill -0 "$server_pid" 2>/dev/null || break
    sleep 0.1
done
if ! name_owned; then
    echo "demo: the server did not take its bus name; its output:" >&2
    cat "$tmp/server.log" >&2
    exit 1
fi

# The server quits when its last client lets go, and every reading below is
# a client that comes and goes. One long-lived client holds an instance for
# the whole demo, as the line's own program would.
"$client_bin" --watch 3600000 LeggiAltezzaAlPuntoDiOsservazione </dev/null >"$tmp/holder.out" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
    [[ -s "$tmp/holder.out" ]] && break
    sleep 0.1
done
[[ -s "$tmp/holder.out" ]] || { echo "demo: the server does not answer" >&2; exit 1; }

readings=(LeggiPeso LeggiTara LeggiLunghezza LeggiAltezza)
read_value() {
    local value
    if value="$("$client_bin" --timeout 10 "$@" 2>"$tmp/error")"; then
        printf '%s' "$value"
    else
        # Just the error kind in the table; the whole message below it.
        sed -n 's/^quorvex: [^ ]*\.\([A-Za-z]*\): .*/error:\1/p' "$tmp/error" | head -n1
        sed 's/^/    /' "$tmp/error" >&2
    fi
}

echo
echo "Each instrument's driver called directly (quorvex <Driver> <port>):"
declare -A probe=([Bilancia]=LeggiPeso [Contametri]=LeggiLunghezza [Altezza]=LeggiAltezza)
for group in Bilancia Contametri Altezza; do
    [[ -n "${role_model[$group]:-}" ]] || continue
    [[ "${role_model[$group]}" == definition ]] && continue # defined models have no direct driver operation
    driver="${probe[$group]}_${role_driver[$group]}"
    printf '  %-34s %s\n' "$driver ${sim_port[${role_model[$group]}]}" \
        "$(read_value "$driver" "${sim_port[${role_model[$group]}]}")"
done

echo
if ((seconds > 0)); then
    echo "Live readings every second for $seconds s (quorvex <Operation>):"
else
    echo "Live readings every second until Ctrl-C (quorvex <Operation>):"
fi
printf '%-8s' time
printf ' %15s' "${readings[@]}"
printf '\n'
# One row a second on a fixed schedule, so slow answers do not make the rows
# drift; DEMO_SECONDS rows in all (or rows until Ctrl-C).
start_ns=$(date +%s%N)
for ((row = 1; seconds == 0 || row <= seconds; row++)); do
    printf '%-8s' "$(date +%H:%M:%S)"
    for op in "${readings[@]}"; do
        printf ' %15s' "$(read_value "$op")"
    done
    printf '\n'
    wait_ns=$((start_ns + row * 1000000000 - $(date +%s%N)))
    if ((wait_ns > 0 && (seconds == 0 || row < seconds))); then
        sleep "$(printf '%d.%09d' $((wait_ns / 1000000000)) $((wait_ns % 1000000000)))"
    fi
done

echo
echo "Other ways in:"
echo "  $client_bin --list"
echo "  $client_bin --watch 500 LeggiPeso"
echo "  $client_bin --id 0x6003001f            # LeggiTara by dispatch identifier"
echo "  $client_bin LeggiPeso_BILANCIAI_D400 1 # the driver on the server's port 1"
echo "  $client_bin models                     # built-in and defined models (the height sensor: $definition)"
echo "Demo done; stopping the server and the simulators."
