#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Builds the libFuzzer targets with clang (AddressSanitizer + UBSan) and runs each for the
# given number of seconds (default 180; the HTTP request parser, small and fast, a third of
# it). Each starts from its corpus in fuzz/corpus and adds
# to it what it finds that is new, so the corpus grows from run to run (scripts/fuzz.sh then
# `git add fuzz/corpus` keeps it; FUZZ_MERGE=1 first shrinks each corpus to the inputs that
# matter). Non-zero on a finding.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-180}
# The fuzz preset of CMakePresets.json: clang, in build/fuzz.
build=build/fuzz
cmake --preset fuzz >/dev/null
targets=(script_fuzz engine_fuzz http_request_fuzz)
cmake --build --preset fuzz

# Scripts up to 1 MB; the engine's inputs are a few pairs of bytes; a request is at most
# its head and body bounds (8 + 16 KiB), and a little more to cross them.
declare -A max_len=([script_fuzz]=1048576 [engine_fuzz]=4096 [http_request_fuzz]=26000)
declare -A share=([script_fuzz]=$seconds [engine_fuzz]=$seconds
                  [http_request_fuzz]=$(( seconds / 3 > 10 ? seconds / 3 : 10 )))

leftovers() { find "${TMPDIR:-/tmp}" -maxdepth 1 -name 'engine_fuzz_*.pf3' 2>/dev/null | wc -l; }
left_before=$(leftovers)

for target in "${targets[@]}"; do
    corpus=fuzz/corpus/${target%_fuzz}
    mkdir -p "$corpus"
    if [ "${FUZZ_MERGE:-0}" = 1 ]; then
        merged=$(mktemp -d)
        "$build/fuzz/$target" -merge=1 -max_len="${max_len[$target]}" "$merged" "$corpus" \
            >/dev/null 2>&1
        rm -rf "$corpus" && mv "$merged" "$corpus"
    fi
    before=$(find "$corpus" -type f | wc -l)
    echo "fuzz: $target for ${share[$target]}s from $before inputs"
    log=$(mktemp)
    status=0
    "$build/fuzz/$target" -max_total_time="${share[$target]}" -print_final_stats=1 \
        -max_len="${max_len[$target]}" "$corpus" >"$log" 2>&1 || status=$?
    grep -E '^(stat::number_of_executed_units|stat::average_exec_per_sec|stat::peak_rss_mb|==[0-9]+==ERROR|SUMMARY|invariant broken)' "$log" || true
    echo "fuzz: $target corpus $before -> $(find "$corpus" -type f | wc -l) inputs"
    if [ "$status" -ne 0 ]; then
        tail -n 40 "$log" >&2
        echo "fuzz: $target found a fault (exit $status)" >&2
        rm -f "$log"
        exit 1
    fi
    rm -f "$log"
done
# The engine's harness removes its script after every input: nothing may be left behind.
left=$(($(leftovers) - left_before))
if [ "$left" -gt 0 ]; then
    echo "fuzz: engine_fuzz left $left script files in ${TMPDIR:-/tmp}" >&2
    exit 1
fi
