"""What every command of `vellomar` shares: how it is declared and run, how it
reads its files, and how it reports problems and its exit status.

A command is a module with `register(commands)`, which declares it with
`add_command`; its run function takes the parsed arguments and the two output
streams and returns the exit status. It never exits itself: a command line
that makes no sense raises `UsageError` (status 2, with the usage line), any
other problem that ends the run raises `Failure` (one line, its status).

Exit status: 0 when every message of every file was processed, 1 when a file
could not be read or written, held no message or held a bad message (one line
on standard error for each), 2 for a command line that does not make sense.
"""

from __future__ import annotations

import argparse
import codecs
import os
import stat
import sys
from collections.abc import Callable, Iterator, Mapping, Sequence
from typing import Any, BinaryIO, Protocol, TextIO

from .. import _ops
from .._core import Message
from .._files import AtomicFile, WriteError
from ..read import MessageError, Reader, read

PROG = "vellomar"

# Inputs at least this large get a progress bar when standard error is a
# terminal (and standard output is not the same screen).
PROGRESS_THRESHOLD = 4 * 1024 * 1024


class UsageError(Exception):
    """A command line that makes no sense: the command's usage line and this
    text on standard error, exit status 2, before anything is written."""


class Failure(Exception):
    """A problem that ends the run: `vellomar: TEXT` on standard error and the
    exit status `status`."""

    def __init__(self, status: int, text: str) -> None:
        super().__init__(text)
        self.status = status


class Run(Protocol):
    def __call__(self, args: argparse.Namespace, stdout: TextIO, stderr: TextIO) -> int: ...


# ---------------------------------------------------------------------------
# Declaring and running commands


def add_command(
    commands: Any,
    name: str,
    run: Run,
    *,
    words: tuple[str, str | None] | None = None,
    **options: Any,
) -> argparse.ArgumentParser:
    """Declares the command `name` (`options` as `add_parser` takes them) run
    by `run`. With `words` (metavar, help), the command takes `WORDS... --
    FILE...`: the words before `--` land in `args.words`, the files after it
    in `args.files` (None without `--`); options may stand anywhere, after the
    files included."""
    parser: argparse.ArgumentParser = commands.add_parser(name, **options)
    parser.set_defaults(run=run, parser=parser, files_after_dashes=words is not None)
    if words is not None:
        parser.add_argument("words", nargs="*", metavar=words[0], help=words[1])
    return parser


def command_index(argv: Sequence[str]) -> int | None:
    """The position of the sub-command: the first word that is not an option
    (the program's own options take no values)."""
    for index, word in enumerate(argv):
        if word == "--":
            return None
        if not word.startswith("-"):
            return index
    return None


def _positionals(parser: argparse.ArgumentParser, extras: list[str]) -> list[str]:
    """The words argparse left over after a command's first run of positional
    words; an unknown option among them is an error, as in `parse_args`."""
    unknown = [word for word in extras if word.startswith("-") and word != "-"]
    if unknown:
        parser.error(f"unrecognized arguments: {' '.join(unknown)}")
    return extras


def parse(
    parser: argparse.ArgumentParser,
    commands: Mapping[str, argparse.ArgumentParser],
    argv: list[str],
) -> argparse.Namespace:
    """The arguments of the command line `argv` for `parser`, whose commands'
    parsers are `commands`; argparse's SystemExit for --help, --version and
    the errors it finds itself."""
    command = command_index(argv)
    tail: list[str] | None = None
    if command is not None and "--" in argv[command:]:
        sub = commands.get(argv[command])
        if sub is not None and sub.get_default("files_after_dashes"):
            split = argv.index("--", command)
            argv, tail = argv[:split], argv[split + 1 :]
    args, extras = parser.parse_known_args(argv)
    # argparse gives a list positional only its first run of words; the runs
    # after an option come back as extras and join it, in order, so options
    # may stand anywhere among the words.
    if not getattr(args, "files_after_dashes", False):
        if extras and isinstance(getattr(args, "files", None), list):
            args.files += _positionals(parser, extras)
        elif extras:
            parser.error(f"unrecognized arguments: {' '.join(extras)}")
        return args
    words = list(args.words or ()) + _positionals(parser, extras)
    files = None
    if tail is not None:
        # Options may follow the files; the command's parser reads them into
        # the same namespace (what came before `--` stays unless repeated).
        args, extras = args.parser.parse_known_args(tail, namespace=args)
        files = list(args.words or ()) + _positionals(parser, extras)
    args.words, args.files = words, files
    return args


