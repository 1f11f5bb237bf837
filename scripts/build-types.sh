#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Builds the whole tree (programs, tests, benchmarks) with warnings as errors in each build
# type a packager may choose, with GCC and with clang, each in build/types/COMPILER-TYPE.
#
#   scripts/build-types.sh                        every compiler and type (8 builds)
#   scripts/build-types.sh clang:Release gcc:MinSizeRel    just these
#
# Prints one line per build with its time; exits non-zero when any build fails.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/bootstrap.sh

combinations=("$@")
if [ ${#combinations[@]} -eq 0 ]; then
    for compiler in gcc clang; do
        for type in Debug RelWithDebInfo Release MinSizeRel; do
            combinations+=("$compiler:$type")
        done
    done
fi

failed=0
for combination in "${combinations[@]}"; do
    compiler=${combination%%:*}
    type=${combination#*:}
    case $compiler in
        gcc) cxx=g++ ;;
        clang) cxx=clang++ ;;
        *) echo "build-types: unknown compiler $compiler (gcc, clang)" >&2; exit 2 ;;
    esac
    dir=build/types/$compiler-$type
    mkdir -p build/types
    start=$(date +%s)
    if cmake -S . -B "$dir" -G Ninja -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_TYPE="$type" \
        -DREBURN3_WERROR=ON >"$dir.log" 2>&1 &&
        cmake --build "$dir" --parallel "$(nproc)" >>"$dir.log" 2>&1; then
        echo "build-types: $compiler $type built in $(($(date +%s) - start)) s"
    else
        echo "build-types: $compiler $type FAILED (see $dir.log):"
        grep -m 5 -E "error|FAILED" "$dir.log" || tail -n 5 "$dir.log"
        failed=1
    fi
done
exit "$failed"
