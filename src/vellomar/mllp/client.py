"""The MLLP sender: `connect`, `send` and `BlockingClient`."""

from __future__ import annotations

import asyncio
import ssl as _ssl
from dataclasses import dataclass
from types import TracebackType

from .._core import Message, parse
from ..charsets import decode
from .ack import message_codec
from .common import DEFAULT_PORT, MAX_MESSAGE_BYTES, TIMEOUT, Closable, Opening, address, log
from .framing import END, START, wrap
from .tls import reason

_RECENT = 1024  # control IDs a connection remembers having sent

# Waits between retries double from `retry_wait` up to this (or `retry_wait`).
MAX_RETRY_WAIT = 10.0


@dataclass(frozen=True)
class ClientConfig:
    """Where and how a sender connects.

    `retries`: how many more times a message is tried when the connection is
    refused, reset or closed before its ACK arrives, waiting `retry_wait`
    seconds, then twice as long each time (up to 10 s). A message whose ACK
    was lost this way may reach the receiver twice (at-least-once).
    """

    host: str
    port: int = DEFAULT_PORT
    ssl: _ssl.SSLContext | bool | None = None
    timeout: float = TIMEOUT  # bounds the connect and each ACK
    max_message_bytes: int = MAX_MESSAGE_BYTES  # the longest ACK read
    retries: int = 0
    retry_wait: float = 1.0

    @property
    def peer(self) -> str:
        return address(self.host, self.port)

    def wait(self, attempt: int) -> float:
        """Seconds before retry number `attempt` (from 0)."""
        return min(self.retry_wait * 2.0**attempt, max(MAX_RETRY_WAIT, self.retry_wait))


def encode(message: str | bytes | Message) -> bytes:
    """The bytes of a message to send: bytes as they are, a text (or a
    Message's raw text) in the codec its MSH-18 names."""
    if isinstance(message, bytes):
        return message
    text = message if isinstance(message, str) else message.raw
    return text.encode(message_codec(text[:4096].encode("utf-8", "replace"), None))


def control_id(message: str | bytes | Message) -> str | None:
    """MSH-10 of the message sent, which its ACK must name in MSA-2; None
    when the message does not parse (the receiver answers it with AR)."""
    try:
        if isinstance(message, bytes):
            return parse(decode(message)).control_id
        if isinstance(message, str):
            return parse(message).control_id
    except (LookupError, ValueError):
        return None
    return message.control_id


class _Closed(Exception):
    """The connection ended before the ACK: `answered` is False when not a
    byte of the answer had come (the receiver closed after its last ACK)."""

    def __init__(self, answered: bool) -> None:
        self.answered = answered


