#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Checks JSON Lines read on standard input against a JSON Schema.

Usage: validate_json_lines.py SCHEMA < lines
Prints every line that is not JSON or breaks the schema, and exits 1 if there was one.
"""
import json
import sys

import jsonschema


# The definition a line is meant to follow, from its type, so that a bad line is told
# against that definition rather than as "not valid under any of the given schemas".
DEFINITION = {"log": "log", "progress": "progress", "result": "result", "check": "check",
              "ports": "ports"}
EVENTS = {"device-lost": "deviceLost", "handshake-limit": "handshakeLimit", "repeat": "repeat"}


def definition_of(obj):
    if not isinstance(obj, dict):
        return None
    if obj.get("type") == "event":
        return EVENTS.get(obj.get("event"))
    return DEFINITION.get(obj.get("type"))


def main() -> int:
    with open(sys.argv[1], encoding="utf-8") as f:
        schema = json.load(f)
    validator_class = jsonschema.validators.validator_for(schema)
    validator_class.check_schema(schema)
    validator = validator_class(schema)
    bad = 0
    count = 0
    for number, line in enumerate(sys.stdin, start=1):
        line = line.strip()
        if not line:
            continue
        count += 1
        try:
            obj = json.loads(line)
        except json.JSONDecodeError as e:
            print(f"line {number}: not JSON ({e}): {line}")
            bad += 1
            continue
        errors = sorted(validator.iter_errors(obj), key=lambda e: list(e.path))
        name = definition_of(obj)
        if errors and name is not None:
            part = validator_class({"$schema": schema["$schema"], "$defs": schema["$defs"],
                                    "$ref": "#/$defs/" + name})
            errors = sorted(part.iter_errors(obj), key=lambda e: list(e.path)) or errors
        if errors:
            bad += 1
            print(f"line {number}: {line}")
            for e in errors:
                print(f"  {'/'.join(map(str, e.path)) or '(object)'}: {e.message}")
    print(f"{count} lines checked, {bad} bad")
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
