#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Installs what is missing, builds everything and runs every test; then builds and
# runs the whole suite again under AddressSanitizer + UndefinedBehaviorSanitizer.
# Exits non-zero on any failure or sanitizer report.
set -euo pipefail
cd "$(dirname "$0")/.."

# The serve set too: the station service's tests run a real PostgreSQL server, promtool
# and a browser (they are skipped, never passed, where those cannot start).
scripts/bootstrap.sh serve

# The builds are the presets of CMakePresets.json, each in build/<preset>.
jobs=$(nproc)
cmake --preset default
cmake --build --preset default --parallel "$jobs"
ctest --preset default -j "$jobs"

if [ "${REBURN3_SKIP_SANITIZERS:-0}" != 1 ]; then
    cmake --preset asan
    cmake --build --preset asan --parallel "$jobs"
    # Any report fails the test that raised it: UBSan aborts, ASan exits non-zero (the asan
    # test preset sets ASAN_OPTIONS, UBSAN_OPTIONS and LSAN_OPTIONS).
    ctest --preset asan -j "$jobs"
fi
