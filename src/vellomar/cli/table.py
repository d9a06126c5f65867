"""`vellomar table`: columns of terser path values as CSV, NDJSON or Parquet.

    vellomar table NAME=PATH... -- FILE... [--rows SEG] [--format csv|ndjson|parquet] [-o OUT]
"""

from __future__ import annotations

import argparse
import csv
import importlib
import json
import sys
from collections.abc import Iterator
from typing import IO, Any, BinaryIO, TextIO

from ..read import MessageError
from ..table import Table, table
from ._base import (
    PROG,
    PROGRESS_THRESHOLD,
    Progress,
    UsageError,
    add_command,
    is_terminal,
    open_output,
)

FORMATS = ("csv", "ndjson", "parquet")


def register(commands: Any) -> None:
    """Adds the `table` command to the sub-command set `commands`."""
    parser = add_command(
        commands,
        "table",
        run,
        words=("NAME=PATH", "a column: its name and the terser path of its values"),
        usage=f"{PROG} table [-h] NAME=PATH... -- FILE... [--rows SEG] "
        "[--format {csv,ndjson,parquet}] [-o OUT]",
        help="write a table of terser path values (CSV, NDJSON or Parquet)",
        description="Write one row per message (or per SEG segment with --rows) of the files "
        "given after '--', one column per NAME=PATH (a bare PATH names itself). A segment, "
        "field or component that a message lacks is empty in CSV and null in NDJSON and "
        "Parquet. Parquet needs pyarrow (pip install 'vellomar[arrow]').",
    )
    parser.add_argument("--rows", metavar="SEG",
                        help="one row per occurrence of this segment (e.g. OBX)")
    parser.add_argument("--format", choices=FORMATS, default="csv",
                        help="output format (default: csv)")
    parser.add_argument("-o", "--output", metavar="OUT",
                        help="output file (default: standard output)")
    parser.add_argument("--no-progress", action="store_true",
                        help="never draw a progress bar (otherwise drawn on a terminal "
                        "for inputs over 4 MB)")


class _Tracked:
    """A binary file whose reads move a progress bar."""

    def __init__(self, file: BinaryIO, progress: Progress) -> None:
        self.file, self.progress, self.done = file, progress, 0

    def read(self, size: int) -> bytes:
        data = self.file.read(size)
        self.done += len(data)
        self.progress.update(self.done)
        return data


def _columns(args: argparse.Namespace) -> dict[str, str]:
    if args.files is None:
        raise UsageError("give the files after '--': table NAME=PATH... -- FILE...")
    if not args.files:
        raise UsageError("the following arguments are required: FILE")
    columns: dict[str, str] = {}
    for word in args.words:
        name, _, path = word.rpartition("=")
        columns[name or path] = path
    if not columns:
        raise UsageError("give at least one NAME=PATH before '--'")
    return columns


def run(args: argparse.Namespace, stdout: TextIO, stderr: TextIO) -> int:
    columns = _columns(args)
    files: list[str] = args.files
    if args.format == "parquet":
        try:
            importlib.import_module("pyarrow.parquet")
        except ImportError:
            raise UsageError(
                "--format parquet needs pyarrow: pip install 'vellomar[arrow]' (or pyarrow)"
            ) from None
        if args.output is None and is_terminal(stdout):
            raise UsageError("--format parquet writes binary data: give -o OUT")
    show = not args.no_progress and is_terminal(stderr) and (
        args.output is not None or not is_terminal(stdout))
    current = ["-"]

    def sources() -> Iterator[IO[bytes] | _Tracked]:
        for name in files:
            current[0] = name
            if name == "-":
                yield sys.stdin.buffer
                continue
            with open(name, "rb", buffering=0) as file:
                size = file.seek(0, 2)
                file.seek(0)
                yield _Tracked(file, Progress(stderr, name, size, show and size >= PROGRESS_THRESHOLD))

    # OUT is checked before any input is read and replaced only once whole.
    if args.output is None:
        output = None
    elif args.format == "parquet":
        output = open_output(args.output)
    else:
        output = open_output(args.output, "w", encoding="utf-8", newline="")
    try:
        try:
            result = table(sources(), columns, rows=args.rows)
        except (OSError, MessageError) as error:
            reason = error.strerror if isinstance(error, OSError) and error.strerror else str(error)
            stderr.write(f"\r\x1b[K{PROG}: {current[0]}: {reason}\n" if show else
                         f"{PROG}: {current[0]}: {reason}\n")
            return 1
        except ValueError as error:
            raise UsageError(str(error)) from None
        if show:
            stderr.write("\r\x1b[K")
        _write(result, args.format, output or stdout)
        if output is not None:
            output.commit()
    finally:
        if output is not None:
            output.discard()  # a no-op after commit()
    return 0


def _write(result: Table, form: str, out: Any) -> None:
    if form == "parquet":
        arrow = importlib.import_module("pyarrow")
        sink = out.buffer if hasattr(out, "buffer") else out
        importlib.import_module("pyarrow.parquet").write_table(arrow.table(result), sink)
    elif form == "csv":
        writer = csv.writer(out)
        writer.writerow(result.column_names)
        data = result.to_pydict()
        writer.writerows(zip(*data.values()))
    else:
        for row in result.to_pylist():
            out.write(json.dumps(row, ensure_ascii=False) + "\n")
