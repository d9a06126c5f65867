#!/usr/bin/env python3
"""Findings of vellomar.validate beside hl7apy's STRICT validation.

    python bench/validate_agreement.py [--all] [--peers DIR]

Messages: every message of ../shared/corpus (when present), generated ones
(corpus.py's ADT^A01 and ORU^R01, each also with one fault planted) and,
with --peers, the test messages of the peers' source distributions unpacked
in DIR (`pip download --no-deps --no-binary :all: hl7 hl7apy -d DIR`, then
unpack them there): every string in their tests/*.py that starts with MSH,
written as one literal or as a separator's join of literals.
hl7apy parses each with STRICT validation and find_groups, then validates
it collecting every error and warning (its report file); a message it cannot
parse is listed with its exception. For each message the script prints
whether the two agree on "has errors", then both lists, so that every
difference can be read and explained. --all prints agreeing messages too.
"""

from __future__ import annotations

import ast
import sys
import tempfile
from pathlib import Path

from hl7apy.consts import VALIDATION_LEVEL
from hl7apy.parser import parse_message
from hl7apy.validation import Validator

import vellomar

sys.path.insert(0, str(Path(__file__).resolve().parent))
import corpus  # noqa: E402

SHARED = Path(__file__).resolve().parents[2] / "shared" / "corpus"


def generated() -> dict[str, str]:
    adt, oru = corpus.adt_a01(corpus.SEED), corpus.oru_r01(corpus.SEED)
    evn = next(line for line in adt.split("\r") if line.startswith("EVN"))
    pid = next(line for line in adt.split("\r") if line.startswith("PID"))
    obx = next(line for line in oru.split("\r") if line.startswith("OBX"))
    return {
        "ADT^A01": adt,
        "ORU^R01": oru,
        "ADT^A01 without EVN": adt.replace(evn + "\r", ""),
        "ADT^A01 with a Z segment": adt + "ZPI|1|custom\r",
        "ADT^A01 with PID-1 not SI": adt.replace(pid, "PID|x" + pid[5:]),
        "ADT^A01 with PID-7 not a date": adt.replace(pid, pid.replace("|19", "|18", 1).replace(
            pid.split("|")[7], "20231340")),
        "ADT^A01 with PID-8 not in its table": adt.replace(pid, "|".join(
            f if i != 8 else "Q" for i, f in enumerate(pid.split("|")))),
        "ORU^R01 with OBX-1 not SI": oru.replace(obx, "OBX|one" + obx[obx.index("|", 4):]),
        "ZZZ^Z01": adt.replace("ADT^A01^ADT_A01", "ZZZ^Z01^ZZZ_Z01"),
    }


def literal_messages(path: Path) -> list[str]:
    """The strings of a Python file that start with MSH: literals, and
    joins of literals ("\\r".join([...]))."""
    out = []
    for node in ast.walk(ast.parse(path.read_text(encoding="utf-8"))):
        text = None
        if isinstance(node, ast.Constant) and isinstance(node.value, str):
            text = node.value
        elif (isinstance(node, ast.Call) and isinstance(node.func, ast.Attribute)
              and node.func.attr == "join" and isinstance(node.func.value, ast.Constant)
              and node.args and isinstance(node.args[0], (ast.List, ast.Tuple))
              and all(isinstance(e, ast.Constant) and isinstance(e.value, str)
                      for e in node.args[0].elts)):
            text = node.func.value.value.join(e.value for e in node.args[0].elts)
        if text and text.lstrip().startswith("MSH|"):
            out.append(text.strip())
    return out


def peer_messages(folder: Path) -> list[tuple[str, str]]:
    out = []
    for path in sorted(folder.glob("*/tests/*.py")):
        for number, text in enumerate(dict.fromkeys(literal_messages(path)), 1):
            out.append((f"{path.parent.parent.name}/{path.name}#{number}", text))
    return out


def messages() -> list[tuple[str, str]]:
    out = list(generated().items())
    if "--peers" in sys.argv:
        out += peer_messages(Path(sys.argv[sys.argv.index("--peers") + 1]))
    if SHARED.is_dir():
        for path in sorted(SHARED.glob("*.hl7")):
            try:
                for number, message in enumerate(vellomar.read(path), 1):
                    out.append((f"{path.name}#{number}", message.raw))
            except ValueError:
                continue
    return out


def hl7apy_findings(text: str) -> tuple[list[str], list[str]] | str:
    text = text.replace("\r\n", "\r").replace("\n", "\r")
    try:
        message = parse_message(text, validation_level=VALIDATION_LEVEL.STRICT, find_groups=True)
    except Exception as error:  # noqa: BLE001 (any failure is a finding here)
        return f"does not parse: {type(error).__name__}: {error}"
    with tempfile.NamedTemporaryFile("r", suffix=".txt") as report:
        try:
            Validator.validate(message, reference=message.reference, report_file=report.name)
        except Exception:  # noqa: BLE001,S110 (the report holds them all)
            pass
        lines = Path(report.name).read_text().splitlines()
    return ([line[7:] for line in lines if line.startswith("Error: ")],
            [line[9:] for line in lines if line.startswith("Warning: ")])


def main() -> None:
    show_all = "--all" in sys.argv
    agree = total = 0
    for name, text in messages():
        try:
            ours = vellomar.validate(text)
        except ValueError as error:
            ours_text = f"does not parse: {error}"
            ours = []
        else:
            ours_text = ""
        theirs = hl7apy_findings(text)
        our_errors = bool(ours_text) or any(f.severity == "error" for f in ours)
        their_errors = isinstance(theirs, str) or bool(theirs[0])
        total += 1
        agree += our_errors == their_errors
        if our_errors == their_errors and not show_all:
            continue
        print(f"== {name}: vellomar {'errors' if our_errors else 'valid'}, "
              f"hl7apy {'errors' if their_errors else 'valid'}")
        print(f"   vellomar: {ours_text or [(f.severity[0], f.code, f.location) for f in ours]}")
        print(f"   hl7apy:   {theirs}")
    print(f"\n{agree} of {total} messages: the same verdict (errors or none)")


if __name__ == "__main__":
    main()
