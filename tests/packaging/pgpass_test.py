#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""The database password the way the systemd units hand it over: `reburn3 serve --db
postgresql://USER@HOST:PORT/DB` (no password in the URL, so none in `ps`) against a real
PostgreSQL 15 server that asks for a password (scram-sha-256), with PGPASSFILE naming a
libpq password file of mode 0400, as systemd's copy of the credential is.

- the right file: the service starts and its boards' rows reach the server;
- the units' stand-in when /etc/reburn3/pgpass is missing (a comment only), and a password
  file others may read (libpq ignores it): the service does not start (exit 5), it says
  the server refused it, and the password appears nowhere in what it prints.
Exit 77 when the server cannot start."""
import argparse
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "serve"))
from serve_support import Station, case, check, finish  # noqa: E402

ap = argparse.ArgumentParser()
ap.add_argument("--reburn3")
ap.add_argument("--sim")
ap.add_argument("--script")
a = ap.parse_args()
a.reburn3, a.sim, a.script = (os.path.abspath(f) for f in (a.reburn3, a.sim, a.script))

BIN = "/usr/lib/postgresql/15/bin"
PASSWORD = "line-7f3a9c-secret"
# The text of SetCredential=pgpass: in both units.
STAND_IN = "# no /etc/reburn3/pgpass: no password\n"


def skip(reason):
    print("SKIPPED: " + reason)
    sys.exit(77)


if not os.access(BIN + "/initdb", os.X_OK):
    skip("PostgreSQL 15 (Debian postgresql-15) is not installed")
as_user = ["runuser", "-u", "nobody", "--"] if os.geteuid() == 0 else []
data = tempfile.mkdtemp(prefix="reburn3-pgpass-")
os.chmod(data, 0o777)
with open(data + "/password", "w") as f:
    f.write(PASSWORD + "\n")
os.chmod(data + "/password", 0o644)
with socket.socket() as s:
    s.bind(("127.0.0.1", 0))
    pg_port = s.getsockname()[1]


def pg(*args, env=None):
    return subprocess.run(as_user + list(args), capture_output=True, text=True, timeout=60,
                          env=env)


init = pg(BIN + "/initdb", "-D", data + "/db", "-U", "station", "--auth-host=scram-sha-256",
          "--auth-local=trust", "--pwfile", data + "/password", "-E", "UTF8")
if init.returncode != 0:
    skip("initdb failed: " + init.stderr.strip()[-300:])
start = pg(BIN + "/pg_ctl", "-D", data + "/db", "-w", "-l", data + "/server.log", "-o",
           "-h 127.0.0.1 -p %d -k %s" % (pg_port, data), "start")
if start.returncode != 0:
    skip("the server did not start: " + open(data + "/server.log").read()[-300:])


def password_file(text, mode):
    path = tempfile.mktemp(prefix="pgpass-", dir=data)
    with open(path, "w") as f:
        f.write(text)
    os.chmod(path, mode)
    return path


url = "postgresql://station@127.0.0.1:%d/postgres" % pg_port
try:
    case("a password file others may read is refused")
    # The stand-in of a missing file, then a right file that others may read: refused. The
    # service keeps running with its records kept in the journal (a database that cannot be
    # reached is no reason to stop the line), and says why the database refused it.
    for what, path in [
        ("the stand-in", password_file(STAND_IN, 0o400)),
        ("a file others may read",
         password_file("127.0.0.1:%d:*:station:%s\n" % (pg_port, PASSWORD), 0o644)),
    ]:
        os.environ.pop("PGPASSWORD", None)
        os.environ["PGPASSFILE"] = path
        s = Station(a.reburn3, a.sim, a.script, devices=1, extra=["--db", url])
        state = s.wait_for(lambda st: st["records"]["database"] == "down")
        error = state["records"].get("databaseError", "")
        check("password authentication failed" in error or "no password" in error,
              "%s: %s" % (what, error))
        check(s.stop() == 0, "%s: clean end: %s" % (what, s.stderr()))
        check(PASSWORD not in s.stderr() + json.dumps(state), "%s: the password shown" % what)

    case("the file as systemd copies it reaches the server")
    # The file as systemd's copy of /etc/reburn3/pgpass is: the service's own, mode 0400.
    os.environ.pop("PGPASSWORD", None)
    os.environ["PGPASSFILE"] = password_file(
        "# the line's database\n127.0.0.1:%d:postgres:station:%s\n" % (pg_port, PASSWORD), 0o400)
    s = Station(a.reburn3, a.sim, a.script, devices=2, extra=["--db", url])
    check(s.call("POST", "/api/rounds", {"tags": {"serial": "PGPASS-1"}})[0] == 202, "round")
    s.wait_for(lambda st: st["counts"]["boards"] == 2 and not st["round"]["running"])
    check(s.stop() == 0, "clean end: " + s.stderr())
    check(PASSWORD not in s.stderr(), "the password in the service's output")
    query = pg("psql", "-h", data, "-p", str(pg_port), "-U", "station", "-d", "postgres", "-At",
               "-c", "SELECT count(*) FROM reburn3_records WHERE tags::text LIKE '%PGPASS-1%'")
    check(query.returncode == 0 and query.stdout.strip() == "2",
          "rows: %s %s" % (query.stdout, query.stderr))
    finish()
    print("pgpass: the service reached the server through PGPASSFILE only")
finally:
    pg(BIN + "/pg_ctl", "-D", data + "/db", "-m", "fast", "stop")
    shutil.rmtree(data, ignore_errors=True)
