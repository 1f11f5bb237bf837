#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# The one build description: CMakePresets.json as CMake reads it (the six presets, each
# built in build/<preset>), every script parses, and no script or CI step names a build
# folder of its own outside build/.
#
#   build_description_test.sh SOURCE_DIR
set -uo pipefail
cd "$1" || exit 2
failed=0
fail() {
    echo "FAIL $*"
    failed=1
}

cmake=${CMAKE:-cmake}
listed=$("$cmake" --list-presets=configure 2>&1) || fail "cmake --list-presets: $listed"
names=$(printf '%s\n' "$listed" | sed -n 's/^ *"\([^"]*\)".*/\1/p' | sort | tr '\n' ' ')
[ "$names" = "asan bench default fuzz package windows-cross " ] ||
    fail "configure presets: $names"
for kind in build test; do
    "$cmake" --list-presets="$kind" >/dev/null 2>&1 || fail "cmake --list-presets=$kind"
done

# Every preset's folder is build/<its name>, by the hidden base or by its own binaryDir.
python3 - <<'PY' || failed=1
import json
presets = json.load(open("CMakePresets.json"))["configurePresets"]
by_name = {p["name"]: p for p in presets}
for p in presets:
    if p.get("hidden"):
        continue
    q = p
    while "binaryDir" not in q and q.get("inherits"):
        q = by_name[q["inherits"]]
    if q.get("binaryDir") != "${sourceDir}/build/${presetName}":
        print("FAIL preset %s builds in %s" % (p["name"], q.get("binaryDir")))
        raise SystemExit(1)
PY

for script in scripts/*.sh scripts/lib/*.sh .ci/run; do
    bash -n "$script" || fail "$script does not parse"
done
# A build folder beside build/ (build-asan, build-windows, ...) is the old convention.
if grep -nE '\bbuild-[a-z]+($|[^a-z.:])' scripts/*.sh scripts/lib/*.sh .ci/run; then
    fail "a script names a build folder outside build/ (above)"
fi
[ "$failed" -eq 0 ] && echo "PASS the build description"
exit "$failed"
