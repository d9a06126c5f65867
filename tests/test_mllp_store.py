"""vellomar.mllp.store: what the file holds when writes fail, crashes tear
records, and two listeners share a directory."""

import asyncio
import logging
import os
import resource

import pytest

from vellomar.mllp import store as store_module
from vellomar.mllp.config import Stats
from vellomar.mllp.store import Store

A, B, C = b"MSH|^~\\&|A", b"MSH|^~\\&|B\rNTE|" + b"b" * 1000, b"MSH|^~\\&|C"


def record(data):
    return b"\x0b" + data + b"\x1c\r\n"


async def appended(store, *messages):
    """Each message appended in turn: None when stored, else the error's text."""
    results = []
    for data in messages:
        try:
            await store.append(data)
            results.append(None)
        except OSError as error:
            results.append(str(error))
    await store.close()
    return results


@pytest.mark.parametrize("undo_fails", [False, True])
def test_a_failed_write_leaves_only_whole_records(tmp_path, monkeypatch, undo_fails):
    async def run():
        store = Store(tmp_path, Stats())
        await store.append(A)
        if undo_fails:
            monkeypatch.setattr(os, "ftruncate", lambda fd, size: (_ for _ in ()).throw(OSError(5, "EIO")))
        soft, hard = resource.getrlimit(resource.RLIMIT_FSIZE)
        # The disk fills half-way through B; C fits once B is undone.
        resource.setrlimit(resource.RLIMIT_FSIZE, (len(record(A)) + 500, hard))
        try:
            return await appended(store, B, C)
        finally:
            resource.setrlimit(resource.RLIMIT_FSIZE, (soft, hard))

    results = asyncio.run(run())
    path = tmp_path / "messages.hl7"
    if undo_fails:
        stopped = f"{path}: the store stopped: a failed write could not be undone: [Errno 5] EIO"
        assert results == ["[Errno 27] File too large", stopped]
    else:
        assert results == ["[Errno 27] File too large", None]
        assert path.read_bytes() == record(A) + record(C)


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
        (record(A) + b"not a record", record(A) + b"not a record", None),
    ],
    ids=["torn tail", "torn only", "no record"],
)
def test_a_torn_record_is_cut_reading_only_the_tail(tmp_path, monkeypatch, caplog, content, kept, logged):
    (tmp_path / "messages.hl7").write_bytes(content)
    read, pread = [], os.pread
    monkeypatch.setattr(os, "pread", lambda fd, n, at: read.append(n) or pread(fd, n, at))
    with caplog.at_level(logging.WARNING, "vellomar.mllp"):
        asyncio.run(appended(Store(tmp_path, Stats())))
    assert (tmp_path / "messages.hl7").read_bytes() == kept
    assert sum(read) <= len(content) - len(kept) + 2 * store_module._SCAN
    expected = [] if logged is None else [
        f"store {tmp_path / 'messages.hl7'}: {logged}, a message that a crash left half written "
        "(it was never acknowledged)"]
    assert [r.getMessage() for r in caplog.records] == expected
