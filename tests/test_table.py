import io
import json
import pickle
import subprocess
import sys
from functools import partial
from pathlib import Path

import pytest
from hypothesis import example, given
from hypothesis import strategies as st

import vellomar
from vellomar._ranges import message_start
from vellomar.table import range_batches

from conftest import bench_module

corpus = bench_module("corpus")

BATCH = corpus.batch(corpus.SEED, 50)
ORU = corpus.oru_r01(corpus.SEED, 1, 3) + corpus.adt_a01(corpus.SEED, 2) + corpus.oru_r01(3, 3, 2)
PATHS = ["MSH-10", "PID-3-1", "PID-5-2", "PID(1)-3", "NK1-2-1-2", "PID-40", "PID-5-9", "ZZZ-1",
         "OBX-5", "MSH-1", "MSH-2", "PID"]

# The messages of BATCH laid out as the cutter reads them line by line (CRLF, an empty line and an
# envelope inside a message, a frame, a message of one line) between runs that it reads in place.
_RAW = [m.raw for m in vellomar.parse_batch(BATCH)]
LAYOUT = "\r".join([_RAW[0], _RAW[1].replace("\r", "\r\n"), _RAW[2] + "\r\rBTS|1", "\x0b" + _RAW[3] + "\x1c",
                    "MSH|^~\\&|ONE", *_RAW[4:]])

def get(message, path):
    try:
        return message.get(path)
    except (KeyError, IndexError):
        return None


def sources(text, tmp_path):
    path = tmp_path / "batch.hl7"
    path.write_bytes(text.encode())
    messages = vellomar.parse_batch(text)
    rest = tmp_path / "rest.hl7"
    rest.write_text("\r".join(m.raw for m in messages[1:]))
    return [text, text.encode(), path, str(path), io.BytesIO(text.encode()), messages,
            vellomar.read(path), [messages[0], rest]]


