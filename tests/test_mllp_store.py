"""vellomar.mllp.store: what the file holds when writes fail, crashes tear
records, and two listeners share a directory."""

import asyncio
import contextlib
import logging
import os
import resource
import signal
import subprocess
import sys

import pytest

import vellomar
from vellomar import _ranges
from vellomar.mllp import store as store_module
from vellomar.mllp.config import Stats
from vellomar.mllp.store import Store

A, B, C = b"MSH|^~\\&|A", b"MSH|^~\\&|B\rNTE|" + b"b" * 1000, b"MSH|^~\\&|C"


def record(data):
    return b"\x0b" + data + b"\x1c\r\n"


async def appended(store, *messages, keep_open=False):
    """Each message appended in turn: None when stored, else the error's text."""
    results = []
    for data in messages:
        try:
            await store.append(data)
            results.append(None)
        except OSError as error:
            results.append(str(error))
    if not keep_open:
        await store.close()
    return results


@contextlib.contextmanager
def file_size_limit(size):
    soft, hard = resource.getrlimit(resource.RLIMIT_FSIZE)
    resource.setrlimit(resource.RLIMIT_FSIZE, (size, hard))
    try:
        yield
    finally:
        resource.setrlimit(resource.RLIMIT_FSIZE, (soft, hard))


def seen(path):
    """What a reader in another process takes from the store now."""
    return [m["MSH-3"] for m in vellomar.read(path)]


@pytest.mark.parametrize("fault, results, kept", [
    ("flush", [None, "[Errno 5] EIO", None], ["A", "C"]),
    ("half written", [None, "[Errno 28] No space left on device", None], ["A", "C"]),
    ("undo fails", [None, "[Errno 5] EIO", "{path}: the store stopped: a failed write could not be undone: "
                                           "[Errno 5] EIO"], ["A"]),
    ("file too large", ["[Errno 27] File too large", "[Errno 27] File too large", None], ["C"]),
])
def test_a_failed_write_is_never_seen_by_readers(tmp_path, monkeypatch, fault, results, kept):
    path, during = tmp_path / "messages.hl7", []
    datasync, pwritev, pwrite = store_module._datasync, os.pwritev, os.pwrite

    def failing_datasync(fd):
        if b"|B" in os.pread(fd, 4096, 0):
            during.append(seen(path))  # B is in the file, its flush not done
            if fault == "undo fails":
                monkeypatch.setattr(os, "pwrite", lambda *a: (_ for _ in ()).throw(OSError(5, "EIO")))
            raise OSError(5, "EIO")
        datasync(fd)

    def half_pwritev(fd, buffers, offset):
        if b"|B" not in b"".join(buffers):
            return pwritev(fd, buffers, offset)
        pwrite(fd, bytes(buffers[1][:100]), offset)
        during.append(seen(path))
        raise OSError(28, "No space left on device")

    async def run():
        if fault == "file too large":  # the disk is full before the file is grown ahead
            with file_size_limit(1 << 20):
                store = Store(tmp_path, Stats())
                done = await appended(store, A, B, keep_open=True)
            return done + await appended(store, C)
        store = Store(tmp_path, Stats())
        if fault in ("flush", "undo fails"):
            monkeypatch.setattr(store_module, "_datasync", failing_datasync)
        elif fault == "half written":
            monkeypatch.setattr(os, "pwritev", half_pwritev)
        return await appended(store, A, B, C)

    got = asyncio.run(run())
    assert got == [r and r.format(path=path) for r in results]
    assert all(reading == ["A"] for reading in during) and seen(path) == kept


def test_new_directories_and_the_file_are_made_durable(tmp_path, monkeypatch):
    synced, fsync = set(), os.fsync
    monkeypatch.setattr(os, "fsync", lambda fd: synced.add(os.fstat(fd).st_ino) or fsync(fd))
    asyncio.run(appended(Store(tmp_path / "a" / "b", Stats())))
    assert {p.stat().st_ino for p in (tmp_path, tmp_path / "a", tmp_path / "a" / "b")} <= synced


def test_a_second_listener_on_one_store_is_refused(tmp_path):
    async def run():
        first = Store(tmp_path, Stats())
        with pytest.raises(OSError) as error:
            Store(tmp_path, Stats())
        await first.close()
        return str(error.value)

    assert asyncio.run(run()) == f"{tmp_path / 'messages.hl7'}: the store is in use by another listener"


TORN = b"\x0bMSH|^~\\&|T\rNTE|" + b"t" * (3 << 20)