class Connection(Closable):
    """An MLLP client connection; made by `connect`.

    A receiver may close the connection after each ACK: the next message
    then goes on a new connection. After a timeout, a cancelled send or an
    answer that is not the ACK of the message sent, the connection is closed
    for good: a late ACK must never be taken for the answer to the next
    message.
    """

    def __init__(
        self, reader: asyncio.StreamReader, writer: asyncio.StreamWriter, config: ClientConfig
    ) -> None:
        self._reader: asyncio.StreamReader | None = reader
        self._writer: asyncio.StreamWriter | None = writer
        self._config = config
        self._peer = config.peer
        self._timeout = config.timeout
        self._answered = False  # an ACK came on the current transport
        # Control IDs sent lately on the current transport (the last
        # _RECENT, oldest first): a message whose ID is among them goes on a
        # new one, where no late answer can name it.
        self._sent: dict[str, None] = {}
        self._closed = False
        self._lock = asyncio.Lock()

    async def send(self, message: str | bytes | Message, *, final: bool = False) -> Message:
        """Send one message (text, bytes as they are, or a Message's raw
        text) and return its parsed ACK. TimeoutError when no whole ACK
        arrives within the timeout, ConnectionError when the listener closes
        first (after the retries), ValueError when the answer is not an HL7
        message or acknowledges another control ID. Answers that were
        waiting on the connection before the send are discarded (and
        logged). With `final`, a CA (the receiver has it, enhanced mode) is
        not the answer: the one after it (AA, AE or AR) is."""
        data = wrap(encode(message))
        expected = control_id(message)
        async with self._lock:
            if self._closed:
                raise ConnectionError(f"connection to {self._peer} is closed")
            try:
                await self._discard_waiting(expected)
                frame = await self._deliver(data)
                if expected is not None:
                    self._sent[expected] = None
                    if len(self._sent) > _RECENT:
                        del self._sent[next(iter(self._sent))]
                ack = parse(decode(frame))
                _check(ack, expected, self._peer)
                while final and _code(ack) == "CA":
                    ack = parse(decode(await self._answer()))
                    _check(ack, expected, self._peer)
            except BaseException:
                # Whatever the answer was, it can no longer be matched.
                self._close_now()
                raise
        return ack

    async def _deliver(self, data: bytes) -> bytes:
        """The ACK frame for `data`, trying again as the configuration says."""
        attempt = 0
        stale_retried = False
        while True:
            if self._reader is None or (self._answered and self._reader.at_eof()):
                # None: dropped by a failed attempt; at its end: the receiver
                # closed it after its last ACK. Either way this message is
                # not on the wire yet.
                await self._reopen()
            try:
                return await self._exchange(data)
            except (_Closed, ConnectionResetError, BrokenPipeError, ConnectionAbortedError) as error:
                self._drop()
                fresh = not self._answered  # the first exchange on this transport
                stale = not fresh and not (isinstance(error, _Closed) and error.answered)
                self._answered = False
                if stale and not stale_retried:
                    # Closed by the receiver after its last ACK, before this
                    # message was read: send it again on a new connection.
                    stale_retried = True
                    continue
                if attempt >= self._config.retries:
                    hint = ""
                    if self._config.ssl and fresh:
                        hint = " (right after the TLS handshake: a client certificate refused?)"
                    raise ConnectionError(
                        f"connection closed by {self._peer} before the ACK arrived{hint}"
                    ) from None
                await asyncio.sleep(self._config.wait(attempt))
                attempt += 1

    async def _discard_waiting(self, expected: str | None) -> None:
        """Drop what the receiver sent before this message (a second answer
        to an earlier one): it can only be mistaken for this one's. A message
        whose control ID went on this transport before goes on a new one."""
        if self._reader is None:
            return
        if expected is not None and expected in self._sent:
            self._drop()
            return
        # Two turns of the loop: one polls the socket, the next hands what
        # arrived to the reader.
        for _ in range(2):
            await asyncio.sleep(0)
        # StreamReader has no public "what is buffered": its own buffer.
        waiting = getattr(self._reader, "_buffer", b"")
        if waiting.strip(b"\r\n"):
            log.warning(
                "%s: discarded %d bytes that came before the message was sent: %r",
                self._peer,
                len(waiting),
                bytes(waiting[:80]),
            )
        if waiting:
            await self._reader.readexactly(len(waiting))

    async def _answer(self) -> bytes:
        """The next frame from the receiver, within the timeout."""
        try:
            async with asyncio.timeout(self._timeout):
                return await self._read_frame()
        except TimeoutError:
            raise TimeoutError(f"no ACK from {self._peer} within {self._timeout:g} s") from None
        except (_Closed, asyncio.IncompleteReadError):
            raise ConnectionError(
                f"connection closed by {self._peer} before the ACK arrived"
            ) from None

    async def _read_frame(self) -> bytes:
        reader = self._reader
        assert reader is not None
        # Anything before the start block (such as the 0x0D ending
        # the previous frame) is not part of the ACK.
        try:
            await reader.readuntil(START)
        except asyncio.IncompleteReadError as error:
            raise _Closed(answered=bool(error.partial.strip(b"\r\n"))) from None
        return (await reader.readuntil(END))[:-1]

    async def _exchange(self, data: bytes) -> bytes:
        reader, writer = self._reader, self._writer
        assert reader is not None and writer is not None
        try:
            async with asyncio.timeout(self._timeout):
                writer.write(data)
                await writer.drain()
                frame = await self._read_frame()
        except TimeoutError:
            raise TimeoutError(f"no ACK from {self._peer} within {self._timeout:g} s") from None
        except asyncio.IncompleteReadError:
            raise _Closed(answered=True) from None
        except asyncio.LimitOverrunError:
            raise ValueError(f"ACK from {self._peer} is too long") from None
        except _ssl.SSLError as error:
            raise ConnectionError(f"TLS error with {self._peer}: {reason(error)}") from None
        self._answered = True
        return frame

    async def _reopen(self) -> None:
        self._drop()
        self._answered = False
        self._reader, self._writer = await open_streams(self._config)

    def _drop(self) -> None:
        if self._writer is not None:
            self._writer.transport.abort()
        self._reader = self._writer = None
        self._sent.clear()

    def _close_now(self) -> None:
        self._closed = True
        self._drop()

    async def close(self) -> None:
        self._closed = True
        writer, self._writer, self._reader = self._writer, None, None
        if writer is None:
            return
        writer.close()
        try:
            await writer.wait_closed()
        except (ConnectionError, _ssl.SSLError):
            pass

    async def aclose(self) -> None:
        await self.close()


