"""Peak memory of one partition of the Dask and Spark readers.

Writes a file of about --size-mb MB of ADT^A01 messages (the seeded messages
of corpus.py, one a line) unless --file names one, then reads it as ONE
partition (a block as large as the file) with each reader's task function,
each in a fresh process, and prints the process's peak resident memory
(ru_maxrss) over its resident memory once the modules are imported:

- ``spark``: the Spark data source's read of a partition, taking its Arrow
  record batches one at a time and dropping each (as Spark's Python worker
  does once a batch is sent);
- ``dask``: the Dask reader's task, which returns the partition's DataFrame
  (its size is printed beside);
- ``table``: ``vellomar.table`` of the same bytes, the whole table at once
  (the floor: the core's columns alone).

No Spark session or Dask cluster runs: the task functions are called
directly, which is what the executor or worker does with them.

    python bench/range_memory.py [--size-mb 512] [--file PATH] [--columns 10]
"""

from __future__ import annotations

import argparse
import json
import os
import resource
import subprocess
import sys
import tempfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))


def child(kind: str, path: str) -> dict[str, float]:
    import fsspec  # noqa: F401 - imported before the baseline is taken
    import pandas  # noqa: F401
    import pyarrow  # noqa: F401

    import vellomar
    import vellomar.dask
    import vellomar.spark
    from dask_bench import COLUMNS

    size = os.path.getsize(path)
    base = _rss_mb()
    rows = 0
    frame_mb = 0.0
    if kind == "spark":
        option = ",".join(f"{name}={p}" for name, p in COLUMNS.items())
        options = vellomar.spark._Options.parse({"path": path, "columns": option,
                                                 "blocksize": str(size + 1)})
        (partition,) = vellomar.spark._BatchReader(options).partitions()
        for batch in vellomar.spark._read(options, partition):
            rows += batch.num_rows
            del batch
    elif kind == "dask":
        import fsspec

        reader = vellomar.dask._BlockReader(fsspec.filesystem("file"), dict(COLUMNS),
                                            {"rows": None, "errors": "raise", "encoding": None,
                                             "fallback_encoding": None, "provenance": False})
        frame = reader((path, 0, size, size))
        rows = len(frame)
        frame_mb = frame.memory_usage(deep=True).sum() / 2**20
    else:
        rows = vellomar.table(Path(path), COLUMNS).num_rows
    return {"peak_mb": _peak_mb() - base, "rows": rows, "frame_mb": frame_mb}


def _rss_mb() -> float:
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") / 2**20


def _peak_mb() -> float:
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024  # KiB on Linux


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--size-mb", type=int, default=512)
    parser.add_argument("--file", type=Path)
    parser.add_argument("--kinds", default="table,spark,dask")
    parser.add_argument("--child", nargs=2, help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.child:
        print(json.dumps(child(*args.child)))
        return
    with tempfile.TemporaryDirectory() as tmp:
        path = args.file or Path(tmp) / "archive.hl7"
        if args.file is None:
            from spark_bench import write_file

            write_file(path, args.size_mb)
        size_mb = os.path.getsize(path) / 2**20
        print(f"file: {size_mb:.0f} MB in one partition; peak RSS over the RSS after imports")
        for kind in args.kinds.split(","):
            out = subprocess.run([sys.executable, __file__, "--child", kind, str(path)],
                                 check=True, capture_output=True, text=True).stdout
            got = json.loads(out.splitlines()[-1])
            extra = f", DataFrame {got['frame_mb']:.0f} MB" if kind == "dask" else ""
            print(f"{kind:6} peak {got['peak_mb']:7.0f} MB ({got['peak_mb'] / size_mb:.2f}x the file), "
                  f"{got['rows']} rows{extra}")


if __name__ == "__main__":
    main()
