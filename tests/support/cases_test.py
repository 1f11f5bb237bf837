#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""cases.py as the end-to-end scripts use it, each way a script can end, run as a real
child python: the lines it prints and its exit status. Prints one line per case itself."""
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from cases import case, check, finish  # noqa: E402

PRELUDE = "import sys\nsys.path.insert(0, %r)\nfrom cases import case, check, finish\n" % HERE

# (name, the script's body, its exit status, the lines it must print, in order)
ROWS = [
    ("every case passes", 'case("one")\ncheck(True, "x")\ncase("two")\nfinish()\nprint("after")\n',
     0, ["PASS one", "PASS two", "2 of 2 cases passed", "after"]),
    ("a failed check fails its case and the next still runs",
     'case("one")\ncheck(1 == 2, "one is not two")\ncheck(False, "again")\ncase("two")\n'
     'check(True)\nfinish()\nprint("not reached")\n',
     1, ["FAIL one: one is not two (and 1 more)", "PASS two", "1 of 2 cases passed"]),
    ("an exception fails the case it was in",
     'case("one")\ncase("two")\n{}["missing"]\ncase("three")\nfinish()\n',
     1, ["PASS one", "FAIL two: KeyError: 'missing'", "1 of 2 cases passed"]),
    ("a skip after a failed check is a failure",
     'case("one")\ncheck(False, "broken")\nsys.exit(77)\n',
     1, ["FAIL one: broken", "0 of 1 cases passed"]),
    ("a skip with nothing failed stays a skip", 'case("one")\nsys.exit(77)\n', 77, []),
    ("checks before the first case belong to start", 'check(False, "early")\nfinish()\n',
     1, ["FAIL start: early", "0 of 1 cases passed"]),
]

with tempfile.TemporaryDirectory() as work:
    for name, body, status, lines in ROWS:
        case(name)
        path = os.path.join(work, "script.py")
        with open(path, "w") as f:
            f.write(PRELUDE + body)
        run = subprocess.run([sys.executable, path], capture_output=True, text=True, timeout=60)
        check(run.returncode == status, "exit %d, not %d: %s" % (run.returncode, status, run.stderr))
        check(run.stdout.splitlines() == lines, "printed %r" % run.stdout.splitlines())
        # A failed check is told on stderr as it happens, with its case.
        for line in lines:
            if line.startswith("FAIL ") and "KeyError" not in line:
                first = line.split(" (and ")[0]
                check(first in run.stderr, "%r not on stderr: %r" % (first, run.stderr))
finish()