@pytest.mark.parametrize(
    "content, kept, logged",
    [
        (record(A) * 3 + TORN, record(A) * 3, f"cut {len(TORN)} bytes at byte {3 * len(record(A))}"),
        (TORN, b"", f"cut {len(TORN)} bytes at byte 0"),
        (record(A) + TORN[:99] + bytes(5000), record(A), "cut 99 bytes at byte 14"),
        (record(A) + b"not a record", record(A) + b"not a record", None),
    ],
    ids=["torn tail", "torn only", "torn, then zeros grown ahead", "no record"],
)
def test_a_torn_record_is_cut_reading_only_the_tail(tmp_path, monkeypatch, caplog, content, kept, logged):
    (tmp_path / "messages.hl7").write_bytes(content)
    read, pread = [], os.pread
    monkeypatch.setattr(os, "pread", lambda fd, n, at: read.append(n) or pread(fd, n, at))
    with caplog.at_level(logging.WARNING, "vellomar.mllp"):
        asyncio.run(appended(Store(tmp_path, Stats())))
    assert (tmp_path / "messages.hl7").read_bytes().rstrip(b"\0") == kept
    assert (tmp_path / "messages.hl7.durable").read_bytes() == _ranges.published(len(kept))
    assert sum(read) <= len(content) - len(kept) + 3 * store_module._SCAN
    expected = [
        f"store {tmp_path / 'messages.hl7'}: 12 bytes at byte 14 are not a record; they are kept, and passed over"
    ] if logged is None else [
        f"store {tmp_path / 'messages.hl7'}: {logged}, a message that a crash left half written "
        "(it was never acknowledged)"]
    assert [r.getMessage() for r in caplog.records] == expected


def numbered(number):
    """A message of 1,017 bytes (for numbers of two digits) with MSH-3 `number`."""
    return b"MSH|^~\\&|%d\rNTE|" % number + b"n" * 1000


def test_a_failed_preparation_ahead_is_held_and_retried(tmp_path, monkeypatch, caplog):
    # Extents of 16 KiB, and a disk full at two: the next extent cannot be
    # prepared, appends go on in the room left, the one past it fails, and
    # once there is room again the extent is prepared and appends go on.
    monkeypatch.setattr(store_module, "EXTENT", 16384)
    monkeypatch.setattr(store_module, "PREPARE_RETRY", 60.0)

    async def run():
        with file_size_limit(2 * 16384):
            store = Store(tmp_path, Stats())
            results = await appended(store, *map(numbered, range(10, 42)), keep_open=True)
            # The preparation ahead has failed before the room runs out (its
            # thread is done with what was queued before this).
            await asyncio.wrap_future(store._ahead.submit(lambda: None))
            held = str(store.prepare_error)
            results += await appended(store, numbered(42), keep_open=True)
        return results, held, await appended(store, numbered(43)), store.prepare_error

    with caplog.at_level(logging.WARNING, "vellomar.mllp"):
        results, held, after, cleared = asyncio.run(run())
    assert results == [None] * 32 + ["[Errno 27] File too large"]
    assert (held, after, cleared) == ("[Errno 27] File too large", [None], None)
    assert seen(tmp_path / "messages.hl7") == [str(n) for n in range(10, 42)] + ["43"]
    path = tmp_path / "messages.hl7"
    assert [r.getMessage() for r in caplog.records] == [
        f"store {path}: the next extent could not be prepared: [Errno 27] File too large; retried in 60 s",
        f"store {path}: [Errno 27] File too large; the write is undone",
        f"store {path}: the next extent is prepared again",
    ]


# A listener killed while the thread ahead has zeroed half its third extent
# (the second holds records), before its flush; it prints each message
# acknowledged.
KILLED = r"""
import asyncio, os, signal, sys, threading
from vellomar.mllp import store
from vellomar.mllp.config import Stats

store.EXTENT = 16384
zero = store.zero

def zero_then_die(fd, offset, count):
    if threading.current_thread().name.startswith("vellomar-store-ahead") and offset >= 32768:
        os.pwrite(fd, bytes(count // 2), offset)
        os.kill(os.getpid(), signal.SIGKILL)
    zero(fd, offset, count)

store.zero = zero_then_die

async def main():
    kept = store.Store(sys.argv[1], Stats())
    # More than the extents prepared ahead hold: the kill comes however
    # late the thread preparing ahead runs.
    for number in range(10, 200):
        await kept.append(b"MSH|^~\\&|%d\rNTE|" % number + b"n" * 1000)
        print(number, flush=True)

asyncio.run(main())
"""


def test_a_kill_while_an_extent_is_prepared_keeps_every_acknowledged_message(tmp_path, monkeypatch, caplog):
    done = subprocess.run([sys.executable, "-c", KILLED, str(tmp_path)], capture_output=True, text=True,
                          timeout=60)
    acknowledged = done.stdout.split()
    assert done.returncode == -signal.SIGKILL and 7 <= len(acknowledged) < 190
    kept = seen(tmp_path / "messages.hl7")
    assert kept[: len(acknowledged)] == acknowledged and len(kept) <= len(acknowledged) + 1
    # Reopened, the store appends after the zeros of the half-prepared extent.
    monkeypatch.setattr(store_module, "EXTENT", 16384)
    with caplog.at_level(logging.WARNING, "vellomar.mllp"):
        assert asyncio.run(appended(Store(tmp_path, Stats()), *map(numbered, range(50, 80)))) == [None] * 30
    # A record written whole but not yet flushed when the process died may
    # come back on opening (at-least-once): only acknowledged ones must.
    before = seen(tmp_path / "messages.hl7")[:-30]
    assert seen(tmp_path / "messages.hl7")[-30:] == [str(n) for n in range(50, 80)]
    assert before[: len(kept)] == kept and before == [str(n) for n in range(10, 10 + len(before))]
    assert len(acknowledged) <= len(before) <= len(acknowledged) + 1
    assert caplog.records == []
