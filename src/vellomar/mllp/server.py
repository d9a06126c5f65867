"""The MLLP listener: `serve` and the `Server` it returns."""

from __future__ import annotations

import asyncio
import ipaddress
import os
import ssl as _ssl
from collections.abc import Iterable
from pathlib import Path
from typing import Any

from .common import DEFAULT_PORT, MAX_MESSAGE_BYTES, Closable, Opening
from .config import (
    HANDSHAKE_TIMEOUT,
    IDLE_TIMEOUT,
    MAX_CONNECTIONS,
    Handler,
    ServerConfig,
    Stats,
    codec_name,
    networks,
)
from .connection import ListenerConnection, Listening
from .store import Store


class Server(Closable):
    """A running MLLP listener; made by `serve`.

    `port` is the bound port (useful with port=0), `sockets` the listening
    sockets, `stats` the counters. `close()` stops accepting; connections
    close once every message they delivered is answered; `wait_closed()`
    waits for that and for the store's last fsync; `aclose()` does both,
    as does leaving `async with serve(...)`.
    """

    def __init__(self, handler: Handler, config: ServerConfig) -> None:
        self.config = config
        self.stats = Stats()
        store = Store(config.store, self.stats) if config.store is not None else None
        self._listening = Listening(handler, config, self.stats, store)
        self._server: asyncio.Server | None = None
        self.port = 0  # the port bound first (stays known after closing)

    async def _start(self) -> None:
        config = self.config
        loop = asyncio.get_running_loop()
        try:
            self._server = await loop.create_server(
                lambda: ListenerConnection(self._listening),
                config.host,
                config.port,
            )
        except BaseException:
            await self.wait_closed()  # closes the store
            raise
        self.port = self._server.sockets[0].getsockname()[1]

    @property
    def sockets(self) -> tuple[Any, ...]:
        assert self._server is not None
        return tuple(self._server.sockets)

    @property
    def store(self) -> Store | None:
        """The store, if there is one (until the server is closed)."""
        return self._listening.store

    @property
    def store_path(self) -> Path | None:
        """The file that holds the stored messages, if there is a store."""
        store = self._listening.store
        return store.path if store is not None else None

    async def serve_forever(self) -> None:
        assert self._server is not None
        try:
            await self._server.serve_forever()
        finally:
            self.close()
            await self.wait_closed()

    def close(self) -> None:
        """Stop accepting connections and let the open ones finish."""
        listening = self._listening
        if listening.closing:
            return
        listening.closing = True
        if self._server is not None:
            self._server.close()
        for connection in list(listening.connections):
            connection.shut()

    async def wait_closed(self, timeout: float = 5.0) -> None:
        """Wait until every connection is closed (those still open after
        `timeout` seconds are cut) and the store is flushed."""
        listening = self._listening
        if listening.connections:
            listening.all_gone.clear()
            try:
                await asyncio.wait_for(listening.all_gone.wait(), timeout)
            except TimeoutError:
                for connection in list(listening.connections):
                    connection.abort()
        if listening.store is not None:
            store, listening.store = listening.store, None
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
    handshake_timeout: float = HANDSHAKE_TIMEOUT,
    max_connections: int = MAX_CONNECTIONS,
    encoding: str | None = None,
    store: str | os.PathLike[str] | None = None,
    validate: bool = False,
) -> Opening[Server]:
    """Listen for MLLP connections on `host`:`port` (loopback unless another
    address is asked for; port 0 lets the system choose: see `Server.port`).

    Each message received is decoded (by `encoding`, or by its MSH-18 and
    else UTF-8), parsed and handed to `handler` (plain or async), and answered
    on its connection, in order: AA when the handler returns None, the text
    it returns, or AE with the text of the exception it raises. A message
    that does not decode or parse, or is longer than `max_message_bytes`,
    gets AR with the reason in MSA-3. With `store=DIR` each message is
    appended to DIR/messages.hl7 and on disk before its ACK leaves. With
    `validate=True` a message with an error by `vellomar.validate` gets AR
    with one ERR segment per finding, and is neither stored nor handed on.

    `ssl` is a server-side SSLContext (ask for client certificates through
    it); `allow` lists the client networks let in ("10.0.0.0/8");
    connections over `max_connections`, and those idle (or trickling a
    frame) for `idle_timeout` seconds, are closed. The peer's address and
    the connection count are checked when the TCP connection is accepted,
    before any TLS work; the TLS handshake must end within
    `handshake_timeout` seconds.
    """
    config = ServerConfig(
        host=host,
        port=port,
        ssl=ssl,
        allow=networks(allow),
        max_message_bytes=max_message_bytes,
        idle_timeout=idle_timeout,
        handshake_timeout=handshake_timeout,
        max_connections=max_connections,
        encoding=codec_name(encoding),
        store=None if store is None else Path(store),
        validate=validate,
    )
    return Opening(start(handler, config))


async def start(handler: Handler, config: ServerConfig) -> Server:
    """A listener started with `config` (what `serve` awaits)."""
    server = Server(handler, config)
    await server._start()
    return server
