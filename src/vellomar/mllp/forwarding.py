"""Store and forward: a listener whose messages are on disk before their ACK,
forwarded in order to one downstream receiver.

Each message received is appended to the store (DIR/messages.hl7, fsynced)
and acknowledged; a forwarding task sends the stored messages one at a time,
in the order stored, and takes the next only after the receiver's AA (a CA
is read past, for the AA, AE or AR after it). The byte offset reached is
written to DIR/forwarded after each ACK, so a restart (after SIGKILL too) resumes with the message whose ACK had not
come: every message acknowledged upstream reaches the receiver at least
once, in order; only the one in flight when the relay stopped may arrive
twice. (The offset is fsynced once a second: a power cut may send again up
to a second's worth of messages.) A receiver that is down, refuses or resets
the connection is retried with backoff, for as long as it takes; so is any
other error in forwarding (supervised: it never stops while the listener
answers).
"""

from __future__ import annotations

import asyncio
import os
import ssl as _ssl
from collections.abc import Iterable
from dataclasses import dataclass
from pathlib import Path
from typing import Literal

from .._core import Message
from .client import ClientConfig, Connection, open_connection
from .common import DEFAULT_PORT, MAX_MESSAGE_BYTES, TIMEOUT, Closable, Opening, log
from .config import Network, ServerConfig, codec_name, networks
from .framing import START
from .server import Server, start
from .store import RECORD_END, fsync_directory, write_all

POSITION_FILE = "forwarded"
DEAD_LETTER_FILE = "dead-letter.hl7"
_POSITION_WIDTH = 20  # digits of the offset, so that each write overwrites the last whole
_SYNC_EVERY = 1.0  # seconds between fsyncs of the position
_READ = 1 << 18  # bytes of the store read at a time

@dataclass(frozen=True)
class RelayConfig:
    """How a relay listens and where it forwards. `on_reject` says what an
    AE or AR from the receiver does: "hold" keeps the message at the head
    of the queue and tries it again (with backoff) until it is taken;
    "dead-letter" appends it to DIR/dead-letter.hl7 and goes on."""

    listen: ServerConfig
    downstream: ClientConfig
    on_reject: Literal["hold", "dead-letter"] = "hold"

@dataclass
class RelayStats:
    """Counters of a relay's forwarding since it started, and its state:
    "forwarding", "waiting" (everything stored is forwarded) or "holding:
    " and why (the receiver is down, rejected the message, or an error in
    recording it is being retried)."""

    forwarded: int = 0  # messages the receiver took (AA)
    dead_letters: int = 0
    held: int = 0  # answers AE/AR that kept a message at the head of the queue
    failures: int = 0  # attempts that got no answer (receiver down, reset, timeout, garbage)
    errors: int = 0  # errors in reading the store or recording progress, retried
    state: str = "starting"

