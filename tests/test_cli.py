"""The `vellomar` command line: each command's contract once, input handling, exit status."""

import gzip
import io
import json
import pathlib
import re
import subprocess
import sys

import pytest

import vellomar
from vellomar import cli

EXAMPLES = pathlib.Path(__file__).resolve().parents[1] / "examples"
ADT, BATCH, ORU, MLLP = (str(EXAMPLES / n) for n in ("adt_a01.hl7", "adt_batch.hl7", "oru_r01.hl7", "orm_o01_mllp.hl7"))
TWO = "MSH|^~\\&|A|B|||||X\rPID|1\rMSH|^~\\&|C|D\rPID|2"


@pytest.fixture
def run(capsys):
    return lambda *argv: (cli.main(list(argv)), *capsys.readouterr())


@pytest.fixture
def write(tmp_path):
    def write(data, name="in.hl7"):
        (path := tmp_path / name).write_bytes(data if isinstance(data, bytes) else data.encode())
        return str(path)
    return write


def test_show(run):
    status, out, err = run("show", ADT)
    lines = out.splitlines()
    assert (status, err, lines[0]) == (0, "", f"# {ADT}, message 1: ADT^A01, control ID MSG00017")
    assert [line.split()[0] for line in lines[1:] if not line.startswith(" ")] == [
        "MSH", "EVN", "PID", "NK1", "PV1", "AL1", "DG1"]
    # label, name in the definitions of the message's version, value (a coded one with its meaning)
    tree = {label: (name, value) for label, name, value in
            (re.split(" {2,}", line.strip()) for line in lines[1:] if line.startswith(" "))}
    assert [tree[k] for k in ("MSH-1", "MSH-2", "MSH-9-2", "PID-3[2]-1", "PID-3[2]-5", "PID-8", "PID-18-4-2")] == [
        ("Field Separator", "|"), ("Encoding Characters", "^~\\&"),
        ("Trigger Event", "A01 (ADT/ACK - Admit/visit notification)"), ("ID Number", "998-12-3456"),
        ("Identifier Type Code", "SS (Social Security number)"),  # a meaning in another repetition
        ("Administrative Sex", "F (Female)"), ("Universal ID", "1.2.840.114350")]
    assert not {"MSH-2-1", "MSH-8", "PID-5-4", "PID-7-1"} & set(tree)  # empty fields are left out
    assert run("show", ORU)[1].splitlines()[-1].endswith("ferritin.\\nReviewed by J. Park, MD.")  # control characters


def test_show_tree_of_segments_no_path_names(run, write):
    # a line of text among the segments and a segment of a lower-case name are shown, unnamed (a traceback before)
    status, out, err = run("show", write("MSH|^~\\&|A|B|||||ADT^A01|1|P|2.5.1\rhello world\rpid|1||X\rPID|1||Y\r"))
    assert (status, err) == (0, "")
    assert [line.strip() for line in out.splitlines()[-7:]] == [
        "hello world", "pid", "pid-1                               1", "pid-3                               X",
        "PID          Patient Identification", "PID-1      Set ID PID               1",
        "PID-3      Patient Identifier List  Y"]


@pytest.mark.parametrize("path", [BATCH, MLLP])
def test_show_json_and_ndjson(run, path):
    expected = [{"file": path, "message": n, **json.loads(m.to_json())} for n, m in enumerate(vellomar.read(path), 1)]
    status, out, _ = run("show", "--ndjson", path)
    assert status == 0 and [json.loads(line) for line in out.splitlines()] == expected
    status, out, _ = run("show", "--json", path)
    assert status == 0 and json.loads(out) == expected


@pytest.mark.parametrize("data", [TWO, TWO.replace("\r", "\n"), "\ufeff" + TWO, "\x0b" + TWO.replace("\rMSH", "\x1c\r\x0bMSH") + "\x1c\r",
                                  "FHS|^~\\&\r\nBHS|^~\\&\r\n" + TWO.replace("\r", "\r\n\r\n") + "\r\nBTS|2\r\nFTS|1\r\n"])
