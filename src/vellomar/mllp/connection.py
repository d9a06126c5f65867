"""One listener connection on asyncio: moves bytes between the transport and
the framing and answers, and owns the flow control (reading pauses while
the messages waiting for their answer pass a budget of count and bytes, or
while the peer does not read its ACKs)."""

from __future__ import annotations

import asyncio
import ipaddress
from dataclasses import dataclass, field
from typing import Any, cast

from .common import address, log
from .config import Handler, Network, ServerConfig, Stats
from .framing import Framer, Skipped
from .responder import Responder
from .store import Store
from .tls import reason

_CHUNK = 64 * 1024  # bytes read at a time
SKIP_REPORT = 10.0  # seconds between lines about skipped bytes on one connection
# A TLS record of the handshake, as a client's first bytes begin.
_TLS_HELLO = b"\x16\x03"


@dataclass(eq=False)
class Listening:
    """What the connections of one listener share."""

    handler: Handler
    config: ServerConfig
    stats: Stats
    store: Store | None
    connections: set[ListenerConnection] = field(default_factory=set)
    closing: bool = False
    all_gone: asyncio.Event = field(default_factory=asyncio.Event)

    def refusal(self, peer: Any) -> str | None:
        """Why a connection from `peer` is refused, or None to let it in."""
        config = self.config
        if config.allow is not None and not _allowed(peer, config.allow):
            return "not in the allow-list"
        if len(self.connections) >= config.max_connections:
            return f"over the limit of {config.max_connections} connections"
        if self.closing:
            return "closing"
        return None

    def forget(self, connection: ListenerConnection) -> None:
        self.connections.discard(connection)
        if not self.connections:
            self.all_gone.set()


def _allowed(peer: Any, networks: tuple[Network, ...]) -> bool:
    if not peer:
        return False
    ip = ipaddress.ip_address(str(peer[0]).split("%", 1)[0])
    if isinstance(ip, ipaddress.IPv6Address) and ip.ipv4_mapped is not None:
        ip = ip.ipv4_mapped
    return any(ip in network for network in networks)


