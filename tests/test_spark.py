"""The Spark data source hl7 on one local[2] session, against vellomar.table."""

import gc
import os
import shutil
import sys
import time
import warnings

import pytest

if "libasan" in os.environ.get("LD_PRELOAD", ""):
    pytest.skip("a JVM and its Python workers under a preloaded sanitizer runtime is no meaningful run; "
                "the plain suites run these tests", allow_module_level=True)
pytest.importorskip("pyspark")
if shutil.which("java") is None:
    pytest.skip("Spark needs Java 17 or newer", allow_module_level=True)

import vellomar  # noqa: E402
import vellomar.spark  # noqa: E402
from vellomar import mllp  # noqa: E402
from test_mllp import listener  # noqa: E402
from test_spark_tasks import COLUMNS, OPTION, archive, write  # noqa: E402

pytestmark = pytest.mark.filterwarnings("ignore:PySpark does not yet fully support pandas:FutureWarning")


@pytest.fixture(scope="session")
def spark():
    from pyspark.sql import SparkSession

    os.environ["PYSPARK_PYTHON"] = sys.executable
    session = (SparkSession.builder.master("local[2]").appName("vellomar-tests")
               .config("spark.ui.enabled", "false").config("spark.driver.host", "127.0.0.1")
               .config("spark.driver.bindAddress", "127.0.0.1").config("spark.sql.shuffle.partitions", "2")
               # A Python worker on a busy machine may take longer than 15 s to start.
               .config("spark.python.authenticate.socketTimeout", "120s")
               # Short jobs: the JVM's first-tier compiler alone halves the tests' time.
               .config("spark.driver.extraJavaOptions", "-XX:TieredStopAtLevel=1 -XX:+UseSerialGC").getOrCreate())
    session.sparkContext.setLogLevel("ERROR")
    vellomar.spark.register(session)
    yield session
    session.stop()
    # pyspark leaves the sockets of collect() to the garbage collector.
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", ResourceWarning)
        gc.collect()


def rows_of(df):
    return [row.asDict() for row in df.collect()]


@pytest.mark.parametrize(("mode", "errors"), [("PERMISSIVE", "keep"), ("DROPMALFORMED", "skip"), ("FAILFAST", "raise")])
def test_modes(spark, tmp_path, mode, errors):
    """Bad messages in later blocks, named by their place in the file; the file in Latin-1."""
    texts = [t.replace("|SMITH^", "|MÜLLER^") for t in archive(40)]
    texts[17] = texts[33] = "MSH|x\r"
    path = tmp_path / "mixed.hl7"
    path.write_bytes("".join(texts).encode("latin-1"))
    df = (spark.read.format("hl7").options(columns=OPTION, mode=mode, rows="OBX", provenance="true", encoding="latin-1")
          .option("blocksize", "8k").load(str(path)))
    if errors == "raise":
        with pytest.raises(Exception) as raised:
            df.collect()
        kept = vellomar.table(path, COLUMNS, errors="keep", encoding="latin-1", provenance=True).to_pylist()
        bad = {f"vellomar.read.MessageError: {r['source_file']}: Message {r['source_message']} at byte "
               f"{r['source_offset']}: {r['error']}" for r in kept if r["error"]}
        # The two bad messages' blocks are read side by side: either may stop the job.
        assert len(bad) == 2 and bad & set(str(raised.value).splitlines())
    else:
        expected = vellomar.table(path, COLUMNS, rows="OBX", errors=errors, encoding="latin-1", provenance=True)
        renamed = [{("_corrupt_record" if k == "error" else k): v for k, v in r.items()} for r in expected.to_pylist()]
        assert rows_of(df) == renamed and any(r["family"] == "MÜLLER" for r in renamed)


def test_sql_view(spark, tmp_path):
    path = write(tmp_path / "a.hl7", archive(30))
    spark.sql(f"CREATE OR REPLACE TEMPORARY VIEW adt USING hl7 OPTIONS (path '{path}', columns 'mrn=PID-3-1,event=MSH-9-2')")
    got = spark.sql("SELECT event, count(*) AS n FROM adt GROUP BY event ORDER BY event").collect()
    events = vellomar.table(path, {"event": "MSH-9-2"}).to_pydict()["event"]
    assert [tuple(r) for r in got] == sorted((e, events.count(e)) for e in set(events))


def run_stream(spark, source, checkpoint, out):
    query = (spark.readStream.format("hl7").options(columns="id=MSH-10,mrn=PID-3-1", mode="FAILFAST", provenance="true")
             .options(blocksize="4k", quietSeconds="3600").load(str(source))
             .writeStream.format("parquet").option("path", str(out)).option("checkpointLocation", str(checkpoint))
             .trigger(availableNow=True).start())
    assert query.awaitTermination(180) and query.exception() is None


def test_stream_growing_file_restarted(spark, tmp_path):
    # A record half written when a batch is planned waits for the next one
    # (its writer is not quiet); the second query starts from the first one's
    # checkpoint.
    store = tmp_path / "messages.hl7"
    data = "".join(archive(40, frame=True)).encode()
    half = data.index(b"\x0bMSH", len(data) // 2) + 200
    store.write_bytes(data[:half])
    run_stream(spark, store, tmp_path / "checkpoint", tmp_path / "out")
    first = spark.read.parquet(str(tmp_path / "out")).count()
    with open(store, "ab") as file:
        file.write(data[half:])
    run_stream(spark, store, tmp_path / "checkpoint", tmp_path / "out")
    got = sorted(rows_of(spark.read.parquet(str(tmp_path / "out"))), key=lambda r: r["source_message"])
    assert got == vellomar.table(store, {"id": "MSH-10", "mrn": "PID-3-1"}, provenance=True).to_pylist()
    assert first == data[:half].count(b"\x1c")


def test_stream_from_listener_store(spark, tmp_path):
    """Messages sent to `vellomar listen --store` while a query follows its store all arrive, once."""
    texts = list(archive(60))
    query = (spark.readStream.format("hl7").option("columns", "id=MSH-10").load(str(tmp_path / mllp.STORE_FILE))
             .writeStream.format("memory").queryName("store_feed").trigger(processingTime="1 second").start())
    with listener("--store", str(tmp_path)) as (_, port), mllp.BlockingClient("127.0.0.1", port) as client:
        for text in texts:
            client.send(text)
    deadline = time.monotonic() + 180
    while time.monotonic() < deadline and query.isActive and spark.table("store_feed").count() < len(texts):
        time.sleep(1)
    query.stop()
    assert query.exception() is None
    got = sorted(r.id for r in spark.table("store_feed").collect())
    assert got == sorted(vellomar.parse(t).control_id for t in texts)