def test_get(run, write, monkeypatch, data):
    name = write(data)
    assert run("get", "-H", "MSH-3", "MSH-9", "PID-1", "--", name) == (0, f"{name}\t1\tA\tX\t1\n{name}\t2\tC\t\t2\n", "")
    monkeypatch.setattr(sys, "stdin", io.TextIOWrapper(io.BytesIO(data.encode())))
    assert run("get", "-H", "MSH-4", "--", "-") == (0, "<stdin>\t1\tB\n<stdin>\t2\tD\n", "")
    escapes = write("MSH|^~\\&\rZZZ|a\\X09\\b|\\X0D\\\\.br\\\\E\\", "escapes.hl7")
    assert run("get", "ZZZ-1", "ZZZ-2", "--", escapes)[1] == "a\\tb\t\\r\\n\\\\\n"


def test_ack(run):
    status, out, err = run("ack", "--code", "AE", "--text", "Bad PID", BATCH)
    acks = out.splitlines()
    assert (status, err, len(acks), acks[1::2]) == (0, "", 6, [f"MSA|AE|MSG0010{n}|Bad PID" for n in (1, 2, 3)])
    assert re.fullmatch(r"MSH\|\^~\\&\|ARCHIVE\|GOODHEALTH\|REGADT\|GOODHEALTH\|\d{14}\|\|ACK\|ACKMSG00102\|P\|2\.5", acks[2])


@pytest.mark.parametrize("data, error", [
    (b"", "no HL7 message found"), (b" \r\n\t", "no HL7 message found"), (b"FHS|^~\\&\rFTS|0", "no HL7 message found"),
    (b"hello", "no HL7 message found"), (None, "No such file or directory"),
    (TWO.encode() + b"\rMSH|^\rPID|3", "message 3 at byte 44: MSH segment too short to extract encoding characters"),
    (b"MSH|^~\\&|caf\xe9", "message 1 at byte 0: 'utf-8' codec can't decode byte 0xe9 in position 12: unexpected end of data"
                           " (choose the encoding with --encoding, e.g. --encoding cp1252)"),
])
def test_bad_input_is_reported_and_the_rest_read(run, write, data, error):
    bad = write(data) if data is not None else "/nonexistent.hl7"
    good = "A\nC\n" * (2 if b"PID|3" in (data or b"") else 1)  # messages before the bad one are printed
    assert run("get", "MSH-3", "--", bad, write(TWO, "good.hl7")) == (1, good, f"vellomar: {bad}: {error}\n")
    assert run("get", "--encoding", "latin-1", "MSH-3", "--", write(b"MSH|^~\\&|caf\xe9")) == (0, "caf\xe9\n", "")


@pytest.mark.parametrize("data", [b"", b"hello", gzip.compress(TWO.encode(), mtime=0)], ids=["empty", "text", "gzip"])
def test_bulk_commands_report_a_file_without_a_message(run, write, tmp_path, data):
    # a compressed archive or a file of something else was zero results and success
    bad, good = write(data, "bad.hl7"), write(TWO, "good.hl7")
    status, out, err = run("table", "id=MSH-3", "--format", "csv", "--", bad, good)
    assert (status, out.split(), err) == (1, ["id", "A", "C"], f"vellomar: {bad}: no HL7 message found\n")
    status, out, err = run("fhir", "-o", str(tmp_path / "out"), bad, good)
    assert (status, err.splitlines()[0]) == (1, f"vellomar: {bad}: no HL7 message found")
    assert len((tmp_path / "out" / "MessageHeader.ndjson").read_text().splitlines()) == 2


