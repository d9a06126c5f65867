"""The Spark data source hl7 against Spark's own text reader and a python-hl7 UDF.

Writes about 1 GB of ADT^A01 (the seeded messages of corpus.py, repeated,
one message a line) into a temporary directory unless --file names one, and
reads 10 columns of it with every contender, after checking on a sample that
all of them give the same values:

- the data source on local[1] and on local[2] (``write.format("noop")``,
  which builds every row and keeps none), medians of --repeat runs after a
  warm-up run;
- Spark's text reader and ``split()`` in SQL, on local[2];
- a pandas UDF calling python-hl7 on each message, timed on a --sample of
  messages on local[2] and extrapolated to the whole file;
- a streaming query following a store file (MLLP frames and a line feed
  each, as the listener writes them) that a writer thread appends to at
  --rate messages a second for --seconds seconds: the messages per second
  the query read, and how far behind it was when the writer stopped.

    python bench/spark_bench.py [--size-mb 1024] [--file PATH] [--repeat 3]
"""

from __future__ import annotations

import argparse
import os
import statistics
import sys
import tempfile
import threading
import warnings
import time
from pathlib import Path

import pandas as pd  # the UDF's type hints are resolved in this module
import psutil
import pyarrow

import vellomar
import vellomar.spark

sys.path.insert(0, str(Path(__file__).resolve().parent))
import corpus  # noqa: E402
# The Dask benchmark's 10 columns and timing, so that the figures compare.
from dask_bench import COLUMNS, timed  # noqa: E402

OPTION = ",".join(f"{name}={path}" for name, path in COLUMNS.items())

# The same columns with Spark's own functions on the text of a message (one
# message a line, segments split at CR). Fields count from 1 after the
# segment name; in MSH, MSH-1 is the separator itself, so MSH-n is item n.
SPLIT_SQL = """
with m as (select split(value, '\\r') as segs from archive),
s as (select split(get(segs, 0), '\\\\|') as msh,
             split(get(filter(segs, x -> startswith(x, 'PID|')), 0), '\\\\|') as pid,
             split(get(filter(segs, x -> startswith(x, 'PV1|')), 0), '\\\\|') as pv1 from m)
select get(msh, 9) as control, get(split(get(msh, 8), '\\\\^'), 1) as event, get(msh, 2) as sender,
       get(split(get(pid, 3), '\\\\^'), 0) as mrn, get(split(get(pid, 5), '\\\\^'), 0) as family,
       get(split(get(pid, 5), '\\\\^'), 1) as given, get(pid, 7) as birth, get(pid, 8) as sex,
       get(split(get(pid, 11), '\\\\^'), 2) as city, get(split(get(pv1, 7), '\\\\^'), 1) as doctor
from s
"""


def write_file(path: Path, size_mb: int) -> None:
    chunk = "".join(text + "\n" for text in corpus.adt_series(10_000)).encode()
    with open(path, "wb") as out:
        while out.tell() < size_mb << 20:
            out.write(chunk)


def cpu_seconds() -> float:
    """CPU seconds (user and system) of this process, the JVM and the
    Python workers: over wall time, the cores a run kept busy, below the
    thread count when the machine is shared."""
    me = psutil.Process()
    total = 0.0
    for process in [me, *me.children(recursive=True)]:
        try:
            times = process.cpu_times()
        except psutil.NoSuchProcess:
            continue
        # With the children each one has waited for: Python workers come and go.
        total += times.user + times.system + times.children_user + times.children_system
    return total


def session(cores: int):
    from pyspark.sql import SparkSession

    os.environ["PYSPARK_PYTHON"] = sys.executable
    spark = (SparkSession.builder.master(f"local[{cores}]").appName(f"spark-bench-{cores}")
             .config("spark.ui.enabled", "false").config("spark.driver.host", "127.0.0.1")
             .config("spark.driver.bindAddress", "127.0.0.1").config("spark.driver.memory", "2g")
             .config("spark.ui.showConsoleProgress", "false")
             .getOrCreate())
    spark.sparkContext.setLogLevel("ERROR")
    vellomar.spark.register(spark)
    return spark


def hl7_udf():
    import hl7
    from pyspark.sql.functions import pandas_udf

    schema = ", ".join(f"{name} string" for name in COLUMNS)
    # python-hl7's keys: "PID-5-2" is "PID.F5.R1.C2".
    keys = []
    for path in COLUMNS.values():
        segment, field, *component = path.split("-")
        keys.append(f"{segment}.F{field}" + "".join(f".R1.C{c}" for c in component))

    def value(msg, path):
        try:
            return str(msg[path]) or None
        except (KeyError, IndexError):
            return None

    @pandas_udf(schema)
    def extract(texts: pd.Series) -> pd.DataFrame:
        rows = []
        for text in texts:
            msg = hl7.parse(text)
            rows.append([value(msg, key) for key in keys])
        return pd.DataFrame(rows, columns=list(COLUMNS))

    return extract


def text_df(spark, path: Path, limit: int | None = None):
    df = spark.read.option("lineSep", "\n").text(str(path))
    return df.limit(limit) if limit else df


def check(spark, path: Path, sample: int) -> None:
    """Every contender gives the values of vellomar.table on the first messages."""
    with open(path, "rb") as file:
        head = b"".join(file.readline() for _ in range(sample))
    expected = [tuple(r.values()) for r in vellomar.table(head, COLUMNS).to_pylist()]
    source = spark.read.format("hl7").option("columns", OPTION).option("mode", "FAILFAST").load(str(path))
    assert [tuple(r) for r in source.limit(sample).collect()] == expected
    text_df(spark, path, sample).createOrReplaceTempView("archive")
    assert [tuple(r) for r in spark.sql(SPLIT_SQL).collect()] == expected
    extract = hl7_udf()
    got = text_df(spark, path, sample).select(extract("value").alias("t")).select("t.*").collect()
    assert [tuple(r) for r in got] == expected


