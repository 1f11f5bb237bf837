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
from serve_support import Station, case, check, finish

ap = argparse.ArgumentParser()
ap.add_argument("--reburn3")
ap.add_argument("--sim")
ap.add_argument("--script")
ap.add_argument("--queries-out")
a = ap.parse_args()

# The quality engineer's queries of docs/serve.md, run against the fleet's rows.
QUERIES = [
    ("yield per station per hour",
     "SELECT station, date_trunc('hour', ended_at) AS hour, COUNT(*) AS boards, "
     "COUNT(*) FILTER (WHERE outcome = 'completed') AS completed, "
     "COUNT(*) FILTER (WHERE outcome = 'device-failed') AS device_failed, "
     "round(COUNT(*) FILTER (WHERE outcome = 'completed')::numeric / NULLIF(COUNT(*) FILTER "
     "(WHERE outcome IN ('completed', 'device-failed')), 0), 3) AS yield "
     "FROM reburn3_records GROUP BY 1, 2 ORDER BY 1, 2"),
    ("failures by reason",
     "SELECT station, outcome, reason, COUNT(*) FROM reburn3_records WHERE outcome <> 'completed' "
     "GROUP BY 1, 2, 3 ORDER BY 4 DESC"),
    ("a serial's history",
     "SELECT ended_at, station, slot, round, outcome, reason, result->>'scriptLine' AS line "
     "FROM reburn3_records WHERE serial = 'SN-L1-B' ORDER BY ended_at"),
]

server = Postgres()
if server.problem:
    print("SKIPPED: " + server.problem)
    server.close()
    sys.exit(77)
