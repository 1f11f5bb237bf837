# SPDX-License-Identifier: Apache-2.0
"""One line per case for the end-to-end scripts that ctest runs.

A script names each case as it comes to it (`case("an abort ends the round")`); every
`check` after that belongs to it. A failed check fails its case and the script goes on to
the next, so one failure does not hide the rest. At the end `finish()` prints

    PASS name
    FAIL name: why

for every case and exits 1 when any failed. An exception that ends the script early fails
the case it was in (the report is printed before the traceback), and a script that leaves
after a failed check (a skip, exit 77, included) still exits 1: a failure is never hidden.
"""
import atexit
import os
import sys

_cases = []  # [name, [why, ...]] in the order the script came to them
_finished = False


def case(name):
    """The checks from here on, up to the next case, belong to the case `name`."""
    _cases.append([name, []])


def _current():
    if not _cases:
        case("start")
    return _cases[-1]


def check(condition, message="check failed"):
    """Fails the current case with `message` when `condition` is false, and goes on."""
    if not condition:
        name, failures = _current()
        failures.append(str(message))
        print("FAIL %s: %s" % (name, str(message)[:2000]), file=sys.stderr, flush=True)
    return bool(condition)


def failed():
    return any(failures for _, failures in _cases)


def _report():
    for name, failures in _cases:
        if failures:
            why = " ".join(failures[0].split())
            if len(why) > 400:
                why = why[:400] + " ..."
            more = " (and %d more)" % (len(failures) - 1) if len(failures) > 1 else ""
            print("FAIL %s: %s%s" % (name, why, more), flush=True)
        else:
            print("PASS %s" % name, flush=True)
    passed = sum(1 for _, failures in _cases if not failures)
    print("%d of %d cases passed" % (passed, len(_cases)), flush=True)


def finish():
    """Prints one line per case; exits 1 when any case failed, else returns."""
    global _finished
    _finished = True
    _report()
    if failed():
        sys.exit(1)


def _on_exception(kind, value, trace):
    global _finished
    if not issubclass(kind, KeyboardInterrupt):
        _current()[1].append("%s: %s" % (kind.__name__, value))
        _finished = True
        _report()
    sys.__excepthook__(kind, value, trace)


def _at_exit():
    # A script that left early after a failed check: the report, and never a pass or a skip.
    if not _finished and failed():
        _report()
        sys.stdout.flush()
        sys.stderr.flush()
        os._exit(1)


sys.excepthook = _on_exception
atexit.register(_at_exit)