def execute(args: argparse.Namespace, stdout: TextIO, stderr: TextIO) -> int:
    """Runs the command of `args`; its exit status. The one place where a
    command's problems become lines on standard error and exit statuses."""
    try:
        status = int(args.run(args, stdout, stderr))
        stdout.flush()  # a failure to write the last of the output is reported too
        return status
    except UsageError as error:
        parser: argparse.ArgumentParser = args.parser
        parser.print_usage(stderr)
        stderr.write(f"{parser.prog}: error: {error}\n")
        return 2
    except Failure as error:
        _flush(stdout)
        stderr.write(f"{PROG}: {error}\n")
        return error.status
    except KeyboardInterrupt:
        stderr.write("\n")
        return 130
    except BrokenPipeError:
        # The reader went away (`vellomar show big.hl7 | head`): stop quietly.
        _drop_output(stdout)
        return 1
    except OSError as error:
        # Reading errors are the commands' own; what is left is a failed write:
        # of an output file (WriteError names it) or of standard output.
        name = error.filename if isinstance(error, WriteError) else "<stdout>"
        if name == "<stdout>":
            _drop_output(stdout)
        stderr.write(f"{PROG}: {name}: {error.strerror or error}\n")
        return 1


def _drop_output(stdout: TextIO) -> None:
    """Points standard output at the null device, so that the interpreter's
    last flush of what is still buffered cannot fail once more at exit."""
    try:
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, stdout.fileno())
        os.close(devnull)
    except (AttributeError, OSError, ValueError):
        pass


def _flush(stream: TextIO) -> None:
    try:
        stream.flush()
    except (OSError, ValueError):
        pass


def open_output(path: str, mode: str = "wb", **options: Any) -> AtomicFile:
    """The output file `-o path`, written beside `path` and renamed over it by
    `commit()`; a path that cannot be written (a missing directory, a
    directory) is one error line and exit status 2, before any input is read."""
    try:
        return AtomicFile(path, mode, **options)
    except OSError as error:
        raise Failure(2, f"{path}: {error.strerror or error}") from None


# ---------------------------------------------------------------------------
# Options several commands take


def encoding_type(value: str) -> str:
    """argparse type of --encoding: a codec Python knows."""
    try:
        codecs.lookup(value)
    except LookupError:
        raise argparse.ArgumentTypeError(f"unknown encoding: {value}") from None
    return value


def port_type(value: str) -> int:
    """argparse type of --port: 0 (any free port) to 65535."""
    if not value.isdigit() or int(value) > 65535:
        raise argparse.ArgumentTypeError(f"not a port number (0 to 65535): {value}")
    return int(value)


def jobs_type(value: str) -> int:
    """argparse type of --jobs: a whole number of at least 1."""
    if not value.isascii() or not value.isdigit() or int(value) < 1:
        raise argparse.ArgumentTypeError(f"not a number of jobs (1 or more): {value}")
    return int(value)


def common_options() -> argparse.ArgumentParser:
    """--encoding and --no-progress, as a parent parser of the commands that
    read files message by message."""
    common = argparse.ArgumentParser(add_help=False)
    common.add_argument(
        "--encoding",
        type=encoding_type,
        help="codec of every message (default: the one each message's MSH-18 names, "
        "UTF-8 when it names none; bytes that do not decode make the message bad)",
    )
    common.add_argument(
        "--no-progress",
        action="store_true",
        help="never draw a progress bar (otherwise drawn on standard error for a FILE of "
        "4 MiB or more when standard error is a terminal and standard output is not)",
    )
    return common


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


