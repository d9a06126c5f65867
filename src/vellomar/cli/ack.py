"""`vellomar ack`: the acknowledgement of each message."""

from __future__ import annotations

import argparse
from typing import Any, TextIO

from .._core import Message
from ._base import add_command, common_options, run_files


def register(commands: Any) -> None:
    ack = add_command(
        commands,
        "ack",
        run,
        parents=[common_options()],
        help="print the ACK for each message",
        description="Print the acknowledgement of every message, one segment per line.",
    )
    ack.add_argument("--code", default="AA", help="MSA-1 acknowledgment code (default: AA)")
    ack.add_argument("--text", default="", help="MSA-3 text message (default: empty)")
    ack.add_argument("files", nargs="+", metavar="FILE", help="HL7 file, or - for standard input")


def run(args: argparse.Namespace, stdout: TextIO, stderr: TextIO) -> int:
    def acknowledge(name: str, number: int, message: Message) -> str:
        return message.ack(args.code, args.text).replace("\r", "\n") + "\n"

    return run_files(args, acknowledge, stdout, stderr)
