"""`vellomar relay`: store and forward HL7 v2 messages over MLLP.

    vellomar relay --listen HOST:PORT --store DIR --to HOST:PORT
                   [--on-reject hold|dead-letter] [TLS and --allow options]
"""

from __future__ import annotations

import argparse
import logging
import ssl
import time
from typing import Any, TextIO

from ..mllp import DEFAULT_PORT, relay
from ._base import PROG, add_command
from ._mllp import (
    add_delivery_options,
    add_listener_tls,
    add_sender_tls,
    host_port,
    listener_context,
    run_loop,
    sender_context,
    stop_on_signals,
)


def register(commands: Any) -> None:
    parser = add_command(
        commands,
        "relay",
        run,
        help="receive messages over MLLP, store them and forward them in order",
        description="Listen for MLLP connections; store each message (fsynced) before its "
        "ACK, then forward the stored messages one at a time, in order, to the receiver "
        "given by --to, each after the last one's AA. A receiver that is down is retried "
        "with backoff; a restart resumes where forwarding stopped. At-least-once: the "
        "message in flight when the relay stopped may reach the receiver twice.",
    )
    parser.add_argument(
        "--listen",
        metavar="HOST:PORT",
        default=f"127.0.0.1:{DEFAULT_PORT}",
        help=f"address to listen on (default: 127.0.0.1:{DEFAULT_PORT}; port 0: any)",
    )
    parser.add_argument("--store", metavar="DIR", required=True, help="the store directory")
    parser.add_argument("--to", metavar="HOST:PORT", required=True, help="the receiver")
    parser.add_argument(
        "--on-reject",
        choices=("hold", "dead-letter"),
        default="hold",
        help="on AE or AR from the receiver: hold the message and try it again (default), "
        "or move it to DIR/dead-letter.hl7 and go on",
    )
    add_delivery_options(parser, retries=False)
    add_listener_tls(parser)
    add_sender_tls(parser, "--to-")


def run(args: argparse.Namespace, stdout: TextIO, stderr: TextIO) -> int:
    host, port = host_port(args.listen)
    to_host, to_port = host_port(args.to)
    try:
        contexts = listener_context(args), sender_context(args, "to_")
        return run_loop(_relay(args, (host, port), (to_host, to_port), contexts, stderr))
    except (OSError, ValueError) as error:
        stderr.write(f"{PROG}: {error}\n")
        return 1


async def _relay(
    args: argparse.Namespace,
    listen: tuple[str, int],
    to: tuple[str, int],
    contexts: tuple[ssl.SSLContext | None, ssl.SSLContext | None],
    stderr: TextIO,
) -> int:
    logging.basicConfig(format=f"{PROG}: %(message)s", level=logging.WARNING)
    stop = stop_on_signals()
    running = await relay(
        *to,
        store=args.store,
        host=listen[0],
        port=listen[1],
        ssl=contexts[0],
        allow=args.allow,
        to_ssl=contexts[1],
        timeout=args.timeout,
        retry_wait=args.retry_wait,
        on_reject=args.on_reject,
    )
    host, port = running.server.sockets[0].getsockname()[:2]
    stderr.write(
        f"{PROG}: listening on {host}:{port} storing in {running.server.store_path}, "
        f"forwarding to {args.to}\n"
    )
    stderr.flush()
    started = time.monotonic()
    await stop.wait()
    await running.aclose()
    received, stats = running.server.stats.messages, running.stats
    stderr.write(
        f"{PROG}: stopped after {time.monotonic() - started:.0f} s: {received} messages "
        f"received, {stats.forwarded} forwarded, {stats.dead_letters} dead letters\n"
    )
    return 0


