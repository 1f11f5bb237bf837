#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Checks every `#include "folder/..."` under src/ against the layer table in src/README.md.

Fails, naming file and line, on an include the table does not allow, on an include of a
folder the table does not know, on a folder of src/ that the table does not list, and on
a file of a folder that must never print (the run layer) writing to standard output or
standard error."""
import pathlib
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
# Folders whose code tells a listener and never writes to a terminal itself.
SILENT = {"run"}
# Writing to standard output or error: the streams, stdio on them, their descriptors,
# Qt's message handlers.
PRINTS = re.compile(
    r"std::(cout|cerr|clog)\b"
    r"|(?<![\w:])(std::)?(printf|puts|putchar|perror|vprintf)\s*\("
    r"|\b(fprintf|fputs|fputc|fwrite|vfprintf|putc|fflush)\s*\([^;]*\b(stdout|stderr)\b"
    r"|\b(write|writev)\s*\(\s*(1|2|STDOUT_FILENO|STDERR_FILENO)\s*,"
    r"|\bq(Debug|Info|Warning|Critical|Fatal)\s*\("
    r"|QTextStream\s*\w*\s*[({]\s*(stdout|stderr)")
COMMENT = re.compile(r"//.*$")
ROW = re.compile(r'^\|\s*`([a-z_]+)`\s*\|[^|]*\|[^|]*\|([^|]*)\|\s*$')


def read_table(readme):
    allowed = {}
    for line in readme.read_text(encoding="utf-8").splitlines():
        match = ROW.match(line)
        if match:
            folder, may = match.group(1), match.group(2)
            allowed[folder] = {word.strip() for word in may.split(",") if word.strip()}
    return allowed


def problems(src):
    allowed = read_table(src / "README.md")
    if not allowed:
        yield f"{src / 'README.md'}: no layer table found"
        return
    for folder in sorted(p.name for p in src.iterdir() if p.is_dir()):
        if folder not in allowed:
            yield f"src/{folder}: a folder the layer table in src/README.md does not list"
    for path in sorted(src.rglob("*")):
        if path.suffix not in (".h", ".cpp") or path.parent == src:
            continue
        folder = path.relative_to(src).parts[0]
        if folder not in allowed:
            continue
        for number, line in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
            if folder in SILENT and PRINTS.search(COMMENT.sub("", line)):
                yield (f"{path.relative_to(src.parent)}:{number}: {folder} never prints; it "
                       f"tells its listener: {line.strip()}")
            match = INCLUDE.match(line)
            if not match or "/" not in match.group(1):
                continue  # a generated header, or one of the folder's own without a path
            target = match.group(1).split("/")[0]
            where = f"{path.relative_to(src.parent)}:{number}"
            if target not in allowed:
                yield f"{where}: includes {match.group(1)}, of a folder the table does not know"
            elif target != folder and target not in allowed[folder]:
                yield (f"{where}: {folder} may not include {match.group(1)} "
                       f"({folder} may include: {', '.join(sorted(allowed[folder])) or 'nothing else'})")


def main():
    src = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "src").resolve()
    found = list(problems(src))
    for problem in found:
        print(problem)
    print(f"layering: {len(found)} problem(s)" if found else "layering: every include is allowed")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
