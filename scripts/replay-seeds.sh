#!/usr/bin/env bash
# Writes the seed captures of tests/replay/ again: every built-in model read
# through its simulator while `quorvex monitor --save` captures the port, and
# the readings beside each. Needs a build (./build or $BUILD).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD:-build}
cmake --build "$build" --target e2e_replay
QUORVEX_WRITE_REPLAY_SEEDS="$PWD/tests/replay" \
  dbus-run-session --config-file="$build/tests/e2e/session.conf" -- \
  "$build/tests/e2e/e2e_replay" --gtest_filter=Replay.WriteSeeds
