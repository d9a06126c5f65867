"""The `vellomar` command: look at HL7 v2 files from the shell.

    vellomar show [--json | --ndjson] FILE...
    vellomar get [-H] PATH... -- FILE...
    vellomar ack [--code CODE] [--text TEXT] FILE...

A FILE holds one message (MLLP-framed or not), a stream of MLLP frames, or a
batch with or without FHS/BHS envelopes; `-` is standard input. Files are read
as bytes and decoded as UTF-8 (a byte order mark is dropped); bytes that are
not UTF-8 are an error naming the file and the offset, unless another codec is
chosen with --encoding.

Exit status: 0 when every file was read, 1 when a file could not be read or
held a message that does not parse (one line on standard error for each), 2
for a command line that does not make sense.
"""

from __future__ import annotations

import argparse
import codecs
import json
import os
import re
import sys
from collections.abc import Callable, Iterator, Sequence
from typing import TextIO

from . import __version__
from ._core import Field, Message, parse, parse_batch

PROG = "vellomar"

# Inputs at least this large get a progress bar when standard error is a
# terminal (and standard output is not the same screen).
PROGRESS_THRESHOLD = 4 * 1024 * 1024

# A large batch is handed to the parser in pieces of about this many
# characters, each cut at the start of an MSH line, so that progress can be
# shown and output starts early.
CHUNK_SIZE = 1024 * 1024

# The characters that the parser trims around a batch and around each message.
_WHITE_SPACE = (
    "\t\n\v\f\r \x85\xa0\u1680\u2000\u2001\u2002\u2003\u2004\u2005\u2006"
    "\u2007\u2008\u2009\u200a\u2028\u2029\u202f\u205f\u3000"
)
_ENVELOPE = ("FHS", "BHS", "BTS", "FTS")
_LINE_BREAKS = re.compile(r"[\r\n]+")
_MLLP_BLOCKS = re.compile(r"[\x0b\x1c]")
_NUMBER = re.compile(r"\+?[0-9]+")
_MAX_INDEX = 2**64 - 1


class InputError(Exception):
    """A file that cannot be read, or a message in it that does not parse."""


class PathError(Exception):
    """A terser path that a message answers with a syntax error."""


# ---------------------------------------------------------------------------
# Reading messages


def read_text(name: str, encoding: str) -> str:
    """The decoded content of the file `name` (`-` is standard input)."""
    try:
        if name == "-":
            stdin = sys.stdin
            buffer = getattr(stdin, "buffer", None)
            data: bytes | str = buffer.read() if buffer is not None else stdin.read()
        else:
            with open(name, "rb") as file:
                data = file.read()
    except OSError as error:
        raise InputError(error.strerror or str(error)) from None
    if isinstance(data, str):
        return data
    if codecs.lookup(encoding).name == "utf-8":
        encoding = "utf-8-sig"
    try:
        return data.decode(encoding)
    except UnicodeDecodeError as error:
        byte = data[error.start]
        raise InputError(
            f"not valid {error.encoding.removesuffix('-sig')}: byte 0x{byte:02x} at offset "
            f"{error.start} (choose the file's encoding with --encoding, e.g. --encoding cp1252)"
        ) from None


def _msh_lines(text: str) -> int:
    return text.startswith("MSH") + text.count("\rMSH") + text.count("\nMSH")


def _has_envelope(text: str) -> bool:
    return any(
        text.startswith(tag) or f"\r{tag}" in text or f"\n{tag}" in text
        for tag in _ENVELOPE
    )


def _split_batch(text: str) -> Iterator[str]:
    """The message texts of a batch, cut as `parse_batch` cuts them."""
    current: list[str] = []
    for line in _LINE_BREAKS.split(text.strip(_WHITE_SPACE)):
        head = line[:3]
        if not line or head in _ENVELOPE:
            continue
        if head == "MSH" and current:
            yield "\r".join(current)
            current = []
        current.append(line)
    if current:
        yield "\r".join(current)


def _chunks(text: str, size: int) -> Iterator[tuple[int, str]]:
    """Pieces of `text` of about `size` characters, each but the first
    starting with an MSH line, with the offset where each ends."""
    start = 0
    while start < len(text):
        cut = len(text)
        if len(text) - start > size:
            found = [
                at + 1
                for at in (text.find("\rMSH", start + size), text.find("\nMSH", start + size))
                if at >= 0
            ]
            if found:
                cut = min(found)
        yield cut, text[start:cut]
        start = cut


def _single_message(text: str) -> Iterator[tuple[Message, float]]:
    yield parse(text), 1.0


