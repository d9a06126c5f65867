"""The hl7 Spark source's options, tasks and stream offsets, run without a
Spark session (no JVM): what the driver plans and what a task yields,
against vellomar.table. tests/test_spark.py runs the source in a session."""

import json
import os
import time

import pyarrow
import pytest
from hypothesis import example, given, strategies as st

pytest.importorskip("pyspark")

import vellomar  # noqa: E402
import vellomar.spark  # noqa: E402
from vellomar.spark import HL7DataSource  # noqa: E402
from pyspark.sql.types import StringType, StructField, StructType  # noqa: E402

from conftest import CORPUS_FILES, bench_module  # noqa: E402

corpus = bench_module("corpus")

COLUMNS = {"id": "MSH-10", "mrn": "PID-3-1", "family": "PID-5-1", "test": "OBX-3-1", "value": "OBX-5"}
OPTION = "id=MSH-10, mrn=PID-3-1,family=PID-5-1, test=OBX-3-1,value=OBX-5"


def archive(count, end="\r", frame=False, seed=corpus.SEED):
    """ORU and ADT messages, some with OBX, plain or MLLP-framed."""
    for i in range(count):
        text = corpus.oru_r01(seed + i, i, i % 4) if i % 3 else corpus.adt_a01(seed + i, i)
        text = text.replace("\r", end) + end
        yield f"\x0b{text}\x1c\r\n" if frame else text


def write(path, texts):
    path.write_bytes("".join(texts).encode())
    return path


@pytest.mark.parametrize(("options", "expected"), [
    ({"columns": OPTION}, list(COLUMNS) + ["_corrupt_record"]),
    ({"columns": "MSH-10,PID-3-1", "mode": "failfast"}, ["MSH-10", "PID-3-1"]),
    ({"columns": '{"a": "PID-3", "b": "MSH-9-2"}', "MODE": "DROPMALFORMED"}, ["a", "b"]),
    ({"columns": '["PID-3"]', "columnNameOfCorruptRecord": "bad", "blocksize": "1"}, ["PID-3", "bad"]),
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
    ({"columns": "a=PID-3", "quietSeconds": "soon"}, ValueError, "quietSeconds must be a number of seconds such as '2' or '0.5', not 'soon'"),
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
    ("one big file", "OBX", "64k"),       # several tasks share one file (opening with a byte order mark)
    ("one big file", None, "64MiB"),
    ("directory", None, "16k"),            # framed, CRLF and BOM files, small files packed together
    ("glob", "OBX", "8k"),
    ("corpus", None, "64MiB"),
])
def test_tasks_equal_to_table(tmp_path, layout, rows, blocksize):
    """The rows of every task the driver plans, in order, are the table's,
    messages numbered and placed in their files."""
    if layout == "corpus":
        if not CORPUS_FILES:
            pytest.skip("sample corpus not present")
        files, load = CORPUS_FILES, [str(p) for p in CORPUS_FILES]
    elif layout == "one big file":
        files = [write(tmp_path / "big.hl7", ["\ufeff", *archive(300)])]
        load = str(files[0])
    else:
        files = [write(tmp_path / f"part{k}.hl7", ["\ufeff"] * (k == 0) + list(archive(20 + k, end, frame, seed=k)))
                 for k, (end, frame) in enumerate([("\r", False), ("\r\n", True), ("\n", False), ("\r", True)])]
        write(tmp_path / "_ignored.hl7", archive(3))
        load = str(tmp_path) if layout == "directory" else str(tmp_path / "part*.hl7")
    # The corpus holds messages that tables refuse (odd delimiters): left out alike.
    mode, errors = ("DROPMALFORMED", "skip") if layout == "corpus" else ("FAILFAST", "raise")
    # load(path) sets the option path, load([path, ...]) the option paths as JSON.
    where = {"path": load} if isinstance(load, str) else {"paths": json.dumps(load)}
    options = vellomar.spark._Options.parse({"columns": OPTION, "mode": mode, "blocksize": blocksize, **where,
                                             "provenance": "true", **({"rows": rows} if rows else {})})
    tasks = vellomar.spark._BatchReader(options).partitions()
    got = [r for task in tasks for batch in vellomar.spark._read(options, task) for r in batch.to_pylist()]
    expected = [r for f in files
                for r in vellomar.table(f, COLUMNS, rows=rows, errors=errors, provenance=True).to_pylist()]
    assert got == expected and len(expected) > 50
    if layout == "one big file" and rows:
        assert len(tasks) > 4


