"""The core built by Zig (the binary wheels) against the core built by g++.

    python bench/compilers.py [--zig-wheel W] [--gcc-wheel W] [--rounds 15]

Builds each wheel for the running interpreter when it is not given (the Zig
one with tools/build-wheels, the g++ one with `pip wheel` and CXX=g++), unpacks
both, and then runs the same workloads in fresh processes alternating between
the two builds, `--rounds` times each: parse of an ADT^A01 and of an ORU^R01
with 20 OBX, a table of eight columns over 10,000 ADT messages, and to_json
of the ORU. Each process reports the CPU time (time.process_time) of a fixed
number of iterations; the figures are the medians over the rounds and the
ratio Zig / g++, beside the target (at most 1.05). Alternating processes, each
build first in every other round, keep a busy machine's drift out of the
ratio. The workers run without site-packages
(-S), so that an editable install of the tree cannot stand in for either build.
"""

from __future__ import annotations

import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile
import zipfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
TARGET = 1.05

WORKER = r"""
import json, sys, time
sys.path.insert(0, sys.argv[1])
sys.path.insert(1, sys.argv[2])
import vellomar, corpus
assert vellomar.__file__.startswith(sys.argv[1]), vellomar.__file__
adt, oru = corpus.adt_a01(1), corpus.oru_r01(2)
only = sys.argv[3:]
want = lambda name: not only or only[0] == name
archive = "".join(m + "\r" for m in corpus.adt_series(10_000 if want("table, 10,000 ADT") else 1)).encode()
columns = {"mrn": "PID-3-1", "family": "PID-5-1", "given": "PID-5-2", "dob": "PID-7",
           "sex": "PID-8", "event": "MSH-9-2", "id": "MSH-10", "ward": "PV1-3-1"}
parsed = vellomar.parse(oru)
work = {
    "parse ADT^A01": (lambda: vellomar.parse(adt), 20_000),
    "parse ORU^R01": (lambda: vellomar.parse(oru), 10_000),
    "table, 10,000 ADT": (lambda: vellomar.table(archive, columns), 5),
    "to_json ORU^R01": (lambda: parsed.to_json(), 300),
}
out = {}
for name, (fn, n) in work.items():
    if only:
        if name != only[0]:
            continue
        n = int(only[1])
    fn()
    start = time.process_time()
    for _ in range(n):
        fn()
    out[name] = (time.process_time() - start) / max(n, 1)
print(json.dumps(out))
"""


def build(kind: str, work: Path) -> Path:
    out = work / f"{kind}-dist"
    if kind == "zig":
        subprocess.run([str(ROOT / "tools/build-wheels"), str(out)], check=True,
                       env={**os.environ, "WHEEL_PYTHONS": "%d.%d" % sys.version_info[:2]})
    else:
        subprocess.run([sys.executable, "-m", "pip", "wheel", "-q", "--no-deps", "--wheel-dir", str(out),
                        f"-Cbuild-dir={work}/gcc-build", str(ROOT)], check=True,
                       env={**os.environ, "CC": "gcc", "CXX": "g++"})
    return next(out.glob("vellomar-*.whl"))


def instructions(tree: Path, name: str, n: int, work: Path) -> int:
    """Instructions of `n` runs of one workload in a worker under callgrind."""
    out = work / "callgrind.out"
    python = os.path.realpath(sys.executable)  # valgrind cannot follow a wrapper script
    subprocess.run(["valgrind", "--tool=callgrind", f"--callgrind-out-file={out}", python, "-S", "-c",
                    WORKER, str(tree), str(ROOT / "bench"), name, str(n)],
                   check=True, capture_output=True)
    for line in out.read_text().splitlines():
        if line.startswith("totals:") or line.startswith("summary:"):
            return int(line.split()[1])
    raise RuntimeError("no totals in the callgrind output")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--zig-wheel", type=Path)
    parser.add_argument("--gcc-wheel", type=Path)
    parser.add_argument("--rounds", type=int, default=15)
    parser.add_argument("--instructions", action="store_true",
                        help="also count instructions per call with callgrind (valgrind), "
                        "the figure a busy machine does not move")
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as tmp:
        work = Path(tmp)
        wheels = {"g++": args.gcc_wheel or build("gcc", work), "zig": args.zig_wheel or build("zig", work)}
        trees = {}
        for kind, wheel in wheels.items():
            trees[kind] = work / kind
            zipfile.ZipFile(wheel).extractall(trees[kind])
            print(f"{kind}: {wheel.name}, {wheel.stat().st_size / 1e6:.2f} MB")
        times: dict[str, dict[str, list[float]]] = {kind: {} for kind in trees}
        for round_ in range(args.rounds):
            # Each build goes first in every other round, so that an effect of
            # the order (caches, frequency) falls on both alike.
            for kind, tree in sorted(trees.items(), reverse=round_ % 2 == 1):
                done = subprocess.run([sys.executable, "-S", "-c", WORKER, str(tree), str(ROOT / "bench")],
                                      check=True, capture_output=True, text=True)
                for name, seconds in json.loads(done.stdout).items():
                    times[kind].setdefault(name, []).append(seconds)
        counts: dict[str, dict[str, float]] = {kind: {} for kind in trees}
        if args.instructions:
            calls = {"parse ADT^A01": 2000, "parse ORU^R01": 1000, "table, 10,000 ADT": 2, "to_json ORU^R01": 50}
            for kind, tree in trees.items():
                for name, n in calls.items():
                    base = instructions(tree, name, 0, work)
                    counts[kind][name] = (instructions(tree, name, n, work) - base) / n
    print(f"\nCPU-time medians of {args.rounds} alternating rounds, one process each, "
          f"CPython {sys.version.split()[0]}")
    print(f"{'workload':<20} {'g++':>12} {'zig':>12} {'zig/g++':>8}  target")
    for name in times["g++"]:
        gcc, zig = statistics.median(times["g++"][name]), statistics.median(times["zig"][name])
        ratio = zig / gcc
        verdict = "met" if ratio <= TARGET else "MISSED"
        print(f"{name:<20} {gcc * 1e6:>9.2f} µs {zig * 1e6:>9.2f} µs {ratio:>8.3f}  <= {TARGET} {verdict}")
    if args.instructions:
        print("\ninstructions per call (callgrind, the worker's whole process less its run with no call)")
        for name in counts["g++"]:
            gcc, zig = counts["g++"][name], counts["zig"][name]
            print(f"{name:<20} {gcc:>12,.0f} {zig:>12,.0f} {zig / gcc:>8.3f}")


if __name__ == "__main__":
    main()
