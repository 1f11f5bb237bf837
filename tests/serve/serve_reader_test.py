#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""`reburn3 serve` reading its records from a PostgreSQL server that stops answering (every
process of it paused with SIGSTOP): that read fails with 503 in time, while the health
check, the state, the feed and Abort answer, and SIGTERM still ends the service. A real
PostgreSQL 15 started here as in serve_postgres_test.py; exit 77 when it cannot start."""
import argparse
import http.client
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading

from serve_support import Station, case, check, finish

ap = argparse.ArgumentParser()
ap.add_argument("--reburn3")
ap.add_argument("--sim")
ap.add_argument("--script")
a = ap.parse_args()
BIN = "/usr/lib/postgresql/15/bin"
if not os.access(BIN + "/initdb", os.X_OK):
    print("SKIPPED: PostgreSQL 15 (Debian postgresql-15) is not installed")
    sys.exit(77)
user = "nobody" if os.geteuid() == 0 else None
data = tempfile.mkdtemp(prefix="reburn3-pg-")
os.chmod(data, 0o777)
with socket.socket() as s:
    s.bind(("127.0.0.1", 0))
    pg_port = s.getsockname()[1]


def pg(*args):
    return subprocess.run((["runuser", "-u", user, "--"] if user else []) + list(args),
                          capture_output=True, text=True, timeout=60)


if pg(BIN + "/initdb", "-D", data + "/db", "-U", "reburn3", "--auth=trust").returncode or \
        pg(BIN + "/pg_ctl", "-D", data + "/db", "-w", "-l", data + "/log", "-o",
           "-h 127.0.0.1 -p %d -k %s" % (pg_port, data), "start").returncode:
    print("SKIPPED: the PostgreSQL server did not start")
    sys.exit(77)
paused = []
try:
    case("records while the server answers")
    s = Station(a.reburn3, a.sim, a.script, devices=1,
                extra=["--db", "postgresql://reburn3@127.0.0.1:%d/postgres" % pg_port])
    check(s.call("POST", "/api/rounds", {})[0] == 202, "a round")
    s.wait_for(lambda st: st["counts"]["boards"] == 1 and not st["round"]["running"])
    check(s.call("GET", "/api/records")[0] == 200, "records while the server answers")
    case("a hung database fails its reads in time, and only them")
    # This server only: its postmaster and the processes it started.
    postmaster = int(open(data + "/db/postmaster.pid").readline())
    children = subprocess.run(["pgrep", "-P", str(postmaster)], capture_output=True, text=True)
    paused = [postmaster] + [int(p) for p in children.stdout.split()]
    [os.kill(p, signal.SIGSTOP) for p in paused]
    got = {}
    reads = [threading.Thread(target=lambda f=f: got.update({f: s.call("GET", "/api/records" + f)}))
             for f in ("?limit=1000", "?format=csv")]
    [t.start() for t in reads]
    # Meanwhile everything else answers: health, state, the feed's first event, Abort.
    # Health answers at once, and says so once the database has not answered for a second.
    health = [s.call("GET", "/healthz") for _ in range(20)]
    check(all(st == 200 or (st == 503 and "has not answered" in b["error"]) for st, b in health),
          "health while it hangs: %s" % health[-1:])
    check(s.call("GET", "/api/state")[0] == 200, "the state while it hangs")
    feed = http.client.HTTPConnection(s.base.split("//")[1], timeout=10)
    feed.request("GET", "/api/events")
    check(feed.getresponse().readline().startswith(b"retry:"), "the feed while it hangs")
    check(s.call("POST", "/api/abort") == (202, {"aborted": False}), "Abort while it hangs")
    [t.join() for t in reads]
    for f, (status, body) in got.items():
        check(status == 503 and "did not answer within 5 s" in body["error"], (f, status, body))
    feed.close()
    check(s.stop() == 0, "SIGTERM ends the service: " + s.stderr()[-300:])
    finish()
    print("serve reader: a hung database fails its reads in time, and only them")
finally:
    [os.kill(p, signal.SIGCONT) for p in paused]
    pg(BIN + "/pg_ctl", "-D", data + "/db", "-m", "immediate", "stop")
    shutil.rmtree(data, ignore_errors=True)