def _code(ack: Message) -> str:
    try:
        return ack["MSA-1"]
    except (KeyError, IndexError):
        return ""


def _check(ack: Message, expected: str | None, peer: str) -> None:
    """ValueError unless `ack` acknowledges the control ID `expected` (an AR
    or AE that names none is taken: its sender could not read the message)."""
    if expected is None:
        return
    try:
        code, named = ack["MSA-1"], ack["MSA-2"]
    except (KeyError, IndexError):
        raise ValueError(f"answer from {peer} is not an ACK: it has no MSA segment") from None
    if named != expected and not (named == "" and code not in ("AA", "CA")):
        raise ValueError(f"ACK from {peer} acknowledges {named!r}, not {expected!r}")


def connect(
    host: str,
    port: int = DEFAULT_PORT,
    *,
    ssl: _ssl.SSLContext | bool | None = None,
    timeout: float = TIMEOUT,
    max_message_bytes: int = MAX_MESSAGE_BYTES,
    retries: int = 0,
    retry_wait: float = 1.0,
) -> Opening[Connection]:
    """Open an MLLP connection: `await connect(...)` or
    `async with connect(...) as connection`. `timeout` bounds the connect
    and each ACK; `ssl` is a client-side SSLContext (or True for the
    default one), whose certificate chain is the client's certificate;
    `retries` and `retry_wait` as in `ClientConfig`."""
    config = ClientConfig(host, port, ssl, timeout, max_message_bytes, retries, retry_wait)
    return Opening(open_connection(config))


async def open_connection(config: ClientConfig) -> Connection:
    """A connection opened as `config` says (what `connect` awaits)."""
    reader, writer = await open_streams(config)
    return Connection(reader, writer, config)


async def open_streams(config: ClientConfig) -> tuple[asyncio.StreamReader, asyncio.StreamWriter]:
    """A new connection's streams; a refused connection is tried again as
    `config` says."""
    for attempt in range(config.retries + 1):
        try:
            return await _open_once(config)
        except OSError:
            if attempt == config.retries:
                raise
        await asyncio.sleep(config.wait(attempt))
    raise AssertionError("unreachable")


async def _open_once(config: ClientConfig) -> tuple[asyncio.StreamReader, asyncio.StreamWriter]:
    try:
        return await asyncio.wait_for(
            asyncio.open_connection(
                config.host, config.port, ssl=config.ssl or None, limit=config.max_message_bytes
            ),
            config.timeout,
        )
    except TimeoutError:
        hint = " (is the listener serving TLS?)" if config.ssl else ""
        raise TimeoutError(
            f"could not connect to {config.peer} within {config.timeout:g} s{hint}"
        ) from None
    except _ssl.SSLError as error:
        raise ConnectionError(
            f"TLS handshake with {config.peer} failed: {reason(error)}"
        ) from None
    except ConnectionError:
        if not config.ssl:
            raise
        raise ConnectionError(
            f"TLS handshake with {config.peer} failed: the connection was closed "
            "(is the listener serving TLS?)"
        ) from None


async def send(
    host: str,
    port: int,
    message: str | bytes | Message,
    *,
    ssl: _ssl.SSLContext | bool | None = None,
    timeout: float = TIMEOUT,
    retries: int = 0,
    retry_wait: float = 1.0,
) -> Message:
    """Send one message on a connection of its own; return its parsed ACK."""
    opening = connect(host, port, ssl=ssl, timeout=timeout, retries=retries, retry_wait=retry_wait)
    async with opening as connection:
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
        retries: int = 0,
        retry_wait: float = 1.0,
    ) -> None:
        config = ClientConfig(host, port, ssl, timeout, MAX_MESSAGE_BYTES, retries, retry_wait)
        self._runner = asyncio.Runner()
        try:
            self._connection = self._runner.run(open_connection(config))
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