class Tracked:
    """A binary file, named as the command line names it, whose reads move a
    progress bar."""

    def __init__(self, file: BinaryIO, name: str, progress: Progress) -> None:
        self.file, self.name, self.progress, self.done = file, name, progress, 0

    def read(self, size: int) -> bytes:
        data = self.file.read(size)
        self.done += len(data)
        self.progress.update(self.done)
        return data

    def fileno(self) -> int:  # which file it is (a bulk run keeps its inputs)
        return self.file.fileno()


# Where a file's first message is looked for before the rest of it.
_FIRST_LOOK = 1 << 20


def _holds_a_message(file: BinaryIO, size: int) -> bool:
    """Whether `file` (of `size` bytes) holds the start of a message, found as
    every reader finds one: in its first MB, else (leading text of that
    size, rare) in the rest."""
    first = min(size, _FIRST_LOOK)
    file.seek(0)
    if _ops.count_messages(file.read, first):
        return True
    file.seek(0)
    return size > first and _ops.count_messages(file.read, size) > 0


class TrackedFiles:
    """The files of a command line (`-` is standard input), opened one at a
    time as the iteration reaches them, each read moving its progress bar
    (`show`: drawn for files of PROGRESS_THRESHOLD bytes or more). A file
    that cannot be opened is reported and sets `status` to 1; `label` names
    the file being read, `progress` is its bar."""

    def __init__(self, names: Sequence[str], stdout: TextIO, stderr: TextIO, show: bool) -> None:
        self.names, self.stdout, self.stderr, self.show = names, stdout, stderr, show
        self.status = 0
        self.label = "-"
        self.progress = Progress(stderr, "", 0, False)

    def __iter__(self) -> Iterator[Tracked]:
        for name in self.names:
            self.label = "<stdin>" if name == "-" else name
            if name == "-":
                yield Tracked(sys.stdin.buffer, self.label, self.progress)
                continue
            try:
                file = open(name, "rb", buffering=0)  # noqa: SIM115 (closed below)
            except OSError as error:
                report(self.stdout, self.stderr, self.label, error.strerror or str(error))
                self.status = 1
                continue
            with file:
                size = file.seek(0, 2)
                if not _holds_a_message(file, size):
                    # (a compressed archive, a file of something else: not
                    # zero results and success)
                    report(self.stdout, self.stderr, self.label, "no HL7 message found")
                    self.status = 1
                    continue
                file.seek(0)
                self.progress = Progress(self.stderr, self.label, size,
                                         self.show and size >= PROGRESS_THRESHOLD)
                yield Tracked(file, self.label, self.progress)
                self.progress.clear()


def is_terminal(stream: TextIO) -> bool:
    try:
        return stream.isatty()
    except (AttributeError, ValueError):
        return False


_CONTROL = {code: f"\\x{code:02x}" for code in range(32)}
_CONTROL.update({9: "\\t", 10: "\\n", 13: "\\r", 127: "\\x7f"})


def visible(value: str) -> str:
    """A value on one line: control characters written as escapes."""
    return value.translate(_CONTROL)


def header(message: Message) -> str:
    """`ADT^A01, control ID 123`: what a line about a message names it by."""
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


def report(stdout: TextIO, stderr: TextIO, label: str, problem: str) -> None:
    """One line on standard error, after the output written so far."""
    stdout.flush()
    stderr.write(f"{PROG}: {label}: {problem}\n")


def write_text(stream: TextIO, text: str) -> None:
    """Writes `text`, with what the stream cannot encode as backslash escapes."""
    try:
        stream.write(text)
    except UnicodeEncodeError:
        encoding = getattr(stream, "encoding", None) or "ascii"
        stream.write(text.encode(encoding, "backslashreplace").decode(encoding))


