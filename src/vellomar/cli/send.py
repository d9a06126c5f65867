"""`vellomar send`: send HL7 v2 messages over MLLP and print each ACK.

    vellomar send HOST:PORT FILE...
"""

from __future__ import annotations

import argparse
import ssl
from typing import Any, TextIO

from .._core import Message
from ..mllp import TIMEOUT, BlockingClient
from ._base import PROG, UsageError, add_command, run_files, visible


def register(commands: Any) -> None:
    send = add_command(
        commands,
        "send",
        run,
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


def run(args: argparse.Namespace, stdout: TextIO, stderr: TextIO) -> int:
    host, _, port = args.address.rpartition(":")
    if not host or not port.isdigit():
        raise UsageError(f"not HOST:PORT: {args.address!r}")
    return _send_files(args, host.strip("[]"), int(port), stdout, stderr)


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
        return " ".join(visible(v) for v in (code, acknowledged, text) if v) + "\n"

    # Files are read, and their bad messages reported, as by the other commands.
    args.encoding = None
    with client:
        try:
            status = run_files(args, send_one, out, err)
        except _NoAnswer as error:
            out.flush()
            err.write(f"{PROG}: {error}\n")
            return 1
    return 1 if refused else status