@pytest.mark.parametrize("argv, error", [
    (["get", "PID-x", "--", ADT], "vellomar get: error: invalid path 'PID-x': Invalid field index: 'x'"),
    (["get", "", "--", ADT], "vellomar get: error: invalid path '': Empty terser path"),
    (["get", "PID-5", ADT], "vellomar get: error: give the files after '--': get PATH... -- FILE..."),
    (["show", "--json", "--ndjson", ADT], "vellomar show: error: argument --ndjson: not allowed with argument --json"),
    (["show", "--encoding", "nope", ADT], "vellomar show: error: argument --encoding: unknown encoding: nope"),
    (["ack"], "vellomar ack: error: the following arguments are required: FILE"),
    (["get", "MSH-3", "--", ADT, "--bogus"], "vellomar: error: unrecognized arguments: --bogus"),  # nothing printed first
    (["edit", "MSH-3=X", "--", ADT, "--encoding", "nope"], "vellomar edit: error: argument --encoding: unknown encoding: nope"),
    (["listen", "--port", "99999"], "vellomar listen: error: argument --port: not a port number (0 to 65535): 99999"),
    (["fhir", ADT, "-o", "x", "-j", "0"], "vellomar fhir: error: argument -j/--jobs: not a number of jobs (1 or more): 0"),
    (["table", "x=PID-1", ADT], "vellomar table: error: give the files after '--': table NAME=PATH... -- FILE..."),
    (["table", "x=PID-1", "--"], "vellomar table: error: the following arguments are required: FILE"),
    (["table", "--", ADT], "vellomar table: error: give at least one NAME=PATH before '--'"),
    (["edit", "PID-1=x", ADT], "vellomar edit: error: give the files after '--': edit PATH=VALUE... -- FILE..."),
    (["edit", "PID-1=x", "--"], "vellomar edit: error: give at least one PATH=VALUE and one FILE: edit PATH=VALUE... -- FILE..."),
    (["edit", "--", ADT], "vellomar edit: error: give at least one PATH=VALUE and one FILE: edit PATH=VALUE... -- FILE..."),
    (["edit", "PID-1", "--", ADT], "vellomar edit: error: expected PATH=VALUE, got 'PID-1'"),
    (["get", "--", ADT], "vellomar get: error: the following arguments are required: PATH"),
    (["fhir", "--mapping", ADT, "-o", "/nonexistent/out.ndjson", ADT],
     f"vellomar fhir: error: --mapping: {ADT}: not a V2-to-FHIR table (message, segment, data type or vocabulary)"),
    # DIR cannot be made: nothing is read
    (["fhir", ADT, "-o", ADT], f"vellomar: {ADT}: Not a directory"),
    (["fhir", ADT, "-o", "/proc/out"], "vellomar: /proc/out: No such file or directory"),
    (["fhir", "--mapping", ADT, "--zone", "Mars/Olympus", "-o", "x", ADT],
     "vellomar fhir: error: --zone: zone 'Mars/Olympus': not a time zone of the IANA database, nor an offset such "
     "as '-05:00'"),
])
def test_usage_errors(run, argv, error):
    status, out, err = run(*argv)
    assert (status, out, err.splitlines()[-1]) == (2, "", error)


@pytest.mark.parametrize("variants", [
    [["get", "-H", "MSH-3", "MSH-4", "--", ADT], ["get", "MSH-3", "-H", "MSH-4", "--", ADT], ["get", "MSH-3", "MSH-4", "--", ADT, "-H"]],
    [["table", "--format", "ndjson", "x=MSH-3", "--", ADT], ["table", "x=MSH-3", "--format", "ndjson", "--", ADT],
     ["table", "x=MSH-3", "--", ADT, "--format", "ndjson"]],
    [["edit", "--encoding", "latin-1", "MSH-3=X", "--", ADT], ["edit", "MSH-3=X", "--encoding", "latin-1", "--", ADT],
     ["edit", "MSH-3=X", "--", ADT, "--encoding", "latin-1"]],
    [["show", "--ndjson", ADT, ADT], ["show", ADT, "--ndjson", ADT]],
])
def test_options_anywhere(run, variants):
    first = run(*variants[0])
    assert first[0] == 0 and first[1] and all(run(*argv) == first for argv in variants[1:])


def test_version_and_python_dash_m(run, tmp_path):
    assert run("--version") == (0, f"vellomar {vellomar.__version__}\n", "")
    status, out, err = run("get", "--help")
    assert (status, err, out.split("positional arguments:\n")[1].split()[0]) == (0, "", "PATH")  # the words' name, then their help
    (tmp_path / "bad.hl7").write_text("PID|1")
    done = subprocess.run([sys.executable, "-m", "vellomar", "show", ADT, "bad.hl7"], cwd=tmp_path, capture_output=True, text=True)
    assert (done.returncode, done.stdout.split("\n")[0]) == (1, f"# {ADT}, message 1: ADT^A01, control ID MSG00017")
    assert done.stderr == "vellomar: bad.hl7: no HL7 message found\n"


