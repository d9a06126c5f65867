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
import re
import sys
from collections.abc import Callable
from typing import Any, BinaryIO, TextIO

from .._core import Message, parse, parse_batch
from .._files import WriteError
from .._ops import edit
from ..charsets import charset_of, codec_for
from ._base import PROG, UsageError, add_command, encoding_type, open_output

_ENVELOPE = ("FHS", "BHS", "BTS", "FTS")
_LINE_BREAKS = re.compile(r"[\r\n]+")
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


def _messages(text: str) -> list[Message]:
    """The messages of a file's text, cut as `parse_batch` cuts them."""
    return parse_batch(text)


def rewrite(text: str, change: Callable[[Message], Message]) -> str:
    """`text` (a file's content) with every message replaced by `change(message)`,
    in the file's own form: envelope lines, line ends and MLLP frames kept."""
    edited = iter([change(message) for message in _messages(text)])
    eol = "\r\n" if "\r\n" in text else "\r" if "\r" in text else "\n"
    framed = "\x0b" in text
    frame_end = "\r\x1c\r" if "\r\x1c" in text else "\x1c\r"
    out = []
    # Each MSH line is where the next message goes; envelope lines stay where
    # they stand. The messages' own lines come from the edited records.
    for line in _LINE_BREAKS.split(text):
        line = line.strip("\x0b\x1c")
        if line[:3] in _ENVELOPE:
            out.append(line + eol)
        elif line[:3] == "MSH":
            raw = next(edited).raw
            out.append("\x0b" + raw + frame_end if framed else raw.replace("\r", eol) + eol)
    return "".join(out)


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


def _edit_file(name: str, changes: dict[str, str], encoding: str | None, sink: BinaryIO, stderr: TextIO) -> bool:
    label = "<stdin>" if name == "-" else name
    try:
        if name == "-":
            data = sys.stdin.buffer.read()
        else:
            with open(name, "rb") as file:
                data = file.read()
        codec = encoding or codec_for(charset_of(data) or "utf-8")
        # A UTF-8 byte order mark is kept but not read as part of MSH.
        utf8 = codecs.lookup(codec).name == "utf-8"
        bom = codecs.BOM_UTF8 if utf8 and data.startswith(codecs.BOM_UTF8) else b""
        text = rewrite(data[len(bom) :].decode(codec), lambda m: edit(m, changes))
        if not text:
            raise ValueError("no HL7 message found")
        sink.write(bom + text.encode(codec))
    except (WriteError, BrokenPipeError):
        raise
    except (OSError, LookupError, ValueError, KeyError, IndexError) as error:
        reason = error.args[0] if isinstance(error, KeyError) else error
        stderr.write(f"{PROG}: {label}: {reason}\n")
        return False
    return True
