#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""What the systemd units forbid, the station service does not need: `reburn3 serve` runs
a round of two boards into simulated devices, serves its page and /metrics and ends on
SIGTERM, under strace; then

- every system call it made is one the unit's SystemCallFilter= lets through (a call the
  filter refuses would fail with EPERM in the field, quietly: a tick thread's priority, a
  lock);
- every socket it opened is of a family RestrictAddressFamilies= allows;
- it never mapped memory writable and executable at once (MemoryDenyWriteExecute=).

Exit 77 where strace or systemd-analyze is missing or tracing is not allowed."""
import argparse
import functools
import os
import re
import shutil
import signal
import stat
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "serve"))
from serve_support import Station, case, check, finish  # noqa: E402

ap = argparse.ArgumentParser()
ap.add_argument("--reburn3")
ap.add_argument("--sim")
ap.add_argument("--script")
ap.add_argument("--unit")
a = ap.parse_args()


def skip(reason):
    print("SKIPPED: " + reason)
    sys.exit(77)


for tool in ("strace", "systemd-analyze"):
    if shutil.which(tool) is None:
        skip(tool + " is not installed")
if subprocess.run(["strace", "-qq", "-o", os.devnull, "true"]).returncode != 0:
    skip("strace cannot trace here (ptrace not allowed)")


@functools.lru_cache(None)
def calls_of(group):
    """The system calls of a systemd group (@system-service), its groups expanded."""
    listed = subprocess.run(["systemd-analyze", "syscall-filter", group], capture_output=True,
                            text=True, check=True).stdout.splitlines()[1:]
    calls = set()
    for word in (line.strip() for line in listed):
        if word and not word.startswith("#"):
            calls |= calls_of(word) if word.startswith("@") else {word}
    return frozenset(calls)


unit = open(a.unit).read()
# As systemd reads them, in order: the first line sets the allowed calls, a later line takes
# some away (~) or gives some back.
allowed = set()
filters = re.findall(r"^SystemCallFilter=(.*)$", unit, re.M)
check(filters and not filters[0].startswith("~"),
      "the unit's first SystemCallFilter= is no list of allowed calls")
for line in filters:
    words = line.split()
    calls = set()
    for word in [words[0].lstrip("~")] + words[1:]:
        calls |= calls_of(word) if word.startswith("@") else {word}
    if words[0].startswith("~"):
        allowed -= calls
    else:
        allowed |= calls
families = set(re.search(r"^RestrictAddressFamilies=(.*)$", unit, re.M).group(1).split())
check(allowed and families, "the unit has no SystemCallFilter= or RestrictAddressFamilies=")

work = tempfile.mkdtemp(prefix="reburn3-sandbox-")
# LeakSanitizer cannot run under ptrace: in a sanitizer build the traced service's leak
# check is left to the other tests, which run it untraced.
os.environ["ASAN_OPTIONS"] = os.environ.get("ASAN_OPTIONS", "") + ":detect_leaks=0"
trace = os.path.join(work, "trace")
wrapper = os.path.join(work, "reburn3")
with open(wrapper, "w") as f:
    f.write('#!/bin/sh\nexec strace -f -qq -o "%s" "%s" "$@"\n' % (trace, os.path.abspath(a.reburn3)))
os.chmod(wrapper, stat.S_IRWXU)
case("the service runs its rounds under strace")
service = None
try:
    s = Station(wrapper, a.sim, a.script, devices=2)
    # The service is strace's child; SIGTERM goes to it: strace holds it off.
    tracer = s.proc.pid
    service = int(open("/proc/%d/task/%d/children" % (tracer, tracer)).read().split()[0])
    check(s.call("POST", "/api/rounds", {})[0] == 202, "round")
    s.wait_for(lambda st: st["counts"]["boards"] == 2 and not st["round"]["running"], 120)
    check(s.call("GET", "/metrics")[0] == 200, "metrics")
    check(s.call("GET", "/")[0] == 200, "page")
    os.kill(service, signal.SIGTERM)
    check(s.stop() == 0, "clean end: " + s.stderr())
    text = open(trace).read()
finally:
    if service is not None:
        try:
            os.kill(service, signal.SIGKILL)  # a failed check leaves no service behind
        except ProcessLookupError:
            pass
    shutil.rmtree(work, ignore_errors=True)

case("every system call, socket and mapping is allowed by the unit")
made = set(re.findall(r"^\d+\s+([a-z_0-9]+)\(", text, re.M))
check(len(made) > 20, "too few system calls traced: %s" % sorted(made))
refused = made - allowed
if os.geteuid() == 0:
    # SQLite gives its journal files to the database's owner only when it runs as root;
    # the units' dynamic user is not.
    refused.discard("fchown")
opened = set(re.findall(r"\bsocket\((AF_[A-Z0-9]+)", text))
mapped_wx = [line for line in text.splitlines()
             if re.search(r"\b(mmap|mprotect|pkey_mprotect)\(", line)
             and "PROT_WRITE" in line and "PROT_EXEC" in line]
check(not refused, "system calls the unit refuses: %s" % sorted(refused))
check(opened <= families, "socket families the unit refuses: %s" % sorted(opened - families))
check(not mapped_wx, "writable and executable memory: %s" % mapped_wx[:3])
finish()
print("sandbox: %d system calls, sockets %s, all allowed by %s"
      % (len(made), sorted(opened), os.path.basename(a.unit)))
