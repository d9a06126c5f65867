#!/usr/bin/env python3
"""Mutation score of the test suite over the Python package: small faults planted
in src/vellomar/*.py (a comparison, a boolean operator, a constant, an
off-by-one, a negation dropped), one at a time, each run against the tests.

    python tools/pymutants.py --count 40 --seed 3 --list

Run it from the project root with the interpreter whose environment has the
project installed. The tree is copied to a temporary directory with the built
extension beside the package sources, and the tests run there with the copy
first on the path (the environment's site-packages are reached through a
fresh virtual environment, without the editable install's import hook), so
the checkout is never changed. A mutant is killed when the tests fail or hang,
survives when they pass; one that does not compile is not counted.
"""

from __future__ import annotations

import argparse
import glob
import io
import os
import random
import shutil
import site
import subprocess
import sys
import tempfile
import tokenize
from pathlib import Path

SWAPS = {
    "<": "<=", "<=": "<", ">": ">=", ">=": ">", "==": "!=", "!=": "==", "+": "-", "-": "+",
    "and": "or", "or": "and", "True": "False", "False": "True", "is": "is not", "in": "not in",
    "not": "", "0": "1", "1": "0",
}


def sites(root: Path, files: list[str]) -> list[tuple[str, int, int, str, str]]:
    found = []
    for name in files:
        text = (root / name).read_text()
        for tok in tokenize.generate_tokens(io.StringIO(text).readline):
            if tok.type in (tokenize.OP, tokenize.NAME, tokenize.NUMBER) and tok.string in SWAPS:
                found.append((name, tok.start[0], tok.start[1], tok.string, SWAPS[tok.string]))
    return found


def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--count", type=int, default=40)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--files", action="append", help="glob under the root (default: src/vellomar/*.py)")
    ap.add_argument("--pytest-args", default="-x -q -p no:cacheprovider")
    ap.add_argument("--timeout", type=int, default=600)
    ap.add_argument("--list", action="store_true")
    args = ap.parse_args()

    root = Path.cwd()
    files = sorted({str(Path(p).relative_to(root)) for pattern in args.files or ["src/vellomar/*.py"]
                    for p in glob.glob(str(root / pattern))})
    chosen = sites(root, files)
    random.Random(args.seed).shuffle(chosen)
    chosen = chosen[: args.count]

    work = Path(tempfile.mkdtemp(prefix="pymutants-"))
    copy = work / "tree"
    shutil.copytree(root, copy, ignore=shutil.ignore_patterns(".git", "build", "__pycache__"))
    # The tests read the sample files and HL7's tables beside the project
    # (and skip without them): the copy sees the same ones.
    if (root.parent / "shared").is_dir():
        (work / "shared").symlink_to((root.parent / "shared").resolve())
    import vellomar._core as core  # the built extension, placed beside the copied sources

    shutil.copy(core.__file__, copy / "src" / "vellomar")
    venv = work / "venv"
    subprocess.run([sys.executable, "-m", "venv", "--without-pip", str(venv)], check=True)
    purelib = next(venv.glob("lib/python*/site-packages"))
    (purelib / "environment.pth").write_text("\n".join(site.getsitepackages()) + "\n")
    # The environment's commands (peers' tools the tests run), and the project's
    # own command on the copy.
    for command in Path(sys.executable).parent.iterdir():
        if not (venv / "bin" / command.name).exists():
            (venv / "bin" / command.name).symlink_to(command)
    own = venv / "bin" / "vellomar"
    own.unlink()
    own.write_text(f"#!{venv / 'bin' / 'python'}\nimport sys\nfrom vellomar.cli import main\nsys.exit(main())\n")
    own.chmod(0o755)
    env = dict(os.environ, PYTHONPATH=str(copy / "src"), PYTHONDONTWRITEBYTECODE="1")
    tests = [str(venv / "bin" / "python"), "-m", "pytest", *args.pytest_args.split()]

    def run() -> int:
        try:
            return subprocess.run(tests, cwd=copy, env=env, timeout=args.timeout,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode
        except subprocess.TimeoutExpired:
            return -1

    if run() != 0:
        print("pymutants: the suite fails without mutants")
        return 2
    killed = survived = unbuilt = 0
    for name, line, col, old, new in chosen:
        path = copy / name
        original = path.read_text()
        lines = original.splitlines(keepends=True)
        lines[line - 1] = lines[line - 1][:col] + new + lines[line - 1][col + len(old):]
        mutated = "".join(lines)
        try:
            compile(mutated, name, "exec")
        except SyntaxError:
            unbuilt += 1
            outcome = "unbuilt"
        else:
            path.write_text(mutated)
            try:
                rc = run()
            finally:
                path.write_text(original)
            killed, survived = killed + (rc != 0), survived + (rc == 0)
            outcome = "SURVIVED" if rc == 0 else "killed" if rc > 0 else "killed (timeout)"
        if args.list:
            print(f"{outcome:16} {name}:{line}:{col}  '{old}' -> '{new}'", flush=True)
    shutil.rmtree(work, ignore_errors=True)
    built = killed + survived
    print(f"pymutants: {killed} killed of {built} built ({100 * killed / max(built, 1):.0f}%), "
          f"{unbuilt} did not compile; seed {args.seed}, {len(chosen)} chosen")
    return 0


if __name__ == "__main__":
    sys.exit(main())
