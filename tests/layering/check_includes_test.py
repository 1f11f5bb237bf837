#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""The layering check itself: on a small tree of its own, each kind of fault it must find
(an upward include, a face including another, a line of the run layer that prints) is
found, and what is allowed (a trace written to a file, a comment naming stderr) is not."""
import pathlib
import subprocess
import sys
import tempfile

CHECK = pathlib.Path(__file__).with_name("check_includes.py")
TABLE = """| Folder | Layer | Library | May include |
|---|---|---|---|
| `base` | base | `b` | |
| `run` | run | `r` | base |
| `cli` | face | `c` | base, run |
| `serve` | face | `s` | base, run |
"""

# (folder, line, found): one file of `folder` holding `line`.
CASES = [
    ("run", '#include "base/x.h"', False),
    ("base", '#include "run/x.h"', True),
    ("serve", '#include "cli/x.h"', True),
    ("run", '#include "cli/x.h"', True),
    ("run", 'std::fprintf(stderr, "%s\\n", text.c_str());', True),
    ("run", "std::printf(\"%d\", n);", True),
    ("run", "printf(\"x\");", True),
    ("run", "std::cerr << line;", True),
    ("run", "std::fputs(line, stdout);", True),
    ("run", "::write(STDERR_FILENO, data, size);", True),
    ("run", "write(2, data, size);", True),
    ("run", 'qWarning("lost");', True),
    ("run", "QTextStream out(stdout);", True),
    ("run", "std::fflush(stderr);", True),
    ("run", 'std::fprintf(m_file, "%llu TX %02X\\n", tick, byte);', False),
    ("run", 'std::snprintf(buf, sizeof buf, "%g s", s);', False),
    ("run", "// said on stderr by the face, never here", False),
    ("run", "for (const int fd : {STDOUT_FILENO, STDERR_FILENO}) {", False),
    ("cli", 'std::fprintf(stderr, "%s\\n", line.c_str());', False),
]


def found(folder, line):
    with tempfile.TemporaryDirectory() as tmp:
        src = pathlib.Path(tmp) / "src"
        for name in ("base", "run", "cli", "serve"):
            (src / name).mkdir(parents=True)
        (src / "README.md").write_text(TABLE, encoding="utf-8")
        (src / folder / "file.cpp").write_text(line + "\n", encoding="utf-8")
        run = subprocess.run([sys.executable, str(CHECK), str(src)], capture_output=True, text=True)
        return run.returncode != 0


def main():
    failures = [(folder, line, want) for folder, line, want in CASES if found(folder, line) != want]
    for folder, line, want in failures:
        print(f"FAIL: src/{folder}: {line!r}: {'not found' if want else 'found'}")
    print(f"{len(CASES) - len(failures)} of {len(CASES)} cases as expected")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
