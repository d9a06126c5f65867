"""HL7 v2 over MLLP: a listener and a sender on asyncio.

On the wire each message travels as 0x0B, the message bytes, 0x1C 0x0D, and the
receiver answers every message with an acknowledgement framed the same way.

    async def on_message(msg):          # a parsed vellomar.Message
        ...                             # None: AA; text: that ACK; raise: AE
    async with serve(on_message, port=2575, store="inbox") as server:
        await server.serve_forever()

    async with connect("127.0.0.1", 2575) as connection:
        ack = await connection.send(text)       # the parsed ACK

Framing, decoding and the store are written here by hand on asyncio's
Protocol interface rather than on its streams: the listener has to count
skipped bytes, refuse an oversized frame without buffering it, time out
trickling senders and keep ACKs in order while messages wait for a shared
fsync, and it does so with one buffer scan per chunk received.
"""

from __future__ import annotations

import asyncio
import codecs
import collections
import concurrent.futures
import inspect
import ipaddress
import logging
import os
import re
import ssl as _ssl
from collections.abc import Awaitable, Callable, Coroutine, Iterable
from dataclasses import dataclass
from pathlib import Path
from types import TracebackType
from typing import Any, Generator, Generic, TypeVar, Union, cast

from . import _ops
from ._core import Message, parse
from .charsets import codec_of, decode

__all__ = [
    "serve",
    "Server",
    "Stats",
    "connect",
    "send",
    "Connection",
    "BlockingClient",
    "STORE_FILE",
    "escape",
    "reject",
]

log = logging.getLogger("vellomar.mllp")

START = b"\x0b"
END = b"\x1c"
CR = b"\r"
_START, _END, _CR = 0x0B, 0x1C, 0x0D

DEFAULT_PORT = 2575
MAX_MESSAGE_BYTES = 16 * 1024 * 1024
IDLE_TIMEOUT = 60.0
MAX_CONNECTIONS = 100
TIMEOUT = 10.0
# The file in the store directory; each message is kept as its MLLP frame
# followed by a line feed, bytes exactly as received.
STORE_FILE = "messages.hl7"
_RECORD_END = b"\x1c\r\n"

# A connection stops reading while this many messages wait for an answer.
_BACKLOG = 256
# The header of an AR for a frame whose own MSH cannot be read.
_MINIMAL_MSH = "MSH|^~\\&|"
_LINES = re.compile(r"[\r\n]+")

Handler = Callable[[Message], Union[str, None, Awaitable[Union[str, None]]]]


# ---------------------------------------------------------------------------
# Acknowledgements


def escape(text: str, raw: str) -> str:
    """`text` made safe for one field of the message `raw`: the delimiters its
    header declares written as escape sequences (F, S, R, E, T) and its line
    ends as spaces (the package's one escaper)."""
    return _ops.escape_answer(text, raw)


def reject(text: str, error: str) -> str:
    """The AR acknowledgement for the message `text` that could not be taken,
    with `error` in MSA-3: its header comes from the first readable MSH line
    of `text`, or from a minimal MSH when there is none."""
    for line in _LINES.split(text[:65536]):
        if line.startswith("MSH") and len(line) >= 8:
            header = parse(line)
            break
    else:
        header = parse(_MINIMAL_MSH)
    return header.ack("AR", escape(error, header.raw))


def _codec(data: bytes, encoding: str | None) -> str:
    """The codec for `data`: `encoding` when given, else by its MSH-18."""
    return codec_of(data, encoding)


def _address(host: str, port: int) -> str:
    return f"[{host}]:{port}" if ":" in host else f"{host}:{port}"


def _frame(text: str, codec: str) -> bytes:
    return START + text.encode(codec, "replace") + END + CR


# ---------------------------------------------------------------------------
# The store


class _Store:
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
        self._records.append(START + data + _RECORD_END)
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
        end = tail.rfind(_RECORD_END)
        if end >= 0:
            torn = tail[end + len(_RECORD_END) :]
            if torn.startswith(START) and _RECORD_END not in torn:
                os.ftruncate(fd, position + end + len(_RECORD_END))
            return
    if tail.startswith(START):
        os.ftruncate(fd, 0)