class NamedStdout:
    """Standard output for writers that take a file (csv, JSON lines): a
    failure to write it (a full disk under it) names `<stdout>`, never the
    input being read."""

    def __init__(self, stream: TextIO) -> None:
        self.buffer = getattr(stream, "buffer", stream)
        self._stream = stream

    def write(self, text: str) -> int:
        try:
            return self._stream.write(text)
        except BrokenPipeError:
            raise
        except OSError as error:
            raise WriteError(error.errno, error.strerror or str(error), "<stdout>") from None


# ---------------------------------------------------------------------------
# Reading files message by message


def open_input(name: str) -> tuple[BinaryIO, int]:
    """The binary file of the FILE argument `name` (`-` is standard input)
    and its size in bytes when known (0 otherwise)."""
    if name == "-":
        file: BinaryIO = sys.stdin.buffer
    else:
        file = open(name, "rb")  # noqa: SIM115 (closed by run_files)
    try:
        status = os.fstat(file.fileno())
        size = status.st_size if stat.S_ISREG(status.st_mode) else 0
    except (AttributeError, OSError, ValueError):  # no file descriptor
        size = 0
    return file, size


def problem(error: MessageError) -> str:
    """The error line's text for a bad message, its offset counted in the file."""
    text = f"message {error.ordinal} at byte {error.offset}: {error.reason}"
    if "codec can't decode" in error.reason:
        text += " (choose the encoding with --encoding, e.g. --encoding cp1252)"
    return text


def stopped(error: MessageError | OSError, files: TrackedFiles, stdout: TextIO, stderr: TextIO, label: str) -> int:
    """The report of a run over files that stopped, and its exit status: a
    bad message (errors="raise") names its file, any other failure `label`
    (the input or output it concerns). A failed write of standard output or
    of an output file is raised again: the base reports those."""
    if isinstance(error, (WriteError, BrokenPipeError)):
        raise error
    files.progress.clear()
    if isinstance(error, MessageError):
        report(stdout, stderr, error.file or "-", problem(error))
    else:
        report(stdout, stderr, label, error.strerror or str(error))
    return 1


# A command that works message by message turns each into the text it prints.
Handler = Callable[[str, int, Message], str]


def run_files(args: argparse.Namespace, handler: Handler, stdout: TextIO, stderr: TextIO) -> int:
    """Hands every message of the files `args.files` to `handler` and prints
    what it returns (then `handler.finish()` when it has one); each file that
    cannot be read, holds no message or holds a bad message is reported and
    makes the status 1, and the next file is read."""
    status = 0
    progress_allowed = not args.no_progress and is_terminal(stderr) and not is_terminal(stdout)
    for name in args.files:
        label = "<stdin>" if name == "-" else name
        progress = Progress(stderr, label, 0, False)
        file = None
        try:
            file, size = open_input(name)
            progress = Progress(
                stderr, label, size, progress_allowed and size >= PROGRESS_THRESHOLD
            )
            reader = read(file, encoding=args.encoding)
            if not _each_message(reader, label, handler, progress, stdout, stderr):
                status = 1
        except OSError as error:
            if isinstance(error, (WriteError, BrokenPipeError)):
                raise  # a failed write ends the run
            progress.clear()
            report(stdout, stderr, label, error.strerror or str(error))
            status = 1
        finally:
            if file is not None and name != "-":
                file.close()
        progress.clear()
    finish = getattr(handler, "finish", None)
    if finish is not None:
        write_text(stdout, finish())
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
            report(stdout, stderr, label, problem(error))
            good = False
            continue
        text = handler(label, number, message)
        try:
            write(text)
        except UnicodeEncodeError:
            write_text(stdout, text)
        except BrokenPipeError:
            raise
        except OSError as error:  # a full disk under standard output
            raise WriteError(error.errno, error.strerror, "<stdout>") from None
        if progress.enabled:
            progress.update(reader.position)
    if number == 1:
        report(stdout, stderr, label, "no HL7 message found")
        return False
    return good
