#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""fleet_kit_test.py RULES DASHBOARD METRICS_CPP: the fleet kit's metric names hold together.

- Every metric the alerting rules read is in the list at the top of the rules file (the list
  the station service's /metrics must serve).
- The Grafana dashboard is valid JSON; every query names only metrics of that list or of
  the service's own (src/serve/metrics.cpp), and parses as PromQL (promtool check rules, once
  Grafana's variables are put in; skipped without promtool).
"""
import json
import re
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

rules_path, dashboard_path, metrics_cpp = (Path(p) for p in sys.argv[1:4])
failures = []

# A metric's name, once the label matchers ({...}) are gone: not a function's (followed by "(").
NAME = re.compile(r"\b(reburn3_[a-z0-9_]+|up)\b(?!\s*\()")
HISTOGRAM_PARTS = ("_bucket", "_sum", "_count")


def metric_names(expr):
    names = set()
    for name in NAME.findall(re.sub(r"\{[^}]*\}", "", expr)):
        for part in HISTOGRAM_PARTS:
            if name.endswith(part):
                name = name[: -len(part)]
        names.add(name)
    return names


rules_text = rules_path.read_text()
listed = set(re.findall(r"^#\s+(reburn3_[a-z0-9_]+|up)\b", rules_text, re.M))
if not listed:
    failures.append(f"{rules_path}: no list of the metrics the rules read")
served = set(re.findall(r'"(reburn3_[a-z0-9_]+)', metrics_cpp.read_text()))

rule_exprs = re.findall(r"^\s+expr: (?:\|\n)?((?:.+\n)+?)\s+(?:for|labels):", rules_text, re.M)
if len(rule_exprs) != rules_text.count("- alert:"):
    failures.append(f"{rules_path}: found {len(rule_exprs)} expressions for "
                    f"{rules_text.count('- alert:')} alerts")
for expr in rule_exprs:
    for name in sorted(metric_names(expr) - listed):
        failures.append(f"{rules_path}: {name} is read by a rule but not listed")

dashboard = json.loads(dashboard_path.read_text())
queries = []
for panel in dashboard["panels"]:
    for target in panel.get("targets", []):
        queries.append((panel["title"], target["expr"]))
        for name in sorted(metric_names(target["expr"]) - listed - served):
            failures.append(f'{dashboard_path}: panel "{panel["title"]}" reads {name}, '
                            "which neither the rules' list nor the service names")
if not queries:
    failures.append(f"{dashboard_path}: no queries")
ids = [panel["id"] for panel in dashboard["panels"]]
if len(ids) != len(set(ids)):
    failures.append(f"{dashboard_path}: panel ids repeat: {ids}")

promtool = shutil.which("promtool")
if promtool is None:
    print("promtool is not installed: the dashboard's queries are not parsed")
else:
    # Each query as a recording rule, with Grafana's variables as Grafana fills them.
    with tempfile.TemporaryDirectory() as folder:
        rules = {"groups": [{"name": "dashboard", "rules": [
            {"record": f"dashboard:query{i}",
             "expr": expr.replace("$station", ".*").replace("$__range", "1d")}
            for i, (_, expr) in enumerate(queries)]}]}
        path = Path(folder) / "dashboard.yml"
        path.write_text(json.dumps(rules))  # JSON is YAML
        check = subprocess.run([promtool, "check", "rules", str(path)],
                               capture_output=True, text=True)
        if check.returncode != 0:
            failures.append(f"{dashboard_path}: a query does not parse:\n{check.stdout}{check.stderr}")

for failure in failures:
    print("FAILED:", failure)
print(f"{len(queries)} dashboard queries, {len(rule_exprs)} rules, {len(listed)} listed metrics")
sys.exit(1 if failures else 0)
