"""vellomar.dask.read_hl7 on one and on two worker processes.

Writes a file of about 1 GB of ADT^A01 messages (the seeded messages of
corpus.py, repeated) unless --file names one, then times a full pass over a
10-column table of it on a distributed.LocalCluster of 1 and of 2 worker
processes (one thread each, loopback only): ``ddf.count().compute()``, which
builds every partition and sends back only the counts. One process reading
the same file with ``vellomar.table`` is the reference. Medians of --repeat
runs after one warm-up run; the ratio two workers / one worker is printed
beside its target (at least 1.6 on 2 cores).

    python bench/dask_bench.py [--size-mb 1024] [--file PATH] [--repeat 3]
"""

from __future__ import annotations

import argparse
import os
import statistics
import sys
import tempfile
import time
from pathlib import Path

import distributed
import pyarrow

import vellomar
import vellomar.dask

sys.path.insert(0, str(Path(__file__).resolve().parent))
import corpus  # noqa: E402

COLUMNS = {
    "control": "MSH-10", "event": "MSH-9-2", "sender": "MSH-3", "mrn": "PID-3-1",
    "family": "PID-5-1", "given": "PID-5-2", "birth": "PID-7", "sex": "PID-8",
    "city": "PID-11-3", "doctor": "PV1-7-2",
}


def write_file(path: Path, size_mb: int) -> None:
    chunk = corpus.batch(count=10_000).encode()
    with open(path, "wb") as out:
        while out.tell() < size_mb << 20:
            out.write(chunk)


def timed(func, repeat: int) -> float:
    func()  # warm-up: imports in the workers, the file in the page cache
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        func()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def worker_cpu(client: distributed.Client) -> float:
    """CPU seconds (user and system) that the worker processes have used."""
    return sum(t[0] + t[1] for t in client.run(lambda: tuple(os.times())).values())


def on_cluster(path: Path, workers: int, repeat: int, blocksize: str) -> tuple[float, float, int]:
    """Median seconds, the cores that the workers kept busy on average (CPU
    time over wall time: below the worker count when the machine is shared),
    and the row count."""
    with distributed.LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                                  host="127.0.0.1", dashboard_address=":0") as cluster, \
            distributed.Client(cluster) as client:
        ddf = vellomar.dask.read_hl7(str(path), COLUMNS, blocksize=blocksize)
        counts = []
        busy = []

        def run() -> None:
            cpu, start = worker_cpu(client), time.perf_counter()
            counts.append(int(client.compute(ddf.count()).result()["control"]))
            busy.append((worker_cpu(client) - cpu) / (time.perf_counter() - start))

        seconds = timed(run, repeat)
        return seconds, statistics.median(busy), counts[-1]


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--size-mb", type=int, default=1024)
    parser.add_argument("--file", type=Path)
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--blocksize", default="64MiB")
    args = parser.parse_args()

    with tempfile.TemporaryDirectory() as tmp:
        path = args.file or Path(tmp) / "archive.hl7"
        if not path.exists():
            write_file(path, args.size_mb)
        mb = os.path.getsize(path) / 1e6
        print(f"file: {mb:,.0f} MB, blocksize {args.blocksize}, {os.cpu_count()} cores, "
              f"Python {sys.version.split()[0]}, median of {args.repeat}")
        print("load average (1, 5, 15 min) at the start: %.1f %.1f %.1f" % os.getloadavg())

        rows = []
        single = timed(lambda: rows.append(pyarrow.table(vellomar.table(path, COLUMNS)).num_rows),
                       args.repeat)
        print(f"table, one process, no Dask: {single:6.2f} s  {mb / single:7.1f} MB/s  "
              f"{rows[-1]:,} rows")
        results = {}
        for workers in (1, 2):
            seconds, busy, count = on_cluster(path, workers, args.repeat, args.blocksize)
            assert count == rows[-1], (count, rows[-1])
            results[workers] = seconds
            print(f"read_hl7, {workers} worker(s):      {seconds:6.2f} s  {mb / seconds:7.1f} MB/s  "
                  f"cores busy {busy:.2f}")
        print(f"two workers / one worker: {results[1] / results[2]:.2f}x (target >= 1.6x)")
        print("load average (1, 5, 15 min) at the end: %.1f %.1f %.1f" % os.getloadavg())


if __name__ == "__main__":
    main()
