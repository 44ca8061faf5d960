#!/usr/bin/env bash
# Configures and builds Spindle into ./build (or $SPINDLE_BUILD_DIR).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${SPINDLE_BUILD_DIR:-build}
werror=OFF
[ -n "${CI:-}" ] && werror=ON
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSPINDLE_WERROR=$werror >/dev/null
cmake --build "$build" -j"$(nproc)" "$@"