def test_file_name_like_a_message(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    Path("MSH_feed.hl7").write_text(BATCH)
    assert vellomar.table("MSH_feed.hl7", ["MSH-10"]).to_pydict() == vellomar.table(BATCH, ["MSH-10"]).to_pydict()


@pytest.mark.parametrize("text", [BATCH, LAYOUT])
def test_table_matches_get(tmp_path, text):
    expected = {p: [get(m, p) for m in vellomar.parse_batch(text)] for p in PATHS}
    for source in sources(text, tmp_path):
        assert vellomar.table(source, PATHS).to_pydict() == expected


def test_table_rows(tmp_path):
    expected = [
        {"id": m.get("MSH-10"), "test": get(m, f"OBX({i})-3-1"), "value": get(m, f"OBX({i})-5")}
        for m in vellomar.parse_batch(ORU)
        for i in range(len(m.segments_by_name("OBX")))
    ]
    columns = {"id": "MSH-10", "test": "OBX-3-1", "value": "OBX-5"}
    second = [get(m, "OBX(1)-5") for m in vellomar.parse_batch(ORU) for _ in m.segments_by_name("OBX")]
    assert vellomar.table(ORU, ["OBX(1)-5"], rows="OBX").to_pydict() == {"OBX(1)-5": second}
    for source in sources(ORU, tmp_path):
        assert vellomar.table(source, columns, rows="OBX").to_pylist() == expected


def test_rows_read_their_group_when_a_table_is_the_first_use_of_the_definitions():
    text = "MSH|^~\\&|||||||ORU^R01^ORU_R01|1|P|2.5.1\rPID|1||A\rOBR|1\rOBX|1||x\rPID|2||B\rOBR|1\rOBX|1||y\r"
    code = f"import vellomar; print(vellomar.table({text!r}, ['PID-3', 'OBX-3'], rows='OBX').to_pydict())"
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert done.stdout == "{'PID-3': ['A', 'B'], 'OBX-3': ['x', 'y']}\n"  # each OBX's own patient


@pytest.mark.parametrize("rows", [None, "OBX"])
def test_table_arrow(rows):
    pyarrow = pytest.importorskip("pyarrow")
    polars = pytest.importorskip("polars")
    table = vellomar.table(BATCH + ORU, PATHS, rows=rows)
    expected = table.to_pydict()
    assert pyarrow.table(table).to_pydict() == expected
    assert polars.DataFrame(table).to_dict(as_series=False) == expected
    assert table.to_pandas().astype(object).where(table.to_pandas().notna(), None).to_dict("list") == expected
    assert table.to_pylist() == [dict(zip(expected, row)) for row in zip(*expected.values())]


@pytest.mark.parametrize(
    "source, columns, error, text",
    [
        (BATCH, [""], ValueError, "Empty terser path"),
        (BATCH, ["PID)1(-3"], ValueError, "Invalid segment repetition: 'PID)1('"), (BATCH, ["pid-3"], ValueError, "Invalid segment name: 'pid'"),
        (BATCH, ["PID-3", "PID-x"], ValueError, "Invalid field index: 'x'"),
        (BATCH, {"a": "PID-3-0"}, ValueError, "Invalid component index: '0'"),
        ("no-such-file.hl7", ["PID-1-1-y"], ValueError, "Invalid sub-component index: 'y'"),
        (BATCH, "PID-3", TypeError, "columns must be a mapping or a list of paths, not a str"),
        (42, ["PID-3"], TypeError, "cannot read a table from 'int'"),
        ([b"MSH|^~\\&\r", 42], ["PID-3"], TypeError, "cannot read a table from 'int'"),  # an item of an iterable
        ("MSH|^~\\&|a\rMSH|^\r", ["PID-3"], vellomar.MessageError,
         "Message 2 at byte 11: MSH segment too short to extract encoding characters"),
        ("\ufeffMSH|^~\\&|a\nMSH|^\n", ["PID-3"], vellomar.MessageError,  # text: a BOM, LF line ends
         "Message 2 at byte 14: MSH segment too short to extract encoding characters"),
        ("\x0bX\x1c\x0bMSH|^", ["PID-3"], vellomar.MessageError,  # text: frames, no line end
         "Message 1 at byte 4: MSH segment too short to extract encoding characters"),
    ],
)
def test_table_refuses(source, columns, error, text):
    with pytest.raises(error) as raised:
        vellomar.table(source, columns)
    assert type(raised.value) is error and str(raised.value) == text
    with pytest.raises(ValueError, match="^Invalid segment name: 'obx'$"):
        vellomar.table(BATCH, ["PID-3"], rows="obx")


@pytest.mark.parametrize(
    "options, status, output, error",
    [
        (["--format", "csv"], 0, "mrn,z\r\n7,\r\n8,\r\n", ""),
        (["--format", "ndjson"], 0, '{"mrn": "7", "z": null}\n{"mrn": "8", "z": null}\n', ""),
        (["--format", "parquet"], 2, "", "vellomar table: error: --format parquet needs "
         "pyarrow: pip install 'vellomar[arrow]' (or pyarrow)\n"),
    ],
)
def test_cli_table(tmp_path, monkeypatch, capsys, options, status, output, error):
    from vellomar.cli import main

    monkeypatch.setitem(sys.modules, "pyarrow.parquet", None)
    (tmp_path / "in.hl7").write_text("MSH|^~\\&|A\rPID|1||7^^^X\r\x0bMSH|^~\\&|B\rPID|1||8\x1c\r")
    out = tmp_path / "out"
    assert main(["table", "mrn=PID-3-1", "z=ZZZ-1", "--", str(tmp_path / "in.hl7"), "-o", str(out),
                 *options]) == status
    assert capsys.readouterr().err.endswith(error)
    assert (out.read_bytes().decode() if out.exists() else "") == output


# Message 2 does not parse, message 4 (Latin-1 without MSH-18) does not decode as UTF-8, message 6
# repeats a delimiter.
MIXED = (b"\xef\xbb\xbfMSH|^~\\&|A\rOBX|1||x\rOBX|2||y\rMSH|^\rMSH|^~\\&|C\r"
         b"MSH|^~\\&|D\rPID|1||Z\xe9\r\x0bMSH|^~\\&|E\rOBX|1||z\x1c\rMSH|^~\\^|F\r")
BAD = [(2, 32, "MSH segment too short to extract encoding characters"),
       (4, 49, "'utf-8' codec can't decode byte 0xe9 in position 19: unexpected end of data"),
       (6, 92, "Delimiters must be five distinct ASCII punctuation characters, got: '|^~\\^'")]


def every_result(source, **options):
    """Everything a table hands out, in each of its forms."""
    return [(t.to_pylist(), t.to_pydict(), [e.args for e in t.errors], t.__arrow_c_stream__())
            for t in [vellomar.table(source, ["MSH-3", "OBX-3"], **options),
                      *vellomar.table_batches(source, ["MSH-3", "OBX-3"], batch_rows=2, **options)]]


# For the leak check: every road of a table, with bad messages raised, skipped and kept.
LEAK_CALLS = [partial(every_result, MIXED, errors=errors, rows=rows, provenance=True)
              for errors in ("raise", "skip", "keep") for rows in (None, "OBX")]


@pytest.mark.parametrize(
    "errors, rows, provenance, expected",
    [
        ("skip", None, True, [("A", "x", None, 1, 3), ("C", None, None, 3, 38), ("E", "z", None, 5, 71)]),
        ("keep", "OBX", True, [("A", "x", None, 1, 3), ("A", "y", None, 1, 3),
                               (None, None, BAD[0][2], 2, 32), (None, None, BAD[1][2], 4, 49),
                               ("E", "z", None, 5, 71), (None, None, BAD[2][2], 6, 92)]),
        ("keep", None, False, [("A", "x", None), (None, None, BAD[0][2]), ("C", None, None),
                               (None, None, BAD[1][2]), ("E", "z", None), (None, None, BAD[2][2])]),
    ],
)
def test_bad_messages_and_provenance(tmp_path, errors, rows, provenance, expected):
    path = tmp_path / "mixed.hl7"
    path.write_bytes(MIXED)
    with path.open("rb") as file:
        tables = [(vellomar.table(source, {"app": "MSH-3", "obx": "OBX-3"}, rows=rows, errors=errors,
                                  provenance=provenance), name)
                  for source, name in [(path, str(path)), (str(path), str(path)), (MIXED, None),
                                       (file, str(path)), ([io.BytesIO(MIXED)], None)]]
    for t, name in tables:
        wanted = [r[:3] if errors == "keep" else r[:2] for r in expected]
        names = t.column_names[:len(wanted[0])]
        assert [tuple(r[n] for n in names) for r in t.to_pylist()] == wanted
        if provenance:
            assert [(r["source_file"], r["source_message"], r["source_offset"]) for r in t.to_pylist()] == [
                (name, *r[-2:]) for r in expected]
        assert [(e.file, e.ordinal, e.offset, e.reason, str(e)) for e in t.errors] == [
            (name, *bad, f"{name + ': ' if name else ''}Message {bad[0]} at byte {bad[1]}: {bad[2]}")
            for bad in BAD]
    assert vellomar.table(MIXED[3:], ["MSH-3"], errors="skip", provenance=True).to_pydict()["source_offset"][0] == 0
    with pytest.raises(vellomar.MessageError) as raised:
        vellomar.table(path, ["MSH-3"])
    assert str(raised.value) == f"{path}: Message 2 at byte 32: {BAD[0][2]}"
    assert pickle.loads(pickle.dumps(raised.value)).args == raised.value.args


@pytest.mark.parametrize(
    "options, expected",
    [
        ({}, ["é", None]),
        ({"fallback_encoding": "latin-1"}, ["é", "é"]),
        ({"encoding": "latin-1", "fallback_encoding": "cp1252"}, ["Ã©", "é"]),
    ],
)
def test_fallback_encoding(options, expected):
    # UTF-8 declared in MSH-18, then Latin-1 undeclared.
    data = ("MSH|^~\\&|é" + "|" * 15 + "UNICODE UTF-8\r").encode() + "MSH|^~\\&|é\r".encode("latin-1")
    assert vellomar.table(data, ["MSH-3"], errors="keep", **options).to_pydict()["MSH-3"] == expected


@pytest.mark.parametrize("char", ["°", "\u07ff", "é", "€", "😀"])  # the two-byte range's ends too
def test_utf8_check_stays_within_the_buffer(char):
    # The byte after the view (outside it) would continue the last character.
    data = ("MSH|^~\\&|" + char).encode() + b"\x80"
    assert vellomar.table(memoryview(data)[:-1], ["MSH-3"], fallback_encoding="latin-1").to_pylist() == [{"MSH-3": char}]


@pytest.mark.parametrize(
    "options, text",
    [
        ({"columns": {"error": "MSH-3"}, "errors": "keep"},
         "column name 'error' is taken by the reason column: give the path another name"),
        ({"columns": {"source_offset": "MSH-3"}, "provenance": True},
         "column name 'source_offset' is taken by the provenance column: give the path another name"),
        ({"errors": "ignore"}, "errors must be 'raise', 'skip' or 'keep', not 'ignore'"),
        ({"batch_rows": 0}, "batch_rows and batch_bytes must be positive"),
    ],
)
def test_options_refused(options, text):
    with pytest.raises(ValueError) as raised:
        vellomar.table_batches(BATCH, **{"columns": ["MSH-3"], **options})
    assert str(raised.value) == text


@given(st.integers(1, 7), st.integers(1, 4000), st.sampled_from([None, "OBX"]), st.booleans(), st.booleans())
def test_batches_make_the_table(batch_rows, batch_bytes, rows, one, provenance):
    source = vellomar.parse_batch(ORU)[0] if one else [ORU, MIXED, BATCH.encode()]
    options = {"columns": {"id": "MSH-10", "value": "OBX-5", "obx": "OBX"}, "rows": rows,
               "errors": "keep", **({"provenance": True} if provenance else {})}  # else each one's default
    whole = vellomar.table(source, **options)
    batches = list(vellomar.table_batches(source, batch_rows=batch_rows, batch_bytes=batch_bytes, **options))
    assert [r for b in batches for r in b.to_pylist()] == whole.to_pylist()
    assert [e.args for b in batches for e in b.errors] == [e.args for e in whole.errors]
    assert all(b.num_rows for b in batches) and (rows or all(b.num_rows <= batch_rows for b in batches))


RANGED = MIXED + MIXED[3:] * 2  # bad messages in every third of the file


@given(st.integers(0, len(RANGED)), st.integers(1, 3), st.integers(1, 200), st.sampled_from(["skip", "keep", "raise"]),
       st.booleans())
def test_range_batches_within_the_budget(begin, batch_rows, batch_bytes, errors, provenance):
    """A range read in batches: each within its budget, together the range's
    table, the bad messages numbered from the file's start in every batch
    (or the first one raised so numbered)."""
    start = message_start(io.BytesIO(RANGED), begin, len(RANGED))
    open_file = partial(io.BytesIO, RANGED)
    options = {"columns": ["MSH-3", "OBX-3"], "errors": errors, "provenance": provenance}
    where = lambda errors: [(e.file, e.ordinal, e.offset, e.reason) for e in errors]  # noqa: E731
    bad = [("f", *where([e])[0][1:]) for e in vellomar.table(RANGED, ["MSH-3"], errors="skip").errors if e.offset >= start]
    if errors == "raise":
        try:
            list(range_batches(open_file, "f", start, len(RANGED), budget=(batch_rows, batch_bytes), **options))
            raised = []
        except vellomar.MessageError as error:
            raised = [error]
        assert where(raised) == bad[:1]
        return
    (whole,) = range_batches(open_file, "f", start, len(RANGED), **options)
    batches = list(range_batches(open_file, "f", start, len(RANGED), budget=(batch_rows, batch_bytes), **options))
    assert [r for b in batches for r in b.to_pylist()] == whole.to_pylist()
    assert where(e for b in batches for e in b.errors) == where(whole.errors) == bad
    assert all(b.num_rows <= batch_rows for b in batches) and len(batches) >= -(-whole.num_rows // batch_rows)


def test_duplicate_paths_keep_their_columns():
    t = vellomar.table(ORU, ["MSH-10", "PID-3", "MSH-10", "MSH-10"])
    assert list(t.to_pydict()) == t.column_names == ["MSH-10", "PID-3", "MSH-10 (2)", "MSH-10 (3)"]


@pytest.mark.parametrize(
    "options, status, lines, rows",
    [
        ([], 1, [0, 1, 2, "3 bad messages left out"], {"errors": "skip"}),
        (["--errors", "raise", "--format", "ndjson"], 1, [0], None),
        (["--errors", "keep", "--provenance", "--format", "parquet"], 0, [0, 1, 2, "3 bad messages kept as rows"],
         {"errors": "keep", "provenance": True}),
        (["--format", "ndjson", "--errors=skip", "--fallback-encoding", "latin-1"], 0, [0, 2, "2 bad messages left out"],
         {"errors": "skip", "fallback_encoding": "latin-1"}),
    ],
)
def test_cli_table_bad_messages(tmp_path, monkeypatch, capsys, options, status, lines, rows):
    from vellomar.cli import main, table as command

    monkeypatch.setattr(command, "BATCH_ROWS", 2)  # several batches, several Parquet row groups
    path, out = tmp_path / "mixed.hl7", tmp_path / "out"
    path.write_bytes(MIXED)
    assert main(["table", "app=MSH-3", "obx=OBX-3", "--", str(path), "-o", str(out), *options]) == status
    expected = [f"vellomar: {path}: message {n} at byte {o}: {r}" + " (choose the encoding with --encoding, "
                "e.g. --encoding cp1252)" * ("codec" in r) for n, o, r in BAD]
    assert capsys.readouterr().err.splitlines() == [expected[k] if isinstance(k, int) else f"vellomar: {k}" for k in lines]
    if rows is None:
        assert not out.exists()
        return
    want = vellomar.table([path], {"app": "MSH-3", "obx": "OBX-3"}, **rows)
    if "parquet" in options:
        parquet = pytest.importorskip("pyarrow.parquet")
        assert parquet.read_table(out).to_pylist() == want.to_pylist()
        assert parquet.ParquetFile(out).metadata.num_row_groups == 3  # 6 rows written as read, 2 at a time
    elif "ndjson" in options:
        assert [json.loads(line) for line in out.read_text().splitlines()] == want.to_pylist()
    else:
        assert out.read_text() == "app,obx\n" + "".join(f"{a},{o or ''}\n" for a, o in zip(*want.to_pydict().values()))


PIECES = st.lists(st.sampled_from(["a", "bcdefgh", "^", "~", "&", "\\F\\", "é"]), max_size=14).map("".join)
CELL_PATHS = [f"PID-{f}" + "".join(f"-{i}" for i in rest) for f in (1, 2, 3) for rest in
              [(), (1,), (2,), (3,), (9,), (1, 2), (2, 1), (2, 2)]] + ["PID(2)-1-2", "ZZZ-1"]


@given(st.lists(st.lists(PIECES, max_size=3), min_size=1, max_size=2),
       st.sampled_from(["\r", "\r\n", "\n"]), st.sampled_from(["", "\r", " \r\n"]), st.sampled_from([None, "PID"]),
       st.sampled_from([[], ["PID-1025"]]))
@example([[], ["a"]], "\r", "", None, ["PID-1025"])  # a bare name read by the general index in place
def test_cells_match_get_wherever_the_separators_fall(segments, line_end, tail, rows, far):
    """Components and repetitions cut by the table's scans (which read 16 bytes at
    a time within a batch; a field past 1024 by the general index) are those a
    parsed message gives, wherever the separators fall and on a line of a bare name."""
    lines = ["MSH|^~\\&|A|B"] + ["|".join(["PID", *fields]) for fields in segments]  # [] a bare name
    text = line_end.join(lines * 3) + tail
    paths = CELL_PATHS + far
    expected = [{p: get(m, p.replace("PID-", f"PID({i})-", 1) if rows else p) for p in paths}
                for m in vellomar.parse_batch(text) for i in (range(len(segments)) if rows else [0])]
    assert vellomar.table(text.encode(), paths, rows=rows).to_pylist() == expected
