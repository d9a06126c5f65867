"""`vellomar listen` and `vellomar send`: HL7 v2 over MLLP from the shell.

    vellomar listen [--host HOST] [--port PORT] [--store DIR] [--allow CIDR...]
                    [--tls-cert PEM --tls-key PEM [--tls-client-ca PEM]] [--quiet]
    vellomar send HOST:PORT FILE...

Both commands end by raising SystemExit with their exit status.
"""

from __future__ import annotations

import argparse
import asyncio
import logging
import signal
import ssl
import sys
import time
from typing import Any, TextIO

from ._core import Message
from .cli import PROG, _encoding, _header, _run, _visible
from .mllp import DEFAULT_PORT, TIMEOUT, BlockingClient, serve


def register(commands: Any) -> None:
    """Add the `listen` and `send` sub-commands to the argparse `commands`."""
    listen = commands.add_parser(
        "listen",
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
        "--port", type=int, default=DEFAULT_PORT, help=f"port (default: {DEFAULT_PORT}; 0: any)"
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
        type=_encoding,
        help="decode every message with this codec (default: by MSH-18, else UTF-8)",
    )
    listen.add_argument(
        "--quiet", action="store_true", help="print a rate line each second, not each message"
    )
    listen.set_defaults(handler=_listen, parser=listen)

    send = commands.add_parser(
        "send",
        help="send messages over MLLP and print each ACK",
        description="Send every message of the files (single messages, batches, MLLP "
        "frames) as it is written and print each ACK's code, the control ID it "
        "acknowledges and its text. Exit status 1 when an ACK is not AA (or CA) or a "
        "message got no answer.",
    )
    send.add_argument("address", metavar="HOST:PORT", help="the listener")
    send.add_argument("files", nargs="+", metavar="FILE", help="HL7 file, or - for standard input")
    send.add_argument(
        "--timeout", type=float, default=TIMEOUT, help=f"seconds per ACK (default: {TIMEOUT:g})"
    )
    send.add_argument("--tls", action="store_true", help="connect with TLS")
    send.add_argument("--tls-ca", metavar="PEM", help="trust this CA (implies --tls)")
    send.add_argument("--tls-cert", metavar="PEM", help="client certificate (implies --tls)")
    send.add_argument("--tls-key", metavar="PEM", help="private key of --tls-cert")
    send.add_argument("--no-progress", action="store_true", help="never draw a progress bar")
    send.set_defaults(handler=_send, parser=send)


# ---------------------------------------------------------------------------
# listen


def _server_context(args: argparse.Namespace) -> ssl.SSLContext | None:
    if not args.tls_cert:
        if args.tls_key or args.tls_client_ca:
            args.parser.error("--tls-key and --tls-client-ca need --tls-cert")
        return None
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(args.tls_cert, args.tls_key)
    if args.tls_client_ca:
        context.load_verify_locations(args.tls_client_ca)
        context.verify_mode = ssl.CERT_REQUIRED
    return context


def _listen(args: argparse.Namespace) -> None:
    try:
        import uvloop  # type: ignore[import-not-found,unused-ignore]  # optional extra

        loop_factory: Any = uvloop.new_event_loop
    except ImportError:
        loop_factory = None
    try:
        context = _server_context(args)
        with asyncio.Runner(loop_factory=loop_factory) as runner:
            status = runner.run(_serve(args, context))
    except (OSError, ValueError) as error:
        sys.stderr.write(f"{PROG}: {error}\n")
        status = 1
    raise SystemExit(status)


async def _serve(args: argparse.Namespace, context: ssl.SSLContext | None) -> int:
    out = sys.stdout
    logging.basicConfig(format=f"{PROG}: %(message)s", level=logging.WARNING)
    count = 0

    def on_message(message: Message) -> None:
        nonlocal count
        count += 1
        if not args.quiet:
            out.write(_visible(_header(message) or "message") + "\n")
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
    sys.stderr.write(f"{PROG}: listening on {host}:{port}{where}\n")
    sys.stderr.flush()
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
    sys.stderr.write(
        f"{PROG}: stopped after {time.monotonic() - started:.0f} s: {stats.messages} messages, "
        f"{stats.rejected} rejected, {stats.connections} "
        f"connection{'' if stats.connections == 1 else 's'}\n"
    )
    return 0


# ---------------------------------------------------------------------------
# send


def _client_context(args: argparse.Namespace) -> ssl.SSLContext | None:
    if not (args.tls or args.tls_ca or args.tls_cert):
        return None
    context = ssl.create_default_context(cafile=args.tls_ca)
    if args.tls_cert:
        context.load_cert_chain(args.tls_cert, args.tls_key)
    return context


def _value(message: Message, path: str) -> str:
    try:
        return message[path]
    except (KeyError, IndexError):
        return ""


def _send(args: argparse.Namespace) -> None:
    host, _, port = args.address.rpartition(":")
    if not host or not port.isdigit():
        args.parser.error(f"not HOST:PORT: {args.address!r}")
    raise SystemExit(_send_files(args, host.strip("[]"), int(port), sys.stdout, sys.stderr))


class _NoAnswer(Exception):
    """A message that got no ACK: sending stops there."""


def _send_files(
    args: argparse.Namespace, host: str, port: int, out: TextIO, err: TextIO
) -> int:
    try:
        client = BlockingClient(host, port, ssl=_client_context(args), timeout=args.timeout)
    except (OSError, ssl.SSLError) as error:
        err.write(f"{PROG}: {args.address}: {error}\n")
        return 1
    refused = False

    def send_one(label: str, number: int, message: Message) -> str:
        nonlocal refused
        try:
            ack = client.send(message.raw)
        except (OSError, ValueError) as error:
            raise _NoAnswer(f"{label}: message {number}: no ACK: {error}") from None
        code, acknowledged, text = (_value(ack, f"MSA-{n}") for n in (1, 2, 3))
        refused |= code not in ("AA", "CA")
        return " ".join(_visible(v) for v in (code, acknowledged, text) if v) + "\n"

    # Files are read, and their bad messages reported, as by the other commands.
    args.encoding = None
    with client:
        try:
            status = _run(args, send_one, out, err)
        except _NoAnswer as error:
            out.flush()
            err.write(f"{PROG}: {error}\n")
            return 1
    return 1 if refused else status
