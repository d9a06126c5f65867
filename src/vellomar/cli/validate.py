"""`vellomar validate`: each message checked against the HL7 definitions."""

from __future__ import annotations

import argparse
import json
from typing import Any, TextIO

from .._core import Message
from ..structure import Finding, validate
from ._base import add_command, common_options, run_files


def register(commands: Any) -> None:
    command = add_command(
        commands,
        "validate",
        run,
        parents=[common_options()],
        help="check each message against the HL7 definitions of its version",
        description="Check every message against the definitions of its HL7 version "
        "(segment order and cardinality, required fields, repetitions, formats, table "
        "values, lengths) and print one line per finding, or 'valid'. Exit status 1 "
        "when any message has an error.",
    )
    command.add_argument("--json", action="store_true",
                         help="print one JSON array of records: \"file\", \"message\", "
                         "\"findings\" (severity, code, location, text, name)")
    command.add_argument("--hl7-version", metavar="VERSION",
                         help="read every message as this version (default: its MSH-12)")
    command.add_argument("--strict", action="store_true",
                         help="count versions the definitions lack and Z message types "
                         "(a site's own) as errors, not warnings")
    command.add_argument("files", nargs="+", metavar="FILE", help="HL7 file, or - for standard input")


class _Checker:
    """Turns each message into its lines (or JSON record) and remembers
    whether any finding was an error."""

    def __init__(self, args: argparse.Namespace) -> None:
        self.version = args.hl7_version
        self.strict = args.strict
        self.json = args.json
        self.errors = False
        self.separator = "[\n  "

    def __call__(self, name: str, number: int, message: Message) -> str:
        findings = validate(message, version=self.version, strict=self.strict)
        self.errors = self.errors or any(f.severity == "error" for f in findings)
        if self.json:
            record = {"file": name, "message": number, "findings": [_as_dict(f) for f in findings]}
            text = self.separator + json.dumps(record, ensure_ascii=False)
            self.separator = ",\n  "
            return text
        where = f"{name}: message {number}"
        if not findings:
            return f"{where}: valid\n"
        return "".join(f"{where}: {f.severity} {f.code} {f.location}: {f.text}\n" for f in findings)

    def finish(self) -> str:
        if not self.json:
            return ""
        return "[]\n" if self.separator.startswith("[") else "\n]\n"


def _as_dict(finding: Finding) -> dict[str, object]:
    return {"severity": finding.severity, "code": finding.code, "location": finding.location,
            "text": finding.text, "name": finding.name}


def run(args: argparse.Namespace, stdout: TextIO, stderr: TextIO) -> int:
    checker = _Checker(args)
    status = run_files(args, checker, stdout, stderr)
    return 1 if checker.errors else status
