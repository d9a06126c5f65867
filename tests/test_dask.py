"""vellomar.dask.read_hl7 on two worker processes, against vellomar.table."""

import operator

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

distributed = pytest.importorskip("distributed")
pytest.importorskip("dask.dataframe")

import vellomar  # noqa: E402
import vellomar.dask  # noqa: E402

COLUMNS = {"id": "MSH-10", "mrn": "PID-3-1", "test": "OBX-3-1", "value": "OBX-5"}


def archive(count, end, frame):
    """ORU messages with 0 to 3 OBX each, some without PID-3."""
    for i in range(count):
        lines = [f"MSH|^~\\&|LAB|F|EHR|F|2024||ORU^R01|ID{i}|P|2.5", f"PID|1||M{i}" if i % 5 else "PID|1"]
        text = end.join(lines + [f"OBX|{j}|ST|T{j}^Test||{i * j}" for j in range(i % 4)]) + end
        yield f"\x0b{text}\x1c\r" if frame else text


def records(df):
    return df.astype(object).where(df.notna(), None).to_dict("records")


OPTIONS = [{}, {"errors": "keep"}, {"errors": "keep", "provenance": True}, {"errors": "skip", "provenance": True}]


@settings(max_examples=25)
@given(st.integers(1, 300), st.sampled_from(["\r", "\n", "\r\n"]), st.booleans(), st.sampled_from(OPTIONS))
def test_any_blocksize(tmp_path_factory, blocksize, end, frame, options):
    path = tmp_path_factory.mktemp("hl7") / "a.hl7"
    texts = list(archive(12 if blocksize >= 16 else 3, end, frame))  # at most a few hundred blocks
    if options:  # bad messages: one that does not parse, one that does not decode
        texts[3:3], texts[9:9] = [f"MSH|^{end}"], [f"MSH|^~\\&|\udce9{end}"]
    path.write_bytes("".join(texts).encode(errors="surrogateescape"))
    ddf = vellomar.dask.read_hl7(path, COLUMNS, rows="OBX", blocksize=blocksize, **options)
    assert set(ddf.dtypes[list(COLUMNS)].map(str)) == {"string"}  # whichever way it was built
    assert records(ddf.compute(scheduler="sync")) == vellomar.table(path, COLUMNS, rows="OBX", **options).to_pylist()


def test_error_counted_from_the_file_start(tmp_path):
    texts = list(archive(60, "\r", False))
    texts[50] = "MSH|^\r"
    (tmp_path / "a.hl7").write_text("".join(texts), newline="")
    with pytest.raises(vellomar.MessageError) as raised:
        vellomar.dask.read_hl7(tmp_path / "a.hl7", COLUMNS, blocksize=100).compute(scheduler="sync")
    offset = len("".join(texts[:50]))
    assert str(raised.value) == f"{tmp_path / 'a.hl7'}: Message 51 at byte {offset}: " \
        "MSH segment too short to extract encoding characters"


@pytest.mark.parametrize("call, error", [
    (lambda: vellomar.dask.read_hl7("a.hl7", "PID-3"),
     TypeError("columns must be a mapping or a list of paths, not a str")),
    (lambda: vellomar.dask.read_hl7("a.hl7", ["PID-3"], blocksize=0), ValueError("blocksize must be positive, not 0")),
    (lambda: vellomar.dask.read_hl7(["b*.hl7"], ["PID-3"]), FileNotFoundError("no file matches ['b*.hl7']")),
    (lambda: vellomar.dask.read_fhir("a.hl7", errors="ignore"), ValueError("errors must be 'raise' or 'skip', not 'ignore'")),
])
def test_arguments_checked_on_the_client(tmp_path, monkeypatch, call, error):
    (tmp_path / "a.hl7").write_text("MSH|^~\\&|A\r")
    monkeypatch.chdir(tmp_path)
    with pytest.raises(type(error)) as raised:
        call()
    assert type(raised.value) is type(error) and raised.value.args == error.args


@pytest.fixture(scope="module")
def client():
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                                  dashboard_address=":0") as cluster, distributed.Client(cluster, timeout=60) as c:
        yield c


@pytest.mark.parametrize(("end", "frame", "envelope", "rows"), [
    ("\r", False, False, None), ("\r\n", False, True, "OBX"), ("\n", True, False, "OBX"), ("\r", True, True, None)])
def test_equal_to_table(tmp_path, client, end, frame, envelope, rows):
    texts = list(archive(60, end, frame))
    for k, part in enumerate((texts[:35], texts[35:])):
        body = "".join(part)
        if envelope:
            body = f"FHS|^~\\&{end}BHS|^~\\&{end}{body}BTS|{len(part)}{end}FTS|1{end}"
        (tmp_path / f"part{k}.hl7").write_text(body, newline="")
    ddf = vellomar.dask.read_hl7(str(tmp_path / "*.hl7"), COLUMNS, rows=rows, blocksize=97)
    got = client.compute(ddf).result(timeout=120)
    expected = [r for k in (0, 1) for r in vellomar.table(tmp_path / f"part{k}.hl7", COLUMNS, rows=rows).to_pylist()]
    assert ddf.npartitions > 20 and records(got) == expected


def test_message_shipped_to_a_worker(client):
    msg = vellomar.parse("MSH|^~\\&|A|B\rPID|1||MRN||DOE^JOHN")
    assert client.submit(operator.methodcaller("to_json"), msg).result(timeout=60) == msg.to_json()


def test_fhir_with_a_mapping_on_the_workers(tmp_path, client):
    # the mapping goes to the workers pickled, as the text the core compiled: its tables need not be there
    from vellomar import fhir

    tables = {"ADT_A01.csv": "IN,,,,,,,,,,,,,\nSort Order,Identifier,Syntax,Name,Cardinality - Min,"
              "Cardinality - Max,Computable ANTLR,Computable FHIRPath,Narrative,Primary Target,Segment Map,"
              "References,,\n30,ADT_A01.ZPI,[ ZPI ],Pet,0,1,,,,Observation[9],ZPI[Observation],,,\n",
              "ZPI[Observation].csv": "HL7 v2,,,,,,,,,HL7 FHIR,,,,,,,,,\nSort Order,Identifier,Name,Data Type,"
              "Cardinality - Min,Cardinality - Max,Computable ANTLR,Computable FHIRPath,Narrative,FHIR Attribute,,"
              "Data Type,Cardinality - Min,Cardinality - Max,Data Type Mapping,Vocabulary Mapping,Assignment,,\n"
              '0,ZPI,,,,,,,,status,,code,1,1,,,"""final""",,\n2,ZPI-2,Name,ST,0,1,,,,valueString,,string,0,1,,,,,\n'}
    for name, text in tables.items():
        (tmp_path / name).write_text(text)
    mapping = fhir.Mapping.load(sorted(tmp_path.glob("*.csv")), zone="-05:00")
    for path in tmp_path.glob("*.csv"):
        path.unlink()
    texts = [f"MSH|^~\\&|A|F|B|F|20240101||ADT^A01^ADT_A01|M{i}|P|2.5.1\rPID|1||P{i}\rZPI|DOG|Rex{i}\r"
             for i in range(30)]
    (tmp_path / "a.hl7").write_text("".join(texts), newline="")
    frame = vellomar.dask.read_fhir(tmp_path / "a.hl7", mapping=mapping, blocksize=97)
    got = sorted(map(tuple, client.compute(frame).result(timeout=120).itertuples(index=False)))
    assert frame.npartitions > 20 and got == sorted(r for t in texts for r in fhir.resources_of(t, mapping=mapping))
    assert sum('"valueString":"Rex' in row[2] for row in got) == 30
