import io
import sys
from pathlib import Path

import pytest

import vellomar

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "bench"))
import corpus  # noqa: E402

BATCH = corpus.batch(corpus.SEED, 50)
ORU = corpus.oru_r01(corpus.SEED, 1, 3) + corpus.adt_a01(corpus.SEED, 2) + corpus.oru_r01(3, 3, 2)
PATHS = ["MSH-10", "PID-3-1", "PID-5-2", "PID(1)-3", "NK1-2-1-2", "PID-40", "PID-5-9", "ZZZ-1",
         "OBX-5", "MSH-1", "MSH-2", "PID"]


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


def test_table_matches_get(tmp_path):
    expected = {p: [get(m, p) for m in vellomar.parse_batch(BATCH)] for p in PATHS}
    for source in sources(BATCH, tmp_path):
        assert vellomar.table(source, PATHS).to_pydict() == expected


def test_table_rows(tmp_path):
    expected = [
        {"id": m.get("MSH-10"), "test": get(m, f"OBX({i})-3-1"), "value": get(m, f"OBX({i})-5")}
        for m in vellomar.parse_batch(ORU)
        for i in range(len(m.segments_by_name("OBX")))
    ]
    columns = {"id": "MSH-10", "test": "OBX-3-1", "value": "OBX-5"}
    for source in sources(ORU, tmp_path):
        assert vellomar.table(source, columns, rows="OBX").to_pylist() == expected


@pytest.mark.parametrize("rows", [None, "OBX"])
def test_table_arrow(rows):
    pyarrow = pytest.importorskip("pyarrow")
    polars = pytest.importorskip("polars")
    table = vellomar.table(BATCH + ORU, PATHS, rows=rows)
    expected = table.to_pydict()
    assert pyarrow.table(table).to_pydict() == expected
    assert polars.DataFrame(table).to_dict(as_series=False) == expected
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
        ("MSH|^~\\&|a\rMSH|^\r", ["PID-3"], vellomar.MessageError,
         "Message 2 at byte 11: MSH segment too short to extract encoding characters"),
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
