#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""The station service's rounds while its PostgreSQL database does not answer (every
server process stopped with SIGSTOP): `reburn3 serve --stats` on two simulated ports,
each run a round with the database well, a round with it paused, SIGTERM with it paused,
then a start after it answers again. Prints, per run and as medians: the worst port's
wall / tick bound and tick period p99 of each round, how long SIGTERM took to end the
service, and whether every board became a row exactly once. Figures only: nothing here
fails on time (scripts/bench.sh --only records runs it)."""
import argparse
import os
import statistics
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "serve"))
from records_support import Postgres, settle  # noqa: E402
from serve_support import Station  # noqa: E402

ap = argparse.ArgumentParser()
ap.add_argument("--reburn3", required=True)
ap.add_argument("--sim", required=True)
ap.add_argument("--script", required=True)
ap.add_argument("--runs", type=int, default=3)
a = ap.parse_args()


def round_of(s):
    """One round on every port: (worst ratio, worst tick period p99 in ms)."""
    told = len(s.results())
    status, body = s.call("POST", "/api/rounds", {})
    assert status == 202, body
    s.wait_for(lambda st: not st["round"]["running"] and st["round"]["number"] == body["round"],
               timeout=600)
    stats = [r["stats"] for r in s.results()[told:]]
    return max(x["ratio"] for x in stats), max(x["periodP99Ms"] for x in stats)


server = Postgres()
if server.problem:
    print("records bench skipped: " + server.problem)
    sys.exit(0)
figures = {k: [] for k in ("well", "wellP99", "paused", "pausedP99", "sigterm")}
try:
    for run in range(1, a.runs + 1):
        s = Station(a.reburn3, a.sim, a.script, devices=2,
                    extra=["--db", server.url, "--stats", "--quiet", "--tag", "run=r%d" % run])
        well, well_p99 = round_of(s)
        server.pause()
        try:
            paused, paused_p99 = round_of(s)
            if not server.still_paused():
                print("run %d: the server's processes were continued by something else; "
                      "the run is not counted" % run)
                s.stop()
                continue
            settle(s, lambda r: r["database"] == "down", 15)
            t0 = time.time()
            code = s.stop()
            sigterm = time.time() - t0
        finally:
            server.resume()
        again = Station(a.reburn3, a.sim, a.script, devices=2,
                        extra=["--db", server.url, "--state-dir", s.tmp])
        settle(again, lambda r: r["pending"] == 0 and r["database"] == "up", 60)
        again.stop()
        ids = server.sql("SELECT record_id FROM reburn3_records WHERE tags LIKE '%%\"r%d\"%%'" % run)
        whole = len(ids) == len(set(ids)) == len(s.results())
        for k, v in zip(figures, (well, well_p99, paused, paused_p99, sigterm)):
            figures[k].append(v)
        print("run %d: database well: ratio %.4f, tick p99 %.2f ms; paused: ratio %.4f, "
              "tick p99 %.2f ms; SIGTERM to exit %.2f s (exit %d); rows %d, each once: %s"
              % (run, well, well_p99, paused, paused_p99, sigterm, code, len(ids),
                 "yes" if whole else "NO"))
    m = {k: statistics.median(v) for k, v in figures.items()}
    print("medians: database well: ratio %.4f, tick p99 %.2f ms; database paused: ratio %.4f, "
          "tick p99 %.2f ms; SIGTERM with it paused %.2f s"
          % (m["well"], m["wellP99"], m["paused"], m["pausedP99"], m["sigterm"]))
finally:
    server.close()
