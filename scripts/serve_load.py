#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""The ticks of `reburn3 serve` under HTTP load (scripts/bench.sh, serve part): rounds on
simulated ports with no load, while two clients loop GET /api/records?limit=1000 (JSON and
CSV) over 2,000 records, and while 70 slow connections (a byte a second) are held from one
address. For each: the round ratio (a board's wall over its tick bound, over the same with
no load), the boards' tick period p99 and max, and how many requests were answered.

    serve_load.py REBURN3 SIM SCRIPT [--ports 2] [--rounds 3] [--work DIR] [--clients-compete]"""
import argparse
import json
import os
import re
import socket
import sqlite3
import statistics
import subprocess
import tempfile
import threading
import time
import urllib.request

ap = argparse.ArgumentParser()
ap.add_argument("reburn3")
ap.add_argument("sim")
ap.add_argument("script")
ap.add_argument("--ports", type=int, default=2)
ap.add_argument("--rounds", type=int, default=3)
ap.add_argument("--work")
ap.add_argument("--clients-compete", action="store_true",
                help="the load's clients at the station's own priority")
a = ap.parse_args()
work = a.work or tempfile.mkdtemp(prefix="reburn3-serve-load-")
os.makedirs(work, exist_ok=True)
db = os.path.join(work, "records.sqlite")


def serve(ports, out):
    err = open(out + ".err", "w+")
    proc = subprocess.Popen([a.reburn3, "serve", "--listen", "127.0.0.1:0", "--db", "sqlite:" + db,
                             "--json", "--stats", "--quiet", *sum((["--port", p] for p in ports), []),
                             a.script], stdout=open(out, "w"), stderr=err)
    for _ in range(200):
        err.seek(0)
        m = re.search(r"serving on (http://[^/]+)/", err.read())
        if m:
            return proc, m.group(1)
        time.sleep(0.05)
    raise SystemExit("serve did not start")


def get(url, timeout=30):
    with urllib.request.urlopen(url, timeout=timeout) as r:
        return r.read()


def round_(base):
    urllib.request.urlopen(urllib.request.Request(base + "/api/rounds", data=b"{}", method="POST"))
    time.sleep(0.2)
    while json.loads(get(base + "/api/state"))["round"]["running"]:
        time.sleep(0.1)


sims = [subprocess.Popen([a.sim, a.script, "--stay", "--lifetime", "900"], stdout=subprocess.PIPE,
                         stderr=subprocess.DEVNULL, text=True) for _ in range(a.ports)]
ports = [p.stdout.readline().strip() for p in sims]

# 2,000 records to read: one real round, its rows copied.
proc, base = serve(ports, os.path.join(work, "fill.out"))
round_(base)
proc.terminate()
proc.wait()
con = sqlite3.connect(db)
cols = [r[1] for r in con.execute("PRAGMA table_info(reburn3_records)") if r[1] != "id"]
while con.execute("SELECT count(*) FROM reburn3_records").fetchone()[0] < 2000:
    con.execute("INSERT INTO reburn3_records (%s) SELECT %s FROM reburn3_records LIMIT 500"
                % (",".join(cols), ",".join(cols)))
con.commit()
con.close()


def client():
    """The load's clients stand for other machines on the line: on this one they take the
    CPU only when the station does not want it (nice 19, this thread only)."""
    if not a.clients_compete:
        os.setpriority(os.PRIO_PROCESS, threading.get_native_id(), 19)


def records_load(base, stop, served):
    def loop(fmt):
        client()
        while not stop.is_set():
            try:
                get(base + "/api/records?limit=1000" + fmt)
                served[0] += 1
            except OSError:
                pass  # the service ending under the load
    return [threading.Thread(target=loop, args=(f,), daemon=True) for f in ("", "&format=csv")]


def slow_load(base, stop, served):
    host, port = base.split("//")[1].split(":")

    def loop():
        client()
        socks = []
        while not stop.is_set():
            while len(socks) < 70:
                try:
                    c = socket.create_connection((host, int(port)), timeout=1,
                                                 source_address=("127.0.0.2", 0))
                    c.setblocking(False)
                    socks.append(c)
                except OSError:
                    break
            for c in list(socks):
                try:
                    c.send(b"G")
                    c.recv(1)
                except BlockingIOError:
                    continue
                except OSError:
                    pass
                c.close()
                socks.remove(c)
                served[0] += 1
            time.sleep(1)
        [c.close() for c in socks]
    return [threading.Thread(target=loop, daemon=True)]


results = {}
for name, load in [("none", None), ("records", records_load), ("slow", slow_load)]:
    out = os.path.join(work, name + ".out")
    proc, base = serve(ports, out)
    stop, served = threading.Event(), [0]
    threads = load(base, stop, served) if load else []
    [t.start() for t in threads]
    time.sleep(1)
    for _ in range(a.rounds):
        round_(base)
    stop.set()
    proc.terminate()
    proc.wait()
    stats = [json.loads(l)["stats"] for l in open(out) if '"type":"result"' in l]
    results[name] = {"ratio": statistics.median(s["ratio"] for s in stats),
                     "p99": max(s["periodP99Ms"] for s in stats),
                     "max": max(s["periodMaxMs"] for s in stats), "served": served[0]}
[p.kill() for p in sims]
none = results["none"]["ratio"]
for name, r in results.items():
    print("%-8s board ratio %.4f, round ratio %.4f; tick period p99 %.2f ms, max %.2f ms; %d %s"
          % (name, r["ratio"], r["ratio"] / none, r["p99"], r["max"], r["served"],
             "slow connections dropped" if name == "slow" else "records GETs answered"))
