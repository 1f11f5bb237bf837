#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Checks that every tracked C and C++ file is laid out as the root .clang-format says
# (clang-format 14, Debian 12's). Changes nothing: it names each file that differs, with
# clang-format's own account of where, and exits non-zero. `clang-format -i FILE` fixes one.
#
#   scripts/format-check.sh
set -euo pipefail
cd "$(dirname "$0")/.."

format=${CLANG_FORMAT:-clang-format}
command -v "$format" >/dev/null || { echo "format-check: $format is not installed" >&2; exit 2; }

mapfile -d '' files < <(git ls-files -z -- '*.c' '*.cc' '*.cpp' '*.cxx' '*.h' '*.hh' '*.hpp')
if [ "${#files[@]}" -eq 0 ]; then
    echo "format-check: no C or C++ files tracked" >&2
    exit 2
fi

bad=()
for file in "${files[@]}"; do
    if ! "$format" --style=file --dry-run --Werror "$file" >/dev/null 2>&1; then
        bad+=("$file")
    fi
done
if [ "${#bad[@]}" -gt 0 ]; then
    for file in "${bad[@]}"; do
        "$format" --style=file --dry-run "$file" 2>&1 | head -n 6 >&2 || true
    done
    echo "format-check: ${#bad[@]} of ${#files[@]} files are not formatted: ${bad[*]}" >&2
    exit 1
fi
echo "format-check: ${#files[@]} files formatted"
