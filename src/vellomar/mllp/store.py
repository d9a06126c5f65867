"""The listener's store: an append-only file of the messages received, each
on disk (fsynced) before its acknowledgement leaves."""

from __future__ import annotations

import asyncio
import concurrent.futures
import os
from pathlib import Path

from .common import log
from .config import Stats
from .framing import START

# The file in the store directory; each message is kept as its MLLP frame
# followed by a line feed, bytes exactly as received.
STORE_FILE = "messages.hl7"
RECORD_END = b"\x1c\r\n"


class Store:
    """An append-only file of messages that acknowledges each append only
    after an fsync that covers it. Appends that arrive while a write is on
    disk are written together by the next one (group commit)."""

    def __init__(self, directory: str | os.PathLike[str], stats: Stats) -> None:
        self._stats = stats
        Path(directory).mkdir(parents=True, exist_ok=True)
        self.path = Path(directory) / STORE_FILE
        self._fd = os.open(self.path, os.O_RDWR | os.O_CREAT | os.O_APPEND, 0o644)
        _cut_torn_record(self._fd)
        self._records: list[bytes] = []
        self._waiters: list[asyncio.Future[None]] = []
        self._task: asyncio.Task[None] | None = None
        # One thread, so that writes reach the file in order.
        self._disk = concurrent.futures.ThreadPoolExecutor(1, "vellomar-store")

    def append(self, data: bytes) -> asyncio.Future[None]:
        """Queue the message `data`; the future is done once it is on disk."""
        loop = asyncio.get_running_loop()
        waiter: asyncio.Future[None] = loop.create_future()
        self._records.append(START + data + RECORD_END)
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
                    await loop.run_in_executor(self._disk, self._write, b"".join(records))
                except OSError as error:
                    log.error("store %s: %s", self.path, error)
                    for waiter in waiters:
                        waiter.set_exception(error)
                else:
                    self._stats.fsyncs += 1
                    for waiter in waiters:
                        waiter.set_result(None)
        finally:
            self._task = None

    def _write(self, data: bytes) -> None:
        view = memoryview(data)
        while view:
            view = view[os.write(self._fd, view) :]
        os.fsync(self._fd)

    async def close(self) -> None:
        if self._task is not None:
            await asyncio.shield(self._task)
        self._disk.shutdown()
        os.close(self._fd)


def _cut_torn_record(fd: int) -> None:
    """Drop a record that a crash left half written at the end of the file
    (it was never acknowledged); anything that is not a record is left alone."""
    size = os.fstat(fd).st_size
    position = size
    tail = b""
    while position > 0:
        position = max(0, position - 65536)
        tail = os.pread(fd, size - position, position)
        end = tail.rfind(RECORD_END)
        if end >= 0:
            torn = tail[end + len(RECORD_END) :]
            if torn.startswith(START) and RECORD_END not in torn:
                os.ftruncate(fd, position + end + len(RECORD_END))
            return
    if tail.startswith(START):
        os.ftruncate(fd, 0)