# ---------------------------------------------------------------------------
# The listener


@dataclass
class Stats:
    """Counters of a server since it started."""

    connections: int = 0
    messages: int = 0
    rejected: int = 0
    errors: int = 0
    skipped_bytes: int = 0
    oversized: int = 0
    refused: int = 0
    timed_out: int = 0
    fsyncs: int = 0


class _Oversized:
    """The first `max_message_bytes` of a frame that was longer."""

    __slots__ = ("head",)

    def __init__(self, head: bytes) -> None:
        self.head = head


class _Connection(asyncio.Protocol):
    def __init__(self, server: Server) -> None:
        self._server = server
        self._loop = asyncio.get_running_loop()
        self._transport: asyncio.Transport | None = None
        self._peer = "?"
        self._buffer = bytearray()
        self._in_frame = False
        self._oversized = False
        self._after_end = False
        self._inbox: collections.deque[bytes | _Oversized] = collections.deque()
        self._outbox: collections.deque[
            tuple[asyncio.Future[None] | None, bytes, Message | None, str]
        ] = collections.deque()
        self._busy = False  # a task is finishing an answer
        self._closing = False
        self._write_paused = False
        self._read_paused = False
        self._progress = self._loop.time()
        self._timer: asyncio.TimerHandle | None = None
        self._task: asyncio.Task[None] | None = None

    # -- connection life

    def connection_made(self, transport: asyncio.BaseTransport) -> None:
        transport = cast(asyncio.Transport, transport)
        server = self._server
        peer = transport.get_extra_info("peername")
        self._peer = _address(peer[0], peer[1]) if peer else "?"
        why = None
        if server._allow is not None and not _allowed(peer, server._allow):
            why = "not in the allow-list"
        elif len(server._connections) >= server._max_connections:
            why = f"over the limit of {server._max_connections} connections"
        if why is not None or server._closing:
            server.stats.refused += 1
            log.warning("%s: connection refused: %s", self._peer, why or "closing")
            transport.abort()
            return
        self._transport = transport
        server._connections.add(self)
        server.stats.connections += 1
        log.info("%s: connected", self._peer)
        self._timer = self._loop.call_at(self._progress + server._idle_timeout, self._check_idle)

    def connection_lost(self, exc: Exception | None) -> None:
        if self._transport is None:
            return
        self._transport = None
        self._server._forget(self)
        if self._timer is not None:
            self._timer.cancel()
        if self._task is not None:
            self._task.cancel()
        if self._in_frame:
            log.warning("%s: disconnected in the middle of a frame; it is dropped", self._peer)
        log.info("%s: disconnected", self._peer)

    def pause_writing(self) -> None:
        self._write_paused = True
        self._update_reading()

    def resume_writing(self) -> None:
        self._write_paused = False
        self._update_reading()

    def _update_reading(self) -> None:
        transport = self._transport
        if transport is None:
            return
        pause = (
            self._write_paused or self._closing or len(self._inbox) + len(self._outbox) >= _BACKLOG
        )
        if pause != self._read_paused:
            self._read_paused = pause
            if pause:
                transport.pause_reading()
            else:
                transport.resume_reading()

    def _idle(self) -> bool:
        return not (self._inbox or self._outbox or self._busy)

    def _check_idle(self) -> None:
        now = self._loop.time()
        timeout = self._server._idle_timeout
        if self._transport is None:
            return
        if now >= self._progress + timeout and self._idle():
            self._server.stats.timed_out += 1
            log.warning("%s: closed after %g s without a complete message", self._peer, timeout)
            self._transport.abort()
            return
        deadline = self._progress + timeout
        self._timer = self._loop.call_at(deadline if deadline > now else now + timeout, self._check_idle)

    def shut(self) -> None:
        """Stop reading; close once every message received is answered."""
        self._closing = True
        self._update_reading()
        if self._transport is not None and self._idle():
            self._transport.close()

    # -- framing

    def data_received(self, data: bytes) -> None:
        position = 0
        size = len(data)
        if self._after_end and size:
            # The 0x0D after an end block that came at the end of a chunk.
            self._after_end = False
            position = 1 if data[0] == _CR else 0
        limit = self._server._max_message_bytes
        buffer = self._buffer
        while position < size:
            if not self._in_frame:
                start = data.find(START, position)
                if start < 0:
                    self._skip(size - position)
                    break
                self._skip(start - position)
                self._in_frame = True
                position = start + 1
                continue
            end = data.find(END, position)
            stop = size if end < 0 else end
            restart = data.find(START, position, stop)
            if restart >= 0:
                # A new start block before the end: the frame so far is lost.
                self._skip(1 + len(buffer) + restart - position)
                buffer.clear()
                self._oversized = False
                position = restart + 1
                continue
            if not self._oversized:
                room = limit - len(buffer)
                if stop - position > room:
                    # Keep the head (its MSH answers the AR); drop the rest.
                    buffer += data[position : position + room]
                    self._oversized = True
                else:
                    buffer += data[position:stop]
            if end < 0:
                break
            frame = _Oversized(bytes(buffer)) if self._oversized else bytes(buffer)
            buffer.clear()
            self._in_frame = self._oversized = False
            position = end + 1
            if position < size:
                if data[position] == _CR:
                    position += 1
            else:
                self._after_end = True
            self._progress = self._loop.time()
            self._inbox.append(frame)
        if self._inbox and not self._busy:
            self._answer_waiting()

    def _skip(self, count: int) -> None:
        if count > 0:
            self._server.stats.skipped_bytes += count
            log.warning("%s: skipped %d bytes outside a frame", self._peer, count)

    # -- answers

    def _answer_waiting(self) -> None:
        """Answer the frames received, here and now while the handler answers
        at once; an awaitable answer is finished by a task that carries on."""
        inbox = self._inbox
        while inbox and self._transport is not None:
            pending = self._answer(inbox.popleft())
            if pending is not None:
                self._busy = True
                self._task = self._loop.create_task(self._finish(pending))
                break
        self._update_reading()
        if self._closing and self._idle() and self._transport is not None:
            self._transport.close()

    async def _finish(self, pending: Awaitable[None]) -> None:
        try:
            await pending
        finally:
            self._busy = False
        self._answer_waiting()

    def _answer(self, received: bytes | _Oversized) -> Awaitable[None] | None:
        """Answer the frame `received`; or return what finishes the answer
        when the handler's result has to be awaited."""
        server = self._server
        server.stats.messages += 1
        codec = "utf-8"
        frame = received.head if isinstance(received, _Oversized) else received
        try:
            if frame is not received:
                server.stats.oversized += 1
                raise ValueError(f"Message larger than {server._max_message_bytes} bytes")
            codec = _codec(frame, server._encoding)
            message = parse(frame.decode(codec))
        except (UnicodeDecodeError, LookupError, ValueError) as error:
            server.stats.rejected += 1
            log.warning("%s: message rejected: %s", self._peer, error)
            try:
                text = frame.decode(codec, "replace")
            except LookupError:
                text = frame.decode("latin-1")
            self._reply(None, reject(text, str(error)), None, codec)
            return None
        stored = server._store.append(frame) if server._store is not None else None
        result: object
        try:
            result = server._handler(message)
        except Exception as error:
            result = error
        if inspect.isawaitable(result):
            return self._finish_answer(result, message, stored, codec)
        self._reply(stored, self._ack(result, message), message, codec)
        return None

    async def _finish_answer(
        self,
        result: Awaitable[str | None],
        message: Message,
        stored: asyncio.Future[None] | None,
        codec: str,
    ) -> None:
        try:
            outcome: str | None | Exception = await result
        except Exception as error:
            outcome = error
        self._reply(stored, self._ack(outcome, message), message, codec)

    def _ack(self, result: object, message: Message) -> str:
        """The ACK for the handler's `result` (None, a text, or the exception it raised)."""
        if result is None:
            return message.ack("AA")
        if isinstance(result, str):
            return result
        if not isinstance(result, Exception):
            result = TypeError(f"the handler returned {type(result).__name__}, not str or None")
        self._server.stats.errors += 1
        log.warning("%s: handler failed: %r", self._peer, result)
        return message.ack("AE", escape(str(result) or type(result).__name__, message.raw))

    def _reply(
        self, stored: asyncio.Future[None] | None, ack: str, message: Message | None, codec: str
    ) -> None:
        self._outbox.append((stored, _frame(ack, codec), message, codec))
        if stored is not None and not stored.done():
            stored.add_done_callback(self._send_ready)
        else:
            self._send_ready()

    def _send_ready(self, _: object = None) -> None:
        """Write the ACKs at the head of the outbox whose messages are stored."""
        outbox = self._outbox
        ready = []
        while outbox:
            stored, data, message, codec = outbox[0]
            if stored is not None:
                if not stored.done():
                    break
                error = stored.exception()
                if error is not None and message is not None:
                    text = escape(f"Message not stored: {error}", message.raw)
                    data = _frame(message.ack("AE", text), codec)
            outbox.popleft()
            ready.append(data)
        if ready and self._transport is not None:
            self._transport.write(b"".join(ready))
            self._progress = self._loop.time()
            self._update_reading()
            if self._closing and self._idle():
                self._transport.close()


