"""`vellomar edit`: set values by path in every message of files.

    vellomar edit [-o OUT] [--encoding ENCODING] [--no-progress] PATH=VALUE... -- FILE...

Each message gets the changes of `vellomar.edit` (`PID-19=` empties PID-19,
`ZZZ(+)-1=x` appends a segment). The files are written one after another in
their own form: a batch keeps its FHS/BHS/BTS/FTS lines and its line ends, a
stream of MLLP frames stays framed, and the text is encoded with the codec it
was read with. Files are read as a stream: memory grows with the largest
message, not with the file. A file in which a message cannot be changed (a segment it
lacks, say) is not written at all: one line on standard error, exit status 1;
OUT is then left as it was.
"""

from __future__ import annotations

import argparse
import codecs
import contextlib
import io
import os
import re
import shutil
import stat
import sys
import tempfile
from collections.abc import Callable
from typing import Any, BinaryIO, TextIO

from .._core import Message, parse
from .._files import AtomicFile, WriteError, write_all
from .._ops import edit
from ..read import MessageError, read
from ..writer import write
from ._base import (
    PROG,
    PROGRESS_THRESHOLD,
    Progress,
    UsageError,
    add_command,
    encoding_type,
    is_terminal,
    open_output,
    problem,
)

# An envelope line (which the reader leaves out of messages), without the
# MLLP block bytes around it; the regular expression engine scans the bytes,
# so that a large file costs no Python loop over its lines.
_ENVELOPE_LINE = re.compile(
    rb"(?:^|(?<=[\r\n]))[\x0b\x1c]*((?:FHS|BHS|BTS|FTS)[^\r\n]*?)[\x0b\x1c]*(?=[\r\n]|\Z)"
)
# A message with every delimiter and no segment but MSH: changes that are
# wrong for it for any reason but a missing segment are wrong for all.
_PROBE = parse("MSH|^~\\&")


