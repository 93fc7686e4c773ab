#!/bin/sh
# Renders each tab of the settings window, with defaults and with values,
# to build/screenshots/settings-*.png on the offscreen platform.
set -eu
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build}
export CCACHE_DIR=${CCACHE_DIR:-/work/.ccache} CCACHE_BASEDIR=${CCACHE_BASEDIR:-/work}
[ -f "$BUILD/build.ninja" ] || cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER_LAUNCHER=ccache
nice -n 10 cmake --build "$BUILD" -j2 --target quorvex_settings_screenshots
mkdir -p "$BUILD/screenshots"
QT_QPA_PLATFORM=offscreen "$BUILD/tests/ui/quorvex_settings_screenshots" "$BUILD/screenshots"