class Relay(Closable):
    """A running relay; made by `relay`. `server` is its listener (its
    `port`, `stats`), `stats` the forwarding counters, `position` the store
    offset up to which messages are forwarded."""

    def __init__(self, server: Server, config: RelayConfig) -> None:
        store = server.store
        assert store is not None
        self.server = server
        self.stats = RelayStats()
        self._config = config
        self._store = store
        directory = store.path.parent
        self._fd = os.open(store.path, os.O_RDONLY)
        new = not (directory / POSITION_FILE).exists()
        self._position_fd = os.open(directory / POSITION_FILE, os.O_RDWR | os.O_CREAT, 0o644)
        if new:
            fsync_directory(directory)
        self._dead_letters = directory / DEAD_LETTER_FILE
        self.position = self._read_position()
        self._synced_at = 0.0
        self._connection: Connection | None = None  # to the receiver, while open
        self._skipped: set[int] = set()  # offsets of bytes passed over, logged
        self._task: asyncio.Task[None] | None = None

    @property
    def port(self) -> int:
        return self.server.port

    def _read_position(self) -> int:
        path = self._store.path.parent / POSITION_FILE
        text = os.pread(self._position_fd, _POSITION_WIDTH + 1, 0)
        if not text.strip():
            return 0
        if not text.strip().isdigit():
            raise ValueError(f"{path}: not a byte offset: {text!r}")
        position = int(text)
        if position > self._store.durable_size:
            raise ValueError(
                f"{path}: offset {position} is past the end of {self._store.path} "
                f"({self._store.durable_size} bytes)"
            )
        return position

    def _write_position(self, position: int) -> None:
        # One small write in place: a process killed at any point leaves the
        # old or the new offset (the page cache outlives the process).
        os.pwrite(self._position_fd, b"%0*d\n" % (_POSITION_WIDTH, position), 0)
        self.position = position

    def _begin(self) -> None:
        self._task = asyncio.get_running_loop().create_task(self._supervise())

    def _hold(self, why: str) -> None:
        """Say (once per change) that forwarding is held at `position`, and why."""
        state = f"holding: {why}"
        if state != self.stats.state:
            log.warning("relay: holding the message at byte %d: %s", self.position, why)
        self.stats.state = state

    async def _supervise(self) -> None:
        """Forward for as long as the relay runs: any error is held, logged
        and tried again with backoff from the first message not forwarded
        (the listener goes on storing and answering meanwhile)."""
        config = self._config.downstream
        attempt, failed_at = 0, -1
        while True:
            try:
                await self._forward()
            except Exception as error:  # noqa: BLE001  (held and retried, never a silent stop)
                self.stats.errors += 1
                attempt = attempt + 1 if failed_at == self.position else 0
                failed_at = self.position
                self._hold(f"{type(error).__name__}: {error}")
                await asyncio.sleep(config.wait(attempt))

    async def _forward(self) -> None:
        loop = asyncio.get_running_loop()
        try:
            while True:
                records = self._records()
                if not records:
                    self.stats.state = "waiting"
                    self._store.written.clear()
                    await self._store.written.wait()
                    continue
                for data, end in records:
                    await self._deliver(data)
                    self._write_position(end)
                    self.stats.state = "forwarding"
                    if loop.time() - self._synced_at >= _SYNC_EVERY:
                        self._synced_at = loop.time()
                        await loop.run_in_executor(None, os.fsync, self._position_fd)
        finally:
            if self._connection is not None:
                await self._connection.close()
                self._connection = None

    def _records(self) -> list[tuple[bytes, int]]:
        """The next stored messages after `position`, with the offset past
        each. Bytes that are not a record (left by something other than the
        store) are passed over and logged once."""
        position, durable = self.position, self._store.durable_size
        size = min(durable - position, _READ)
        while size:
            chunk = os.pread(self._fd, size, position)
            records = []
            at = 0
            while (end := chunk.find(RECORD_END, at)) >= 0:
                start = chunk.rfind(START, at, end)
                if start != at:
                    self._skip(position + at, (end if start < 0 else start) - at)
                if start >= 0:
                    records.append((chunk[start + 1 : end], position + end + len(RECORD_END)))
                at = end + len(RECORD_END)
            if records or size == durable - position:
                if not records and chunk:
                    self._skip(position, len(chunk))
                return records
            size = min(durable - position, size * 4)  # one record longer than a read
        return []

    def _skip(self, offset: int, count: int) -> None:
        if offset not in self._skipped:
            self._skipped.add(offset)
            log.warning(
                "relay: %s: passing over %d bytes at byte %d that are not a stored message",
                self._store.path,
                count,
                offset,
            )

    async def _deliver(self, data: bytes) -> None:
        """Send `data` until the receiver takes it (or, with dead letters,
        answers AE/AR), on the connection kept in `_connection`."""
        config = self._config.downstream
        attempt = 0
        while True:
            try:
                if self._connection is None:
                    self._connection = await open_connection(config)
                # A CA (enhanced mode) is read past: only AA moves on.
                ack = await self._connection.send(data, final=True)
            except Exception as error:  # noqa: BLE001  (refused, reset, timeout, garbage, a charset)
                self.stats.failures += 1
                self._hold(f"{config.peer}: {error}")
                if self._connection is not None:
                    await self._connection.close()
                self._connection = None
            else:
                if _field(ack, "MSA-1") == "AA":
                    self.stats.forwarded += 1
                    return
                if self._config.on_reject == "dead-letter":
                    await asyncio.get_running_loop().run_in_executor(
                        None, self._dead_letter, data, ack
                    )
                    return
                self.stats.held += 1
                self._hold(
                    f"{config.peer} answered {_field(ack, 'MSA-1')} "
                    f"{_field(ack, 'MSA-3') or '(no text)'}; trying it again"
                )
            await asyncio.sleep(config.wait(attempt))
            attempt += 1

    def _dead_letter(self, data: bytes, ack: Message) -> None:
        new = not self._dead_letters.exists()
        fd = os.open(self._dead_letters, os.O_WRONLY | os.O_CREAT | os.O_APPEND, 0o644)
        try:
            write_all(fd, [START, data, RECORD_END])
            os.fsync(fd)
        finally:
            os.close(fd)
        if new:
            fsync_directory(self._dead_letters.parent)
        self.stats.dead_letters += 1
        log.warning(
            "relay: %s answered %s %s to the message at byte %d: moved to %s",
            self._config.downstream.peer,
            _field(ack, "MSA-1"),
            _field(ack, "MSA-3") or "(no text)",
            self.position,
            self._dead_letters,
        )

    async def serve_forever(self) -> None:
        await self.server.serve_forever()

    async def aclose(self) -> None:
        """Stop forwarding and listening; what is stored and not forwarded
        is forwarded by the next relay on the same store."""
        if self._task is not None:
            self._task.cancel()
            try:
                await self._task
            except asyncio.CancelledError:
                pass
        await self.server.aclose()
        os.fsync(self._position_fd)
        for fd in (self._fd, self._position_fd):
            os.close(fd)

