#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""`reburn3 serve --db postgresql://...` against a real PostgreSQL 15 server started here
(initdb and pg_ctl in a temporary folder, as an unprivileged user, on a loopback port):
a round's rows in the server are its --json results; then the server stopped, restarted
and paused (SIGSTOP) under the service, SIGTERM while it is paused, and three stations
writing to it at once. After each, every board is a row or pending in its journal, no
record id twice. Exit 77 when the server cannot start."""
import argparse
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

from records_support import account, round_ratio, settle, tick_p99_ms
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
    baseline_ms = sorted(r["durationMs"] for r in results)[len(results) // 2]

    def db_rows(where=""):
        q = pg("psql", "-h", "127.0.0.1", "-p", str(pg_port), "-U", "reburn3", "-d", "postgres",
               "-At", "-c", "SELECT record_id, result FROM reburn3_records " + where)
        check(q.returncode == 0, q.stderr)
        return [tuple(line.split("|", 1)) for line in q.stdout.strip().splitlines()]

    def pg_ctl(*args):
        r = pg(BIN + "/pg_ctl", "-D", data + "/db", "-w", "-l", data + "/server.log", *args)
        check(r.returncode == 0, r.stderr + r.stdout)

    def server_pids():
        """The server's processes: the postmaster and its children."""
        main = int(open(data + "/db/postmaster.pid").readline())
        kids = []
        for d in os.listdir("/proc"):
            if d.isdigit():
                try:
                    if int(open("/proc/%s/stat" % d).read().rsplit(")", 1)[1].split()[1]) == main:
                        kids.append(int(d))
                except (OSError, IndexError, ValueError):
                    pass
        return [main] + kids

    def run_round(st):
        status, body = st.call("POST", "/api/rounds", {})
        check(status == 202, "round: %s %s" % (status, body))
        st.wait_for(lambda x: not x["round"]["running"] and x["round"]["number"] == body["round"])

    start_opts = ["-o", "-h 127.0.0.1 -p %d -k %s" % (pg_port, data)]
    s = Station(a.reburn3, a.sim, a.script, devices=2, extra=["--db", url])

    # Stopped while idle: said within the idle check; a round's rows wait; written once
    # the server is back.
    pg_ctl("-m", "fast", "stop")
    st = settle(s, lambda r: r["database"] == "down", 10)
    check(s.call("GET", "/healthz")[0] == 503, "unhealthy while the server is stopped")
    run_round(s)
    st = settle(s, lambda r: r["pending"] == 2)
    check(st["ok"], "a database that is down does not stop the rounds")
    pg_ctl(*start_opts, "start")
    st = settle(s, lambda r: r["pending"] == 0 and r["database"] == "up")
    account("postgresql stopped and started", s.results(), db_rows(), s.tmp, st)

    # Restarted while idle: the next round's rows are written on a new connection.
    pg_ctl(*start_opts, "-m", "fast", "restart")
    run_round(s)
    st = settle(s, lambda r: r["pending"] == 0 and r["database"] == "up")
    account("postgresql restarted", s.results(), db_rows(), s.tmp, st)
    check(s.call("GET", "/healthz")[0] == 200, "healthy again")

    # Paused in the middle of a round (every server process stopped, sockets open): the
    # round keeps its ticks, the state says the database does not answer, SIGTERM ends
    # the service anyway; the rows are written after the next start, once.
    before = s.call("GET", "/metrics")[1]
    check(s.call("POST", "/api/rounds", {})[0] == 202, "round while paused")
    s.wait_for(lambda x: any(p["state"] == "running" for p in x["ports"]))
    paused = server_pids()
    try:
        for pid in paused:
            os.kill(pid, signal.SIGSTOP)
        s.wait_for(lambda x: not x["round"]["running"])
        st = settle(s, lambda r: r["database"] == "down" and r["pending"] == 2, 15)
        check(s.call("GET", "/healthz")[0] == 503, "unhealthy while paused")
        after = s.call("GET", "/metrics")[1]
        told = s.results()
        print("postgresql paused: round ratio %.3f, tick p99 %s ms"
              % (round_ratio(told[-2:], baseline_ms), tick_p99_ms(before, after)))
        t0 = time.time()
        code = s.stop()
        print("postgresql paused: SIGTERM to exit %.2f s" % (time.time() - t0))
        check(code == 0 and "2 records not yet in the database wait in" in s.stderr(),
              "exit %s: %s" % (code, s.stderr()[-400:]))
    finally:
        for pid in paused:
            os.kill(pid, signal.SIGCONT)
    folder = s.tmp
    again = Station(a.reburn3, a.sim, a.script, devices=2, extra=["--db", url, "--state-dir", folder])
    st = settle(again, lambda r: r["pending"] == 0 and r["database"] == "up")
    account("postgresql paused, then a restart", told, db_rows(), folder, st)
    check(again.stop() == 0, "clean end")

    # Three stations, one database: each its own journal, rows never collide.
    three = [Station(a.reburn3, a.sim, a.script, devices=2,
                     extra=["--db", url, "--tag", "line=L%d" % n]) for n in range(3)]
    for _ in range(3):
        for st3 in three:
            check(st3.call("POST", "/api/rounds", {})[0] == 202, "a round of each")
        for st3 in three:
            st3.wait_for(lambda x: not x["round"]["running"] and x["records"]["pending"] == 0)
    everyone = db_rows()
    for n, st3 in enumerate(three):
        mine = db_rows("WHERE tags LIKE '%%\"L%d\"%%'" % n)
        check(len(mine) == 6, "station %d: %d rows" % (n, len(mine)))
        account("station %d of three" % n, st3.results(), mine, st3.tmp,
                st3.call("GET", "/api/state")[1])
        check(st3.stop() == 0, "clean end")
    check(len({r[0] for r in everyone}) == len(everyone), "no record id twice")
finally:
    pg(BIN + "/pg_ctl", "-D", data + "/db", "-m", "fast", "stop")
    shutil.rmtree(data, ignore_errors=True)
