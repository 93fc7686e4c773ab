#!/usr/bin/env bash
# Installs the Debian 12 packages Quorvex needs to build, test and run.
# Quick when everything is already there.
set -euo pipefail

packages=(
  cmake ninja-build ccache g++ clang libclang-rt-14-dev pkg-config
  qt6-base-dev qt6-serialport-dev qt6-charts-dev libqt6opengl6-dev libqt6sql6-sqlite qcoro-qt6-dev libgtest-dev
  dbus dbus-bin fonts-dejavu-core fonts-dseg
  dpkg-dev file man-db
  libmosquitto-dev mosquitto mosquitto-clients
  qt6-serialbus-dev openssl
  python3
  python3-pymodbus
  python3-serial-asyncio
  socat
  libprotobuf-dev
  protobuf-compiler
  python3-protobuf
  libsystemd-dev
  mbpoll
  libmbedtls-dev
  nodejs
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# Debian's nodejs comes without npm; a Node.js that brings its own keeps it.
command -v npm >/dev/null || missing+=(npm)

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# The OPC UA client the OPC UA face is tested against, at the versions its
# lock file pins, into the tests' own folder (no global install).
client="$(dirname "$0")/../tests/opcua-client"
if [ ! -f "$client/node_modules/.package-lock.json" ] \
    || [ "$client/package-lock.json" -nt "$client/node_modules/.package-lock.json" ]; then
  (cd "$client" && npm ci --no-audit --no-fund)
fi
