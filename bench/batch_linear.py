"""Whether parse_batch grows linearly: 100,000 messages against 10,000.

Each size runs in fresh processes, the sizes alternating, for several rounds.
A process reads the batch of corpus.py (FHS/BHS, ADT^A01 messages), written
to a file beforehand, turns the collector off and calls parse_batch a few
times, dropping each result before the next call. It counts, for each call alone, the CPU time (user and
system, from getrusage) and the minor page faults (first touches of fresh
memory, which the system time mostly is). The first call of a process is
"cold" (its memory comes fresh from the system, as when a program reads one
large batch: a batch built in the process instead would leave the memory of
its pieces free for the smaller batch's records); the later ones are "warm" (the memory the last result gave
back is there to take again, as in a loop of pyperf's); "swept" calls are
warm ones each after writing a buffer larger than the processor's caches
(--sweep-mb), so that the smaller batch does not find its records and text
still cached from the call before, which the larger one cannot. The medians
over the rounds are printed with the ratio 100,000 / 10,000 and its target (at most
11x; 10x is linear). CPU times, not wall times: the faults count as the
process's own work, and a busy machine's other work does not. The last line
is the cold floor: fresh processes that only take as much fresh memory as
the larger batch's first call faulted in, in pieces of a message's share,
each written (what any reader of a batch into memory of its own pays).

    python bench/batch_linear.py              # 5 rounds, 4 calls a process, 3 swept
    python bench/batch_linear.py --rounds 9 --calls 6
"""

from __future__ import annotations

import argparse
import gc
import json
import os
import resource
import statistics
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import corpus  # noqa: E402

SIZES = (10_000, 100_000)
TARGET = 11.0


def child(path: str, count: int, calls: int, sweep_mb: int, floor: int = 0) -> None:
    import vellomar

    def parse_batch(text: str) -> list:
        if floor:  # the floor: as much fresh memory, in pieces of a message's share, each touched
            return [bytes(floor) for _ in range(count)]
        return vellomar.parse_batch(text)

    with open(path, encoding="utf-8", newline="") as f:
        text = f.read()
    sweep = bytearray(sweep_mb << 20)
    gc.collect()
    gc.disable()
    out = []
    for call in range(2 * calls - 1 if sweep else calls):
        if call >= calls:
            sweep[::64] = bytes(len(sweep) // 64)  # a write to every cache line
        before = resource.getrusage(resource.RUSAGE_SELF)
        result = parse_batch(text)
        after = resource.getrusage(resource.RUSAGE_SELF)
        assert len(result) == count
        del result
        out.append({"user": after.ru_utime - before.ru_utime, "sys": after.ru_stime - before.ru_stime,
                    "faults": after.ru_minflt - before.ru_minflt})
    print(json.dumps(out))


def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--rounds", type=int, default=5, help="fresh processes per size (default 5)")
    ap.add_argument("--calls", type=int, default=4, help="calls per process, the first cold (default 4)")
    ap.add_argument("--sweep-mb", type=int, default=512,
                    help="the buffer written before each swept call, in MiB (default 512; 0: no swept calls)")
    ap.add_argument("--child", nargs=2, help=argparse.SUPPRESS)
    ap.add_argument("--floor", type=int, default=0, help=argparse.SUPPRESS)
    args = ap.parse_args()
    if args.child:
        child(args.child[0], int(args.child[1]), args.calls, args.sweep_mb, args.floor)
        return 0

    with tempfile.TemporaryDirectory() as directory:
        paths = {n: os.path.join(directory, f"batch-{n}.hl7") for n in SIZES}
        for n, path in paths.items():
            with open(path, "w", encoding="utf-8", newline="") as f:
                f.write(corpus.batch(count=n))
        def rounds(floor: int = 0) -> dict[int, list[list[dict]]]:
            runs: dict[int, list[list[dict]]] = {n: [] for n in SIZES}
            for r in range(args.rounds):
                for n in (SIZES if r % 2 == 0 else SIZES[::-1]):
                    command = [sys.executable, *(["-S"] if sys.flags.no_site else []), __file__,
                               "--child", paths[n], str(n), "--calls", str(args.calls), "--sweep-mb",
                               str(args.sweep_mb), "--floor", str(floor)]
                    line = subprocess.run(command, check=True, capture_output=True, text=True).stdout
                    runs[n].append(json.loads(line))
            return runs

        runs = rounds()
        # The cold floor: a fresh process touching as much fresh memory as the
        # larger batch's first call faulted in, a message's share at a time.
        share = int(statistics.median(c[0]["faults"] for c in runs[SIZES[1]]) * 4096 / SIZES[1])
        floor_runs = rounds(share)

    kinds = {"cold": slice(0, 1), "warm": slice(1, args.calls), "swept": slice(args.calls, None)}
    if not args.sweep_mb:
        del kinds["swept"]

    def median(n: int, kind: str, key: str, runs: dict[int, list[list[dict]]] = runs) -> float:
        values = [(c["user"] + c["sys"]) if key == "cpu" else c[key] for calls in runs[n] for c in calls[kinds[kind]]]
        return statistics.median(values)

    swept = f", then {args.calls - 1} swept" if args.sweep_mb else ""
    print(f"parse_batch of corpus.batch(): {args.rounds} processes a size, {args.calls} calls each{swept} "
          f"(medians; CPU = user + system time of the call)")
    print(f"{'':6} {'messages':>9} {'CPU ms':>9} {'user ms':>9} {'sys ms':>8} {'faults':>8} {'faults/msg':>10}")
    ratios = {}
    for kind in kinds:
        for n in SIZES:
            print(f"{kind:6} {n:>9,} {median(n, kind, 'cpu') * 1e3:>9.1f} "
                  f"{median(n, kind, 'user') * 1e3:>9.1f} {median(n, kind, 'sys') * 1e3:>8.1f} "
                  f"{median(n, kind, 'faults'):>8,.0f} {median(n, kind, 'faults') / n:>10.3f}")
        ratios[kind] = median(SIZES[1], kind, "cpu") / median(SIZES[0], kind, "cpu")
    for kind, ratio in ratios.items():
        print(f"{kind}: 100,000 / 10,000 CPU time {ratio:.2f}x "
              f"(target <= {TARGET:g}x; 10x is linear): {'PASS' if ratio <= TARGET else 'FAIL'}")
    cold = [median(n, "cold", "cpu", floor_runs) for n in SIZES]
    faults = [median(n, "cold", "faults", floor_runs) for n in SIZES]
    print(f"floor, cold: {share:,} fresh bytes a message touched: {cold[0] * 1e3:.1f} ms, {cold[1] * 1e3:.1f} ms, "
          f"{faults[0]:,.0f} and {faults[1]:,.0f} faults: {cold[1] / cold[0]:.2f}x")
    return 0


if __name__ == "__main__":
    sys.exit(main())
