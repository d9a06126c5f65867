"""`vellomar listen`: receive HL7 v2 messages over MLLP and acknowledge them.

    vellomar listen [--host HOST] [--port PORT] [--store DIR] [--allow CIDR...]
                    [--tls-cert PEM --tls-key PEM [--tls-client-ca PEM]] [--quiet]
"""

from __future__ import annotations

import argparse
import asyncio
import logging
import signal
import ssl
import time
from typing import Any, TextIO

from .._core import Message
from ..mllp import DEFAULT_PORT, serve
from ._base import PROG, UsageError, add_command, encoding_type, header, visible


def register(commands: Any) -> None:
    listen = add_command(
        commands,
        "listen",
        run,
        help="receive messages over MLLP and acknowledge them",
        description="Listen for MLLP connections, print one line per message received and "
        "answer each with an ACK (AA, or AR for a message that does not parse). Stops "
        "on Ctrl-C, answering what has arrived first.",
    )
    listen.add_argument(
        "--host",
        default="127.0.0.1",
        help="address to listen on (default: 127.0.0.1; 0.0.0.0 or :: for every interface)",
    )
    listen.add_argument(
        "--port", type=_port, default=DEFAULT_PORT, help=f"port (default: {DEFAULT_PORT}; 0: any)"
    )
    listen.add_argument(
        "--store",
        metavar="DIR",
        help="append each message to DIR/messages.hl7 and fsync it before its ACK",
    )
    listen.add_argument(
        "--allow",
        metavar="CIDR",
        nargs="+",
        action="extend",
        help="let in only clients from these networks (e.g. 10.1.0.0/16 127.0.0.1)",
    )
    listen.add_argument("--tls-cert", metavar="PEM", help="serve TLS with this certificate chain")
    listen.add_argument("--tls-key", metavar="PEM", help="private key of --tls-cert")
    listen.add_argument(
        "--tls-client-ca", metavar="PEM", help="require client certificates issued by this CA"
    )
    listen.add_argument(
        "--encoding",
        type=encoding_type,
        help="decode every message with this codec (default: by MSH-18, else UTF-8)",
    )
    listen.add_argument(
        "--quiet", action="store_true", help="print a rate line each second, not each message"
    )


def _port(value: str) -> int:
    """argparse type of --port: 0 (any free port) to 65535."""
    if not value.isdigit() or int(value) > 65535:
        raise argparse.ArgumentTypeError(f"not a port number (0 to 65535): {value}")
    return int(value)


def _server_context(args: argparse.Namespace) -> ssl.SSLContext | None:
    if not args.tls_cert:
        if args.tls_key or args.tls_client_ca:
            raise UsageError("--tls-key and --tls-client-ca need --tls-cert")
        return None
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(args.tls_cert, args.tls_key)
    if args.tls_client_ca:
        context.load_verify_locations(args.tls_client_ca)
        context.verify_mode = ssl.CERT_REQUIRED
    return context


def run(args: argparse.Namespace, stdout: TextIO, stderr: TextIO) -> int:
    try:
        import uvloop  # type: ignore[import-not-found,unused-ignore]  # optional extra

        loop_factory: Any = uvloop.new_event_loop
    except ImportError:
        loop_factory = None
    try:
        context = _server_context(args)
        with asyncio.Runner(loop_factory=loop_factory) as runner:
            status = runner.run(_serve(args, context, stdout, stderr))
    except (OSError, ValueError) as error:
        stderr.write(f"{PROG}: {error}\n")
        status = 1
    return status


async def _serve(
    args: argparse.Namespace, context: ssl.SSLContext | None, out: TextIO, stderr: TextIO
) -> int:
    logging.basicConfig(format=f"{PROG}: %(message)s", level=logging.WARNING)
    count = 0

    def on_message(message: Message) -> None:
        nonlocal count
        count += 1
        if not args.quiet:
            out.write(visible(header(message) or "message") + "\n")
            out.flush()

    stop = asyncio.Event()
    loop = asyncio.get_running_loop()
    for number in (signal.SIGINT, signal.SIGTERM):
        loop.add_signal_handler(number, stop.set)
    server = await serve(
        on_message,
        args.host,
        args.port,
        ssl=context,
        allow=args.allow,
        encoding=args.encoding,
        store=args.store,
    )
    host, port = server.sockets[0].getsockname()[:2]
    where = f" storing in {server.store_path}" if server.store_path else ""
    stderr.write(f"{PROG}: listening on {host}:{port}{where}\n")
    stderr.flush()
    started = shown = time.monotonic()
    while not stop.is_set():
        try:
            await asyncio.wait_for(stop.wait(), 1.0)
        except TimeoutError:
            pass
        now = time.monotonic()
        if args.quiet and count:
            out.write(f"{count} messages, {count / max(now - shown, 1e-9):.0f}/s\n")
            out.flush()
        if args.quiet:
            count, shown = 0, now
    await server.aclose()
    stats = server.stats
    stderr.write(
        f"{PROG}: stopped after {time.monotonic() - started:.0f} s: {stats.messages} messages, "
        f"{stats.rejected} rejected, {stats.connections} "
        f"connection{'' if stats.connections == 1 else 's'}\n"
    )
    return 0
