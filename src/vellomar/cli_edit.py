"""The `vellomar edit` command: set values by path in every message of files.

    vellomar edit [-o OUT] [--encoding ENCODING] PATH=VALUE... -- FILE...

Each message gets the changes of `vellomar.edit` (`PID-19=` empties PID-19,
`ZZZ(+)-1=x` appends a segment). The files are written one after another in
their own form: a batch keeps its FHS/BHS/BTS/FTS lines and its line ends, a
stream of MLLP frames stays framed, and the text is encoded with the codec it
was read with. A file in which a message cannot be changed (a segment it
lacks, say) is not written at all: one line on standard error, exit status 1.
"""

from __future__ import annotations

import argparse
import codecs
import re
import sys
from collections.abc import Callable, Sequence
from typing import Any, BinaryIO

from ._core import Message, parse, parse_batch
from ._ops import edit
from .charsets import charset_of, codec_for

PROG = "vellomar"

_ENVELOPE = ("FHS", "BHS", "BTS", "FTS")
_LINE_BREAKS = re.compile(r"[\r\n]+")
# A message with every delimiter and no segment but MSH: changes that are
# wrong for it for any reason but a missing segment are wrong for all.
_PROBE = parse("MSH|^~\\&")


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


def run(
    changes: dict[str, str], files: Sequence[str], output: str | None, encoding: str | None
) -> int:
    """Write every file changed to `output` (standard output when None); the exit status."""
    status = 0
    sink: BinaryIO = open(output, "wb") if output else sys.stdout.buffer
    try:
        for name in files:
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
            except (OSError, LookupError, ValueError, KeyError, IndexError) as error:
                reason = error.args[0] if isinstance(error, KeyError) else error
                sys.stderr.write(f"{PROG}: {label}: {reason}\n")
                status = 1
        sink.flush()
    except BrokenPipeError:
        return 1
    finally:
        if output:
            sink.close()
    return status


class _Run(argparse.Action):
    """Runs the command when argparse reaches its words and ends the parse
    with the exit status, as --version does: `vellomar.cli.main` returns it."""

    def __call__(
        self,
        parser: argparse.ArgumentParser,
        namespace: argparse.Namespace,
        values: Any,
        option_string: str | None = None,
    ) -> None:
        words = list(values)
        if "--" not in words:
            parser.error("give the files after '--': edit PATH=VALUE... -- FILE...")
        split = words.index("--")
        pairs, files = words[:split], words[split + 1 :]
        if not pairs or not files:
            parser.error("give at least one PATH=VALUE and one FILE: edit PATH=VALUE... -- FILE...")
        changes: dict[str, str] = {}
        for pair in pairs:
            path, equals, value = pair.partition("=")
            if not equals:
                parser.error(f"expected PATH=VALUE, got {pair!r}")
            try:
                edit(_PROBE, {path: value})
            except ValueError as error:
                parser.error(f"invalid path {path!r}: {error}")
            except (KeyError, IndexError):
                pass
            changes[path] = value
        raise SystemExit(run(changes, files, namespace.output, namespace.encoding))


def register(commands: Any) -> None:
    """Add the `edit` command to the sub-command parsers of `vellomar`."""
    from .cli import _encoding  # cli imports this module

    command = commands.add_parser(
        "edit",
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
        type=_encoding,
        help="codec of the files (default: the character set named in MSH-18, else utf-8)",
    )
    command.add_argument(
        "words", nargs=argparse.REMAINDER, action=_Run, metavar="PATH=VALUE... -- FILE..."
    )
