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
import sys

from records_support import Postgres, account, settle
from serve_support import Station, check

ap = argparse.ArgumentParser()
ap.add_argument("--reburn3")
ap.add_argument("--sim")
ap.add_argument("--script")
a = ap.parse_args()

server = Postgres()
if server.problem:
    print("SKIPPED: " + server.problem)
    server.close()
    sys.exit(77)
try:
    url = server.url
    s = Station(a.reburn3, a.sim, a.script, devices=2, extra=["--db", url])
    check(s.call("POST", "/api/rounds", {"tags": {"serial": "PG-1"}})[0] == 202, "round")
    s.wait_for(lambda st: st["counts"]["boards"] == 2 and not st["round"]["running"]
               and st["records"]["pending"] == 0)
    api = s.call("GET", "/api/records")[1]["records"]
    check(s.stop() == 0, "clean end")
    rows = [line.split("|", 3)
            for line in server.sql("SELECT port, outcome, tags, result FROM reburn3_records ORDER BY id")]
    results = s.results()
    check(len(rows) == 2 and len(results) == 2, "two rows: %s" % rows)
    told_by_port = {r["port"]: r for r in results}  # the boards end in either order
    check([r["id"] for r in api] == sorted(r["id"] for r in api), "the API's rows in id order")
    for (port, outcome, tags, result), row in zip(rows, api):
        told = told_by_port[port]
        check(json.loads(result) == told, "row %s is its result" % port)
        check(outcome == "completed" and json.loads(tags) == {"serial": "PG-1"}, outcome + tags)
        check(row["port"] == port and row["result"] == told, "the API reads the same row back")
    print("serve postgresql: rows in the server are the --json results")

    def db_rows(where=""):
        return [tuple(line.split("|", 1))
                for line in server.sql("SELECT record_id, result FROM reburn3_records " + where)]

    def pg_ctl(*args):
        r = server.ctl(*args)
        check(r.returncode == 0, r.stderr + r.stdout)

    def run_round(st):
        status, body = st.call("POST", "/api/rounds", {})
        check(status == 202, "round: %s %s" % (status, body))
        st.wait_for(lambda x: not x["round"]["running"] and x["round"]["number"] == body["round"])

    s = Station(a.reburn3, a.sim, a.script, devices=2, extra=["--db", url])

    # Stopped while idle: said within the idle check; a round's rows wait; written once
    # the server is back.
    pg_ctl("stop")
    st = settle(s, lambda r: r["database"] == "down", 10)
    check(s.call("GET", "/healthz")[0] == 503, "unhealthy while the server is stopped")
    run_round(s)
    st = settle(s, lambda r: r["pending"] == 2)
    check(st["ok"], "a database that is down does not stop the rounds")
    pg_ctl("start")
    st = settle(s, lambda r: r["pending"] == 0 and r["database"] == "up")
    account("postgresql stopped and started", s.results(), db_rows(), s.tmp, st)

    # Restarted while idle: the next round's rows are written on a new connection.
    pg_ctl("restart")
    run_round(s)
    st = settle(s, lambda r: r["pending"] == 0 and r["database"] == "up")
    account("postgresql restarted", s.results(), db_rows(), s.tmp, st)
    check(s.call("GET", "/healthz")[0] == 200, "healthy again")

    # Paused in the middle of a round (every server process stopped, sockets open): the
    # round keeps its ticks, the state says the database does not answer, SIGTERM ends
    # the service anyway; the rows are written after the next start, once.
    check(s.call("POST", "/api/rounds", {})[0] == 202, "round while paused")
    s.wait_for(lambda x: any(p["state"] == "running" for p in x["ports"]))
    server.pause()
    try:
        s.wait_for(lambda x: not x["round"]["running"])
        check(server.still_paused(), "the server's processes were continued by something else")
        st = settle(s, lambda r: r["database"] == "down" and r["pending"] == 2, 15)
        check(s.call("GET", "/healthz")[0] == 503, "unhealthy while paused")
        told = s.results()
        code = s.stop()
        check(code == 0 and "2 records not yet in the database wait in" in s.stderr(),
              "exit %s: %s" % (code, s.stderr()[-400:]))
    finally:
        server.resume()
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
    server.close()
