"""The `vellomar` command line: show, get, ack, input handling and exit status."""

import importlib.metadata
import io
import json
import pathlib
import re
import subprocess
import sys

import pytest
from hypothesis import given, strategies as st

import vellomar
from vellomar import cli

EXAMPLES = pathlib.Path(__file__).resolve().parents[1] / "examples"
ADT = str(EXAMPLES / "adt_a01.hl7")
BATCH = str(EXAMPLES / "adt_batch.hl7")
ORU = str(EXAMPLES / "oru_r01.hl7")
MLLP = str(EXAMPLES / "orm_o01_mllp.hl7")
TWO = "MSH|^~\\&|A|B|||||X\rPID|1\rMSH|^~\\&|C|D\rPID|2"


def run(capsys, *argv):
    status = cli.main(list(argv))
    out, err = capsys.readouterr()
    return status, out, err


@pytest.fixture
def write(tmp_path):
    def write(data, name="in.hl7"):
        path = tmp_path / name
        path.write_bytes(data if isinstance(data, bytes) else data.encode())
        return str(path)

    return write


def test_show_tree(capsys):
    status, out, err = run(capsys, "show", ADT)
    lines = out.splitlines()
    assert (status, err) == (0, "")
    assert lines[0] == f"# {ADT}, message 1: ADT^A01, control ID MSG00017"
    assert [line for line in lines if not line.startswith(" ")][1:] == [
        "MSH", "EVN", "PID", "NK1", "PV1", "AL1", "DG1",
    ]
    tree = {line.split()[0]: line.split(None, 1)[1] for line in lines[1:] if " " in line.strip()}
    assert tree["MSH-1"] == "|" and tree["MSH-2"] == "^~\\&" and "MSH-2-1" not in tree
    assert tree["MSH-9-2"] == "A01" and "MSH-8" not in tree  # empty fields are left out
    assert tree["PID-3[2]-1"] == "998-12-3456" and tree["PID-18-4-2"] == "1.2.840.114350"
    assert tree["PID-5-5"] == "MS" and "PID-5-4" not in tree and "PID-7-1" not in tree


def test_show_escapes_control_characters(capsys):
    status, out, _ = run(capsys, "show", ORU)
    assert out.splitlines()[-1].split(None, 1) == ["NTE-3", "Mild anemia; suggest iron studies & ferritin.\\nReviewed by J. Park, MD."]


@pytest.mark.parametrize("path, parser", [(BATCH, vellomar.parse_batch), (MLLP, vellomar.parse), (ORU, vellomar.parse)])
def test_show_json_forms(capsys, path, parser):
    messages = parser(pathlib.Path(path).read_bytes().decode())
    expected = [json.loads(m.to_json()) for m in (messages if isinstance(messages, list) else [messages])]
    status, out, _ = run(capsys, "show", "--ndjson", path)
    assert status == 0 and [json.loads(line) for line in out.splitlines()] == expected
    status, out, _ = run(capsys, "show", "--json", path)
    assert status == 0 and out.startswith("{\n  \"raw\": ")
    decoder, documents, at = json.JSONDecoder(), [], 0
    while at < len(out):
        document, at = decoder.raw_decode(out, at)
        documents.append(document)
        at += 1
    assert documents == expected


def test_single_message_keeps_its_raw_text(capsys, write):
    text = "MSH|^~\\&|A\r\nPID|1\r\n"
    status, out, _ = run(capsys, "show", "--ndjson", write(text))
    assert json.loads(out)["raw"] == text


@pytest.mark.parametrize(
    "data",
    [
        TWO,
        TWO.replace("\r", "\n"),
        "FHS|^~\\&\r\nBHS|^~\\&\r\n" + TWO.replace("\r", "\r\n\r\n") + "\r\nBTS|2\r\nFTS|1\r\n",
        "\x0b" + TWO.replace("\rMSH", "\x1c\r\x0bMSH") + "\x1c\r",
        "\ufeff" + TWO,
    ],
)
def test_get_reads_batches_frames_and_bom(capsys, write, data):
    status, out, err = run(capsys, "get", "-H", "MSH-3", "MSH-9", "PID-1", "--", write(data))
    name = str(write(data))
    assert (status, err) == (0, "")
    assert out == f"{name}\t1\tA\tX\t1\n{name}\t2\tC\t\t2\n"


def test_get_escapes_tabs_and_line_ends(capsys, write):
    status, out, _ = run(capsys, "get", "ZZZ-1", "ZZZ-2", "--", write("MSH|^~\\&\rZZZ|a\\X09\\b|\\X0D\\\\.br\\\\E\\"))
    assert out == "a\\tb\t\\r\\n\\\\\n"


def test_ack(capsys):
    status, out, err = run(capsys, "ack", "--code", "AE", "--text", "Bad PID", BATCH)
    acks = out.splitlines()
    assert (status, err, len(acks)) == (0, "", 6)
    assert re.fullmatch(r"MSH\|\^~\\&\|ARCHIVE\|GOODHEALTH\|REGADT\|GOODHEALTH\|\d{14}\|\|ACK\|ACKMSG00102\|P\|2\.5", acks[2])
    assert acks[1::2] == [f"MSA|AE|MSG0010{n}|Bad PID" for n in (1, 2, 3)]
    status, out, _ = run(capsys, "ack", ADT)
    assert vellomar.parse(out.replace("\n", "\r"))["MSA-1"] == "AA"


def test_stdin(capsys, monkeypatch):
    monkeypatch.setattr(sys, "stdin", io.TextIOWrapper(io.BytesIO(TWO.encode())))
    status, out, _ = run(capsys, "get", "-H", "MSH-4", "--", "-")
    assert (status, out) == (0, "<stdin>\t1\tB\n<stdin>\t2\tD\n")


