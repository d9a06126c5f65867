"""The listener's store: an append-only log of the messages received, each
on disk before its acknowledgement leaves, laid out as databases lay out
their logs.

- The file is grown ahead in pre-zeroed extents (written as zeros and
  fsynced once), so that an append overwrites blocks already allocated and
  its `fdatasync` flushes data only, with no file-system journal commit.
  A thread of its own prepares the next extent while the current one still
  has room, so that no append waits for it; a record goes only where the
  zeros are already flushed. A preparation that fails is logged, held and
  retried; the append that finds no room left prepares it itself, and fails
  with its error.
- After each flush the store publishes how far the file holds durable whole
  records in a small file beside it (`messages.hl7.durable`). Readers of the
  log in other processes (`vellomar.read`, the Dask and Spark readers) read
  the file only up to that length (`vellomar._ranges.readable_size`), and
  the relay up to `durable_size`: bytes whose flush has not succeeded, or
  failed and were taken back, are never seen.
- When the store is opened, the end of the log is found again from the file
  itself: past the last whole record come zeros, a record a crash left half
  written (zeroed, and logged), or bytes that are not a record (kept, and
  passed over by every reader).

The record format is the one of earlier versions (an MLLP frame and a line
feed per message), so older stores are read and appended to as they are.
"""

from __future__ import annotations

import asyncio
import concurrent.futures
import os
import threading
import time
from pathlib import Path

from .._ranges import DURABLE_SUFFIX, published
from .common import log
from .config import Stats
from .framing import START

try:
    import fcntl
except ImportError:  # pragma: no cover  (no advisory locks: one listener is up to the user)
    fcntl = None  # type: ignore[assignment]

# The file in the store directory; each message is kept as its MLLP frame
# followed by a line feed, bytes exactly as received.
STORE_FILE = "messages.hl7"
RECORD_END = b"\x1c\r\n"
EXTENT = 8 << 20  # bytes the file is grown by at a time, pre-zeroed
_IOV_MAX = 1024  # buffers per writev (the smallest limit in use)
_SCAN = 1 << 20  # bytes read at a time when looking for the last record
PREPARE_PIECE = 1 << 20  # bytes of an extent zeroed and flushed at a time
PREPARE_RETRY = 1.0  # seconds from a failed preparation ahead to the next try
_ZEROS = bytes(1 << 20)
# A data-only flush where there is one (the size and blocks are already set).
_datasync = getattr(os, "fdatasync", os.fsync)