class _Closable:
    """`async with` for an object that has `aclose()`."""

    async def aclose(self) -> None:
        raise NotImplementedError

    async def __aenter__(self: _Self) -> _Self:
        return self

    async def __aexit__(
        self,
        kind: type[BaseException] | None,
        value: BaseException | None,
        traceback: TracebackType | None,
    ) -> None:
        await self.aclose()


_Self = TypeVar("_Self", bound=_Closable)
_T = TypeVar("_T", bound=_Closable)


class _Opening(Generic[_T]):
    """What `serve` and `connect` return: awaitable, or used with
    `async with`, which closes the result on the way out."""

    def __init__(self, coroutine: Coroutine[Any, Any, _T]) -> None:
        self._coroutine = coroutine
        self._result: _T | None = None

    def __await__(self) -> Generator[Any, None, _T]:
        return self._coroutine.__await__()

    async def __aenter__(self) -> _T:
        self._result = await self._coroutine
        return self._result

    async def __aexit__(self, *exception: object) -> None:
        if self._result is not None:
            await self._result.aclose()


def _allowed(peer: Any, networks: list[ipaddress.IPv4Network | ipaddress.IPv6Network]) -> bool:
    if not peer:
        return False
    address = ipaddress.ip_address(str(peer[0]).split("%", 1)[0])
    if isinstance(address, ipaddress.IPv6Address) and address.ipv4_mapped is not None:
        address = address.ipv4_mapped
    return any(address in network for network in networks)


