"""Running time and peak memory of the command line on large generated files.

Each file repeats examples/adt_a01.hl7 with distinct control IDs (MSH-10),
segments ending in CR only, up to the given size. For each size the command
`vellomar get MSH-10 PID-5-1 -- FILE` runs a few times in a fresh process
with its output discarded; the median time, the throughput and the child's
peak resident memory are printed. Linear reading shows as a constant MB/s.
For scale, the floor is the same work in one process without the command
line: the whole file read, decoded, cut by `parse_batch` and looked up
(memory grows with the file there), run in a child process of its own so
that it leaves the parent small. The files are written to a temporary
folder and deleted afterwards.

    python bench/cli.py [--sizes 20,50,100,200] [--repeats 3] [--dir /tmp]
"""

import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

EXAMPLE = Path(__file__).resolve().parents[1] / "examples" / "adt_a01.hl7"
COMMAND = [sys.executable, "-m", "vellomar", "get", "MSH-10", "PID-5-1", "--"]
MB = 1_000_000


def write_file(path, size):
    """Writes about `size` bytes of messages to `path`; returns the message count."""
    text = EXAMPLE.read_text().replace("\r\n", "\r").replace("\n", "\r").strip()
    control_id = "MSG00017"
    assert text.count(control_id) == 1
    head, tail = text.split(control_id)
    written = count = 0
    with open(path, "w", newline="") as file:
        while written < size:
            block = "".join(f"{head}C{count + n:09d}{tail}\r" for n in range(1000))
            file.write(block)
            written += len(block)
            count += 1000
    return count


def run_once(path):
    """Seconds and peak resident memory (bytes) of one run of the command."""
    with open(os.devnull, "wb") as sink:
        start = time.perf_counter()
        child = subprocess.Popen([*COMMAND, str(path)], stdout=sink)
        _, status, usage = os.wait4(child.pid, 0)
        seconds = time.perf_counter() - start
    child.returncode = os.waitstatus_to_exitcode(status)
    if child.returncode != 0:
        raise SystemExit(f"{' '.join(COMMAND)} {path} exited with {child.returncode}")
    return seconds, usage.ru_maxrss * 1024


def floor(path):
    """Seconds of the same lookups on `parse_batch` of the whole file."""
    import vellomar

    start = time.perf_counter()
    for message in vellomar.parse_batch(Path(path).read_bytes().decode()):
        message["MSH-10"], message["PID-5-1"]
    return time.perf_counter() - start


def floor_in_child(path):
    result = subprocess.run(
        [sys.executable, __file__, "--floor-of", str(path)], capture_output=True, text=True, check=True
    )
    return float(result.stdout)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sizes", default="20,50,100,200", help="file sizes in MB")
    parser.add_argument("--repeats", type=int, default=3)
    parser.add_argument("--dir", default=tempfile.gettempdir())
    parser.add_argument("--floor-of", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.floor_of:
        print(floor(args.floor_of))
        return
    print(f"{'size':>8} {'messages':>9} {'median s':>9} {'MB/s':>7} {'peak RSS':>9} {'floor s':>8}")
    with tempfile.TemporaryDirectory(dir=args.dir) as folder:
        for size in (int(s) for s in args.sizes.split(",")):
            path = Path(folder) / f"big-{size}.hl7"
            count = write_file(path, size * MB)
            actual = path.stat().st_size
            runs = [run_once(path) for _ in range(args.repeats)]
            floor_seconds = statistics.median(floor_in_child(path) for _ in range(args.repeats))
            path.unlink()
            seconds = statistics.median(s for s, _ in runs)
            peak = max(m for _, m in runs)
            print(
                f"{actual / MB:6.0f}MB {count:9d} {seconds:9.2f} {actual / MB / seconds:7.0f}"
                f" {peak / MB:7.0f}MB {floor_seconds:8.2f}",
                flush=True,
            )


if __name__ == "__main__":
    main()