def _batch_messages(text: str) -> Iterator[tuple[Message, float]]:
    """The messages of one piece of a batch, each with the share of the piece
    read so far. When the piece does not parse, its messages are parsed one
    by one so that the ones before the bad one are still delivered and the
    bad one raises its own error."""
    try:
        messages = parse_batch(text)
    except ValueError:
        pass
    else:
        for number, message in enumerate(messages, 1):
            yield message, number / len(messages)
        return
    for message_text in _split_batch(text):
        body = message_text.strip(_WHITE_SPACE)
        if body.startswith("MSH"):
            yield parse(body), 1.0


def iter_messages(
    text: str, chunk_size: int = CHUNK_SIZE
) -> Iterator[tuple[int, int, Message]]:
    """Every message of a file's text as (number, offset reached, message).

    Numbers count from 1. A message that does not parse raises InputError
    naming its number; the messages before it have been delivered.
    """
    if not text.strip(_WHITE_SPACE):
        raise InputError("empty input")
    # MLLP start and end blocks never occur inside a message, so they split
    # a stream of frames into the texts of its messages.
    if "\x0b" in text or "\x1c" in text:
        units: list[tuple[int, str]] = []
        offset = 0
        for piece in _MLLP_BLOCKS.split(text):
            offset += len(piece) + 1
            if piece.strip(_WHITE_SPACE):
                units.append((min(offset, len(text)), piece))
    else:
        units = [(len(text), text)]

    number = 0
    for unit_end, unit in units:
        unit_start = unit_end - len(unit)
        # One MSH line and no envelope: a single message, which `parse` reads
        # as it stands (its raw text keeps its line ends) and which must begin
        # with MSH. Anything else is a batch.
        single = _msh_lines(unit) <= 1 and not _has_envelope(unit)
        pieces = [(len(unit), unit)] if single else _chunks(unit, chunk_size)
        for piece_end, piece in pieces:
            piece_start = unit_start + piece_end - len(piece)
            messages = _single_message(piece) if single else _batch_messages(piece)
            while True:
                try:
                    message, share = next(messages)
                except StopIteration:
                    break
                except ValueError as error:
                    raise InputError(f"message {number + 1}: {error}") from None
                number += 1
                yield number, piece_start + int(len(piece) * share), message
    if number == 0:
        raise InputError("no HL7 message found")


# ---------------------------------------------------------------------------
# Output