class Server(_Closable):
    """A running MLLP listener; made by `serve`.

    `port` is the bound port (useful with port=0), `sockets` the listening
    sockets, `stats` the counters. `close()` stops accepting; connections
    close once every message they delivered is answered; `wait_closed()`
    waits for that and for the store's last fsync; `aclose()` does both,
    as does leaving `async with serve(...)`.
    """

    def __init__(self, handler: Handler, **options: Any) -> None:
        self._handler = handler
        self._max_message_bytes: int = options["max_message_bytes"]
        self._idle_timeout: float = options["idle_timeout"]
        self._max_connections: int = options["max_connections"]
        self._encoding: str | None = options["encoding"]
        if self._encoding is not None:
            codecs.lookup(self._encoding)  # LookupError now rather than an AR per message
        allow = options["allow"]
        self._allow = (
            None if allow is None else [ipaddress.ip_network(net, strict=False) for net in allow]
        )
        self.stats = Stats()
        store = options["store"]
        self._store = _Store(store, self.stats) if store is not None else None
        self._connections: set[_Connection] = set()
        self._closing = False
        self._all_gone: asyncio.Event = asyncio.Event()
        self._server: asyncio.Server | None = None
        self.port = 0  # the port bound first (stays known after closing)

    @property
    def sockets(self) -> tuple[Any, ...]:
        assert self._server is not None
        return tuple(self._server.sockets)


    @property
    def store_path(self) -> Path | None:
        """The file that holds the stored messages, if there is a store."""
        return self._store.path if self._store is not None else None

    def _forget(self, connection: _Connection) -> None:
        self._connections.discard(connection)
        if not self._connections:
            self._all_gone.set()

    async def serve_forever(self) -> None:
        assert self._server is not None
        try:
            await self._server.serve_forever()
        finally:
            self.close()
            await self.wait_closed()

    def close(self) -> None:
        """Stop accepting connections and let the open ones finish."""
        if self._closing:
            return
        self._closing = True
        if self._server is not None:
            self._server.close()
        for connection in list(self._connections):
            connection.shut()

    async def wait_closed(self, timeout: float = 5.0) -> None:
        """Wait until every connection is closed (those still open after
        `timeout` seconds are cut) and the store is flushed."""
        if self._connections:
            self._all_gone.clear()
            try:
                await asyncio.wait_for(self._all_gone.wait(), timeout)
            except TimeoutError:
                for connection in list(self._connections):
                    if connection._transport is not None:
                        connection._transport.abort()
        if self._store is not None:
            store, self._store = self._store, None
            await store.close()
        if self._server is not None:
            await self._server.wait_closed()

    async def aclose(self) -> None:
        self.close()
        await self.wait_closed()


