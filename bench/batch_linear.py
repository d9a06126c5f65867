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
back is there to take again, as in a loop of pyperf's). The medians over the
rounds are printed with the ratio 100,000 / 10,000 and its target (at most
11x; 10x is linear). CPU times, not wall times: the faults count as the
process's own work, and a busy machine's other work does not.

    python bench/batch_linear.py              # 5 rounds, 4 calls a process
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


def child(path: str, count: int, calls: int) -> None:
    import vellomar

    with open(path, encoding="utf-8", newline="") as f:
        text = f.read()
    gc.collect()
    gc.disable()
    out = []
    for _ in range(calls):
        before = resource.getrusage(resource.RUSAGE_SELF)
        result = vellomar.parse_batch(text)
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
    ap.add_argument("--child", nargs=2, help=argparse.SUPPRESS)
    args = ap.parse_args()
    if args.child:
        child(args.child[0], int(args.child[1]), args.calls)
        return 0

    runs: dict[int, list[list[dict]]] = {n: [] for n in SIZES}
    with tempfile.TemporaryDirectory() as directory:
        paths = {n: os.path.join(directory, f"batch-{n}.hl7") for n in SIZES}
        for n, path in paths.items():
            with open(path, "w", encoding="utf-8", newline="") as f:
                f.write(corpus.batch(count=n))
        for r in range(args.rounds):
            for n in (SIZES if r % 2 == 0 else SIZES[::-1]):
                command = [sys.executable, *(["-S"] if sys.flags.no_site else []), __file__,
                           "--child", paths[n], str(n), "--calls", str(args.calls)]
                line = subprocess.run(command, check=True, capture_output=True, text=True).stdout
                runs[n].append(json.loads(line))

    def median(n: int, cold: bool, key: str) -> float:
        values = [(c["user"] + c["sys"]) if key == "cpu" else c[key]
                  for calls in runs[n] for c in (calls[:1] if cold else calls[1:])]
        return statistics.median(values)

    print(f"parse_batch of corpus.batch(): {args.rounds} processes a size, {args.calls} calls each "
          f"(medians; CPU = user + system time of the call)")
    print(f"{'':6} {'messages':>9} {'CPU ms':>9} {'user ms':>9} {'sys ms':>8} {'faults':>8} {'faults/msg':>10}")
    ratios = {}
    for cold in (True, False):
        for n in SIZES:
            print(f"{'cold' if cold else 'warm':6} {n:>9,} {median(n, cold, 'cpu') * 1e3:>9.1f} "
                  f"{median(n, cold, 'user') * 1e3:>9.1f} {median(n, cold, 'sys') * 1e3:>8.1f} "
                  f"{median(n, cold, 'faults'):>8,.0f} {median(n, cold, 'faults') / n:>10.3f}")
        ratios[cold] = median(SIZES[1], cold, "cpu") / median(SIZES[0], cold, "cpu")
    for cold in (True, False):
        ratio = ratios[cold]
        print(f"{'cold' if cold else 'warm'}: 100,000 / 10,000 CPU time {ratio:.2f}x "
              f"(target <= {TARGET:g}x; 10x is linear): {'PASS' if ratio <= TARGET else 'FAIL'}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
