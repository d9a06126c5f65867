"""The MLLP sender: `connect`, `send` and `BlockingClient`."""

from __future__ import annotations

import asyncio
import ssl as _ssl
from dataclasses import dataclass
from types import TracebackType

from .._core import Message, parse
from ..charsets import decode
from .ack import message_codec
from .common import DEFAULT_PORT, MAX_MESSAGE_BYTES, TIMEOUT, Closable, Opening, address
from .framing import END, START, wrap


@dataclass(frozen=True)
class ClientConfig:
    """Where and how a sender connects."""

    host: str
    port: int = DEFAULT_PORT
    ssl: _ssl.SSLContext | bool | None = None
    timeout: float = TIMEOUT  # bounds the connect and each ACK
    max_message_bytes: int = MAX_MESSAGE_BYTES  # the longest ACK read

    @property
    def peer(self) -> str:
        return address(self.host, self.port)


def encode(message: str | bytes | Message) -> bytes:
    """The bytes of a message to send: bytes as they are, a text (or a
    Message's raw text) in the codec its MSH-18 names."""
    if isinstance(message, bytes):
        return message
    text = message if isinstance(message, str) else message.raw
    return text.encode(message_codec(text[:4096].encode("utf-8", "replace"), None))


class Connection(Closable):
    """An MLLP client connection; made by `connect`."""

    def __init__(
        self, reader: asyncio.StreamReader, writer: asyncio.StreamWriter, config: ClientConfig
    ) -> None:
        self._reader = reader
        self._writer = writer
        self._peer = config.peer
        self._timeout = config.timeout
        self._lock = asyncio.Lock()

    async def send(self, message: str | bytes | Message) -> Message:
        """Send one message (text, bytes as they are, or a Message's raw
        text) and return its parsed ACK. TimeoutError when no whole ACK
        arrives within the timeout, ConnectionError when the listener closes
        first, ValueError when the answer is not an HL7 message. After a
        timeout the connection is closed: a late ACK must not be taken for
        the answer to the next message."""
        data = wrap(encode(message))
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
) -> Opening[Connection]:
    """Open an MLLP connection: `await connect(...)` or
    `async with connect(...) as connection`. `timeout` bounds the connect
    and each ACK; `ssl` is a client-side SSLContext (or True for the
    default one), whose certificate chain is the client's certificate."""
    return Opening(open_connection(ClientConfig(host, port, ssl, timeout, max_message_bytes)))


async def open_connection(config: ClientConfig) -> Connection:
    """A connection opened as `config` says (what `connect` awaits)."""
    try:
        reader, writer = await asyncio.wait_for(
            asyncio.open_connection(
                config.host, config.port, ssl=config.ssl or None, limit=config.max_message_bytes
            ),
            config.timeout,
        )
    except TimeoutError:
        raise TimeoutError(
            f"could not connect to {config.peer} within {config.timeout:g} s"
        ) from None
    return Connection(reader, writer, config)


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
            self._connection = self._runner.run(
                open_connection(ClientConfig(host, port, ssl, timeout))
            )
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
