"""The Spark data source hl7 on one local[2] session, against vellomar.table."""

import gc
import os
import shutil
import sys
import time
import warnings
from pathlib import Path

import pyarrow
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
from vellomar.spark import HL7DataSource  # noqa: E402
from pyspark.sql.types import StringType, StructField, StructType  # noqa: E402

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "bench"))
import corpus  # noqa: E402
from conftest import CORPUS_FILES  # noqa: E402
from test_mllp import listener  # noqa: E402

pytestmark = pytest.mark.filterwarnings("ignore:PySpark does not yet fully support pandas:FutureWarning")
COLUMNS = {"id": "MSH-10", "mrn": "PID-3-1", "family": "PID-5-1", "test": "OBX-3-1", "value": "OBX-5"}
OPTION = "id=MSH-10, mrn=PID-3-1,family=PID-5-1, test=OBX-3-1,value=OBX-5"


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


def archive(count, end="\r", frame=False, seed=corpus.SEED):
    """ORU and ADT messages, some with OBX, plain or MLLP-framed."""
    for i in range(count):
        text = corpus.oru_r01(seed + i, i, i % 4) if i % 3 else corpus.adt_a01(seed + i, i)
        text = text.replace("\r", end) + end
        yield f"\x0b{text}\x1c\r\n" if frame else text


def write(path, texts):
    path.write_bytes("".join(texts).encode())
    return path


def rows_of(df):
    return [row.asDict() for row in df.collect()]


@pytest.mark.parametrize(("options", "expected"), [
    ({"columns": OPTION}, list(COLUMNS) + ["_corrupt_record"]),
    ({"columns": "MSH-10,PID-3-1", "mode": "failfast"}, ["MSH-10", "PID-3-1"]),
    ({"columns": '{"a": "PID-3", "b": "MSH-9-2"}', "MODE": "DROPMALFORMED"}, ["a", "b"]),
    ({"columns": '["PID-3"]', "columnNameOfCorruptRecord": "bad"}, ["PID-3", "bad"]),
])
def test_schema(options, expected):
    source = HL7DataSource({"path": "x.hl7", **options})
    assert source.schema().fieldNames() == expected


@pytest.mark.parametrize(("options", "error", "text"), [
    ({}, ValueError, "the hl7 source needs the option columns, such as 'id=MSH-10,mrn=PID-3-1'"),
    ({"columns": "a=PID-3", "path": None}, ValueError, "the hl7 source needs a path: load('archive/*.hl7')"),
    ({"columns": "a=PID-3,,b=PID-5"}, ValueError, "columns must read 'name=PATH,...' or 'PATH,...', not 'a=PID-3,,b=PID-5'"),
    ({"columns": "a=PID 3"}, ValueError, "columns must read 'name=PATH,...' or 'PATH,...', not 'a=PID 3'"),
    ({"columns": "a=PID-3,a=PID-5"}, ValueError, "column 'a' is named twice"),
    ({"columns": "{'a': 1}"}, ValueError, "columns is not valid JSON: Expecting property name enclosed in double quotes: line 1 column 2 (char 1)"),
    ({"columns": '{"a": 1}'}, ValueError, "columns in JSON must be an object of names to paths or a list of paths"),
    ({"columns": "a=PID-3", "mode": "lenient"}, ValueError, "mode must be PERMISSIVE, DROPMALFORMED or FAILFAST, not 'lenient'"),
    ({"columns": "a=PID-3", "blocksize": "0.5MB"}, ValueError, "blocksize must be a positive size such as '64MiB', not '0.5MB'"),
    ({"columns": "a=PID-3", "blocksize": "1 XB"}, ValueError, "blocksize must be a positive size such as '64MiB', not '1 XB'"),
    ({"columns": "a=PID-3", "batchBytes": "0"}, ValueError, "batchBytes must be a positive size such as '64MiB', not '0'"),
    ({"columns": "a=PID-3", "provenance": "yes"}, ValueError, "provenance must be true or false, not 'yes'"),
    ({"columns": "a=PID-3", "startingOffsets": "now"}, ValueError, "startingOffsets must be earliest or latest, not 'now'"),
    ({"columns": "a=PID-3", "quietSeconds": "nan"}, ValueError, "quietSeconds must be a number of seconds such as '2' or '0.5', not 'nan'"),
    ({"columns": "_corrupt_record=PID-3"}, ValueError, "column names must differ: ['_corrupt_record', '_corrupt_record']"),
    ({"columns": "a=PID-3", "encoding": "nope"}, LookupError, "unknown encoding: nope"),
    ({"columns": "a=PID-3", "mode": "failfast"}, ValueError,
     "the hl7 source's schema follows from its options: struct<a:string>, not struct<a:string,b:string>"),
])
def test_bad_options(options, error, text):
    options = {"path": "x.hl7", **options}
    options = {key: value for key, value in options.items() if value is not None}
    with pytest.raises(error) as raised:
        HL7DataSource(options).reader(StructType([StructField("a", StringType()), StructField("b", StringType())]))
    assert raised.type is error and str(raised.value) == text