def serve(
    handler: Handler,
    host: str | None = "127.0.0.1",
    port: int = DEFAULT_PORT,
    *,
    ssl: _ssl.SSLContext | None = None,
    allow: Iterable[str | ipaddress.IPv4Network | ipaddress.IPv6Network] | None = None,
    max_message_bytes: int = MAX_MESSAGE_BYTES,
    idle_timeout: float = IDLE_TIMEOUT,
    max_connections: int = MAX_CONNECTIONS,
    encoding: str | None = None,
    store: str | os.PathLike[str] | None = None,
) -> _Opening[Server]:
    """Listen for MLLP connections on `host`:`port` (loopback unless another
    address is asked for; port 0 lets the system choose: see `Server.port`).

    Each message received is decoded (by `encoding`, or by its MSH-18 and
    else UTF-8), parsed and handed to `handler` (plain or async), and answered
    on its connection, in order: AA when the handler returns None, the text
    it returns, or AE with the text of the exception it raises. A message
    that does not decode or parse, or is longer than `max_message_bytes`,
    gets AR with the reason in MSA-3. With `store=DIR` each message is
    appended to DIR/messages.hl7 and on disk before its ACK leaves.

    `ssl` is a server-side SSLContext (ask for client certificates through
    it); `allow` lists the client networks let in ("10.0.0.0/8");
    connections over `max_connections`, and those idle (or trickling a
    frame) for `idle_timeout` seconds, are closed.
    """
    options = dict(
        allow=allow,
        max_message_bytes=max_message_bytes,
        idle_timeout=idle_timeout,
        max_connections=max_connections,
        encoding=encoding,
        store=store,
    )
    return _Opening(_start(handler, host, port, ssl, options))


async def _start(
    handler: Handler,
    host: str | None,
    port: int,
    ssl: _ssl.SSLContext | None,
    options: dict[str, Any],
) -> Server:
    server = Server(handler, **options)
    idle_timeout = options["idle_timeout"]
    loop = asyncio.get_running_loop()
    try:
        server._server = await loop.create_server(
            lambda: _Connection(server),
            host,
            port,
            ssl=ssl,
            ssl_handshake_timeout=idle_timeout if ssl is not None else None,
        )
    except BaseException:
        await server.wait_closed()  # closes the store
        raise
    server.port = server._server.sockets[0].getsockname()[1]
    return server


# ---------------------------------------------------------------------------
# The sender


def _encode(message: str | bytes | Message) -> bytes:
    if isinstance(message, bytes):
        return message
    text = message if isinstance(message, str) else message.raw
    return text.encode(codec_of(text[:4096].encode("utf-8", "replace")))