def test_a_command_imports_its_own_module_alone():
    code = ("import sys; from vellomar.cli import main; main(['get', '-h']); "
            "print(sorted(name for name in sys.modules if name.startswith('vellomar.cli.') or name == 'asyncio'))")
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)
    assert done.stdout.splitlines()[-1] == "['vellomar.cli._base', 'vellomar.cli.get']"


@pytest.mark.parametrize("argv, stdout_is_terminal, past, drawn", [
    (["get", "MSH-3"], False, 0, True), (["get", "MSH-3"], True, 0, False), (["get", "MSH-3"], False, 1, False),
    (["table", "x=MSH-3"], False, 0, True), (["table", "x=MSH-3"], False, 1, False),  # a file of the threshold's size
    (["edit", "MSH-3=X"], True, 0, False), (["edit", "-o", "{out}", "MSH-3=X"], True, 0, True),
    (["edit", "MSH-3=X"], False, 0, True),
])
def test_progress_bar_only_when_output_is_not_a_terminal(monkeypatch, write, tmp_path, argv, stdout_is_terminal, past,
                                                         drawn):
    def stream(tty):
        return type("Stream", (io.StringIO,), {"isatty": lambda self: tty, "buffer": io.BytesIO()})()
    text = "\r\n".join(f"MSH|^~\\&|{n}\nPID|{n}" for n in range(20))
    for obj, name, value in [(cli._base, "PROGRESS_THRESHOLD", len(text) + past), (cli.edit, "PROGRESS_THRESHOLD", 100),
                             (sys, "stderr", stream(True)), (sys, "stdout", stream(stdout_is_terminal))]:
        monkeypatch.setattr(obj, name, value)
    argv = [word.format(out=tmp_path / "out.hl7") for word in argv]
    assert cli.main([*argv, "--", write(text)]) == 0
    if argv[0] == "get":
        assert sys.stdout.getvalue() == "".join(f"{n}\n" for n in range(20))
    bar = sys.stderr.getvalue()
    assert ("100%" in bar and "[" in bar and bar.endswith("\r\x1b[K") and bar.count("\x1b[K") == 1) is drawn
    assert bar == "" or drawn


class _FailingStdout(io.StringIO):
    def __init__(self, error):
        super().__init__()
        self.error = error

    def write(self, text):
        raise self.error


@pytest.mark.parametrize("argv", [["get", "MSH-3", "--", ADT], ["table", "x=MSH-3", "--", ADT], ["show", ADT]])
@pytest.mark.parametrize("error, expected", [
    (KeyboardInterrupt(), (130, "\n")),
    (BrokenPipeError(32, "Broken pipe"), (1, "")),  # the reader went away: quiet
    (OSError(28, "No space left on device"), (1, "vellomar: <stdout>: No space left on device\n")),
])
def test_a_failed_standard_output_ends_the_run(monkeypatch, capsys, argv, error, expected):
    monkeypatch.setattr(sys, "stdout", _FailingStdout(error))
    assert (cli.main(argv), capsys.readouterr().err) == expected


@pytest.mark.parametrize("label, total, done, drawn", [
    ("f", 1000, [0], "\rf [------------------------------]   0%"),  # cleared even at 0%
    ("x" * 30, 200, [100, 101, 300], "\r" + "x" * 30 + " [###############---------------]  50%"
     "\r" + "x" * 30 + " [##############################] 100%"),  # each percent drawn once, never past 100
    ("y" * 31, 0, [0], "\r..." + "y" * 27 + " [------------------------------]   0%"),  # a long name, no bytes
])
def test_progress_bar_text(label, total, done, drawn):
    stream = io.StringIO()
    progress = cli._base.Progress(stream, label, total, True)
    for count in done:
        progress.update(count)
    progress.clear()
    progress.clear()  # cleared once
    assert stream.getvalue() == drawn + "\r\x1b[K"
