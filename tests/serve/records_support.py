# SPDX-License-Identifier: Apache-2.0
"""What the fault tests of the service's records share: the journal read as the service
reads it, and the account of every board (in the database, or pending in the journal)."""
import json
import os
import time

from serve_support import check

JOURNAL = "reburn3-journal.jsonl"


def key(result):
    return json.dumps(result, sort_keys=True)


def journal_pending(folder):
    """The rows of the journal in `folder` the database has not committed, by record id."""
    pending = {}
    path = os.path.join(folder, JOURNAL)
    if not os.path.exists(path):
        return pending
    for line in open(path, "rb"):
        if not line.endswith(b"\n"):
            break
        o = json.loads(line)
        if o["type"] == "board":
            pending[o["row"]["recordId"]] = o["row"]
        elif o["type"] == "done":
            pending.pop(o["recordId"], None)
    return pending


def account(label, results, rows, folder, state=None):
    """Every board told on standard output is a row (`rows`: (record_id, result) pairs of
    the database), pending in the journal of `folder`, or counted lost by the state; no
    record id is a row twice, and the state's counters agree. Returns (in the database,
    pending)."""
    ids = [r[0] for r in rows]
    check(len(ids) == len(set(ids)), "%s: a record id twice in the database: %s" % (label, ids))
    written = {key(json.loads(r[1]) if isinstance(r[1], str) else r[1]) for r in rows}
    check(len(written) == len(rows), "%s: a board written twice" % label)
    pending = journal_pending(folder)
    waiting = {key(r["result"]) for r in pending.values()}
    in_db = sum(key(r) in written for r in results)
    in_journal = sum(key(r) in waiting and key(r) not in written for r in results)
    # A board in neither is one the journal refused, and the counter of lost ones says so.
    lost = state["records"]["lost"] if state is not None else 0
    check(len(results) - in_db - in_journal <= lost,
          "%s: %d boards, %d in the database, %d pending, %d counted lost: a board in neither"
          % (label, len(results), in_db, in_journal, lost))
    if state is not None:
        check(state["records"]["pending"] == len(pending),
              "%s: the state says %s pending, the journal has %d"
              % (label, state["records"], len(pending)))
    print("%s: %d boards, %d in the database, %d pending in the journal, %d in neither "
          "(counted lost)%s"
          % (label, len(results), in_db, in_journal, len(results) - in_db - in_journal,
             "; the state: %s" % json.dumps(state["records"]) if state else ""))
    return in_db, in_journal


def settle(station, what, timeout=30):
    """The state once `what(state["records"])` holds."""
    return station.wait_for(lambda st: what(st["records"]), timeout)


def wait_until(what, timeout, step=0.05):
    end = time.time() + timeout
    while time.time() < end:
        if what():
            return True
        time.sleep(step)
    return what()


class Postgres:
    """A PostgreSQL 15 server of its own: initdb and pg_ctl in a temporary folder, as an
    unprivileged user when run as root, on a free loopback port. `problem` says why it
    could not start (None when it runs)."""

    BIN = "/usr/lib/postgresql/15/bin"

    def __init__(self):
        import shutil
        import socket
        import subprocess
        import tempfile
        self._shutil, self._subprocess = shutil, subprocess
        self.problem = None
        if not os.access(self.BIN + "/initdb", os.X_OK):
            self.problem = "PostgreSQL 15 (Debian postgresql-15) is not installed"
            return
        self.as_user = ["runuser", "-u", "nobody", "--"] if os.geteuid() == 0 else []
        self.data = tempfile.mkdtemp(prefix="reburn3-pg-")
        os.chmod(self.data, 0o777)
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            self.port = s.getsockname()[1]
        self.url = "postgresql://reburn3@127.0.0.1:%d/postgres" % self.port
        init = self.run(self.BIN + "/initdb", "-D", self.data + "/db", "-U", "reburn3",
                        "--auth=trust", "-E", "UTF8")
        if init.returncode != 0:
            self.problem = "initdb failed: " + init.stderr.strip()[-300:]
        elif self.ctl("start").returncode != 0:
            self.problem = "the server did not start: " + open(self.data + "/server.log").read()[-300:]

    def run(self, *args):
        return self._subprocess.run(self.as_user + list(args), capture_output=True, text=True,
                                    timeout=60)

    def ctl(self, *args):
        opts = ["-o", "-h 127.0.0.1 -p %d -k %s" % (self.port, self.data)]
        if args[0] in ("start", "restart"):
            args = tuple(opts) + args
        return self.run(self.BIN + "/pg_ctl", "-D", self.data + "/db", "-w", "-l",
                        self.data + "/server.log", "-m", "fast", *args)

    def sql(self, query, database="postgres"):
        q = self.run("psql", "-h", "127.0.0.1", "-p", str(self.port), "-U", "reburn3", "-d",
                     database, "-At", "-c", query)
        check(q.returncode == 0, q.stderr)
        return [line for line in q.stdout.strip().splitlines()]

    def pids(self):
        """The server's processes: the postmaster and its children."""
        main = int(open(self.data + "/db/postmaster.pid").readline())
        kids = []
        for d in os.listdir("/proc"):
            if d.isdigit():
                try:
                    stat = open("/proc/%s/stat" % d).read()
                    if int(stat.rsplit(")", 1)[1].split()[1]) == main:
                        kids.append(int(d))
                except (OSError, IndexError, ValueError):
                    pass
        return [main] + kids

    def pause(self):
        import signal
        self.paused = self.pids()
        for pid in self.paused:
            os.kill(pid, signal.SIGSTOP)

    def still_paused(self):
        """Every process paused is still stopped (nothing else continued it)."""
        def state(pid):
            try:
                return open("/proc/%d/stat" % pid).read().rsplit(")", 1)[1].split()[0]
            except OSError:
                return "gone"
        return all(state(pid) == "T" for pid in getattr(self, "paused", []))

    def resume(self):
        import signal
        for pid in getattr(self, "paused", []):
            os.kill(pid, signal.SIGCONT)
        self.paused = []

    def close(self):
        if self.problem is None:
            self.resume()
            self.ctl("stop")
        if hasattr(self, "data"):
            self._shutil.rmtree(self.data, ignore_errors=True)
