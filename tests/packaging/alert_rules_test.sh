#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# alert_rules_test.sh RULES TESTS: the shipped Prometheus alerting rules pass promtool check
# rules, and promtool test rules plays TESTS (series where each alert fires for one
# station and stays quiet for the others) against them.
set -euo pipefail
if ! command -v promtool >/dev/null; then
    echo "SKIPPED: promtool (Debian prometheus) is not installed"
    exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The tests name the rules file beside them.
cp "$1" "$work/reburn3-alerts.yml"
cp "$2" "$work/tests.yml"
promtool check rules "$work/reburn3-alerts.yml"
promtool test rules "$work/tests.yml"