def register(commands: Any) -> None:
    command = add_command(
        commands,
        "edit",
        run,
        words=("PATH=VALUE... -- FILE...", None),
        usage=f"{PROG} edit [-h] [-o OUT] [--encoding ENCODING] [--no-progress] PATH=VALUE... -- FILE...",
        help="set values by terser path and write the messages out",
        description="Set the values at the paths in every message of the files given "
        "after '--' and write the files out in their own form (batch envelope, line "
        "ends, MLLP frames). Values are escaped as needed; PATH= empties the element. "
        "Paths may name field repetitions, PID-3(1)-1, and append a segment, ZZZ(+)-1. "
        "Options may stand before, among and after the PATH=VALUE words, and after the files.",
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
    command.add_argument(
        "--no-progress",
        action="store_true",
        help="never draw a progress bar (otherwise drawn on a terminal for inputs over 4 MB)",
    )


def rewrite(
    data: bytes, change: Callable[[Message], Message], encoding: str | None = None
) -> bytes:
    """`data` (a file's bytes) with every message replaced by `change(message)`,
    as `rewrite_file` writes it."""
    out = io.BytesIO()
    rewrite_file(io.BytesIO(data), lambda start, end: data[start:end], len(data), change,
                 encoding, out)
    return out.getvalue()


# The messages handed to the writer at a time come from about this many bytes
# of the file: with the bytes read ahead (_AHEAD) and the reader's chunk, the
# memory of an edit, whatever the size of the file, unless one message is larger.
_GROUP = 1 << 20
_AHEAD = 1 << 20


def rewrite_file(
    file: BinaryIO,
    read_at: Callable[[int, int], bytes],
    size: int,
    change: Callable[[Message], Message],
    encoding: str | None,
    out: BinaryIO,
    moved: Callable[[int], None] | None = None,
) -> None:
    """Writes to `out` the `size` bytes of `file` with every message replaced
    by `change(message)`, in the file's own form: a byte order mark, envelope
    lines, line ends and MLLP frames kept. `read_at(start, end)` gives bytes
    [start, end) of the file without moving its position (the envelope lines
    between messages are read through it); `moved(position)` is told how far
    the file has been read. Messages are cut and decoded by `vellomar.read`
    and written back by `vellomar.write`, each in its own codec (by its
    MSH-18, or `encoding` for all), a group at a time: memory is bounded by
    the largest message, not by the file. MessageError for a message that
    does not parse, decode or encode; ValueError when there is no message."""
    eol, framed, bare_close, bom = _form(read_at, size)
    if bom:
        out.write(codecs.BOM_UTF8)
    ahead = _Ahead(read_at, size)
    group: list[Message] = []
    starts: list[int] = []  # of the group's messages
    ordinal = 0  # of the group's first message in the file
    pending = 0  # bytes of the group's messages in the file

    def flush() -> None:
        nonlocal ordinal, pending
        try:
            written = io.BytesIO()
            write(written, group, framing="mllp" if framed else None,
                  line_end="\r" if framed else eol, encoding=encoding)
        except MessageError as error:
            raise MessageError(ordinal + error.ordinal, starts[error.ordinal - 1],
                               error.reason) from None
        # A frame's last segment is followed by its CR, and no segment is
        # empty: "\r\x1c\r" is only ever a frame's end.
        write_all(out.write, written.getvalue().replace(b"\r\x1c\r", b"\x1c\r") if bare_close
                  else written.getvalue())
        ordinal += len(group)
        group.clear()
        starts.clear()
        pending = 0

    def region(start: int, end: int, last: bool = False) -> None:
        """After the message at `start`, which ends at `end`: its envelope
        lines (BTS, FTS, the next BHS stand after the message they follow)."""
        nonlocal pending
        pending += end - start
        data, at = ahead.view(start, end)
        # Envelope names end in HS or TS: most regions are passed over by a
        # plain substring search before any regular expression runs.
        envelope = last or data.find(b"HS", at, at + end - start) >= 0 or (
            data.find(b"TS", at, at + end - start) >= 0)
        if envelope or pending >= _GROUP:
            flush()
        if envelope:
            _envelope(data[at : at + end - start], eol, out)

    reader = read(file, encoding=encoding)
    last = -1
    for message in reader:
        start = reader.offset
        if last < 0:
            _envelope(read_at(0, start), eol, out)
        else:
            region(last, start)
        group.append(change(message))
        starts.append(start)
        last = start
        if moved is not None:
            moved(reader.position)
    if last < 0:
        raise ValueError("no HL7 message found")
    region(last, size, last=True)


class _Ahead:
    """Bytes of a file read ahead in blocks, for ranges that move forward."""

    def __init__(self, read_at: Callable[[int, int], bytes], size: int) -> None:
        self.read_at, self.size, self.data, self.at = read_at, size, b"", 0

    def view(self, start: int, end: int) -> tuple[bytes, int]:
        """Bytes holding [start, end) of the file, and where in them it begins."""
        if start < self.at or end > self.at + len(self.data):
            self.data = self.read_at(start, min(self.size, max(end, start + _AHEAD)))
            self.at = start
        return self.data, start - self.at


def _form(read_at: Callable[[int, int], bytes], size: int) -> tuple[str, bool, bool, bool]:
    """The form of a file, read in blocks: its line end, whether it is
    framed, whether its frames close right after their last segment
    ("...\x1c\r") rather than after its line end ("...\r\x1c\r"; inside a
    frame segments end with CR), and whether it begins with a byte order mark."""
    crlf = cr = framed = cr_close = False
    at, before = 0, b""
    while at < size:
        # Each block with the last byte of the one before: a pair cut in two is found.
        data = read_at(at, min(size, at + _AHEAD))
        if not data:
            break  # the file has shrunk: the reader sees what is left
        block = before + data
        at += len(data)
        crlf = crlf or b"\r\n" in block
        cr = cr or b"\r" in block
        framed = framed or b"\x0b" in block
        cr_close = cr_close or b"\r\x1c" in block
        before = block[-1:]
    eol = "\r\n" if crlf else "\r" if cr else "\n"
    return eol, framed, framed and not cr_close, read_at(0, 3) == codecs.BOM_UTF8


def _envelope(data: bytes, eol: str, out: BinaryIO) -> None:
    """Writes the FHS/BHS/BTS/FTS lines of `data` (which the reader leaves out
    of messages) as they are, each followed by `eol`."""
    for line in _ENVELOPE_LINE.finditer(data):
        write_all(out.write, line[1] + eol.encode())


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
    show = not args.no_progress and is_terminal(stderr) and (
        output is not None or not is_terminal(stdout))
    status = 0
    try:
        for name in args.files:
            if not _edit_file(name, changes, args.encoding, output, stdout, stderr, show):
                status = 1
        if output is not None and status == 0:
            output.commit()
        else:
            stdout.flush()
    finally:
        if output is not None:
            output.discard()  # a no-op after commit()
    return status


def _edit_file(
    name: str,
    changes: dict[str, str],
    encoding: str | None,
    output: AtomicFile | None,
    stdout: TextIO,
    stderr: TextIO,
    show: bool,
) -> bool:
    """Writes the file `name` changed to `output`, or to standard output
    once the whole file is changed (a file that fails is not written at
    all); False (after its error line) when it could not be read or changed."""
    label = "<stdin>" if name == "-" else name
    progress = Progress(stderr, label, 0, False)
    with contextlib.ExitStack() as stack:
        try:
            file: BinaryIO = sys.stdin.buffer if name == "-" else stack.enter_context(open(name, "rb"))
            status = os.fstat(file.fileno())
            if not stat.S_ISREG(status.st_mode) or not status.st_size:
                # A pipe (or a file that does not tell its size) is kept on
                # disk: the file is read twice (its form, then its messages).
                spooled: BinaryIO = stack.enter_context(tempfile.TemporaryFile())
                shutil.copyfileobj(file, spooled)
                file = spooled
            size = file.seek(0, os.SEEK_END)
            file.seek(0)
            progress = Progress(stderr, label, size, show and size >= PROGRESS_THRESHOLD)
            # Standard output gets a file only once it is whole: it waits
            # in memory, or on disk past a few megabytes.
            sink: Any = output if output is not None else _Spool(
                stack.enter_context(tempfile.SpooledTemporaryFile(_SPOOL)))
            fd = file.fileno()
            rewrite_file(file, lambda start, end: _read_at(fd, start, end), size,
                         lambda m: edit(m, changes), encoding, sink, progress.update)
        except MessageError as error:
            reason = problem(error)
        except OSError as error:
            if isinstance(error, (WriteError, BrokenPipeError)):
                raise  # a failed write ends the run
            reason = error.strerror or str(error)
        except (LookupError, ValueError, KeyError, IndexError) as error:
            reason = str(error.args[0] if isinstance(error, KeyError) else error)
        else:
            progress.clear()
            if output is None:
                # A failure to write is no fault of this file: it ends the run.
                sink.seek(0)
                while block := sink.read(_AHEAD):
                    write_all(stdout.buffer.write, block)
            return True
    progress.clear()
    stdout.flush()  # what was written before the error line
    stderr.write(f"{PROG}: {label}: {reason}\n")
    return False


# Bytes of a file for standard output kept in memory; more wait on disk.
_SPOOL = 8 << 20


class _Spool:
    """A temporary file whose failed writes name the temporary directory
    (a full disk there is no fault of the file being read)."""

    def __init__(self, file: Any) -> None:
        self.file = file

    def write(self, data: bytes) -> int:
        try:
            return int(self.file.write(data))
        except OSError as error:
            raise WriteError(error.errno, error.strerror or str(error),
                             tempfile.gettempdir()) from None

    def seek(self, offset: int) -> int:
        return int(self.file.seek(offset))

    def read(self, size: int) -> bytes:
        return bytes(self.file.read(size))


def _read_at(fd: int, start: int, end: int) -> bytes:
    """Bytes [start, end) of the file `fd` (fewer at its end), its position
    left where it is."""
    parts = []
    while start < end and (part := os.pread(fd, end - start, start)):
        parts.append(part)
        start += len(part)
    return b"".join(parts)
