"""`vellomar edit`: set values by path in every message of files.

    vellomar edit [-o OUT] [--encoding ENCODING] PATH=VALUE... -- FILE...

Each message gets the changes of `vellomar.edit` (`PID-19=` empties PID-19,
`ZZZ(+)-1=x` appends a segment). The files are written one after another in
their own form: a batch keeps its FHS/BHS/BTS/FTS lines and its line ends, a
stream of MLLP frames stays framed, and the text is encoded with the codec it
was read with. A file in which a message cannot be changed (a segment it
lacks, say) is not written at all: one line on standard error, exit status 1;
OUT is then left as it was.
"""

from __future__ import annotations

import argparse
import codecs
import io
import re
import sys
from collections.abc import Callable
from typing import Any, BinaryIO, TextIO

from .._core import Message, parse
from .._files import WriteError
from .._ops import edit
from ..read import MessageError, read
from ..writer import write
from ._base import PROG, UsageError, add_command, encoding_type, open_output, problem

_ENVELOPE = (b"FHS", b"BHS", b"BTS", b"FTS")
_LINE_BREAKS = re.compile(rb"[\r\n]+")
# A message with every delimiter and no segment but MSH: changes that are
# wrong for it for any reason but a missing segment are wrong for all.
_PROBE = parse("MSH|^~\\&")


def register(commands: Any) -> None:
    command = add_command(
        commands,
        "edit",
        run,
        words=("PATH=VALUE", "the value to set at a terser path (PATH= empties it)"),
        usage=f"{PROG} edit [-h] [-o OUT] [--encoding ENCODING] PATH=VALUE... -- FILE...",
        help="set values by terser path and write the messages out",
        description="Set the values at the paths in every message of the files given "
        "after '--' and write the files out in their own form (batch envelope, line "
        "ends, MLLP frames). Values are escaped as needed; PATH= empties the element. "
        "Paths may name field repetitions, PID-3(1)-1, and append a segment, ZZZ(+)-1. "
        "Options come before the first PATH=VALUE.",
    )
    command.add_argument(
        "-o", "--output", metavar="OUT", help="write to OUT instead of standard output"
    )
    command.add_argument(
        "--encoding",
        default=None,
        type=encoding_type,
        help="codec of the files (default: the character set named in MSH-18, else utf-8)",
    )


def rewrite(
    data: bytes, change: Callable[[Message], Message], encoding: str | None = None
) -> bytes:
    """`data` (a file's bytes) with every message replaced by `change(message)`,
    in the file's own form: a byte order mark, envelope lines, line ends and
    MLLP frames kept. Messages are cut and decoded by `vellomar.read` and
    written back by `vellomar.write`, each in its own codec (by its MSH-18, or
    `encoding` for all). MessageError for a message that does not parse,
    decode or encode; ValueError when there is no message."""
    reader = read(io.BytesIO(data), encoding=encoding)
    starts: list[int] = []
    edited: list[Message] = []
    for message in reader:
        starts.append(reader.offset)
        edited.append(change(message))
    if not edited:
        raise ValueError("no HL7 message found")
    eol = "\r\n" if b"\r\n" in data else "\r" if b"\r" in data else "\n"
    framed = b"\x0b" in data
    # Frames may close right after their last segment ("...\x1c\r") or after
    # its line end ("...\r\x1c\r"); inside a frame segments end with CR.
    bare_close = framed and b"\r\x1c" not in data
    out = io.BytesIO()
    if data.startswith(codecs.BOM_UTF8):
        out.write(codecs.BOM_UTF8)
    _envelope(data[: starts[0]], eol, out)
    for number, (start, end, message) in enumerate(
        zip(starts, [*starts[1:], len(data)], edited), 1
    ):
        try:
            write(out, message, framing="mllp" if framed else None,
                  line_end="\r" if framed else eol, encoding=encoding)
        except MessageError as error:
            raise MessageError(number, start, error.reason) from None
        if bare_close:
            out.seek(-3, io.SEEK_END)
            out.truncate()
            out.write(b"\x1c\r")
        # Envelope lines (BTS, FTS, the next BHS) stand after the message they follow.
        _envelope(data[start:end], eol, out)
    return out.getvalue()


def _envelope(data: bytes, eol: str, out: BinaryIO) -> None:
    """Writes the FHS/BHS/BTS/FTS lines of `data` (which the reader leaves out
    of messages) as they are, each followed by `eol`."""
    for line in _LINE_BREAKS.split(data):
        line = line.strip(b"\x0b\x1c")
        if line[:3] in _ENVELOPE:
            out.write(line + eol.encode())


def _changes(args: argparse.Namespace) -> dict[str, str]:
    """The changes of the command line, every path checked before any file is read."""
    if args.files is None:
        raise UsageError("give the files after '--': edit PATH=VALUE... -- FILE...")
    if not args.words or not args.files:
        raise UsageError("give at least one PATH=VALUE and one FILE: edit PATH=VALUE... -- FILE...")
    changes: dict[str, str] = {}
    for pair in args.words:
        path, equals, value = pair.partition("=")
        if not equals:
            raise UsageError(f"expected PATH=VALUE, got {pair!r}")
        try:
            edit(_PROBE, {path: value})
        except ValueError as error:
            raise UsageError(f"invalid path {path!r}: {error}") from None
        except (KeyError, IndexError):
            pass
        changes[path] = value
    return changes


def run(args: argparse.Namespace, stdout: TextIO, stderr: TextIO) -> int:
    """Writes every file changed to OUT (standard output without -o); OUT is
    replaced only when every file was changed."""
    changes = _changes(args)
    output = open_output(args.output) if args.output else None
    sink: Any = output if output is not None else stdout.buffer
    status = 0
    try:
        for name in args.files:
            if not _edit_file(name, changes, args.encoding, sink, stderr):
                status = 1
        if output is not None and status == 0:
            output.commit()
        else:
            sink.flush()
    finally:
        if output is not None:
            output.discard()  # a no-op after commit()
    return status


def _edit_file(
    name: str, changes: dict[str, str], encoding: str | None, sink: BinaryIO, stderr: TextIO
) -> bool:
    """Writes the file `name` changed to `sink`; False (after its error line)
    when it could not be read or changed."""
    label = "<stdin>" if name == "-" else name
    try:
        if name == "-":
            data = sys.stdin.buffer.read()
        else:
            with open(name, "rb") as file:
                data = file.read()
        sink.write(rewrite(data, lambda m: edit(m, changes), encoding))
    except (WriteError, BrokenPipeError):
        raise  # the output failed: the run ends
    except MessageError as error:
        reason = problem(error)
    except OSError as error:
        reason = error.strerror or str(error)
    except (LookupError, ValueError, KeyError, IndexError) as error:
        reason = str(error.args[0] if isinstance(error, KeyError) else error)
    else:
        return True
    sink.flush()  # what was written before the error line
    stderr.write(f"{PROG}: {label}: {reason}\n")
    return False
