"""What the MLLP commands (`listen`, `send`, `relay`) share: addresses and
the TLS options of a listener and of a sender."""

from __future__ import annotations

import argparse
import asyncio
import signal
import ssl
from collections.abc import Coroutine
from typing import Any

from ..mllp import TIMEOUT
from ..mllp.tls import client_context, server_context
from ._base import UsageError


def host_port(text: str) -> tuple[str, int]:
    """HOST:PORT ("[::1]:2575" for IPv6); UsageError otherwise."""
    host, _, port = text.rpartition(":")
    if not host or not port.isdigit():
        raise UsageError(f"not HOST:PORT: {text!r}")
    return host.strip("[]"), int(port)


def add_listener_tls(parser: argparse.ArgumentParser) -> None:
    """--allow and the TLS options of a listener."""
    parser.add_argument(
        "--allow",
        metavar="CIDR",
        nargs="+",
        action="extend",
        help="let in only clients from these networks (e.g. 10.1.0.0/16 127.0.0.1)",
    )
    parser.add_argument("--tls-cert", metavar="PEM", help="serve TLS with this certificate chain")
    parser.add_argument("--tls-key", metavar="PEM", help="private key of --tls-cert")
    parser.add_argument(
        "--tls-client-ca", metavar="PEM", help="require client certificates issued by this CA"
    )


def listener_context(args: argparse.Namespace) -> ssl.SSLContext | None:
    """The listener's TLS context from its options; None without --tls-cert."""
    if not args.tls_cert:
        if args.tls_key or args.tls_client_ca:
            raise UsageError("--tls-key and --tls-client-ca need --tls-cert")
        return None
    return server_context(args.tls_cert, args.tls_key, args.tls_client_ca)


def add_delivery_options(parser: argparse.ArgumentParser, retries: bool) -> None:
    """--timeout, --retries (when `retries`) and --retry-wait of a sender."""
    parser.add_argument(
        "--timeout", type=float, default=TIMEOUT, help=f"seconds per ACK (default: {TIMEOUT:g})"
    )
    if retries:
        parser.add_argument(
            "--retries",
            type=int,
            default=0,
            help="times to try a message again when the connection is refused, reset or closed "
            "before its ACK (default: 0); a message whose ACK was lost may then arrive twice",
        )
    parser.add_argument(
        "--retry-wait",
        type=float,
        default=1.0,
        help="seconds before the first retry, doubled for each next one up to 10 (default: 1)",
    )


def add_sender_tls(parser: argparse.ArgumentParser, prefix: str = "--") -> None:
    """The TLS options of a sender (`prefix`: "--" or "--to-" for the relay)."""
    parser.add_argument(f"{prefix}tls", action="store_true", help="connect with TLS")
    parser.add_argument(f"{prefix}tls-ca", metavar="PEM", help=f"trust this CA (implies {prefix}tls)")
    parser.add_argument(
        f"{prefix}tls-cert", metavar="PEM", help=f"client certificate (implies {prefix}tls)"
    )
    parser.add_argument(f"{prefix}tls-key", metavar="PEM", help=f"private key of {prefix}tls-cert")


def sender_context(args: argparse.Namespace, prefix: str = "") -> ssl.SSLContext | None:
    """The sender's TLS context from its options (`prefix`: "" or "to_");
    None when none asks for TLS."""
    use, ca, cert, key = (getattr(args, f"{prefix}{name}") for name in ("tls", "tls_ca", "tls_cert", "tls_key"))
    if not (use or ca or cert):
        return None
    return client_context(ca, cert, key)


def run_loop(main: Coroutine[Any, Any, int]) -> int:
    """Run `main` on uvloop when it is installed (a faster event loop for the
    long-running commands), else on asyncio's own."""
    try:
        import uvloop  # type: ignore[import-not-found,unused-ignore]  # optional extra

        loop_factory: Any = uvloop.new_event_loop
    except ImportError:
        loop_factory = None
    with asyncio.Runner(loop_factory=loop_factory) as runner:
        return runner.run(main)


def stop_on_signals() -> asyncio.Event:
    """An event set by Ctrl-C or SIGTERM (in the running loop)."""
    stop = asyncio.Event()
    loop = asyncio.get_running_loop()
    for number in (signal.SIGINT, signal.SIGTERM):
        loop.add_signal_handler(number, stop.set)
    return stop
