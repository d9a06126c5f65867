#!/usr/bin/env python3
"""Editing five fields of a message and getting its text back.

    python bench/edit.py            # pyperf's default run (a few minutes)
    python bench/edit.py --fast     # a shorter one
    python bench/edit.py -o edit.json

The message is corpus.py's ADT^A01 of 1,112 bytes, parsed once. Three cases:

- vellomar edit: `vellomar.edit(msg, changes).raw`, five changes;
- python-hl7: `msg.assign_field(...)` for the same five elements, then
  `str(msg)` (python-hl7 changes its message in place);
- vellomar parse: `vellomar.parse(text)` of the same message, the yardstick.

Before timing, the script checks that both editors give messages with the
same values at the five paths. pyperf runs each case in its own worker
processes; the ratios printed at the end are of the medians of this one run.
Targets: edit at least 200x faster than python-hl7, at most 3x one parse.
"""

from __future__ import annotations

import sys
import time
from pathlib import Path
from typing import Any, Callable

import hl7
import pyperf

import vellomar

sys.path.insert(0, str(Path(__file__).resolve().parent))
import corpus  # noqa: E402

TEXT = corpus.adt_a01(corpus.SEED)
# path: (value, python-hl7's assign_field position: segment, field, repetition,
# component); values without delimiters, so that escaping does not differ.
CHANGES = {
    "MSH-5": ("ARCHIVE", ("MSH", 5, None, None)),
    "PID-5-1": ("DOE", ("PID", 5, 1, 1)),
    "PID-7": ("19800101", ("PID", 7, None, None)),
    "PID-11-3": ("SHELBYVILLE", ("PID", 11, 1, 3)),
    "PV1-3-1": ("5WEST", ("PV1", 3, 1, 1)),
}
VALUES = {path: value for path, (value, _) in CHANGES.items()}


def edit_vellomar(msg: vellomar.Message) -> str:
    return vellomar.edit(msg, VALUES).raw


def edit_hl7(msg: Any) -> str:
    for value, (segment, field, repetition, component) in CHANGES.values():
        msg.assign_field(value, segment, 1, field, repetition, component)
    return str(msg)


def check() -> None:
    ours = vellomar.parse(edit_vellomar(vellomar.parse(TEXT)))
    theirs = vellomar.parse(edit_hl7(hl7.parse(TEXT)))
    for path, value in VALUES.items():
        if not ours[path] == theirs[path] == value:
            sys.exit(f"the editors disagree at {path}: {ours[path]!r} vs {theirs[path]!r}")


def timer(function: Callable[[Any], Any], argument: Any) -> Callable[[int], float]:
    def run(loops: int) -> float:
        start = time.perf_counter()
        for _ in range(loops):
            function(argument)
        return time.perf_counter() - start

    return run


def main() -> None:
    runner = pyperf.Runner()
    runner.metadata["message_bytes"] = str(len(TEXT.encode()))
    runner.metadata["hl7_version"] = hl7.__version__
    args = runner.parse_args()
    if not args.worker:
        check()
    cases = {
        "vellomar edit": timer(edit_vellomar, vellomar.parse(TEXT)),
        "python-hl7 edit": timer(edit_hl7, hl7.parse(TEXT)),
        "vellomar parse": timer(vellomar.parse, TEXT),
    }
    results = {name: runner.bench_time_func(name, run) for name, run in cases.items()}
    if args.worker or any(result is None for result in results.values()):
        return
    median = {name: result.median() for name, result in results.items()}
    ours = median["vellomar edit"]
    print()
    print(f"edit vs python-hl7: {median['python-hl7 edit'] / ours:,.0f}x faster (target >= 200x)")
    print(f"edit vs one parse:  {ours / median['vellomar parse']:.2f}x the time (target <= 3x)")


if __name__ == "__main__":
    main()
