"""`vellomar send`: send HL7 v2 messages over MLLP and print each ACK.

    vellomar send HOST:PORT FILE... [--retries N] [--retry-wait SECONDS]

A receiver that closes the connection after each ACK gets the next message
on a new connection.
"""

from __future__ import annotations

import argparse
from typing import Any, TextIO

from .._core import Message
from ..mllp import BlockingClient
from ._base import PROG, add_command, run_files, visible
from ._mllp import add_delivery_options, add_sender_tls, host_port, sender_context


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
    add_delivery_options(send, retries=True)
    add_sender_tls(send)
    send.add_argument("--no-progress", action="store_true", help="never draw a progress bar")


def _value(message: Message, path: str) -> str:
    try:
        return message[path]
    except (KeyError, IndexError):
        return ""


def run(args: argparse.Namespace, stdout: TextIO, stderr: TextIO) -> int:
    host, port = host_port(args.address)
    return _send_files(args, host, port, stdout, stderr)


class _NoAnswer(Exception):
    """A message that got no ACK: sending stops there."""


def _send_files(
    args: argparse.Namespace, host: str, port: int, out: TextIO, err: TextIO
) -> int:
    try:
        client = BlockingClient(
            host,
            port,
            ssl=sender_context(args),
            timeout=args.timeout,
            retries=args.retries,
            retry_wait=args.retry_wait,
        )
    except (OSError, ValueError) as error:
        err.write(f"{PROG}: {args.address}: {error}\n")
        return 1
    refused = False

    def send_one(label: str, number: int, message: Message) -> str:
        nonlocal refused
        try:
            ack = client.send(message)
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
