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

jobs=$(nproc)
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DREBURN3_SANITIZE=OFF \
    -DREBURN3_WERROR=ON -DREBURN3_MAN_PAGES=ON
cmake --build "$build" --parallel "$jobs"
ctest --test-dir "$build" --output-on-failure --timeout 180 -j "$jobs"

if [ "${REBURN3_SKIP_SANITIZERS:-0}" != 1 ]; then
    asan=${ASAN_BUILD_DIR:-build-asan}
    cmake -S . -B "$asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DREBURN3_SANITIZE=ON \
        -DREBURN3_WERROR=ON
    cmake --build "$asan" --parallel "$jobs"
    # Any report fails the test that raised it: UBSan aborts, ASan exits non-zero.
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    LSAN_OPTIONS=suppressions=$PWD/scripts/lsan.supp \
        ctest --test-dir "$asan" --output-on-failure --timeout 300 -j "$jobs"
fi