def stream(spark, directory: Path, rate: int, seconds: float) -> tuple[float, float, int]:
    """(messages a second the query read, seconds it took to catch up after
    the writer stopped, messages written)."""
    store = directory / "messages.hl7"
    frames = [f"\x0b{text}\x1c\r\n".encode() for text in corpus.adt_series(2_000)]
    store.write_bytes(b"")
    tick, written = 0.05, [0]
    stop = threading.Event()

    def writer() -> None:
        # Appends in the store's format, paced to `rate`: the listener
        # itself is bounded by its fsync, so the file is written directly.
        start = time.perf_counter()
        with open(store, "ab") as out:
            while not stop.is_set() and time.perf_counter() - start < seconds:
                due = int((time.perf_counter() - start + tick) * rate)
                chunk = [frames[i % len(frames)] for i in range(written[0], due)]
                out.write(b"".join(chunk))
                out.flush()
                written[0] = due
                time.sleep(tick)

    query = (spark.readStream.format("hl7").option("columns", OPTION).load(str(store))
             .writeStream.format("noop").trigger(processingTime="1 second")
             .option("checkpointLocation", str(directory / "checkpoint")).start())
    thread = threading.Thread(target=writer)
    start = time.perf_counter()
    thread.start()
    thread.join()
    stopped = time.perf_counter()
    deadline = stopped + 120
    while time.perf_counter() < deadline:
        done = sum(p["numInputRows"] for p in query.recentProgress)
        if done >= written[0]:
            break
        time.sleep(0.2)
    caught_up = time.perf_counter()
    done = sum(p["numInputRows"] for p in query.recentProgress)
    query.stop()
    assert done == written[0], (done, written[0])
    return done / (caught_up - start), caught_up - stopped, written[0]


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--size-mb", type=int, default=1024)
    parser.add_argument("--file", type=Path)
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--sample", type=int, default=5_000)
    parser.add_argument("--rate", type=int, default=20_000)
    parser.add_argument("--seconds", type=float, default=30)
    args = parser.parse_args()

    import hl7
    import pyspark

    warnings.filterwarnings("ignore", "PySpark does not yet fully support pandas", FutureWarning)
    with tempfile.TemporaryDirectory() as tmp:
        path = args.file or Path(tmp) / "archive.hl7"
        if not path.exists():
            write_file(path, args.size_mb)
        mb = os.path.getsize(path) / 1e6
        messages = pyarrow.table(vellomar.table(path, {"control": "MSH-10"})).num_rows
        print(f"file: {mb:,.0f} MB, {messages:,} messages, {os.cpu_count()} cores, Python "
              f"{sys.version.split()[0]}, pyspark {pyspark.__version__}, hl7 {hl7.__version__}, "
              f"median of {args.repeat}")
        print("load average (1, 5, 15 min) at the start: %.1f %.1f %.1f" % os.getloadavg())

        busy: list[float] = []

        def source_pass(spark) -> None:
            cpu, start = cpu_seconds(), time.perf_counter()
            (spark.read.format("hl7").option("columns", OPTION).load(str(path))
             .write.format("noop").mode("overwrite").save())
            busy.append((cpu_seconds() - cpu) / (time.perf_counter() - start))

        results = {}
        for cores in (1, 2):
            spark = session(cores)
            if cores == 1:
                check(spark, path, 200)
            busy.clear()
            results[cores] = timed(lambda: source_pass(spark), args.repeat)
            print(f"hl7 source, local[{cores}]:        {results[cores]:7.2f} s  {mb / results[cores]:7.1f} MB/s  "
                  f"{messages / results[cores]:10,.0f} msg/s  cores busy {statistics.median(busy):.2f}")
            if cores == 2:
                break
            spark.stop()
        print(f"local[2] / local[1]: {results[1] / results[2]:.2f}x (target >= 1.6x)")

        text_df(spark, path).createOrReplaceTempView("archive")
        split = timed(lambda: spark.sql(SPLIT_SQL).write.format("noop").mode("overwrite").save(), 1)
        print(f"text reader + split(), local[2]: {split:7.2f} s  {mb / split:7.1f} MB/s  "
              f"{messages / split:10,.0f} msg/s  ({split / results[2]:.1f}x the hl7 source's time)")

        extract = hl7_udf()
        sample = text_df(spark, path, args.sample).cache()
        sample.count()
        udf = timed(lambda: sample.select(extract("value").alias("t")).write.format("noop")
                    .mode("overwrite").save(), 1) * messages / args.sample
        print(f"python-hl7 pandas UDF, local[2]: {udf:7.0f} s extrapolated from {args.sample:,} messages  "
              f"{messages / udf:10,.0f} msg/s  (hl7 source {udf / results[2]:.0f}x faster, target >= 100x)")

        rate, lag, written = stream(spark, Path(tmp), args.rate, args.seconds)
        print(f"stream from a store written at {args.rate:,} msg/s for {args.seconds:.0f} s: read "
              f"{rate:,.0f} msg/s over {written:,} messages, caught up {lag:.1f} s after the writer stopped")
        print("load average (1, 5, 15 min) at the end: %.1f %.1f %.1f" % os.getloadavg())
        spark.stop()


if __name__ == "__main__":
    main()
