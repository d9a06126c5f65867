"""`vellomar table`: columns of terser path values as CSV, NDJSON or Parquet.

    vellomar table NAME=PATH... -- FILE... [--rows SEG] [--format csv|ndjson|parquet] [-o OUT]
        [--errors raise|skip|keep] [--encoding ENC] [--fallback-encoding ENC] [--provenance]

The table is built and written in batches (`vellomar.table_batches`): CSV and
NDJSON rows are written as they come and Parquet gets a row group per batch,
so memory is bounded by a batch, not by the input.
"""

from __future__ import annotations

import argparse
import csv
import importlib
import json
from collections.abc import Iterator
from typing import Any, Literal, TextIO

from ..read import MessageError
from ..table import BATCH_ROWS, Table, table_batches
from ._base import (
    PROG,
    NamedStdout,
    TrackedFiles,
    UsageError,
    add_command,
    encoding_type,
    is_terminal,
    open_output,
    problem,
    report,
    stopped,
)

FORMATS = ("csv", "ndjson", "parquet")
# A batch: the tables' BATCH_ROWS rows, and bytes of column data. Bounded
# memory, and large enough for Parquet row groups and for the per-batch cost
# to vanish.
BATCH_BYTES = 32 << 20


def register(commands: Any) -> None:
    """Adds the `table` command to the sub-command set `commands`."""
    parser = add_command(
        commands,
        "table",
        run,
        words=("NAME=PATH... -- FILE...", None),
        usage=f"{PROG} table [-h] NAME=PATH... -- FILE... [--rows SEG] "
        "[--format {csv,ndjson,parquet}] [-o OUT] [--errors {raise,skip,keep}] "
        "[--encoding ENC] [--fallback-encoding ENC] [--provenance]",
        help="write a table of terser path values (CSV, NDJSON or Parquet)",
        description="Write one row per message (or per SEG segment with --rows) of the files "
        "given after '--', one column per NAME=PATH (a bare PATH names itself). A segment, "
        "field or component that a message lacks is empty in CSV and null in NDJSON and "
        "Parquet. Rows are written as the files are read. A bad message is reported on "
        "standard error with its file, number and byte offset; by default the others are "
        "written and the exit status is 1. Parquet needs pyarrow (pip install "
        "'vellomar[arrow]').",
    )
    parser.add_argument("--rows", metavar="SEG",
                        help="one row per occurrence of this segment (e.g. OBX)")
    parser.add_argument("--format", choices=FORMATS, default="csv",
                        help="output format (default: csv)")
    parser.add_argument("-o", "--output", metavar="OUT",
                        help="output file (default: standard output); replaced only when "
                        "the whole table is written")
    parser.add_argument("--errors", choices=("raise", "skip", "keep"),
                        help="bad messages: 'raise' stops at the first (OUT untouched), "
                        "'skip' leaves them out, 'keep' gives each a row with the reason in "
                        "the column 'error'; with skip and keep the exit status is 0 "
                        "(default: leave them out, exit status 1)")
    parser.add_argument("--encoding", type=encoding_type,
                        help="codec of every message (default: the one each message's MSH-18 "
                        "names, UTF-8 when it names none)")
    parser.add_argument("--fallback-encoding", type=encoding_type, metavar="ENCODING",
                        help="codec of a message that would be UTF-8 but is not (e.g. latin-1 "
                        "for archives mixing UTF-8 with undeclared Latin-1)")
    parser.add_argument("--provenance", action="store_true",
                        help="add the columns source_file, source_message (number in the "
                        "file) and source_offset (byte offset)")
    parser.add_argument("--no-progress", action="store_true",
                        help="never draw a progress bar (otherwise drawn on a terminal "
                        "for inputs over 4 MB)")


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
    files = TrackedFiles(args.files, stdout, stderr, show)

    errors: Literal["raise", "skip", "keep"] = args.errors or "skip"
    try:
        batches = table_batches(
            files, columns, rows=args.rows, errors=errors, encoding=args.encoding,
            fallback_encoding=args.fallback_encoding, provenance=args.provenance,
            batch_rows=BATCH_ROWS, batch_bytes=BATCH_BYTES)
    except ValueError as error:
        raise UsageError(str(error)) from None
    # OUT is checked before any input is read and replaced only once whole.
    if args.output is None:
        output = None
    elif args.format == "parquet":
        output = open_output(args.output)
    else:
        output = open_output(args.output, "w", encoding="utf-8", newline="")
    bad = 0

    def reported(batches: Iterator[Table]) -> Iterator[Table]:
        nonlocal bad
        for batch in batches:
            for error in batch.errors:
                files.progress.clear()
                report(stdout, stderr, error.file or "-", problem(error))
            bad += len(batch.errors)
            yield batch

    try:
        try:
            _write(reported(batches), args.format, output or NamedStdout(stdout))
        except (MessageError, OSError) as error:
            return stopped(error, files, stdout, stderr, files.label)
        if bad:
            kept = "kept as rows" if errors == "keep" else "left out"
            stdout.flush()
            stderr.write(f"{PROG}: {bad} bad message{'s' * (bad != 1)} {kept}\n")
        if output is not None and not files.status:  # every file was read
            output.commit()
    finally:
        files.progress.clear()
        if output is not None:
            output.discard()  # a no-op after commit()
    return 1 if files.status or (bad and args.errors is None) else 0


def _write(batches: Iterator[Table], form: str, out: Any) -> None:
    """Writes each batch as it comes: CSV rows and NDJSON lines, or a Parquet
    row group."""
    if form == "parquet":
        arrow = importlib.import_module("pyarrow")
        parquet = importlib.import_module("pyarrow.parquet")
        sink = out.buffer if hasattr(out, "buffer") else out
        writer = None
        try:
            for batch in batches:
                data = arrow.table(batch)
                if writer is None:
                    writer = parquet.ParquetWriter(sink, data.schema)
                writer.write_table(data)
        finally:
            if writer is not None:
                writer.close()
    elif form == "csv":
        writer = csv.writer(out)
        for n, batch in enumerate(batches):
            if n == 0:
                writer.writerow(batch.column_names)
            writer.writerows(zip(*batch.to_pydict().values()))
    else:
        dumps = json.JSONEncoder(ensure_ascii=False).encode
        for batch in batches:
            out.write("".join([dumps(row) + "\n" for row in batch.to_pylist()]))