class Progress:
    """A one-line progress bar on a terminal; does nothing when disabled."""

    WIDTH = 30

    def __init__(self, stream: TextIO, label: str, total: int, enabled: bool) -> None:
        self.stream = stream
        self.label = label if len(label) <= 30 else "..." + label[-27:]
        self.total = max(total, 1)
        self.enabled = enabled
        self.shown = -1

    def update(self, done: int) -> None:
        if not self.enabled:
            return
        percent = min(100, done * 100 // self.total)
        if percent == self.shown:
            return
        self.shown = percent
        filled = self.WIDTH * percent // 100
        bar = "#" * filled + "-" * (self.WIDTH - filled)
        self.stream.write(f"\r{self.label} [{bar}] {percent:3d}%")
        self.stream.flush()

    def clear(self) -> None:
        if self.enabled and self.shown >= 0:
            self.stream.write("\r\x1b[K")
            self.stream.flush()
            self.shown = -1


def _is_terminal(stream: TextIO) -> bool:
    try:
        return stream.isatty()
    except (AttributeError, ValueError):
        return False


_CONTROL = {code: f"\\x{code:02x}" for code in range(32)}
_CONTROL.update({9: "\\t", 10: "\\n", 13: "\\r", 127: "\\x7f"})


def _visible(value: str) -> str:
    """A value on one line: control characters written as escapes."""
    return value.translate(_CONTROL)


def _header(message: Message) -> str:
    parts = []
    try:
        code, event = message.message_type
        parts.append(f"{code}^{event}" if event else code)
    except (KeyError, IndexError):
        pass
    try:
        parts.append(f"control ID {message.control_id}")
    except (KeyError, IndexError):
        pass
    return ", ".join(parts)


def _field_lines(label: str, field: Field, depth: int, lines: list[tuple[int, str, str]]) -> None:
    lines.append((depth, label, field.value))
    repetitions = field.repetitions
    if repetitions:
        for number, repetition in enumerate(repetitions, 1):
            _field_lines(f"{label}[{number}]", repetition, depth + 1, lines)
        return
    components = field.components
    if len(components) == 1 and len(components[0].sub_components) == 1:
        return
    for number, component in enumerate(components, 1):
        if not component.value:
            continue
        lines.append((depth + 1, f"{label}-{number}", component.value))
        subs = component.sub_components
        if len(subs) > 1:
            for sub_number, sub in enumerate(subs, 1):
                if sub:
                    lines.append((depth + 2, f"{label}-{number}-{sub_number}", sub))


def format_tree(message: Message) -> str:
    """The readable tree of `show`: each segment, then its non-empty fields
    labelled with their terser paths, with their components, sub-components
    and repetitions (`PID-3[2]` is the second repetition of PID-3)."""
    lines: list[tuple[int, str, str]] = []
    for segment in message:
        lines.append((0, segment.name, ""))
        is_msh = segment.name == "MSH"
        for number, field in enumerate(segment.fields, 1):
            label = f"{segment.name}-{number}"
            if is_msh and number <= 2:
                # MSH-1 and MSH-2 hold the delimiters themselves.
                lines.append((1, label, field.value))
            elif field.value:
                _field_lines(label, field, 1, lines)
    width = max(2 * depth + len(label) for depth, label, _ in lines)
    out = []
    for depth, label, value in lines:
        if not value:
            out.append("  " * depth + label)
        else:
            out.append(f"{'  ' * depth + label:<{width}}  {_visible(value)}")
    return "\n".join(out) + "\n"


def compact_json(message: Message) -> str:
    """The JSON form of `message` on one line."""
    return json.dumps(json.loads(message.to_json()), ensure_ascii=False, separators=(",", ":"))


def _tsv_value(value: str) -> str:
    return (
        value.replace("\\", "\\\\").replace("\t", "\\t").replace("\n", "\\n").replace("\r", "\\r")
    )


def check_path(path: str) -> str | None:
    """Why the terser path `path` can never be answered, or None if it can."""
    if not path:
        return "Empty terser path"
    pieces = path.split("-")
    for kind, piece in zip(("field", "component", "sub-component"), pieces[1:4]):
        if not _NUMBER.fullmatch(piece) or int(piece) > _MAX_INDEX:
            return f"Invalid {kind} index: '{piece}'"
    return None


# ---------------------------------------------------------------------------
# Commands

# A command turns each message into the text that it prints.
Handler = Callable[[str, int, Message], str]


def _show_handler(args: argparse.Namespace) -> Handler:
    if args.json:
        return lambda name, number, message: message.to_json() + "\n"
    if args.ndjson:
        return lambda name, number, message: compact_json(message) + "\n"
    separator = ""

    def tree(name: str, number: int, message: Message) -> str:
        nonlocal separator
        header = _header(message)
        title = f"# {name}, message {number}" + (f": {header}" if header else "")
        text = separator + title + "\n" + format_tree(message)
        separator = "\n"
        return text

    return tree


def _get_handler(args: argparse.Namespace) -> Handler:
    paths: list[str] = args.paths

    def values(name: str, number: int, message: Message) -> str:
        cells = [name, str(number)] if args.with_filename else []
        for path in paths:
            try:
                cells.append(_tsv_value(message[path]))
            except (KeyError, IndexError):
                cells.append("")
            except ValueError as error:
                raise PathError(f"invalid path {path!r}: {error}") from None
        return "\t".join(cells) + "\n"

    return values


def _ack_handler(args: argparse.Namespace) -> Handler:
    def acknowledge(name: str, number: int, message: Message) -> str:
        return message.ack(args.code, args.text).replace("\r", "\n") + "\n"

    return acknowledge


def _run(args: argparse.Namespace, handler: Handler, stdout: TextIO, stderr: TextIO) -> int:
    status = 0
    progress_allowed = (
        not args.no_progress and _is_terminal(stderr) and not _is_terminal(stdout)
    )
    for name in args.files:
        label = "<stdin>" if name == "-" else name
        progress = Progress(stderr, label, 0, False)
        try:
            text = read_text(name, args.encoding)
            progress = Progress(
                stderr, label, len(text), progress_allowed and len(text) >= PROGRESS_THRESHOLD
            )
            for number, reached, message in iter_messages(text):
                _write(stdout, handler(label, number, message))
                progress.update(reached)
        except (InputError, PathError) as error:
            progress.clear()
            stdout.flush()
            stderr.write(f"{PROG}: {label}: {error}\n")
            status = 1
            if isinstance(error, PathError):
                break
        progress.clear()
    return status


def _write(stream: TextIO, text: str) -> None:
    try:
        stream.write(text)
    except UnicodeEncodeError:
        encoding = getattr(stream, "encoding", None) or "ascii"
        stream.write(text.encode(encoding, "backslashreplace").decode(encoding))


def _encoding(value: str) -> str:
    try:
        codecs.lookup(value)
    except LookupError:
        raise argparse.ArgumentTypeError(f"unknown encoding: {value}") from None
    return value


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog=PROG,
        description="Show, query and acknowledge HL7 v2 messages.",
        epilog="A FILE may hold one message (MLLP-framed or not), MLLP frames one after "
        "another, or a batch with or without FHS/BHS envelopes; '-' is standard input.",
    )
    parser.add_argument("--version", action="version", version=f"{PROG} {__version__}")
    common = argparse.ArgumentParser(add_help=False)
    common.add_argument(
        "--encoding",
        default="utf-8",
        type=_encoding,
        help="text encoding of the files (default: utf-8; bytes that do not decode are an error)",
    )
    common.add_argument(
        "--no-progress",
        action="store_true",
        help="never draw a progress bar (otherwise drawn on a terminal for inputs over 4 MB)",
    )
    commands = parser.add_subparsers(dest="command", metavar="COMMAND", required=True)

    show = commands.add_parser(
        "show",
        parents=[common],
        help="print each message as a tree, or as JSON",
        description="Print every message of the files as a tree: segments, then their "
        "non-empty fields labelled with terser paths (PID-5), components (PID-5-1), "
        "sub-components (PID-3-4-1) and repetitions (PID-3[2]).",
    )
    form = show.add_mutually_exclusive_group()
    form.add_argument("--json", action="store_true", help="print the JSON form of each message")
    form.add_argument(
        "--ndjson", action="store_true", help="print each message as compact JSON on one line"
    )
    show.add_argument("files", nargs="+", metavar="FILE", help="HL7 file, or - for standard input")
    show.set_defaults(handler=_show_handler, parser=show)

    get = commands.add_parser(
        "get",
        parents=[common],
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
    get.add_argument(
        "paths",
        nargs="+",
        metavar="PATH",
        help="terser path: PID-5 (field), PID-5-1 (component), PID-3-4-2 (sub-component), "
        "OBX(1)-5 (field 5 of the second OBX)",
    )
    get.set_defaults(handler=_get_handler, parser=get)

    ack = commands.add_parser(
        "ack",
        parents=[common],
        help="print the ACK for each message",
        description="Print the acknowledgement of every message, one segment per line.",
    )
    ack.add_argument("--code", default="AA", help="MSA-1 acknowledgment code (default: AA)")
    ack.add_argument("--text", default="", help="MSA-3 text message (default: empty)")
    ack.add_argument("files", nargs="+", metavar="FILE", help="HL7 file, or - for standard input")
    ack.set_defaults(handler=_ack_handler, parser=ack)
    __import__(f"{__package__}.cli_table", fromlist=["register"]).register(commands)
    return parser


def _command_index(argv: Sequence[str]) -> int | None:
    """The position of the sub-command: the first word that is not an option
    (the program's own options take no values)."""
    for index, word in enumerate(argv):
        if word == "--":
            return None
        if not word.startswith("-"):
            return index
    return None


def main(argv: Sequence[str] | None = None) -> int:
    """Run the command line `argv` (default: `sys.argv[1:]`); return the exit status."""
    argv = list(sys.argv[1:] if argv is None else argv)
    stdout, stderr = sys.stdout, sys.stderr
    parser = build_parser()
    files: list[str] | None = None
    command = _command_index(argv)
    if command is not None and argv[command] == "get" and "--" in argv[command:]:
        split = argv.index("--", command)
        argv, files = argv[:split], argv[split + 1 :]
    try:
        args = parser.parse_args(argv)
        if args.command == "get":
            if not files:
                args.parser.error("give the files after '--': get PATH... -- FILE...")
            for path in args.paths:
                problem = check_path(path)
                if problem is not None:
                    args.parser.error(f"invalid path {path!r}: {problem}")
            args.files = files
    except SystemExit as stop:
        # --help, --version and usage errors.
        return stop.code if isinstance(stop.code, int) else 2
    try:
        return _run(args, args.handler(args), stdout, stderr)
    except KeyboardInterrupt:
        stderr.write("\n")
        return 130
    except BrokenPipeError:
        # The reader went away (`vellomar show big.hl7 | head`): stop quietly.
        try:
            devnull = os.open(os.devnull, os.O_WRONLY)
            os.dup2(devnull, stdout.fileno())
        except (AttributeError, OSError, ValueError):
            pass
        return 1