@given(sizes=st.lists(st.integers(0, 20), max_size=6), blocksize=st.integers(1, 8))
@example(sizes=[1, 1], blocksize=2)  # the first task filled exactly
def test_tasks_pack_whole_spans_in_order_up_to_the_blocksize(sizes, blocksize):
    """Each span is cut into blocks of the blocksize (the last one shorter),
    and consecutive blocks fill a task as far as the blocksize allows."""
    spans = [vellomar.spark._Span(f"f{i}", 3 * i, 3 * i + size) for i, size in enumerate(sizes)]
    tasks = [task.blocks for task in vellomar.spark._partitions(spans, blocksize)]
    blocks = [block for task in tasks for block in task]
    for span in spans:
        cuts = [(begin, end) for s, begin, end in blocks if s is span]
        assert [end - begin for begin, end in cuts[:-1]] == [blocksize] * (len(cuts) - 1)
        assert [begin for begin, _ in cuts] + [span.end] == [span.begin] + [end for _, end in cuts]
    filled = [sum(end - begin for _, begin, end in task) for task in tasks]
    assert all(0 < n <= blocksize for n in filled)
    assert all(n + nxt[0][2] - nxt[0][1] > blocksize for n, nxt in zip(filled, tasks[1:]))


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


def test_a_batch_of_no_file_fails_on_the_driver_and_a_stream_waits(tmp_path):
    options = {"path": str(tmp_path / "*.hl7"), "columns": "MSH-10"}
    with pytest.raises(FileNotFoundError) as raised:
        HL7DataSource(options).reader(None).partitions()
    assert str(raised.value) == f"no file matches {options['path']!r}"
    assert HL7DataSource(options).streamReader(None).latestOffset({"files": {}}) == {"files": {}}


def test_stream_offsets(tmp_path):
    """latest starts past what is there; a file shorter than what was read fails the query."""
    path = write(tmp_path / "a.hl7", archive(5, frame=True))
    (tmp_path / "b.hl7").write_bytes(b"")  # nothing to read: no offset
    reader = HL7DataSource({"path": str(tmp_path), "columns": "MSH-10", "startingOffsets": "latest"}).streamReader(None)
    start = reader.initialOffset()
    assert start == {"files": {str(path): [path.stat().st_size, 5]}} and reader.partitions(start, start) == []
    assert reader.latestOffset() == reader.latestOffset() == start  # a Spark before 4.2 passes no start
    path.write_bytes(b"")
    with pytest.raises(ValueError) as raised:
        reader.latestOffset(start, None)
    assert str(raised.value) == f"{path} holds 0 bytes, fewer than the {start['files'][str(path)][0]} already read: it was truncated or replaced"


def test_stream_waits_for_a_quiet_unframed_file(tmp_path):
    """The last unframed message is read once the file has not changed for
    quietSeconds; messages are numbered on from one batch to the next."""
    path = write(tmp_path / "a.hl7", archive(3))
    reader = HL7DataSource({"path": str(path), "columns": "MSH-10", "quietSeconds": "60", "provenance": "true",
                            "mode": "failfast", "blocksize": "1k"}).streamReader(None)
    last = path.read_bytes().rindex(b"MSH")
    assert (first := reader.latestOffset({"files": {}}, None)) == {"files": {str(path): [last, 2]}}
    os.utime(path, (time.time() - 61,) * 2)
    assert reader.latestOffset({"files": {}}, None) == {"files": {str(path): [path.stat().st_size, 3]}}
    second = reader.latestOffset(first)
    with path.open("ab") as file:  # five more whole messages, and one that may still grow
        file.write("".join(archive(6, seed=9)).encode())
    offsets = [{"files": {}}, first, second, reader.latestOffset(second)]
    assert [row["source_message"] for start, end in zip(offsets, offsets[1:])
            for task in reader.partitions(start, end) for batch in vellomar.spark._read(reader.options, task)
            for row in batch.to_pylist()] == list(range(1, 9))
