#!/usr/bin/env python3
"""Benchmark of vellomar.table and the streaming reader vellomar.read.

Usage:
    python bench/table.py                 # pyperf cases, then read of a 2 GB file
    python bench/table.py --quick         # smaller: no 100,000-message file, 256 MB read
    python bench/table.py --read-gb 4     # size of the generated file for `read`
    python bench/table.py --no-read       # pyperf cases only
    python bench/table.py --targets       # only the cases of the table targets, then those

Cases, ten columns each (PID-3-1, PID-5-1, PID-5-2, PID-7, PID-8, MSH-9-2,
MSH-10, PID-11-5, NK1-2-1 and ZZZ-1, a segment no message has):

- `table` of the 10,000-message ADT batch (about 11 MB) from its path and
  from its text, and of a 100,000-message file from its path;
- vellomar's own Python loop: `parse_batch` and `msg.get` per column,
  catching the missing ones;
- python-hl7: `parse_file` and its accessors, on the first 500 messages
  (it is too slow for the whole batch; MB/s make the sizes comparable);
- a byte-scan floor: counting the MSH lines of the bytes in memory.

Every contender first has to produce the same values (python-hl7 gives "" or
KeyError where vellomar gives None). The cases run under pyperf (worker
processes, median of the values; pass pyperf's own options, e.g. --fast or
--processes 8, to change that). Then `read` streams a generated file of at
least 2 GB (written under the temporary directory and deleted afterwards) in
a fresh process that reports its throughput and the growth of its peak
resident set. Ratios are of medians measured in the one run.
"""

from __future__ import annotations

import os
import platform
import resource
import subprocess
import sys
import tempfile
import time
from importlib import metadata
from pathlib import Path
from typing import Any, Callable

import pyperf

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import corpus  # noqa: E402

import vellomar  # noqa: E402

COLUMNS = {
    "mrn": "PID-3-1", "family": "PID-5-1", "given": "PID-5-2", "dob": "PID-7", "sex": "PID-8",
    "event": "MSH-9-2", "control": "MSH-10", "zip": "PID-11-5", "kin": "NK1-2-1",
    "missing": "ZZZ-1",
}
HL7_KEYS = ["PID.F3.R1.C1", "PID.F5.R1.C1", "PID.F5.R1.C2", "PID.F7", "PID.F8", "MSH.F9.R1.C2",
            "MSH.F10", "PID.F11.R1.C5", "NK1.F2.R1.C1", "ZZZ.F1"]
HL7_MESSAGES = 500
TMP = Path(tempfile.gettempdir())


def get_loop(text: str) -> dict[str, list[str | None]]:
    out: dict[str, list[str | None]] = {name: [] for name in COLUMNS}
    for message in vellomar.parse_batch(text):
        for name, path in COLUMNS.items():
            try:
                value: str | None = message.get(path)
            except (KeyError, IndexError):
                value = None
            out[name].append(value)
    return out


def hl7_loop(text: str) -> dict[str, list[str | None]]:
    import hl7

    out: dict[str, list[str | None]] = {name: [] for name in COLUMNS}
    for batch in hl7.parse_file(text):
        for message in batch:
            for name, key in zip(COLUMNS, HL7_KEYS):
                try:
                    value: str | None = str(message[key]) or None
                except KeyError:
                    value = None
                out[name].append(value)
    return out


def time_func(fn: Callable[[], Any]) -> Callable[[int], float]:
    def run(loops: int) -> float:
        start = time.perf_counter()
        for _ in range(loops):
            fn()
        return time.perf_counter() - start

    return run


def read_child(path: str) -> None:
    """Streams `path` and prints seconds, messages and the peak RSS growth."""
    base = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    start = time.perf_counter()
    count = 0
    for _ in vellomar.read(path):
        count += 1
    seconds = time.perf_counter() - start
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    print(seconds, count, (peak - base) * 1024)


def read_case(gigabytes: float) -> dict[str, float]:
    block = corpus.batch(corpus.SEED, 10_000).encode()
    path = TMP / f"vellomar-bench-read-{os.getpid()}.hl7"
    try:
        with open(path, "wb") as file:
            while file.tell() < gigabytes * 1e9:
                file.write(block)
        size = path.stat().st_size
        # Warm the page cache (and measure the plain read floor) first.
        start = time.perf_counter()
        with open(path, "rb", buffering=0) as file:
            while file.read(1 << 20):
                pass
        floor = size / (time.perf_counter() - start) / 1e6
        done = subprocess.run([sys.executable, __file__, "--read-child", str(path)],
                              check=True, capture_output=True, text=True)
        seconds, count, growth = (float(x) for x in done.stdout.split())
    finally:
        path.unlink(missing_ok=True)
    return {"bytes": size, "messages": count, "mb_s": size / seconds / 1e6,
            "rss_growth_mb": growth / 2**20, "read_floor_mb_s": floor}


