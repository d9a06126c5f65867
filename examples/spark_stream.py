"""Follows a file of HL7 messages with Spark (the store that `vellomar listen
--store DIR` appends to, DIR/messages.hl7) and writes its messages to Parquet
as they arrive.

    python examples/spark_stream.py STORE OUT [--seconds N]

Runs for N seconds, or until stopped (Ctrl-C) without --seconds. A restart
goes on from the checkpoint beside OUT (OUT.checkpoint), neither skipping nor
repeating a message. Needs the extra: pip install '.[spark]' (and Java 17).
"""

import argparse
import os
import sys

from pyspark.sql import SparkSession

import vellomar.spark


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("store", help="the file (or directory, or glob) to follow")
    parser.add_argument("out", help="the Parquet directory to write")
    parser.add_argument("--seconds", type=float, default=None, help="stop after this many seconds")
    args = parser.parse_args()
    # Spark's Python workers start `python3` from PATH unless told otherwise:
    # this interpreter is the one that has vellomar.
    os.environ.setdefault("PYSPARK_PYTHON", sys.executable)
    spark = SparkSession.builder.appName("hl7-live").getOrCreate()
    vellomar.spark.register(spark)
    live = (spark.readStream.format("hl7").option("columns", "id=MSH-10,mrn=PID-3-1,event=MSH-9-2")
            .load(args.store))
    query = (live.writeStream.format("parquet").option("path", args.out)
             .option("checkpointLocation", args.out.rstrip("/") + ".checkpoint").start())
    try:
        query.awaitTermination(args.seconds)
    finally:
        query.stop()
        spark.stop()


if __name__ == "__main__":
    main()
