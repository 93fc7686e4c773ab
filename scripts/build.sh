#!/usr/bin/env bash
# Configures (once) and builds Quorvex in ./build (or $BUILD).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD:-build}
[ -f "$build/build.ninja" ] || cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j"$(nproc)"
