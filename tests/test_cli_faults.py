"""The command line on mistyped paths, bad messages and several messages as JSON."""

import io
import json
import pathlib
import sys
import types

import pytest
from hypothesis import given, strategies as st

import vellomar
from vellomar import _ops, cli

ADT = str(pathlib.Path(__file__).resolve().parents[1] / "examples" / "adt_a01.hl7")


def run(capsys, *argv):
    status = cli.main(list(argv))
    out, err = capsys.readouterr()
    return status, out, err


@pytest.mark.parametrize(
    "path, error",
    [
        ("PID.5", "Invalid segment name: 'PID.5'"),
        ("pid-5-1", "Invalid segment name: 'pid'"),
        ("PID.F5", "Invalid segment name: 'PID.F5'"),
        ("/PID-5", "Invalid segment name: '/PID'"),
        ("OBX(x)-5", "Invalid segment repetition: 'OBX(x)'"),
        ("OBX(1-5", "Invalid segment repetition: 'OBX(1'"),
        ("PID-5-1-x", "Invalid sub-component index: 'x'"),
    ],
)
def test_mistyped_path_is_a_usage_error(capsys, path, error):
    status, out, err = run(capsys, "get", "PID-5-1", path, "--", "/nonexistent.hl7")
    assert (status, out, err.splitlines()[-1]) == (2, "", f"vellomar get: error: invalid path {path!r}: {error}")


def test_absent_paths_are_empty_cells(capsys):
    assert run(capsys, "get", "ZZZ-1", "PID-99", "OBX(3)-5", "PID-5-1", "--", ADT) == (0, "\t\t\tNGUYEN\n", "")


def five_messages(tmp_path, newline="\r"):
    """Five messages, the 2nd and 4th broken; the others hold a two-byte character."""
    texts = [f"MSH|^~\\&|A|B|||||X|{n}{newline}PID|{n}||Zoë" if n % 2 else ("MSH|^~", "MSH|^")[n // 4] for n in range(1, 6)]
    data = newline.join(texts).encode()
    path = tmp_path / "five.hl7"
    path.write_bytes(data)
    return str(path), texts, [len(newline.join(texts[:n] + [""]).encode()) for n in range(5)]


@pytest.mark.parametrize("newline", ["\r", "\n", "\r\n"])
def test_bad_messages_do_not_end_the_file(capsys, tmp_path, newline):
    path, _, offsets = five_messages(tmp_path, newline)
    status, out, err = run(capsys, "get", "-H", "MSH-10", "PID-1", "--", path, ADT)
    assert (status, out) == (1, f"{path}\t1\t1\t1\n{path}\t3\t3\t3\n{path}\t5\t5\t5\n{ADT}\t1\tMSG00017\t1\n")
    too_short = "MSH segment too short to extract encoding characters"
    assert err == "".join(f"vellomar: {path}: message {n} at byte {offsets[n - 1]}: {too_short}\n" for n in (2, 4))


@pytest.mark.parametrize("copies", [0, 1, 2])
def test_show_json_is_one_document_naming_file_and_message(capsys, tmp_path, copies):
    path, texts, _ = five_messages(tmp_path)
    empty = tmp_path / "empty.hl7"
    empty.write_bytes(b"FHS|^~\\&\rFTS|0")
    files = [path] * copies + [str(empty)]
    records = [{"file": path, "message": n, **json.loads(vellomar.parse(texts[n - 1]).to_json())} for _ in range(copies) for n in (1, 3, 5)]
    _, out, _ = run(capsys, "show", "--json", *files)
    assert out == json.dumps(records, indent=2, ensure_ascii=False) + "\n" and json.loads(out) == records
    _, out, _ = run(capsys, "show", "--ndjson", *files)
    assert [json.loads(line) for line in out.splitlines()] == records


class Trickle:
    """Standard input that hands out at most 100 bytes a call and notes how
    many output lines had been written at each call."""

    def __init__(self, data):
        self.data, self.lines_written = data, []

    def read(self, size=-1):
        self.lines_written.append(sys.stdout.getvalue().count("\n"))
        size = len(self.data) if size is None or size < 0 else min(size, 100)
        chunk, self.data = self.data[:size], self.data[size:]
        return chunk


def test_output_starts_before_the_input_is_read(monkeypatch):
    stdin = Trickle("".join(f"MSH|^~\\&|A|B|||||X|{n}\rPID|{n}\r" for n in range(50)).encode())
    monkeypatch.setattr(sys, "stdin", types.SimpleNamespace(buffer=stdin))
    monkeypatch.setattr(sys, "stdout", io.StringIO())
    assert cli.main(["get", "MSH-10", "--", "-"]) == 0
    assert sys.stdout.getvalue() == "".join(f"{n}\n" for n in range(50))
    assert 0 < stdin.lines_written[len(stdin.lines_written) // 2] < 50


ORU = vellomar.parse(pathlib.Path(ADT).with_name("oru_r01.hl7").read_text())
PATH = st.builds(
    lambda segment, numbers: "-".join([segment, *numbers]),
    st.sampled_from(["MSH", "PID", "OBX", "OBX(1)", "OBX(9)", "NTE", "ZZZ"]),
    st.lists(st.integers(1, 12).map(str), max_size=3),
)


@given(st.lists(PATH, min_size=1, max_size=4))
def test_get_line_agrees_with_lookups(paths):
    def cell(path):
        try:
            value = ORU[path]
        except LookupError:
            return ""
        return value.replace("\\", "\\\\").replace("\t", "\\t").replace("\r", "\\r").replace("\n", "\\n")

    assert _ops.tsv_line(ORU, tuple(paths)) == "\t".join(map(cell, paths)) + "\n"
