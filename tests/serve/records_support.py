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
    the database) or pending in the journal of `folder`, no record id is a row twice, and
    the state's counters agree. Returns (in the database, pending)."""
    ids = [r[0] for r in rows]
    check(len(ids) == len(set(ids)), "%s: a record id twice in the database: %s" % (label, ids))
    written = {key(json.loads(r[1]) if isinstance(r[1], str) else r[1]) for r in rows}
    check(len(written) == len(rows), "%s: a board written twice" % label)
    pending = journal_pending(folder)
    waiting = {key(r["result"]) for r in pending.values()}
    in_db = sum(key(r) in written for r in results)
    in_journal = sum(key(r) in waiting and key(r) not in written for r in results)
    check(in_db + in_journal == len(results),
          "%s: %d boards, %d in the database, %d pending: a board in neither"
          % (label, len(results), in_db, in_journal))
    if state is not None:
        check(state["records"]["pending"] == len(pending),
              "%s: the state says %s pending, the journal has %d"
              % (label, state["records"], len(pending)))
    print("%s: %d boards, %d in the database, %d pending in the journal, 0 in neither"
          % (label, len(results), in_db, in_journal))
    return in_db, in_journal


def settle(station, what, timeout=30):
    """The state once `what(state["records"])` holds."""
    return station.wait_for(lambda st: what(st["records"]), timeout)


def tick_p99_ms(before, after):
    """The 99th percentile of the ticks' lateness between two /metrics texts, as the upper
    bound of its histogram bucket, in ms (None without ticks)."""
    def buckets(text):
        out = {}
        for line in text.splitlines():
            if line.startswith("reburn3_tick_lateness_seconds_bucket"):
                le = line.split('le="')[1].split('"')[0]
                out[le] = int(line.rsplit(" ", 1)[1])
        return out
    b, a = buckets(before), buckets(after)
    total = a["+Inf"] - b.get("+Inf", 0)
    if total == 0:
        return None
    for le in sorted((k for k in a if k != "+Inf"), key=float):
        if a[le] - b.get(le, 0) >= 0.99 * total:
            return float(le) * 1000
    return float("inf")


def round_ratio(results, baseline_ms):
    """The slowest board of a round against the median board of a round run undisturbed."""
    return max(r["durationMs"] for r in results) / baseline_ms


def wait_until(what, timeout, step=0.05):
    end = time.time() + timeout
    while time.time() < end:
        if what():
            return True
        time.sleep(step)
    return what()
