#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""`reburn3 serve --db postgresql://...` against a real PostgreSQL 15 server started here
(initdb and pg_ctl in a temporary folder, as an unprivileged user, on a loopback port):
a round's rows in the server are its --json results. Exit 77 when the server cannot start."""
import argparse
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile

from serve_support import Station, check

ap = argparse.ArgumentParser()
ap.add_argument("--reburn3")
ap.add_argument("--sim")
ap.add_argument("--script")
a = ap.parse_args()

BIN = "/usr/lib/postgresql/15/bin"


def skip(reason):
    print("SKIPPED: " + reason)
    sys.exit(77)


if not os.access(BIN + "/initdb", os.X_OK):
    skip("PostgreSQL 15 (Debian postgresql-15) is not installed")
as_user = ["runuser", "-u", "nobody", "--"] if os.geteuid() == 0 else []
data = tempfile.mkdtemp(prefix="reburn3-pg-")
os.chmod(data, 0o777)
with socket.socket() as s:
    s.bind(("127.0.0.1", 0))
    pg_port = s.getsockname()[1]


def pg(*args):
    return subprocess.run(as_user + list(args), capture_output=True, text=True, timeout=60)


init = pg(BIN + "/initdb", "-D", data + "/db", "-U", "reburn3", "--auth=trust", "-E", "UTF8")
if init.returncode != 0:
    skip("initdb failed: " + init.stderr.strip()[-300:])
start = pg(BIN + "/pg_ctl", "-D", data + "/db", "-w", "-l", data + "/server.log", "-o",
           "-h 127.0.0.1 -p %d -k %s" % (pg_port, data), "start")
if start.returncode != 0:
    skip("the server did not start: " + open(data + "/server.log").read()[-300:])
try:
    url = "postgresql://reburn3@127.0.0.1:%d/postgres" % pg_port
    s = Station(a.reburn3, a.sim, a.script, devices=2, extra=["--db", url])
    check(s.call("POST", "/api/rounds", {"tags": {"serial": "PG-1"}})[0] == 202, "round")
    s.wait_for(lambda st: st["counts"]["boards"] == 2 and not st["round"]["running"])
    api = s.call("GET", "/api/records")[1]["records"]
    check(s.stop() == 0, "clean end")
    query = pg("psql", "-h", "127.0.0.1", "-p",
               str(pg_port), "-U", "reburn3", "-d", "postgres", "-At", "-c",
               "SELECT port, outcome, tags, result FROM reburn3_records ORDER BY id")
    check(query.returncode == 0, query.stderr)
    rows = [line.split("|", 3) for line in query.stdout.strip().splitlines()]
    results = s.results()
    check(len(rows) == 2 and len(results) == 2, "two rows: %s" % query.stdout)
    told_by_port = {r["port"]: r for r in results}  # the boards end in either order
    check([r["id"] for r in api] == sorted(r["id"] for r in api), "the API's rows in id order")
    for (port, outcome, tags, result), row in zip(rows, api):
        told = told_by_port[port]
        check(json.loads(result) == told, "row %s is its result" % port)
        check(outcome == "completed" and json.loads(tags) == {"serial": "PG-1"}, outcome + tags)
        check(row["port"] == port and row["result"] == told, "the API reads the same row back")
    print("serve postgresql: rows in the server are the --json results")
finally:
    pg(BIN + "/pg_ctl", "-D", data + "/db", "-m", "fast", "stop")
    shutil.rmtree(data, ignore_errors=True)
