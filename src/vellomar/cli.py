"""The `vellomar` command: look at HL7 v2 files from the shell.

    vellomar show [--json | --ndjson] FILE...
    vellomar get [-H] PATH... -- FILE...
    vellomar ack [--code CODE] [--text TEXT] FILE...

A FILE holds one message (MLLP-framed or not), a stream of MLLP frames, or a
batch with or without FHS/BHS envelopes; `-` is standard input. Files are read
in pieces through `vellomar.read`, which cuts and decodes each message (by its
MSH-18 unless --encoding names a codec); a leading UTF-8 byte order mark is
dropped. A message that does not parse or decode is reported with its file,
number and byte offset, and the file is read on.

Exit status: 0 when every message of every file was processed, 1 when a file
could not be read, held no message or held a bad message (one line on
standard error for each), 2 for a command line that does not make sense.
"""

from __future__ import annotations

import argparse
import codecs
import json
import os
import stat
import sys
from collections.abc import Callable, Sequence
from typing import BinaryIO, TextIO

from . import __version__
from ._core import Field, Message
from ._ops import check_path, tsv_line
from .read import MessageError, Reader, read

PROG = "vellomar"

# Inputs at least this large get a progress bar when standard error is a
# terminal (and standard output is not the same screen).
PROGRESS_THRESHOLD = 4 * 1024 * 1024


# ---------------------------------------------------------------------------
# Reading messages


def _open(name: str) -> tuple[BinaryIO, int]:
    """The binary file of the FILE argument `name` (`-` is standard input)
    and its size in bytes when known (0 otherwise)."""
    if name == "-":
        file: BinaryIO = sys.stdin.buffer
    else:
        file = open(name, "rb")  # noqa: SIM115 (closed by _run)
    try:
        status = os.fstat(file.fileno())
        size = status.st_size if stat.S_ISREG(status.st_mode) else 0
    except (AttributeError, OSError, ValueError):  # no file descriptor
        size = 0
    return file, size


def _problem(error: MessageError) -> str:
    """The error line's text for a bad message, its offset counted in the file."""
    problem = f"message {error.ordinal} at byte {error.offset}: {error.reason}"
    if "codec can't decode" in error.reason:
        problem += " (choose the encoding with --encoding, e.g. --encoding cp1252)"
    return problem


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


# ---------------------------------------------------------------------------
# Commands

# A command turns each message into the text that it prints.
Handler = Callable[[str, int, Message], str]


def _record_head(name: str, number: int, pretty: bool) -> str:
    """The text that opens the JSON record of a message, up to its own keys:
    "file" (the name given on the command line) and "message" (its number)."""
    name_json = json.dumps(name, ensure_ascii=False)
    if pretty:
        return f'{{\n  "file": {name_json},\n  "message": {number},\n  '
    return f'{{"file":{name_json},"message":{number},'


class JsonArray:
    """`show --json`: every message of every file as one element of one JSON
    array, so that the whole output is one document. An element is the
    message's JSON form preceded by the keys "file" and "message"; the text is
    the one `json.dumps(records, indent=2, ensure_ascii=False)` writes."""

    def __init__(self) -> None:
        self.separator = "[\n  "

    def __call__(self, name: str, number: int, message: Message) -> str:
        # The JSON form opens with "{\n  " and has no line break inside a value.
        record = _record_head(name, number, True) + message.to_json()[4:]
        text = self.separator + record.replace("\n", "\n  ")
        self.separator = ",\n  "
        return text

    def finish(self) -> str:
        return "[]\n" if self.separator.startswith("[") else "\n]\n"


def _show_handler(args: argparse.Namespace) -> Handler:
    if args.json:
        return JsonArray()
    if args.ndjson:
        return lambda name, number, message: (
            _record_head(name, number, False) + compact_json(message)[1:] + "\n"
        )
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
    # The paths' syntax was checked before any file was read. The line is
    # built in one call (lookups, escaping, tabs): that is most of the time
    # `get` spends on each message.
    paths = tuple(args.paths)
    with_filename: bool = args.with_filename

    def values(name: str, number: int, message: Message) -> str:
        line = tsv_line(message, paths)
        return f"{name}\t{number}\t{line}" if with_filename else line

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
        file = None
        try:
            file, size = _open(name)
            progress = Progress(
                stderr, label, size, progress_allowed and size >= PROGRESS_THRESHOLD
            )
            reader = read(file, encoding=args.encoding)
            if not _each_message(reader, label, handler, progress, stdout, stderr):
                status = 1
        except OSError as error:
            progress.clear()
            _report(stdout, stderr, label, error.strerror or str(error))
            status = 1
        finally:
            if file is not None and name != "-":
                file.close()
        progress.clear()
    finish = getattr(handler, "finish", None)
    if finish is not None:
        _write(stdout, finish())
    return status


def _each_message(
    reader: Reader,
    label: str,
    handler: Handler,
    progress: Progress,
    stdout: TextIO,
    stderr: TextIO,
) -> bool:
    """Hands every message of `reader` to `handler` and reports each bad one;
    True when the file held messages and none was bad."""
    good = True
    # Every next() returns or raises one message, so `number` is the reader's
    # ordinal, kept here to spare a property lookup per message.
    number = 0
    write = stdout.write
    while True:
        number += 1
        try:
            message = next(reader)
        except StopIteration:
            break
        except MessageError as error:
            progress.clear()
            _report(stdout, stderr, label, _problem(error))
            good = False
            continue
        text = handler(label, number, message)
        try:
            write(text)
        except UnicodeEncodeError:
            _write(stdout, text)
        if progress.enabled:
            progress.update(reader.position)
    if number == 1:
        _report(stdout, stderr, label, "no HL7 message found")
        return False
    return good


def _report(stdout: TextIO, stderr: TextIO, label: str, problem: str) -> None:
    """One line on standard error, after the output written so far."""
    stdout.flush()
    stderr.write(f"{PROG}: {label}: {problem}\n")


def _write(stream: TextIO, text: str) -> None:
    """Writes `text`, with what the stream cannot encode as backslash escapes."""
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
        type=_encoding,
        help="codec of every message (default: the one each message's MSH-18 names, "
        "UTF-8 when it names none; bytes that do not decode make the message bad)",
    )
    common.add_argument(
        "--no-progress",
        action="store_true",
        help="never draw a progress bar (otherwise drawn on standard error for a FILE of "
        "4 MiB or more when standard error is a terminal and standard output is not)",
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
    form.add_argument(
        "--json",
        action="store_true",
        help="print one JSON array of records: \"file\", \"message\" (its number in the "
        "file), then the message's JSON form",
    )
    form.add_argument(
        "--ndjson", action="store_true", help="print the same records as compact JSON, one per line"
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
    # Commands in modules of their own (they import this module's helpers).
    from . import cli_edit, cli_mllp, cli_table  # noqa: PLC0415

    for module in (cli_mllp, cli_edit, cli_table):
        module.register(commands)
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
