"""The examples of README.md and docs/ run as tests.

Sybil collects them: of the three well-kept tools that run Markdown examples
it is the one that keeps one namespace per document (the pages build an
example on the one before it, as a reader does), checks doctest output
(`>>>` lines with the result beneath, the form the pages show results in),
takes a skip directive with its reason in an HTML comment that the rendered
page hides, and lets a project add a parser of its own: the shell examples
below. pytest-examples checks results only in `#>` comments of print output,
and pytest-markdown-docs runs each fence on its own.

Every page runs in a fresh directory holding a copy of examples/ and a small
archive/ and store/ made from it, so that the paths the pages name exist.

- ```python fences run; `>>>` lines have their output compared.
- ```console fences run each `$ ` line with bash and compare what it prints
  (standard output and error as they come) with the lines beneath it, the
  exit status too when the line prints it.
- ```sh fences run as one script that must exit 0.
- `<!-- skip: next "reason" -->` before a fence marks it as not run, with the
  reason pytest reports.
"""

from __future__ import annotations

import doctest
import os
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path
from typing import Any

from sybil import Example, Sybil
from sybil.integration import pytest as sybil_pytest
from sybil.parsers.markdown import CodeBlockParser, PythonCodeBlockParser, SkipParser

ROOT = Path(__file__).resolve().parent


def _make_workdir(namespace: dict[str, Any]) -> None:
    work = Path(tempfile.mkdtemp(prefix="vellomar-docs-"))
    shutil.copytree(ROOT / "examples", work / "examples")
    archive = work / "archive"
    archive.mkdir()
    hl7 = sorted((work / "examples").glob("*.hl7"))
    for path in hl7:
        shutil.copy(path, archive / path.name)
    # One month's archive: the example files one after another (plain, batch and framed).
    (archive / "2024-03.hl7").write_bytes(b"".join(p.read_bytes() for p in hl7))
    shutil.copy(archive / "2024-03.hl7", work / "archive.hl7")
    # A listener's store: MLLP frames.
    (work / "store").mkdir()
    shutil.copy(archive / "orm_o01_mllp.hl7", work / "store" / "messages.hl7")
    namespace["__workdir__"] = work
    # Spark's Python workers run this interpreter, which has vellomar.
    os.environ.setdefault("PYSPARK_PYTHON", sys.executable)
    namespace["__cwd__"] = os.getcwd()
    os.chdir(work)


def _drop_workdir(namespace: dict[str, Any]) -> None:
    os.chdir(namespace["__cwd__"])
    shutil.rmtree(namespace["__workdir__"], ignore_errors=True)


def _shell_env() -> dict[str, str]:
    env = dict(os.environ)
    # `vellomar` and `python` are those of the interpreter running the tests;
    # unbuffered, so that standard output and error interleave as on a terminal.
    env["PATH"] = os.path.dirname(sys.executable) + os.pathsep + env.get("PATH", "")
    env["PYTHONUNBUFFERED"] = "1"
    env["COLUMNS"] = "80"  # argparse wraps its help to the terminal's width
    return env


def _run(script: str, cwd: Path) -> subprocess.CompletedProcess[str]:
    return subprocess.run(
        ["bash", "-c", script],
        cwd=cwd,
        env=_shell_env(),
        stdin=subprocess.DEVNULL,
        stdout=subprocess.PIPE,
        stderr=subprocess.STDOUT,
        text=True,
        timeout=120,
    )


def _console(example: Example) -> str | None:
    """Each `$ ` line of the block, its output compared with the lines under it."""
    commands: list[tuple[str, list[str]]] = []
    for line in example.parsed.splitlines():
        if line.startswith("$ "):
            commands.append((line[2:], []))
        elif commands:
            commands[-1][1].append(line)
    for command, expected in commands:
        done = _run(command, example.namespace["__workdir__"])
        got = done.stdout.splitlines()
        if got != expected:
            return (
                f"$ {command}\nexpected:\n" + "\n".join(expected) + "\ngot:\n" + "\n".join(got) + "\n"
            )
    return None


def _sh(example: Example) -> str | None:
    done = _run("set -e\n" + example.parsed, example.namespace["__workdir__"])
    if done.returncode != 0:
        return f"exit status {done.returncode}:\n{done.stdout}"
    return None


_cut_traceback = sybil_pytest.SybilItem._traceback_filter


def _traceback_filter(self: Any, excinfo: Any) -> Any:
    # Sybil cuts the traceback at its own frame and fails on one that has no
    # frame below it (an exception raised by an evaluator itself): keep it whole.
    try:
        return _cut_traceback(self, excinfo)
    except IndexError:
        return excinfo.traceback


sybil_pytest.SybilItem._traceback_filter = _traceback_filter  # type: ignore[method-assign]

pytest_collect_file = Sybil(
    parsers=[
        PythonCodeBlockParser(
            doctest_optionflags=doctest.ELLIPSIS | doctest.NORMALIZE_WHITESPACE
        ),
        CodeBlockParser("console", _console),
        CodeBlockParser("sh", _sh),
        SkipParser(),
    ],
    patterns=["README.md", "docs/*.md"],
    setup=_make_workdir,
    teardown=_drop_workdir,
).pytest()
