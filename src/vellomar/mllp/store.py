"""The listener's store: an append-only file of the messages received, each
on disk (fsynced) before its acknowledgement leaves.

The file holds exactly the messages acknowledged (and, after a crash, those
received but not yet answered): a write that fails part-way is cut back
before anything else is appended, a record a crash left half written is cut
when the store is opened again, and one listener at a time writes a store.
"""

from __future__ import annotations

import asyncio
import concurrent.futures
import os
from pathlib import Path

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
_IOV_MAX = 1024  # buffers per writev (the smallest limit in use)
_SCAN = 1 << 20  # bytes read at a time when looking for the last record


class Store:
    """An append-only file of messages that acknowledges each append only
    after an fsync that covers it. Appends that arrive while a write is on
    disk are written together by the next one (group commit)."""

    def __init__(self, directory: str | os.PathLike[str], stats: Stats) -> None:
        self._stats = stats
        directory = Path(directory)
        make_directory(directory)
        self.path = directory / STORE_FILE
        self._fd = os.open(self.path, os.O_RDWR | os.O_CREAT | os.O_APPEND, 0o644)
        try:
            if fcntl is not None:
                try:
                    fcntl.flock(self._fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
                except BlockingIOError:
                    raise OSError(
                        f"{self.path}: the store is in use by another listener"
                    ) from None
            fsync_directory(directory)  # the file's own entry, when it was just made
            self._size = cut_torn_record(self._fd, self.path)
        except BaseException:
            os.close(self._fd)
            raise
        # Set (in the disk thread) when a failed write could not be cut back:
        # from then on every append fails rather than write after it.
        self._broken: OSError | None = None
        # Set after each write that made more records durable (for readers of
        # the file in this process, such as the relay's forwarding).
        self.written = asyncio.Event()
        self._records: list[bytes] = []  # START, message, RECORD_END for each
        self._waiters: list[asyncio.Future[None]] = []
        self._task: asyncio.Task[None] | None = None
        # One thread, so that writes reach the file in order.
        self._disk = concurrent.futures.ThreadPoolExecutor(1, "vellomar-store")

    @property
    def durable_size(self) -> int:
        """The bytes of the file that hold whole records on disk."""
        return self._size

    def append(self, data: bytes) -> asyncio.Future[None]:
        """Queue the message `data`; the future is done once it is on disk,
        or holds the OSError that kept it off."""
        loop = asyncio.get_running_loop()
        waiter: asyncio.Future[None] = loop.create_future()
        self._records += (START, data, RECORD_END)
        self._waiters.append(waiter)
        if self._task is None:
            self._task = loop.create_task(self._flush())
        return waiter

    async def _flush(self) -> None:
        loop = asyncio.get_running_loop()
        try:
            while self._records:
                records, waiters = self._records, self._waiters
                self._records, self._waiters = [], []
                try:
                    await loop.run_in_executor(self._disk, self._write, records)
                except OSError as error:
                    for waiter in waiters:
                        waiter.set_exception(error)
                else:
                    self._stats.fsyncs += 1
                    self.written.set()
                    for waiter in waiters:
                        waiter.set_result(None)
        finally:
            self._task = None

    def _write(self, records: list[bytes]) -> None:
        """Append `records` and fsync; on failure cut the file back to where
        it stood, so that the records after it follow whole records only."""
        if self._broken is not None:
            raise self._broken
        try:
            written = write_all(self._fd, records)
            os.fsync(self._fd)
        except OSError as error:
            log.error("store %s: %s; the write is undone", self.path, error)
            try:
                os.ftruncate(self._fd, self._size)
                os.fsync(self._fd)
            except OSError as cut_error:
                self._broken = OSError(
                    f"{self.path}: the store stopped: a failed write could not be undone: "
                    f"{cut_error}"
                )
                log.error("%s", self._broken)
            raise
        self._size += written

    async def close(self) -> None:
        if self._task is not None:
            await asyncio.shield(self._task)
        self._disk.shutdown()
        os.close(self._fd)  # and with it the lock


def write_all(fd: int, buffers: list[bytes]) -> int:
    """Write `buffers` in order with as few system calls as the kernel
    allows (no joined copy); the number of bytes written."""
    total = 0
    pending: list[bytes | memoryview] = list(buffers)
    while pending:
        chunk = pending[:_IOV_MAX]
        count = os.writev(fd, chunk)
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


def cut_torn_record(fd: int, path: Path) -> int:
    """Drop a record that a crash left half written at the end of the file
    (it was never acknowledged) and say so; anything that is not a record is
    left alone. Reads back only to the last whole record. The size kept."""
    size = os.fstat(fd).st_size
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
    if end == size or os.pread(fd, 1, end) != START:
        return size
    os.ftruncate(fd, end)
    os.fsync(fd)
    log.warning(
        "store %s: cut %d bytes at byte %d, a message that a crash left half written "
        "(it was never acknowledged)",
        path,
        size - end,
        end,
    )
    return end
