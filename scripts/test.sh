#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test. Exits non-zero on
# any failure.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/bootstrap.sh

build=${BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" --parallel "$(nproc)"
ctest --test-dir "$build" --output-on-failure --timeout 120 -j "$(nproc)"
