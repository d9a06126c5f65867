"""The `vellomar table` command: columns of terser path values as CSV,
NDJSON or Parquet.

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

from .cli import PROG, PROGRESS_THRESHOLD, Progress, _is_terminal
from .read import MessageError
from .table import Table, table

FORMATS = ("csv", "ndjson", "parquet")


class _Tracked:
    """A binary file whose reads move a progress bar."""

    def __init__(self, file: BinaryIO, progress: Progress) -> None:
        self.file, self.progress, self.done = file, progress, 0

    def read(self, size: int) -> bytes:
        data = self.file.read(size)
        self.done += len(data)
        self.progress.update(self.done)
        return data


def _options(parser: argparse.ArgumentParser, defaults: argparse.Namespace | None) -> None:
    def default(name: str, value: Any) -> Any:
        return getattr(defaults, name) if defaults else value

    parser.add_argument("--rows", metavar="SEG", default=default("rows", None),
                        help="one row per occurrence of this segment (e.g. OBX)")
    parser.add_argument("--format", choices=FORMATS, default=default("format", "csv"),
                        help="output format (default: csv)")
    parser.add_argument("-o", "--output", metavar="OUT", default=default("output", None),
                        help="output file (default: standard output)")
    parser.add_argument("--no-progress", action="store_true",
                        default=default("no_progress", False),
                        help="never draw a progress bar (otherwise drawn on a terminal "
                        "for inputs over 4 MB)")


def register(commands: Any) -> None:
    """Adds the `table` command to the sub-command set `commands`."""
    parser = commands.add_parser(
        "table",
        usage=f"{PROG} table [-h] NAME=PATH... -- FILE... [--rows SEG] "
        "[--format {csv,ndjson,parquet}] [-o OUT]",
        help="write a table of terser path values (CSV, NDJSON or Parquet)",
        description="Write one row per message (or per SEG segment with --rows) of the files "
        "given after '--', one column per NAME=PATH (a bare PATH names itself). A segment, "
        "field or component that a message lacks is empty in CSV and null in NDJSON and "
        "Parquet. Parquet needs pyarrow (pip install 'vellomar[arrow]').",
    )
    _options(parser, None)
    parser.add_argument("words", nargs=argparse.REMAINDER, metavar="NAME=PATH... -- FILE...")
    parser.set_defaults(handler=_handler, parser=parser)


def _handler(args: argparse.Namespace) -> Any:
    # The whole command runs here; the generic per-message loop gets no files.
    status = run(args, sys.stdout, sys.stderr)
    raise SystemExit(status)


def _parse(args: argparse.Namespace) -> tuple[dict[str, str], list[str], argparse.Namespace]:
    parser: argparse.ArgumentParser = args.parser
    words: list[str] = args.words
    if "--" not in words:
        parser.error("give the files after '--': table NAME=PATH... -- FILE...")
    split = words.index("--")
    rest = argparse.ArgumentParser(prog=f"{PROG} table", add_help=False)
    _options(rest, args)
    rest.add_argument("files", nargs="+", metavar="FILE")
    options = rest.parse_args(words[split + 1 :])
    columns: dict[str, str] = {}
    for word in words[:split]:
        name, _, path = word.rpartition("=")
        columns[name or path] = path
    if not columns:
        parser.error("give at least one NAME=PATH before '--'")
    return columns, options.files, options


def run(args: argparse.Namespace, stdout: TextIO, stderr: TextIO) -> int:
    columns, files, options = _parse(args)
    if options.format == "parquet":
        try:
            importlib.import_module("pyarrow.parquet")
        except ImportError:
            args.parser.error(
                "--format parquet needs pyarrow: pip install 'vellomar[arrow]' (or pyarrow)")
        if options.output is None and _is_terminal(stdout):
            args.parser.error("--format parquet writes binary data: give -o OUT")
    show = not options.no_progress and _is_terminal(stderr) and (
        options.output is not None or not _is_terminal(stdout))
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

    try:
        result = table(sources(), columns, rows=options.rows)
    except (OSError, MessageError) as error:
        reason = error.strerror if isinstance(error, OSError) and error.strerror else str(error)
        stderr.write(f"\r\x1b[K{PROG}: {current[0]}: {reason}\n" if show else
                     f"{PROG}: {current[0]}: {reason}\n")
        return 1
    except ValueError as error:
        args.parser.error(str(error))
    if show:
        stderr.write("\r\x1b[K")
    _write(result, options, stdout)
    return 0


def _write(result: Table, options: argparse.Namespace, stdout: TextIO) -> None:
    if options.format == "parquet":
        arrow = importlib.import_module("pyarrow")
        target: Any = options.output or stdout.buffer
        importlib.import_module("pyarrow.parquet").write_table(arrow.table(result), target)
        return
    out: TextIO = open(options.output, "w", encoding="utf-8", newline="") if options.output else stdout
    try:
        if options.format == "csv":
            writer = csv.writer(out)
            writer.writerow(result.column_names)
            data = result.to_pydict()
            writer.writerows(zip(*data.values()))
        else:
            for row in result.to_pylist():
                out.write(json.dumps(row, ensure_ascii=False) + "\n")
    finally:
        if out is not stdout:
            out.close()