class Store:
    """An append-only file of messages that acknowledges each append only
    after an fsync that covers it. Appends that arrive while a write is on
    disk are written together by the next one (group commit)."""

    def __init__(self, directory: str | os.PathLike[str], stats: Stats) -> None:
        self._stats = stats
        directory = Path(directory)
        make_directory(directory)
        self.path = directory / STORE_FILE
        self._fd = os.open(self.path, os.O_RDWR | os.O_CREAT, 0o644)
        self._durable_fd = -1
        try:
            if fcntl is not None:
                try:
                    fcntl.flock(self._fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
                except BlockingIOError:
                    raise OSError(
                        f"{self.path}: the store is in use by another listener"
                    ) from None
            self._durable_fd = os.open(
                self.path.with_name(STORE_FILE + DURABLE_SUFFIX), os.O_RDWR | os.O_CREAT, 0o644
            )
            fsync_directory(directory)  # the files' own entries, when just made
            # Bytes of the file zeroed (or written) and flushed: records go
            # below. Raised by the thread that prepares extents, read by the
            # disk thread; what a crash left unflushed is flushed here.
            self._allocated = os.fstat(self._fd).st_size
            self._size = find_end(self._fd, self.path, self._allocated)
            os.fsync(self._fd)
            self._publish()
        except BaseException:
            for fd in (self._fd, self._durable_fd):
                if fd >= 0:
                    os.close(fd)
            raise
        # Set (in the disk thread) when a failed write could not be taken
        # back: from then on every append fails rather than write after it.
        self._broken: OSError | None = None
        # Set after each write that made more records durable (for readers of
        # the file in this process, such as the relay's forwarding).
        self.written = asyncio.Event()
        self._records: list[bytes] = []  # START, message, RECORD_END for each
        self._next: asyncio.Future[None] | None = None  # of the records queued
        self._task: asyncio.Task[None] | None = None
        # One thread, so that writes reach the file in order.
        self._disk = concurrent.futures.ThreadPoolExecutor(1, "vellomar-store")
        # Another for extents prepared ahead; one preparation at a time.
        self._ahead = concurrent.futures.ThreadPoolExecutor(1, "vellomar-store-ahead")
        self._preparation = threading.Lock()
        self._preparing = False  # a preparation ahead is queued or under way
        # The error of the last preparation ahead, held until one succeeds.
        self.prepare_error: OSError | None = None
        self._retry_at = 0.0
        self._prepare_ahead()

    @property
    def durable_size(self) -> int:
        """The bytes of the file that hold whole records on disk."""
        return self._size

    def append(self, data: bytes) -> asyncio.Future[None]:
        """Queue the message `data`; the future is done once it is on disk,
        or holds the OSError that kept it off. The messages written together
        share one future (one to make and one to set per write)."""
        self._records += (START, data, RECORD_END)
        written = self._next
        if written is None:
            loop = asyncio.get_running_loop()
            written = self._next = loop.create_future()
            if self._task is None:
                self._task = loop.create_task(self._flush())
        return written

    async def _flush(self) -> None:
        loop = asyncio.get_running_loop()
        try:
            while self._records:
                records, written = self._records, self._next
                self._records, self._next = [], None
                assert written is not None
                try:
                    await loop.run_in_executor(self._disk, self._write, records)
                except OSError as error:
                    written.set_exception(error)
                else:
                    self._stats.fsyncs += 1
                    self.written.set()
                    written.set_result(None)
        finally:
            self._task = None

    def _write(self, records: list[bytes]) -> None:
        """Write `records` past the durable end, flush them, then publish the
        new end. On failure nothing is published and the bytes written are
        zeroed again (readers never looked at them)."""
        if self._broken is not None:
            raise self._broken
        length = sum(map(len, records))
        try:
            if self._size + length > self._allocated:
                self._prepare(self._size + length)
            written = write_all(self._fd, records, self._size)
            _datasync(self._fd)
        except OSError as error:
            log.error("store %s: %s; the write is undone", self.path, error)
            try:
                zero(self._fd, self._size, min(length, self._allocated - self._size))
                _datasync(self._fd)
            except OSError as undo_error:
                self._broken = OSError(
                    f"{self.path}: the store stopped: a failed write could not be undone: "
                    f"{undo_error}"
                )
                log.error("%s", self._broken)
            raise
        self._size += written
        self._publish()
        self._prepare_ahead()

    def _prepare(self, needed: int, piece: int = EXTENT) -> None:
        """Zero-fill the file up to the extent that holds `needed` bytes and
        make that durable (size and blocks), once for many appends; only then
        may records go there. Waits for a preparation under way, and does
        what it left undone.

        Ahead of need it goes in pieces of PREPARE_PIECE, each flushed before
        the next: an append flushed meanwhile finds at most one piece of
        zeros to write beside its record (an 8 MiB extent flushed at once
        took 5 to 16 ms). The append that waits for it has it in one go."""
        with self._preparation:
            allocated = self._allocated
            target = -(-needed // EXTENT) * EXTENT
            for start in range(allocated, target, piece):
                zero(self._fd, start, min(piece, target - start))
                os.fsync(self._fd)
            self._allocated = max(allocated, target)
            if self.prepare_error is not None:
                self.prepare_error = None
                log.warning("store %s: the next extent is prepared again", self.path)

    def _prepare_ahead(self) -> None:
        """Have the next extent prepared in the background once less than
        one extent of room is left (in the disk thread, or on opening)."""
        if (
            self._preparing
            or self._allocated - self._size >= EXTENT
            or time.monotonic() < self._retry_at
        ):
            return
        self._preparing = True
        self._ahead.submit(self._prepare_in_background, self._size + EXTENT)

    def _prepare_in_background(self, needed: int) -> None:
        try:
            self._prepare(needed, PREPARE_PIECE)
        except OSError as error:
            # Held and retried with the next write after PREPARE_RETRY; the
            # room left takes appends meanwhile.
            self.prepare_error = error
            self._retry_at = time.monotonic() + PREPARE_RETRY
            log.error(
                "store %s: the next extent could not be prepared: %s; retried in %g s",
                self.path,
                error,
                PREPARE_RETRY,
            )
        finally:
            self._preparing = False

    def _publish(self) -> None:
        # One small write in place, no flush: after a crash the store finds
        # its end from the file itself and publishes it again.
        os.pwrite(self._durable_fd, published(self._size), 0)

    async def close(self) -> None:
        if self._task is not None:
            await asyncio.shield(self._task)
        self._disk.shutdown()
        await asyncio.get_running_loop().run_in_executor(None, self._ahead.shutdown)
        os.close(self._durable_fd)
        os.close(self._fd)  # and with it the lock


def write_all(fd: int, buffers: list[bytes], offset: int | None = None) -> int:
    """Write `buffers` in order (at `offset`, or at the file's position)
    with as few system calls as the kernel allows (no joined copy); the
    number of bytes written."""
    total = 0
    pending: list[bytes | memoryview] = list(buffers)
    while pending:
        chunk = pending[:_IOV_MAX]
        if offset is None:
            count = os.writev(fd, chunk)
        else:
            count = os.pwritev(fd, chunk, offset + total)
        total += count
        done = 0
        while done < len(chunk) and count >= len(chunk[done]):
            count -= len(chunk[done])
            done += 1
        pending = pending[done:]
        if count:
            pending[0] = memoryview(pending[0])[count:]
    return total


def make_directory(directory: Path) -> None:
    """`directory` and any missing parents, each made durable in its parent."""
    missing = []
    path = directory.absolute()
    while not path.exists():
        missing.append(path)
        path = path.parent
    directory.mkdir(parents=True, exist_ok=True)
    for made in reversed(missing):
        fsync_directory(made.parent)


def fsync_directory(directory: Path) -> None:
    """Make the entries of `directory` (a file just made in it) durable."""
    fd = os.open(directory, os.O_RDONLY)
    try:
        os.fsync(fd)
    finally:
        os.close(fd)


def zero(fd: int, offset: int, count: int) -> None:
    """Write `count` zero bytes at `offset`."""
    end = offset + count
    while offset < end:
        offset += os.pwrite(fd, memoryview(_ZEROS)[: min(len(_ZEROS), end - offset)], offset)


def data_end(fd: int, size: int) -> int:
    """Just past the last byte that is not zero in the first `size` bytes
    (the zeros after it are the file grown ahead)."""
    position = size
    while position > 0:
        start = max(0, position - _SCAN)
        chunk = os.pread(fd, position - start, start)
        stripped = len(chunk.rstrip(b"\0"))
        if stripped:
            return start + stripped
        position = start
    return 0


def find_end(fd: int, path: Path, size: int) -> int:
    """The end of the log in a file of `size` bytes: past its last whole
    record, or past bytes that are not a record after it (kept: every reader
    passes over them). A record that a crash left half written there (never
    acknowledged) is zeroed and logged. Reads back only to the last record."""
    size = data_end(fd, size)
    end = 0  # just past the last whole record
    position = size
    while position > 0:
        start = max(0, position - _SCAN)
        # Two bytes past the block, so that an end straddling blocks is seen.
        found = os.pread(fd, min(size, position + 2) - start, start).rfind(RECORD_END)
        if found >= 0:
            end = start + found + len(RECORD_END)
            break
        position = start
    if end == size:
        return size
    if os.pread(fd, 1, end) != START:
        log.warning(
            "store %s: %d bytes at byte %d are not a record; they are kept, and passed over",
            path,
            size - end,
            end,
        )
        return size
    zero(fd, end, size - end)
    os.fsync(fd)
    log.warning(
        "store %s: cut %d bytes at byte %d, a message that a crash left half written "
        "(it was never acknowledged)",
        path,
        size - end,
        end,
    )
    return end
