"""HL7 v2 over MLLP: a listener and a sender on asyncio.

On the wire each message travels as 0x0B, the message bytes, 0x1C 0x0D, and the
receiver answers every message with an acknowledgement framed the same way.

    async def on_message(msg):          # a parsed vellomar.Message
        ...                             # None: AA; text: that ACK; raise: AE
    async with serve(on_message, port=2575, store="inbox") as server:
        await server.serve_forever()

    async with connect("127.0.0.1", 2575) as connection:
        ack = await connection.send(text)       # the parsed ACK

One module per concern: `framing` cuts bytes into frames without I/O,
`ack` decodes messages and builds their acknowledgements, `store` keeps
them on disk, `responder` answers one connection's frames in order,
`connection` is the asyncio protocol that moves the bytes and owns the flow
control, `server` and `client` are the two ends, and `forwarding` the relay
that stores and forwards over both. The listener is written on
asyncio's Protocol interface rather than on its streams: it counts skipped
bytes, refuses an oversized frame without buffering it, times out trickling
senders and keeps ACKs in order while messages wait for a shared fsync,
with one buffer scan per chunk received.
"""

from __future__ import annotations

from .ack import escape, reject
from .client import BlockingClient, ClientConfig, Connection, connect, send
from .common import DEFAULT_PORT, MAX_MESSAGE_BYTES, TIMEOUT
from .config import IDLE_TIMEOUT, MAX_CONNECTIONS, ServerConfig, Stats
from .forwarding import Relay, RelayConfig, RelayStats, relay
from .server import Server, serve
from .store import STORE_FILE

__all__ = [
    "serve",
    "Server",
    "Stats",
    "ServerConfig",
    "ClientConfig",
    "connect",
    "send",
    "Connection",
    "BlockingClient",
    "relay",
    "Relay",
    "RelayConfig",
    "RelayStats",
    "STORE_FILE",
    "escape",
    "reject",
    "DEFAULT_PORT",
    "TIMEOUT",
    "MAX_MESSAGE_BYTES",
    "IDLE_TIMEOUT",
    "MAX_CONNECTIONS",
]
