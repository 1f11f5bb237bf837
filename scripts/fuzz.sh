#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer + UBSan) and runs each for
# the given number of seconds (default 60) from its seed corpus. Non-zero on a finding.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
build=${FUZZ_BUILD_DIR:-build-fuzz}

CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DREBURN3_FUZZ=ON -DREBURN3_WITH_QT=OFF -DREBURN3_WERROR=ON >/dev/null
cmake --build "$build" --target script_fuzz engine_fuzz

for target in script_fuzz engine_fuzz; do
    corpus=fuzz/corpus/${target%_fuzz}
    work=$(mktemp -d)
    cp -r "$corpus"/. "$work"/
    echo "fuzz: $target for ${seconds}s"
    log=$(mktemp)
    status=0
    "$build/fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 -max_len=4096 "$work" \
        >"$log" 2>&1 || status=$?
    grep -E '^(stat::number_of_executed_units|stat::average_exec_per_sec|==[0-9]+==ERROR|SUMMARY|invariant broken)' "$log" || true
    if [ "$status" -ne 0 ]; then
        tail -n 40 "$log" >&2
        echo "fuzz: $target found a fault (exit $status)" >&2
        rm -rf "$work" "$log"
        exit 1
    fi
    rm -rf "$work" "$log"
done
