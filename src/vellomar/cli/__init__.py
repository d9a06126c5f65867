"""The `vellomar` command: look at HL7 v2 files from the shell.

    vellomar show [--json | --ndjson] FILE...
    vellomar get [-H] PATH... -- FILE...
    vellomar ack [--code CODE] [--text TEXT] FILE...
    vellomar validate [--json] [--hl7-version VERSION] FILE...
    vellomar view [--port PORT] [--no-browser] FILE...
    vellomar listen / send / relay / edit / table / fhir (see `vellomar COMMAND -h`)

A FILE holds one message (MLLP-framed or not), a stream of MLLP frames, or a
batch with or without FHS/BHS envelopes; `-` is standard input. Files are read
in pieces through `vellomar.read`, which cuts and decodes each message (by its
MSH-18 unless --encoding names a codec); a leading UTF-8 byte order mark is
dropped. A message that does not parse or decode is reported with its file,
number and byte offset, and the file is read on.

Each command is a module of this package over the shared `_base`; adding a
command is a new module and its line in COMMANDS.
"""

from __future__ import annotations

import argparse
import importlib
import sys
from collections.abc import Sequence

from .. import __version__
from ._base import PROG, command_index, execute, parse

# The command modules, in the order `vellomar -h` lists them. A command line
# that begins with a command's name imports that command's module alone: the
# others' imports (asyncio and ssl for the MLLP commands, the viewer's server)
# would slow every start.
COMMANDS = ("show", "get", "ack", "validate", "listen", "send", "relay", "edit", "table", "fhir", "view")


def build_parser(
    only: str | None = None,
) -> tuple[argparse.ArgumentParser, dict[str, argparse.ArgumentParser]]:
    """The parser of the command line and the parsers of its commands by name:
    every command's, or the command `only`'s."""
    parser = argparse.ArgumentParser(
        prog=PROG,
        description="Show, query and acknowledge HL7 v2 messages.",
        epilog="A FILE may hold one message (MLLP-framed or not), MLLP frames one after "
        "another, or a batch with or without FHS/BHS envelopes; '-' is standard input.",
    )
    parser.add_argument("--version", action="version", version=f"{PROG} {__version__}")
    commands = parser.add_subparsers(dest="command", metavar="COMMAND", required=True)
    for name in COMMANDS if only is None else (only,):
        importlib.import_module(f".{name}", __name__).register(commands)
    return parser, commands.choices


def main(argv: Sequence[str] | None = None) -> int:
    """Run the command line `argv` (default: `sys.argv[1:]`); return the exit status."""
    words = list(sys.argv[1:] if argv is None else argv)
    stdout, stderr = sys.stdout, sys.stderr
    # Only a command in first place: before it may stand -h or --version,
    # whose output lists every command.
    only = words[0] if command_index(words) == 0 and words[0] in COMMANDS else None
    parser, commands = build_parser(only)
    try:
        args = parse(parser, commands, words)
    except SystemExit as stop:
        # --help, --version and the usage errors argparse finds itself.
        return stop.code if isinstance(stop.code, int) else 2
    return execute(args, stdout, stderr)