@pytest.mark.parametrize(
    "data, error",
    [
        (b"", "empty input"),
        (b" \r\n\t", "empty input"),
        (b"FHS|^~\\&\rFTS|0", "no HL7 message found"),
        (b"hello", "message 1: Message must start with MSH segment, got: 'hello'"),
        (TWO.encode() + b"\rMSH|^\rPID|3", "message 3: MSH segment too short to extract encoding characters"),
        (b"MSH|^~\\&|caf\xe9", "not valid utf-8: byte 0xe9 at offset 12 (choose the file's encoding with --encoding, e.g. --encoding cp1252)"),
    ],
)
def test_bad_input(capsys, write, data, error):
    bad, good = write(data), write(TWO, "good.hl7")
    status, out, err = run(capsys, "get", "MSH-3", "--", bad, good)
    assert (status, err) == (1, f"vellomar: {bad}: {error}\n")
    assert out.endswith("A\nC\n")  # the good file is still read, after the bad one


def test_bad_message_after_good_ones(capsys, write):
    path = write(TWO + "\rMSH|^\rPID|3")
    status, out, err = run(capsys, "show", "--ndjson", path)
    assert status == 1 and len(out.splitlines()) == 2 and err.endswith(": message 3: MSH segment too short to extract encoding characters\n")


def test_missing_file_and_encoding_option(capsys, write):
    status, _, err = run(capsys, "show", "/nonexistent.hl7")
    assert (status, err) == (1, "vellomar: /nonexistent.hl7: No such file or directory\n")
    status, out, _ = run(capsys, "get", "--encoding", "latin-1", "MSH-3", "--", write(b"MSH|^~\\&|caf\xe9"))
    assert (status, out) == (0, "caf\xe9\n")


@pytest.mark.parametrize(
    "argv, error",
    [
        (["get", "PID-x", "--", ADT], "vellomar get: error: invalid path 'PID-x': Invalid field index: 'x'"),
        (["get", "", "--", ADT], "vellomar get: error: invalid path '': Empty terser path"),
        (["get", "PID-5", ADT], "vellomar get: error: give the files after '--': get PATH... -- FILE..."),
        (["show", "--json", "--ndjson", ADT], "vellomar show: error: argument --ndjson: not allowed with argument --json"),
        (["show", "--encoding", "nope", ADT], "vellomar show: error: argument --encoding: unknown encoding: nope"),
        (["ack"], "vellomar ack: error: the following arguments are required: FILE"),
    ],
)
def test_usage_errors(capsys, argv, error):
    status, out, err = run(capsys, *argv)
    assert (status, out, err.splitlines()[-1]) == (2, "", error)


def test_version(capsys):
    status, out, _ = run(capsys, "--version")
    assert (status, out) == (0, f"vellomar {vellomar.__version__}\n")
    assert vellomar.__version__ == importlib.metadata.version("vellomar")


class Terminal(io.StringIO):
    def isatty(self):
        return True


@pytest.mark.parametrize("stdout_is_terminal, shown", [(False, True), (True, False)])
def test_progress_bar(monkeypatch, capsys, write, stdout_is_terminal, shown):
    monkeypatch.setattr(cli, "PROGRESS_THRESHOLD", 100)
    monkeypatch.setattr(cli, "CHUNK_SIZE", 30)
    monkeypatch.setattr(sys, "stderr", Terminal())
    if stdout_is_terminal:
        monkeypatch.setattr(sys, "stdout", Terminal())
    assert cli.main(["get", "MSH-3", "--", write(TWO * 5)]) == 0
    bar = sys.stderr.getvalue()
    assert ("100%" in bar and bar.endswith("\r\x1b[K")) is shown
    assert ("[" in bar) is shown


def test_python_dash_m(tmp_path):
    (tmp_path / "bad.hl7").write_text("PID|1")
    result = subprocess.run(
        [sys.executable, "-m", "vellomar", "show", ADT, "bad.hl7"], cwd=tmp_path, capture_output=True, text=True
    )
    assert result.returncode == 1 and result.stdout.startswith(f"# {ADT}, message 1: ADT^A01")
    assert result.stderr == "vellomar: bad.hl7: message 1: Message must start with MSH segment, got: 'PID|1'\n"


SEGMENT = st.sampled_from(["PID|1", "OBX|2|x", "NTE", "ZZZ|a^b"])
MESSAGE = st.builds(lambda n, rest: "\r".join([f"MSH|^~\\&|{n}"] + rest), st.integers(0, 99), st.lists(SEGMENT, max_size=3))


@given(st.lists(MESSAGE, min_size=2, max_size=8), st.sampled_from(["\r", "\n", "\r\n"]), st.integers(1, 60))
def test_chunked_reading_matches_parse_batch(messages, newline, chunk_size):
    text = newline.join("\r".join(messages).split("\r"))
    got = [(number, m.raw) for number, _, m in cli.iter_messages(text, chunk_size)]
    assert got == [(n, m.raw) for n, m in enumerate(vellomar.parse_batch(text), 1)]


@given(st.lists(st.sampled_from(["PID", "PID(1)", "1", "+5", "005", "", "x", " 5", "3(2)", "9" * 20, "+"]), min_size=1, max_size=5))
def test_check_path_agrees_with_the_core(pieces):
    path = "-".join(pieces)
    name = path.split("-")[0].split("(")[0]
    msg = vellomar.parse("MSH|^~\\&\r" + "\r".join(["|".join([name] + ["^".join(["&".join("abcdefghi")] * 9)] * 9)] * 3))
    try:
        msg[path]
        core = None
    except ValueError as error:
        core = str(error)
    except LookupError:
        core = None
    assert cli.check_path(path) == core
