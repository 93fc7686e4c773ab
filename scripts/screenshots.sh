#!/usr/bin/env bash
# Renders the server's windows to PNG under build/screenshots/ (or
# $BUILD/screenshots/) on the offscreen platform, with simulated readings.
# Uses the programs of an existing build: run scripts/build.sh first.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD:-build}
program="$build/tests/screenshots/quorvex_screenshots"
if [ ! -x "$program" ]; then
  echo "screenshots: $program is missing; build the project first (scripts/build.sh)" >&2
  exit 1
fi
out="$build/screenshots"
mkdir -p "$out"
QT_QPA_PLATFORM=offscreen "$program" "$out"
