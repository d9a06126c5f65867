"""The command line on mistyped paths, bad messages and several messages as JSON."""

import json
import pathlib

import pytest

from vellomar import cli

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