def _field(message: Message, path: str) -> str:
    try:
        return message[path]
    except (KeyError, IndexError):
        return ""

def relay(
    to_host: str,
    to_port: int,
    *,
    store: str | os.PathLike[str],
    host: str | None = "127.0.0.1",
    port: int = DEFAULT_PORT,
    ssl: _ssl.SSLContext | None = None,
    allow: Iterable[str | Network] | None = None,
    encoding: str | None = None,
    max_message_bytes: int = MAX_MESSAGE_BYTES,
    to_ssl: _ssl.SSLContext | bool | None = None,
    timeout: float = TIMEOUT,
    retry_wait: float = 1.0,
    on_reject: Literal["hold", "dead-letter"] = "hold",
) -> Opening[Relay]:
    """Receive messages on `host`:`port` (as `serve` does, with `ssl` and
    `allow`), store each in the directory `store` before its ACK, and
    forward them in order to `to_host`:`to_port` (TLS with `to_ssl`),
    waiting for each one's ACK (`timeout`) before the next and retrying
    from `retry_wait` seconds up to 10 s while the receiver is down.
    `on_reject`: "hold" or "dead-letter" (see `RelayConfig`)."""
    if on_reject not in ("hold", "dead-letter"):
        raise ValueError(f"on_reject must be 'hold' or 'dead-letter', not {on_reject!r}")
    config = RelayConfig(
        ServerConfig(
            host=host,
            port=port,
            ssl=ssl,
            allow=networks(allow),
            max_message_bytes=max_message_bytes,
            encoding=codec_name(encoding),
            store=Path(store),
        ),
        ClientConfig(to_host, to_port, to_ssl, timeout, MAX_MESSAGE_BYTES, 0, retry_wait),
        on_reject,
    )
    return Opening(start_relay(config))

async def start_relay(config: RelayConfig) -> Relay:
    """A relay started with `config` (what `relay` awaits)."""
    server = await start(lambda message: None, config.listen)
    try:
        running = Relay(server, config)
    except BaseException:
        await server.aclose()
        raise
    running._begin()
    return running
