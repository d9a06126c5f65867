#!/usr/bin/env python3
"""Lines of src/ holding an operator that ../shared/tools/mutants plants a fault
in, which the test suite never runs: each is a mutant no test can kill.

    python tools/opcover.py BUILD [--list]

BUILD is a build directory of the extension compiled with --coverage (gcc),
after the suite ran against it (the .gcda files are written beside the
objects). Mutation sites (one per operator on a line) are counted per source file: "never run" holds code the
suite did not reach, "no code" lines that compiled to nothing (a branch of
an #if not taken, or a statement's later line that gcc gave no count).
A header's line counts as run if any file including it ran it.
"""

from __future__ import annotations

import argparse
import gzip
import json
import re
import subprocess
import sys
import tempfile
from collections import defaultdict
from pathlib import Path

# The mutation tool's operators and the lines it leaves alone.
OPERATORS = [" < ", " <= ", " > ", " >= ", " == ", " != ", " && ", " || ", " + 1", " - 1", "+ 1)",
             "return true;", "return false;"]
SKIP_LINE = re.compile(r"^\s*(//|#|\*|/\*)|static_assert|template\s*<|"
                       r"std::(vector|array|pair|span|optional|unique_ptr|basic_string)<")


def sites(line: str) -> int:
    """The mutation sites on a line: one per operator found on it."""
    code = line.split("//", 1)[0]
    return 0 if SKIP_LINE.search(line) else sum(op in code for op in OPERATORS)


def counts(build: Path, root: Path) -> dict[str, dict[int, int]]:
    """Executions per line of each source under root/src, summed over objects."""
    runs: dict[str, dict[int, int]] = defaultdict(lambda: defaultdict(int))
    with tempfile.TemporaryDirectory() as tmp:
        # One directory an object: gcov names its output after the source's
        # base name, which core/, ops/ and module/ share (edit.cpp, table.cpp).
        for k, gcda in enumerate(sorted(build.rglob("*.gcda"))):
            (Path(tmp) / str(k)).mkdir()
            subprocess.run(["gcov", "--json-format", "-o", str(gcda.parent), str(gcda)],
                           cwd=Path(tmp) / str(k), check=True, capture_output=True)
        for out in Path(tmp).glob("*/*.gcov.json.gz"):
            for f in json.loads(gzip.decompress(out.read_bytes()))["files"]:
                name = Path(f["file"])
                name = name if name.is_absolute() else (root / name)
                try:
                    rel = str(name.resolve().relative_to(root / "src"))
                except ValueError:
                    continue
                for line in f["lines"]:
                    runs[rel][line["line_number"]] += line["count"]
    return runs


def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("build", type=Path)
    ap.add_argument("--root", type=Path, default=Path(__file__).resolve().parent.parent)
    ap.add_argument("--list", action="store_true", help="print each line never run")
    args = ap.parse_args()
    root = args.root.resolve()
    runs = counts(args.build.resolve(), root)
    total = {"sites": 0, "never": 0, "nocode": 0}
    print(f"{'file':32} {'sites':>6} {'never run':>10} {'no code':>8}")
    listing = []
    for path in sorted((root / "src").rglob("*.[ch]pp")):
        rel = str(path.relative_to(root / "src"))
        seen = runs.get(rel, {})
        lines = path.read_text().splitlines()
        never, nocode, n = [], [], 0
        for number, line in enumerate(lines, 1):
            k = sites(line)
            n += k
            if k and number not in seen:
                nocode += [number] * k
            elif k and seen[number] == 0:
                never += [number] * k
        total["sites"] += n
        total["never"] += len(never)
        total["nocode"] += len(nocode)
        if never or nocode:
            print(f"{rel:32} {n:6} {len(never):10} {len(nocode):8}")
        listing += [f"  never run  {rel}:{k}: {lines[k - 1].strip()}" for k in sorted(set(never))]
        listing += [f"  no code    {rel}:{k}: {lines[k - 1].strip()}" for k in sorted(set(nocode))]
    print(f"{'all of src/':32} {total['sites']:6} {total['never']:10} {total['nocode']:8}")
    if args.list:
        print("\n".join(listing))
    return 0


if __name__ == "__main__":
    sys.exit(main())