try:
    case("rows in the server are the --json results")
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

    case("server stopped while idle")
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

    case("server restarted while idle")
    # Restarted while idle: the next round's rows are written on a new connection.
    pg_ctl("restart")
    run_round(s)
    st = settle(s, lambda r: r["pending"] == 0 and r["database"] == "up")
    account("postgresql restarted", s.results(), db_rows(), s.tmp, st)
    check(s.call("GET", "/healthz")[0] == 200, "healthy again")

    case("server paused in the middle of a round")
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

    case("three stations, one database")
    # Three stations, one database: each its own journal and name, rows never collide, and
    # each sees its own records unless it asks for another's.
    # Station L1's slot B holds a board that fails at a wrong byte, tried in every round.
    three = [Station(a.reburn3, a.sim, a.script, devices=2, labels=["A", "B"],
                     sim_extra={1: ["--wrong-byte-at", "3"]} if n == 1 else None,
                     extra=["--db", url, "--station", "L%d" % n]) for n in range(3)]
    for k in range(3):
        for n, st3 in enumerate(three):
            serials = {"A": {"serial": "SN-L%d-%d" % (n, k)}, "B": {"serial": "SN-L%d-B" % n}}
            check(st3.call("POST", "/api/rounds", {"portTags": serials})[0] == 202, "a round of each")
        for st3 in three:
            st3.wait_for(lambda x: not x["round"]["running"] and x["records"]["pending"] == 0)
    everyone = db_rows()
    for n, st3 in enumerate(three):
        mine = db_rows("WHERE station = 'L%d'" % n)
        check(len(mine) == 6, "station %d: %d rows" % (n, len(mine)))
        state = st3.call("GET", "/api/state")[1]
        account("station %d of three" % n, st3.results(), mine, st3.tmp, state)
        api = st3.call("GET", "/api/records")[1]["records"]
        check(len(api) == 6 and {r["station"] for r in api} == {"L%d" % n}, "scoped: %s" % api)
        failed = 3 if n == 1 else 0
        check(state["counts"]["boards"] == 6 and state["counts"]["deviceFailed"] == failed
              and state["station"] == "L%d" % n, state["counts"])
        other = st3.call("GET", "/api/records?station=L%d&round=2&port=B" % ((n + 1) % 3))[1]["records"]
        check([(r["station"], r["round"], r["slot"]) for r in other] == [("L%d" % ((n + 1) % 3), 2, "B")],
              other)
        check(st3.stop() == 0, "clean end")
    check(len({r[0] for r in everyone}) == len(everyone), "no record id twice")
    pairs = server.sql("SELECT station, round, COUNT(*) FROM reburn3_records WHERE station LIKE 'L%' "
                       "GROUP BY station, round HAVING COUNT(*) > 2")
    check(pairs == [], "no (station, round) pair shared: %s" % pairs)
    types = server.sql("SELECT column_name, data_type FROM information_schema.columns WHERE "
                       "table_name = 'reburn3_records' AND column_name IN "
                       "('started_at', 'ended_at', 'tags', 'result', 'serial', 'slot') ORDER BY 1")
    check(types == ["ended_at|timestamp with time zone", "result|jsonb", "serial|text", "slot|text",
                    "started_at|timestamp with time zone", "tags|jsonb"], types)
    indexes = " ".join(server.sql("SELECT indexdef FROM pg_indexes WHERE tablename = 'reburn3_records'"))
    for column in ("station", "serial", "ended_at", "record_id"):
        check("(%s)" % column in indexes, "an index on %s: %s" % (column, indexes))
    case("a restart counts on from the database")
    # A restart counts on from the database: station L0 had 6 boards.
    again = Station(a.reburn3, a.sim, a.script, devices=2, extra=["--db", url, "--station", "L0"])
    counts = again.call("GET", "/api/state")[1]["counts"]
    check(counts["boards"] == 6 and counts["completed"] == 6 and "note" not in counts, counts)
    check("NOTICE" not in again.stderr() and "skipping" not in again.stderr(), again.stderr())
    check(again.stop() == 0, "clean end")
    case("started while the server is down")
    # Started while the server is down: counted from zero with a note until it answers, then
    # the records' boards are added once (a board of this start is not counted twice).
    pg_ctl("stop", "-m", "fast")
    late = Station(a.reburn3, a.sim, a.script, devices=1, extra=["--db", url, "--station", "L1"])
    counts = late.call("GET", "/api/state")[1]["counts"]
    check(counts["boards"] == 0 and "until the records database answers" in counts["note"], counts)
    check(late.call("POST", "/api/rounds", {})[0] == 202, "a round with the database down")
    late.wait_for(lambda x: x["counts"]["boards"] == 1 and not x["round"]["running"])
    pg_ctl("start")
    st = late.wait_for(lambda x: x["records"]["pending"] == 0 and "note" not in x["counts"], 60)
    check(st["counts"]["boards"] == 7 and st["counts"]["deviceFailed"] == 3, st["counts"])
    check(late.stop() == 0, "clean end")
    case("a table of an earlier layout is converted")
    # A table of the text layout of earlier versions is converted in place: its rows keep
    # their times, tags and results, and get their serial from their tags.
    server.sql("CREATE DATABASE legacy")
    server.sql("CREATE TABLE reburn3_records (id BIGSERIAL PRIMARY KEY, round INTEGER NOT NULL, "
               "port TEXT NOT NULL, device TEXT NOT NULL, outcome TEXT NOT NULL, reason TEXT NOT "
               "NULL, records BIGINT NOT NULL, records_total BIGINT NOT NULL, seconds DOUBLE "
               "PRECISION NOT NULL, exit_code INTEGER NOT NULL, tags TEXT NOT NULL, station TEXT "
               "NOT NULL, script_sha256 TEXT NOT NULL, started_at TEXT NOT NULL, ended_at TEXT NOT "
               "NULL, result TEXT NOT NULL, record_id TEXT);"
               "INSERT INTO reburn3_records (round, port, device, outcome, reason, records, "
               "records_total, seconds, exit_code, tags, station, script_sha256, started_at, "
               "ended_at, result, record_id) VALUES (4, 'COM3', '/dev/ttyS2', 'completed', "
               "'completed', 9, 9, 1.5, 0, '{\"serial\":\"OLD-1\"}', 'L9', '', "
               "'2026-11-30T08:00:00.000Z', '2026-11-30T08:00:01.500Z', '{}', 'old-1')", "legacy")
    legacy = Station(a.reburn3, a.sim, a.script, devices=1,
                     extra=["--db", url.replace("/postgres", "/legacy"), "--station", "L9"])
    st = legacy.call("GET", "/api/state")[1]
    check(st["round"]["number"] == 4 and st["counts"]["boards"] == 1, st)
    old = legacy.call("GET", "/api/records")[1]["records"]
    check([(r["serial"], r["startedAt"], r["endedAt"], r["tags"]) for r in old]
          == [("OLD-1", "2026-11-30T08:00:00.000Z", "2026-11-30T08:00:01.500Z", {"serial": "OLD-1"})], old)
    check(legacy.call("POST", "/api/rounds", {"tags": {"serial": "NEW-1"}})[0] == 202, "a round")
    legacy.wait_for(lambda x: not x["round"]["running"] and x["records"]["pending"] == 0)
    check(legacy.stop() == 0, "clean end")
    check(server.sql("SELECT round, serial, data_type FROM reburn3_records, information_schema.columns "
                     "WHERE column_name = 'ended_at' AND table_name = 'reburn3_records' ORDER BY id",
                     "legacy") == ["4|OLD-1|timestamp with time zone", "5|NEW-1|timestamp with time zone"],
          "converted")
    finish()
    if a.queries_out:
        out = open(a.queries_out, "w")
        for title, query in QUERIES:
            out.write("-- %s\n%s\n" % (title, query))
            out.write("\n".join(server.sql(query)) + "\n\n")
finally:
    server.close()