def main() -> None:
    if sys.argv[1:2] == ["--read-child"]:
        read_child(sys.argv[2])
        return
    def worker_args(cmd: list[str], args: Any) -> None:
        # The workers must run the same list of cases as the main process.
        cmd.extend(flag for flag, on in (("--quick", args.quick), ("--targets", args.targets)) if on)

    runner = pyperf.Runner(processes=4, values=3, warmups=1, add_cmdline_args=worker_args)
    runner.argparser.add_argument("--quick", action="store_true")
    runner.argparser.add_argument("--no-read", action="store_true")
    runner.argparser.add_argument("--read-gb", type=float, default=2.0)
    runner.argparser.add_argument("--targets", action="store_true",
                                  help="only table from text and from a path and the parse_batch + get loop "
                                       "(no python-hl7, 100,000-message file or read), then the targets")
    args = runner.parse_args()
    worker = args.worker

    text = corpus.batch(corpus.SEED, 10_000)
    data = text.encode()
    path = TMP / "vellomar-bench-table-10k.hl7"
    if not worker or not path.exists():
        path.write_bytes(data)
    subset = "\r".join(m.raw for m in vellomar.parse_batch(text)[:HL7_MESSAGES]) + "\r"
    big = TMP / "vellomar-bench-table-100k.hl7"
    if not (args.quick or args.targets) and (not worker or not big.exists()):
        big.write_bytes(corpus.batch(corpus.SEED + 1, 100_000).encode())

    if not worker:
        expected = vellomar.table(path, COLUMNS).to_pydict()
        assert vellomar.table(text, COLUMNS).to_pydict() == expected
        assert get_loop(text) == expected, "the get loop disagrees"
        assert args.targets or hl7_loop(subset) == vellomar.table(subset, COLUMNS).to_pydict(), "python-hl7"

    sizes: dict[str, int] = {}
    results: dict[str, Any] = {}

    def case(name: str, size: int, fn: Callable[[], Any]) -> None:
        sizes[name] = size
        results[name] = runner.bench_time_func(name, time_func(fn))

    case("table path 10k", len(data), lambda: vellomar.table(path, COLUMNS))
    case("table text 10k", len(data), lambda: vellomar.table(text, COLUMNS))
    if not (args.quick or args.targets):
        case("table path 100k", big.stat().st_size, lambda: vellomar.table(big, COLUMNS))
    case("parse_batch + get 10k", len(data), lambda: get_loop(text))
    if not args.targets:
        case("python-hl7 500", len(subset.encode()), lambda: hl7_loop(subset))
    case("floor: count MSH lines", len(data), lambda: data.count(b"\rMSH"))
    if worker:
        return

    print()
    print(f"Python {platform.python_version()} on {platform.machine()}, "
          f"{os.cpu_count()} CPUs; python-hl7 {metadata.version('hl7')}, "
          f"pyperf {metadata.version('pyperf')}")
    mbs = {n: sizes[n] / b.median() / 1e6 for n, b in results.items() if b is not None}
    for name, value in mbs.items():
        print(f"{name:28} {value:10.1f} MB/s  ({results[name].median() * 1e3:.2f} ms)")
    table_mbs, text_mbs = mbs["table path 10k"], mbs["table text 10k"]
    loop_mbs = mbs["parse_batch + get 10k"]
    targets = [  # what, measured, unit, goal
        ("table from text, 10k ADT, ten columns", text_mbs, " MB/s", 2000),
        ("table from a path, 10k ADT, ten columns", table_mbs, " MB/s", 500),
        ("table from text / (parse_batch + get)", text_mbs / loop_mbs, "x", 5),
        ("table from a path / (parse_batch + get)", table_mbs / loop_mbs, "x", 5),
    ]
    if "python-hl7 500" in mbs:
        targets.append(("table from a path / python-hl7", table_mbs / mbs["python-hl7 500"], "x", 1000))
    print(f"\n{'target':44} {'measured':>12} {'goal':>12}")
    for what, value, unit, goal in targets:
        print(f"{what:44} {f'{value:.1f}{unit}':>12} {f'>= {goal}{unit}':>12}  {'PASS' if value >= goal else 'FAIL'}")
    if not (args.no_read or args.targets):
        gb = min(args.read_gb, 0.25) if args.quick else args.read_gb
        result = read_case(gb)
        print(f"read {result['bytes'] / 1e9:.2f} GB, {result['messages']:.0f} messages: "
              f"{result['mb_s']:.0f} MB/s (target >= 500), peak RSS growth "
              f"{result['rss_growth_mb']:.1f} MB (target <= 64); plain read of the file: "
              f"{result['read_floor_mb_s']:.0f} MB/s")
    path.unlink(missing_ok=True)
    big.unlink(missing_ok=True)


if __name__ == "__main__":
    main()
