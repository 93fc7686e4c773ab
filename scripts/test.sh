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

# The end-to-end tests once more against a server (and client) built with
# AddressSanitizer and UndefinedBehaviorSanitizer: a use-after-free or an
# undefined operation under load fails a test instead of a line.
asan_build=${ASAN_BUILD:-build-asan}
[ -f "$asan_build/build.ninja" ] || cmake -S . -B "$asan_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEX_SANITIZE=ON
e2e_targets=$(cd tests/e2e && ls e2e_*.cpp | sed 's/\.cpp$//')
cmake --build "$asan_build" -j"$(nproc)" --target quorvexd quorvex $e2e_targets
ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  E2E_ONE_SHOT_CALLS=50 ctest --test-dir "$asan_build" -j2 --output-on-failure -R '^e2e_'

