"""The listener's configuration and counters."""

from __future__ import annotations

import codecs
import ipaddress
import ssl as _ssl
from collections.abc import Awaitable, Callable, Iterable
from dataclasses import dataclass
from pathlib import Path
from typing import Union

from .._core import Message
from .common import DEFAULT_PORT, MAX_MESSAGE_BYTES

IDLE_TIMEOUT = 60.0
HANDSHAKE_TIMEOUT = 5.0
MAX_CONNECTIONS = 100
# A connection stops reading while this many messages, or this many bytes of
# them, wait for their answer; it reads on as they are answered.
MAX_PENDING_MESSAGES = 256
MAX_PENDING_BYTES = 1024 * 1024

Handler = Callable[[Message], Union[str, None, Awaitable[Union[str, None]]]]
Network = Union[ipaddress.IPv4Network, ipaddress.IPv6Network]


@dataclass(frozen=True)
class ServerConfig:
    """How a listener runs; `serve` builds it from its arguments."""

    host: str | None = "127.0.0.1"
    port: int = DEFAULT_PORT
    ssl: _ssl.SSLContext | None = None
    allow: tuple[Network, ...] | None = None
    max_message_bytes: int = MAX_MESSAGE_BYTES
    idle_timeout: float = IDLE_TIMEOUT
    handshake_timeout: float = HANDSHAKE_TIMEOUT
    max_connections: int = MAX_CONNECTIONS
    encoding: str | None = None
    store: Path | None = None
    max_pending_messages: int = MAX_PENDING_MESSAGES
    max_pending_bytes: int = MAX_PENDING_BYTES
    validate: bool = False


def networks(allow: Iterable[str | Network] | None) -> tuple[Network, ...] | None:
    """The allow-list as networks ("10.0.0.0/8", "::1"); None lets every client in."""
    return None if allow is None else tuple(ipaddress.ip_network(n, strict=False) for n in allow)


def codec_name(encoding: str | None) -> str | None:
    """The codec's own name (LookupError now rather than an AR per message)."""
    return None if encoding is None else codecs.lookup(encoding).name


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