class ListenerConnection(asyncio.BufferedProtocol):
    """The protocol of one accepted connection. The transport reads into one
    buffer of the connection's own (no bytes object per read); frames are
    copied out of it as they complete."""

    def __init__(self, listening: Listening) -> None:
        self._listening = listening
        self._config = listening.config
        self._loop = asyncio.get_running_loop()
        self._transport: asyncio.Transport | None = None
        self._peer = "?"
        self._framer = Framer(self._config.max_message_bytes)
        self._chunk = bytearray()  # made for an admitted connection only
        self._handshake_task: asyncio.Task[None] | None = None
        self._responder: Responder | None = None
        self._closing = False
        self._write_paused = False
        self._read_paused = False
        self._handshaking = False
        self._held_writes: list[bytes] = []
        self._checked_start = False  # the first bytes were looked at
        self._quiet_until = 0.0  # skipped bytes are summed up, not logged, until then
        self._held_bytes = self._held_places = 0
        self._progress = self._loop.time()
        self._timer: asyncio.TimerHandle | None = None

    # -- connection life

    def connection_made(self, transport: asyncio.BaseTransport) -> None:
        transport = cast(asyncio.Transport, transport)
        listening = self._listening
        peer = transport.get_extra_info("peername")
        self._peer = address(peer[0], peer[1]) if peer else "?"
        why = listening.refusal(peer)
        if why is not None:
            listening.stats.refused += 1
            log.warning("%s: connection refused: %s", self._peer, why)
            transport.abort()
            return
        self._transport = transport
        self._chunk = bytearray(_CHUNK)
        listening.connections.add(self)
        listening.stats.connections += 1
        log.info("%s: connected", self._peer)
        self._responder = Responder(
            listening.handler,
            self._config,
            listening.stats,
            listening.store,
            self._peer,
            self._send,
            self._settled,
        )
        self._timer = self._loop.call_at(
            self._progress + self._config.idle_timeout, self._check_idle
        )
        if self._config.ssl is not None:
            # Admitted before any TLS work; the handshake has its own timeout.
            self._handshaking = True
            transport.pause_reading()
            self._handshake_task = self._loop.create_task(self._handshake(transport))

    async def _handshake(self, transport: asyncio.Transport) -> None:
        try:
            tls = await self._loop.start_tls(
                transport,
                self,
                self._config.ssl,  # type: ignore[arg-type]
                server_side=True,
                ssl_handshake_timeout=self._config.handshake_timeout,
            )
        except Exception as error:  # noqa: BLE001  (every failure is the peer's: logged)
            log.warning("%s: TLS handshake failed: %s", self._peer, reason(error))
            transport.abort()
            self.connection_lost(None)
            return
        self._handshaking = False
        if tls is None or self._transport is None:
            return
        self._transport = tls
        if self._held_writes:
            tls.write(b"".join(self._held_writes))
            self._held_writes.clear()
        self._update_reading()

    def connection_lost(self, exc: Exception | None) -> None:
        if self._transport is None:
            return
        self._transport = None
        self._listening.forget(self)
        if self._timer is not None:
            self._timer.cancel()
        if self._responder is not None:
            self._responder.stop()
        self._report_skipped()
        if self._framer.in_frame:
            log.warning("%s: disconnected in the middle of a frame; it is dropped", self._peer)
        log.info("%s: disconnected", self._peer)

    def abort(self) -> None:
        """Cut the connection now."""
        if self._transport is not None:
            self._transport.abort()

    def shut(self) -> None:
        """Stop reading; close once every message received is answered."""
        self._closing = True
        self._update_reading()
        self._close_when_done()

    def _idle(self) -> bool:
        return self._responder is None or self._responder.idle

    def _close_when_done(self) -> None:
        if self._closing and self._transport is not None and self._idle():
            self._transport.close()

    def _check_idle(self) -> None:
        now = self._loop.time()
        timeout = self._config.idle_timeout
        if self._transport is None:
            return
        if now >= self._progress + timeout and self._idle():
            self._listening.stats.timed_out += 1
            log.warning("%s: closed after %g s without a complete message", self._peer, timeout)
            self._transport.abort()
            return
        deadline = self._progress + timeout
        self._timer = self._loop.call_at(deadline if deadline > now else now + timeout, self._check_idle)

    # -- flow control

    def pause_writing(self) -> None:
        self._write_paused = True
        self._update_reading()

    def resume_writing(self) -> None:
        self._write_paused = False
        self._update_reading()

    def _update_reading(self) -> None:
        transport = self._transport
        responder = self._responder
        if transport is None or responder is None or self._handshaking:
            return
        config = self._config
        pause = (
            self._write_paused
            or self._closing
            or responder.pending_messages >= config.max_pending_messages
            or responder.pending_bytes >= config.max_pending_bytes
        )
        if pause != self._read_paused:
            self._read_paused = pause
            if pause:
                transport.pause_reading()
            else:
                transport.resume_reading()

    # -- bytes in and out

    def get_buffer(self, sizehint: int) -> bytearray:
        return self._chunk

    def buffer_updated(self, nbytes: int) -> None:
        self._received(self._chunk, nbytes)

    def data_received(self, data: bytes) -> None:
        """The same for a transport that hands over bytes objects."""
        self._received(data, len(data))

    def _received(self, data: bytes | bytearray, size: int) -> None:
        responder = self._responder
        if responder is None:
            return
        if not self._checked_start and size:
            self._checked_start = True
            if data[: min(size, 2)] == _TLS_HELLO and self._config.ssl is None:
                log.warning("%s: closed: it began a TLS handshake; this listener is not TLS", self._peer)
                self.abort()
                return
        received = False
        for event in self._framer.feed(data, size):
            if isinstance(event, Skipped):
                self._skipped(event.count)
            else:
                responder.receive(event)
                received = True
        if received:
            self._progress = self._loop.time()
            responder.answer_waiting()
        self._update_reading()
        if self._closing:
            self._close_when_done()

    def _settled(self) -> None:
        self._update_reading()
        self._close_when_done()

    def _skipped(self, count: int) -> None:
        """Count skipped bytes; log the first and then a summary at most
        every SKIP_REPORT seconds (a stream of junk is not a flood of lines)."""
        self._listening.stats.skipped_bytes += count
        now = self._loop.time()
        if now < self._quiet_until:
            self._held_bytes += count
            self._held_places += 1
            return
        self._report_skipped()
        log.warning("%s: skipped %d bytes outside a frame", self._peer, count)
        self._quiet_until = now + SKIP_REPORT

    def _report_skipped(self) -> None:
        if self._held_places:
            log.warning(
                "%s: skipped %d more bytes outside frames (in %d places)",
                self._peer,
                self._held_bytes,
                self._held_places,
            )
            self._held_bytes = self._held_places = 0

    def _send(self, data: bytes) -> None:
        if self._transport is None:
            return
        if self._handshaking:
            # Messages may come through before start_tls hands over the TLS
            # transport: their ACKs wait for it, never go out in the clear.
            self._held_writes.append(data)
            return
        self._transport.write(data)
        self._progress = self._loop.time()
        if self._read_paused:
            self._update_reading()
        if self._closing:
            self._close_when_done()
