"""`vellomar get`: terser path values, one tab-separated line per message."""

from __future__ import annotations

import argparse
from typing import Any, TextIO

from .._core import Message
from .._ops import check_path, tsv_line
from ._base import PROG, UsageError, add_command, common_options, run_files


def register(commands: Any) -> None:
    get = add_command(
        commands,
        "get",
        run,
        words=(
            "PATH",
            "terser path: PID-5 (field), PID-5-1 (component), PID-3-4-2 (sub-component), "
            "OBX(1)-5 (field 5 of the second OBX)",
        ),
        parents=[common_options()],
        usage=f"{PROG} get [-h] [-H] [--encoding ENCODING] [--no-progress] PATH... -- FILE...",
        help="print terser path values, one line per message",
        description="Print the values of the terser paths for every message of the files "
        "given after '--', one tab-separated line per message. A segment or number that "
        "a message lacks gives an empty value. Backslash, tab, CR and LF in values are "
        "written as \\\\, \\t, \\r and \\n.",
    )
    get.add_argument(
        "-H",
        "--with-filename",
        action="store_true",
        help="start each line with the file name and the message number",
    )


def run(args: argparse.Namespace, stdout: TextIO, stderr: TextIO) -> int:
    paths = args.words
    if not paths:
        raise UsageError("the following arguments are required: PATH")
    if not args.files:
        raise UsageError("give the files after '--': get PATH... -- FILE...")
    for path in paths:
        trouble = check_path(path)
        if trouble is not None:
            raise UsageError(f"invalid path {path!r}: {trouble}")
    # The paths' syntax was checked before any file was read. The line is
    # built in one call (lookups, escaping, tabs): that is most of the time
    # `get` spends on each message.
    checked = tuple(paths)
    with_filename: bool = args.with_filename

    def values(name: str, number: int, message: Message) -> str:
        line = tsv_line(message, checked)
        return f"{name}\t{number}\t{line}" if with_filename else line

    return run_files(args, values, stdout, stderr)
