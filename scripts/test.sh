#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds, builds the fuzz
# targets with ASan and UBSan and runs each briefly, then runs every unit
# and end-to-end test (each end-to-end test on its own private D-Bus bus).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
fuzz_build=${FUZZ_BUILD:-build-fuzz}
[ -f "$fuzz_build/build.ninja" ] || CC=clang CXX=clang++ cmake -S . -B "$fuzz_build" -G Ninja -DQUORVEX_FUZZ=ON
cmake --build "$fuzz_build" -j"$(nproc)"
seconds=${FUZZ_SECONDS:-10}
for target in "$fuzz_build"/fuzz/fuzz_*; do
  [ -x "$target" ] || continue
  echo "fuzzing $(basename "$target") for ${seconds}s"
  "$target" -max_total_time="$seconds" -print_final_stats=0 2>&1 | tail -n 1
done

ctest --test-dir "${BUILD:-build}" -j2 --output-on-failure