class Connection(_Closable):
    """An MLLP client connection; made by `connect`."""

    def __init__(
        self, reader: asyncio.StreamReader, writer: asyncio.StreamWriter, peer: str, timeout: float
    ) -> None:
        self._reader = reader
        self._writer = writer
        self._peer = peer
        self._timeout = timeout
        self._lock = asyncio.Lock()

    async def send(self, message: str | bytes | Message) -> Message:
        """Send one message (text, bytes as they are, or a Message's raw
        text) and return its parsed ACK. TimeoutError when no whole ACK
        arrives within the timeout, ConnectionError when the listener closes
        first, ValueError when the answer is not an HL7 message. After a
        timeout the connection is closed: a late ACK must not be taken for
        the answer to the next message."""
        data = START + _encode(message) + END + CR
        async with self._lock:
            if self._writer.is_closing():
                raise ConnectionError(f"connection to {self._peer} is closed")
            try:
                async with asyncio.timeout(self._timeout):
                    self._writer.write(data)
                    await self._writer.drain()
                    # Anything before the start block (such as the 0x0D
                    # ending the previous frame) is not part of the ACK.
                    await self._reader.readuntil(START)
                    frame = (await self._reader.readuntil(END))[:-1]
            except TimeoutError:
                self._writer.close()
                raise TimeoutError(
                    f"no ACK from {self._peer} within {self._timeout:g} s"
                ) from None
            except asyncio.IncompleteReadError:
                raise ConnectionError(
                    f"connection closed by {self._peer} before the ACK arrived"
                ) from None
            except asyncio.LimitOverrunError:
                raise ValueError(f"ACK from {self._peer} is too long") from None
        return parse(decode(frame))

    async def close(self) -> None:
        self._writer.close()
        try:
            await self._writer.wait_closed()
        except (ConnectionError, _ssl.SSLError):
            pass

    async def aclose(self) -> None:
        await self.close()


def connect(
    host: str,
    port: int = DEFAULT_PORT,
    *,
    ssl: _ssl.SSLContext | bool | None = None,
    timeout: float = TIMEOUT,
    max_message_bytes: int = MAX_MESSAGE_BYTES,
) -> _Opening[Connection]:
    """Open an MLLP connection: `await connect(...)` or
    `async with connect(...) as connection`. `timeout` bounds the connect
    and each ACK; `ssl` is a client-side SSLContext (or True for the
    default one), whose certificate chain is the client's certificate."""
    return _Opening(_open(host, port, ssl, timeout, max_message_bytes))


async def _open(
    host: str, port: int, ssl: _ssl.SSLContext | bool | None, timeout: float, limit: int
) -> Connection:
    peer = _address(host, port)
    try:
        reader, writer = await asyncio.wait_for(
            asyncio.open_connection(host, port, ssl=ssl or None, limit=limit), timeout
        )
    except TimeoutError:
        raise TimeoutError(f"could not connect to {peer} within {timeout:g} s") from None
    return Connection(reader, writer, peer, timeout)


async def send(
    host: str,
    port: int,
    message: str | bytes | Message,
    *,
    ssl: _ssl.SSLContext | bool | None = None,
    timeout: float = TIMEOUT,
) -> Message:
    """Send one message on a connection of its own; return its parsed ACK."""
    async with connect(host, port, ssl=ssl, timeout=timeout) as connection:
        return await connection.send(message)


class BlockingClient:
    """A blocking MLLP connection for scripts (it runs its own event loop;
    do not use it inside a running one).

        with BlockingClient("127.0.0.1", 2575) as client:
            ack = client.send(text)
    """

    def __init__(
        self,
        host: str,
        port: int = DEFAULT_PORT,
        *,
        ssl: _ssl.SSLContext | bool | None = None,
        timeout: float = TIMEOUT,
    ) -> None:
        self._runner = asyncio.Runner()
        try:
            self._connection = self._runner.run(_open(host, port, ssl, timeout, MAX_MESSAGE_BYTES))
        except BaseException:
            self._runner.close()
            raise

    def send(self, message: str | bytes | Message) -> Message:
        """Send one message and return its parsed ACK (see `Connection.send`)."""
        return self._runner.run(self._connection.send(message))

    def close(self) -> None:
        try:
            self._runner.run(self._connection.close())
        finally:
            self._runner.close()

    def __enter__(self) -> BlockingClient:
        return self

    def __exit__(
        self,
        kind: type[BaseException] | None,
        value: BaseException | None,
        traceback: TracebackType | None,
    ) -> None:
        self.close()