@pytest.mark.parametrize(("layout", "rows", "blocksize"), [
    ("one big file", "OBX", "64k"),       # several tasks share one file
    ("one big file", None, "64MiB"),
    ("directory", None, "16k"),            # framed and CRLF files, small files packed together
    ("glob", "OBX", "8k"),
    ("corpus", None, "64MiB"),
])
def test_equal_to_table(spark, tmp_path, layout, rows, blocksize):
    if layout == "corpus":
        if not CORPUS_FILES:
            pytest.skip("sample corpus not present")
        files, load = CORPUS_FILES, [str(p) for p in CORPUS_FILES]
    elif layout == "one big file":
        files = [write(tmp_path / "big.hl7", archive(300))]
        load = str(files[0])
    else:
        files = [write(tmp_path / f"part{k}.hl7", archive(20 + k, end, frame, seed=k))
                 for k, (end, frame) in enumerate([("\r", False), ("\r\n", True), ("\n", False), ("\r", True)])]
        write(tmp_path / "_ignored.hl7", archive(3))
        load = str(tmp_path) if layout == "directory" else str(tmp_path / "part*.hl7")
    # The corpus holds messages that tables refuse (odd delimiters): left out alike.
    mode, errors = ("DROPMALFORMED", "skip") if layout == "corpus" else ("FAILFAST", "raise")
    options = {"columns": OPTION, "mode": mode, "blocksize": blocksize, **({"rows": rows} if rows else {})}
    df = spark.read.format("hl7").options(**options).load(load)
    expected = [r for f in files for r in vellomar.table(f, COLUMNS, rows=rows, errors=errors).to_pylist()]
    assert rows_of(df) == expected and len(expected) > 50
    if layout == "one big file" and rows:
        assert df.rdd.getNumPartitions() > 4


@pytest.mark.parametrize(("batch_bytes", "rows", "batches"), [("64MiB", None, 1), ("2k", None, 10), ("2k", "OBX", 10)])
def test_a_task_yields_batches_within_its_budget(tmp_path, batch_bytes, rows, batches):
    """A task's rows come in record batches of the budget, not in one table
    of its blocks (no session: the task's function alone)."""
    path = write(tmp_path / "big.hl7", archive(300))
    options = vellomar.spark._Options.parse({"path": str(path), "columns": OPTION, "batchBytes": batch_bytes,
                                             "mode": "failfast", **({"rows": rows} if rows else {})})
    (task,) = vellomar.spark._BatchReader(options).partitions()
    got = list(vellomar.spark._read(options, task))
    assert pyarrow.Table.from_batches(got).to_pylist() == vellomar.table(path, COLUMNS, rows=rows).to_pylist()
    assert len(got) >= batches and (batches > 1 or len(got) == 1)


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


def test_stream_offsets(tmp_path):
    """latest starts past what is there; a file shorter than what was read fails the query."""
    path = write(tmp_path / "a.hl7", archive(5, frame=True))
    reader = HL7DataSource({"path": str(tmp_path), "columns": "MSH-10", "startingOffsets": "latest"}).streamReader(None)
    start = reader.initialOffset()
    assert start == {"files": {str(path): [path.stat().st_size, 5]}} and reader.partitions(start, start) == []
    path.write_bytes(b"")
    with pytest.raises(ValueError) as raised:
        reader.latestOffset(start, None)
    assert str(raised.value) == f"{path} holds 0 bytes, fewer than the {start['files'][str(path)][0]} already read: it was truncated or replaced"


def test_stream_waits_for_a_quiet_unframed_file(tmp_path):
    """The last unframed message is read once the file has not changed for quietSeconds."""
    path = write(tmp_path / "a.hl7", archive(3))
    reader = HL7DataSource({"path": str(path), "columns": "MSH-10", "quietSeconds": "60"}).streamReader(None)
    last = path.read_bytes().rindex(b"MSH")
    assert reader.latestOffset({"files": {}}, None) == {"files": {str(path): [last, 2]}}
    os.utime(path, (time.time() - 61,) * 2)
    assert reader.latestOffset({"files": {}}, None) == {"files": {str(path): [path.stat().st_size, 3]}}


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
