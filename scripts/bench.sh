#!/usr/bin/env bash
# Runs every benchmark on a private session bus and prints its figures.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh >/dev/null
build=${BUILD:-build}
for b in "$build"/bench/bench_*; do
  [ -f "$b" ] && [ -x "$b" ] || continue # not the build's *_autogen folders
  echo "== $(basename "$b")"
  dbus-run-session --config-file="$build/tests/e2e/session.conf" -- "$b"
done
