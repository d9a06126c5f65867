"""`vellomar listen`: receive HL7 v2 messages over MLLP and acknowledge them.

    vellomar listen [--host HOST] [--port PORT] [--store DIR] [--allow CIDR...]
                    [--tls-cert PEM --tls-key PEM [--tls-client-ca PEM]] [--quiet]
"""

from __future__ import annotations

import argparse
import asyncio
import logging
import ssl
import threading
import time
from typing import Any, TextIO

from .._core import Message
from ..mllp import DEFAULT_PORT, serve
from ._base import PROG, add_command, encoding_type, header, port_type, visible
from ._mllp import (
    add_listener_tls,
    listener_context,
    run_loop,
    stop_on_signals,
)


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
        "--port", type=port_type, default=DEFAULT_PORT, help=f"port (default: {DEFAULT_PORT}; 0: any)"
    )
    listen.add_argument(
        "--store",
        metavar="DIR",
        help="append each message to DIR/messages.hl7 and fsync it before its ACK",
    )
    add_listener_tls(listen)
    listen.add_argument(
        "--encoding",
        type=encoding_type,
        help="decode every message with this codec (default: by MSH-18, else UTF-8)",
    )
    listen.add_argument(
        "--validate",
        action="store_true",
        help="answer AR with ERR segments to a message that has errors by the HL7 "
        "definitions of its version (see vellomar validate)",
    )
    listen.add_argument(
        "--quiet", action="store_true", help="print a rate line each second, not each message"
    )


def run(args: argparse.Namespace, stdout: TextIO, stderr: TextIO) -> int:
    try:
        context = listener_context(args)
        return run_loop(_serve(args, context, stdout, stderr))
    except (OSError, ValueError) as error:
        stderr.write(f"{PROG}: {error}\n")
        return 1


class _Printer:
    """Lines written to `out` by a thread of their own, so that a reader of
    standard output that does not keep up never stalls the event loop (and
    with it every connection). At most `HELD` lines wait; past that, lines
    are dropped and their number printed once the reader catches up."""

    HELD = 10_000

    def __init__(self, out: TextIO) -> None:
        self._out = out
        self._lines: list[str] = []
        self._dropped = 0
        self._done = False
        self._ready = threading.Condition()
        self._thread = threading.Thread(target=self._write, name="vellomar-stdout", daemon=True)
        self._thread.start()

    def print(self, line: str) -> None:
        with self._ready:
            if len(self._lines) >= self.HELD:
                self._dropped += 1
                return
            self._lines.append(line)
            self._ready.notify()

    def _write(self) -> None:
        while True:
            with self._ready:
                while not (self._lines or self._dropped or self._done):
                    self._ready.wait()
                lines, self._lines = self._lines, []
                dropped, self._dropped = self._dropped, 0
                if not lines and not dropped:
                    return
            if dropped:
                lines.append(f"({dropped} lines not printed: standard output too slow)")
            try:
                self._out.write("\n".join(lines) + "\n")
                self._out.flush()
            except (OSError, ValueError):  # closed: the listener carries on without it
                return

    def close(self) -> None:
        """Write what is held and stop (giving up after 5 s on a reader that
        takes nothing: the thread is a daemon)."""
        with self._ready:
            self._done = True
            self._ready.notify()
        self._thread.join(5.0)


async def _serve(
    args: argparse.Namespace, context: ssl.SSLContext | None, out: TextIO, stderr: TextIO
) -> int:
    logging.basicConfig(format=f"{PROG}: %(message)s", level=logging.WARNING)
    printer = _Printer(out)
    try:
        return await _listen(args, context, printer, stderr)
    finally:
        printer.close()


async def _listen(
    args: argparse.Namespace, context: ssl.SSLContext | None, printer: _Printer, stderr: TextIO
) -> int:
    count = 0

    def on_message(message: Message) -> None:
        nonlocal count
        count += 1
        if not args.quiet:
            printer.print(visible(header(message) or "message"))

    stop = stop_on_signals()
    server = await serve(
        on_message,
        args.host,
        args.port,
        ssl=context,
        allow=args.allow,
        encoding=args.encoding,
        store=args.store,
        validate=args.validate,
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
            printer.print(f"{count} messages, {count / max(now - shown, 1e-9):.0f}/s")
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
