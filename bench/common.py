"""Timing through pyperf, shared by the scripts of bench/.

    import common

    ap = common.runner(processes=10).argparser  # pyperf's defaults, on the first call
    ap.add_argument("--size", type=int)     # a script's own options, before args()
    args = common.args()                    # pyperf's options, --quick and the script's
    medians = common.medians({
        "parse": lambda: vellomar.parse(text),                  # timed as it is
        "to_json": (Message.to_json, lambda: vellomar.parse(text)),
    })
    if medians is None:                     # a pyperf worker: it has timed its case
        return
    medians["parse"]                        # seconds per call

A case is a callable timed with no argument, or a pair (fn, make): make() runs
once, untimed, in the process that times the case, and fn(make()) is timed.
`benchmarks(cases)` returns the pyperf.Benchmark objects instead of medians,
for the spread and the metadata of the machine and interpreter.

pyperf runs each case in fresh worker processes (it runs the script again
with --worker), calibrates the loop count and keeps the values of every
process. So every process must register the same cases in the same order (the
script's options reach the workers and may shape the set), and work done
before `medians` is repeated in every worker: keep it cheap, or put it in
`make`. `--quick` is a smoke run in this one process (2 runs of 2 values of
at least 10 ms); pyperf's own options (--fast, --rigorous, -p, -n, -o FILE,
...) work as well. pyperf's progress goes to stderr, leaving stdout to the
script.
"""

from __future__ import annotations

import argparse
import contextlib
import sys
import time
from itertools import repeat
from typing import Any, Callable, Union

import pyperf

Case = Union[Callable[[], Any], tuple[Callable[[Any], Any], Callable[[], Any]]]


_runner: list = []  # the runner, and the number of pyperf's own command-line actions


def runner(**defaults: Any) -> pyperf.Runner:
    """The process's one pyperf.Runner; `defaults` (processes, values, min_time) apply on the first call."""
    if not _runner:
        r = pyperf.Runner(add_cmdline_args=lambda cmd, args: cmd.extend(_own_options(args)), **defaults)
        _runner[:] = r, len(r.argparser._actions)
        r.argparser.add_argument("--quick", action="store_true", help="a smoke run in this one process")
    return _runner[0]


def _own_options(args: argparse.Namespace) -> list[str]:
    """The script's options as given, for the command line of a worker."""
    out = []
    for action in runner().argparser._actions[_runner[1]:]:
        value = getattr(args, action.dest)
        if value != action.default:
            out.append(action.option_strings[-1])
            if action.nargs != 0:
                out.extend(map(str, value) if isinstance(value, list) else [str(value)])
    return out


def args() -> argparse.Namespace:
    r = runner()
    fresh = r.args is None
    a = r.parse_args()
    if fresh and a.quick and not a.worker:
        a.in_process, a.processes, a.values, a.min_time = True, 2, 2, 0.01
    return a


def _time_func(fn: Callable[[Any], Any], make: Callable[[], Any]) -> Callable[[int], float]:
    """A loop over fn(arg) for pyperf; arg = make() on the first call, untimed."""
    held: list = []

    def time_func(loops: int) -> float:
        if not held:
            held.append(make())
        arg, t0 = held[0], time.perf_counter()
        for _ in repeat(None, loops):
            fn(arg)
        return time.perf_counter() - t0

    return time_func


def benchmarks(cases: dict[str, Case]) -> dict[str, pyperf.Benchmark] | None:
    """Times every case through pyperf; None in a worker process."""
    r, a = runner(), args()
    out = {}
    with contextlib.redirect_stdout(sys.stderr):
        for name, case in cases.items():
            bench = r.bench_time_func(name, _time_func(*case)) if isinstance(case, tuple) else r.bench_func(name, case)
            if bench is not None:
                out[name] = bench
    return None if a.worker else out


def medians(cases: dict[str, Case]) -> dict[str, float] | None:
    """Median seconds per call of every case; None in a worker process."""
    benches = benchmarks(cases)
    return None if benches is None else {name: b.median() for name, b in benches.items()}
