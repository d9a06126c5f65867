"""Writes src/vellomar/definitions/hl7.txt from hl7apy's reference data.

Run it with hl7apy installed (`pip install hl7apy`); the output is committed,
so users and CI never need hl7apy. One record a line, each line naming the
versions it holds for as a hexadecimal bit mask over the `V` line, so that a
definition the versions share is written once:

    V 2.3 2.3.1 ...                    the versions, bit 0 first
    L mask ST 199 FT 65536 ...         primitive types and their maximum lengths
    M mask ADT_A01 MSH SFT* EVN ... [PROCEDURE PR1 ROL* ]* ...   message structures
    E mask ADT_A08 ADT_A01             events that share another event's structure
    S mask PID SI? CX? CX+ ...         segments: one token per field
    D mask XPN FN ST ST IS:0200 ...    composite types: one token per component
    T mask 0001 A F M N O U            HL7 tables and their values (%XX escapes)

A structure element is a segment name or a group `[NAME ...]`, followed by its
cardinality: nothing for exactly one, `?` at most one, `*` any number, `+`
one or more, `{min,max}` otherwise (max 0: unbounded). A field or component
token is `TYPE[:TABLE]` plus, for fields, the same cardinality.
"""

from __future__ import annotations

import argparse
import importlib
import re
from collections import defaultdict
from pathlib import Path

from importlib.metadata import version as package_version

VERSIONS = ["2.3", "2.3.1", "2.4", "2.5", "2.5.1", "2.6", "2.7", "2.8"]
# Before 2.3 every event had its own structure; structures that were the same
# there were merged under one name later, which gives the events that share one.
PER_EVENT_VERSIONS = ["2.2", "2.1"]
OUT = Path(__file__).resolve().parent.parent / "src" / "vellomar" / "definitions" / "hl7.txt"


def reference(version: str, part: str, name: str, default: object = None) -> object:
    try:
        module = importlib.import_module(f"hl7apy.v{version.replace('.', '_')}.{part}")
    except ImportError:  # hl7apy has no tables for 2.3
        return default
    return getattr(module, name)


def cardinality(low: int, high: int) -> str:
    high = max(high, 0) if high != -1 else 0
    return {(1, 1): "", (0, 1): "?", (0, 0): "*", (1, 0): "+"}.get((low, high), f"{{{low},{high}}}")


def group_name(name: str) -> str:
    # hl7apy prefixes a group with its structure (ADT_A01_PROCEDURE).
    return re.sub(r"^[A-Z0-9]{3}_[A-Z0-9]{3}_", "", name)


def elements(children: tuple, choice: bool) -> str:
    out = []
    for name, ref, (low, high), kind in children:
        if choice:  # one of the alternatives: each is optional on its own
            low = 0
        if kind == "GRP":
            inner = elements(ref[1], ref[0] == "choice")
            out.append(f"[{group_name(name)} {inner} ]{cardinality(low, high)}")
        else:
            out.append(name + cardinality(low, high))
    return " ".join(out)


def type_token(datatype: str | None, table: str | None) -> str:
    token = datatype or "-"
    if table:
        token += ":" + table.removeprefix("HL7")
    return token


def primitive_lengths(version: str) -> str:
    module = importlib.import_module(f"hl7apy.v{version.replace('.', '_')}")
    out = []
    for name, cls in sorted(module.get_base_datatypes().items()):
        try:
            length = getattr(cls(""), "max_length", None)
        except (TypeError, ValueError):
            length = None
        out.append(f"{name} {length or 0}")
    return " ".join(out)


def records(version: str) -> list[tuple[str, str, str]]:
    messages = reference(version, "messages", "MESSAGES")
    segments = reference(version, "segments", "SEGMENTS")
    fields = reference(version, "fields", "FIELDS")
    structs = reference(version, "datatypes", "DATATYPES_STRUCTS")
    tables = reference(version, "tables", "TABLES", {})
    out = [("L", "", primitive_lengths(version))]
    for name, (kind, children) in messages.items():
        out.append(("M", name, elements(children, kind == "choice")))
    for name, (_, *rest) in segments.items():
        # ANYHL7SEGMENT is hl7apy's wildcard; withdrawn segments have no fields.
        if name == "ANYHL7SEGMENT" or not rest:
            continue
        children = rest[0]
        tokens = []
        for field, _, (low, high), _ in children:
            ref = fields[field]
            tokens.append(type_token(ref[2], ref[4]) + cardinality(low, high))
        out.append(("S", name, " ".join(tokens)))
    for name, children in structs.items():
        if not children:
            continue
        tokens = [type_token(ref[2], ref[4]) for _, ref, _, _ in children]
        out.append(("D", name, " ".join(tokens)))
    for number, (_, values) in tables.items():
        kept = sorted({quote(v) for v in values if v})
        out.append(("T", number.removeprefix("HL7"), " ".join(kept)))
    out.extend(("E", event, target) for event, target in shared_events(version, messages))
    return out


def quote(value: str) -> str:
    # Table values may hold spaces ("UNICODE UTF-8"): bytes outside printable
    # ASCII, and the space and % themselves, are written %XX.
    return "".join(
        chr(b) if 0x21 <= b <= 0x7E and b != 0x25 else f"%{b:02X}" for b in value.encode()
    )


def shape(children: tuple) -> tuple:
    return tuple((n, tuple(c), k, shape(r[1]) if k == "GRP" else None) for n, r, c, k in children)


def shared_events(version: str, messages: dict) -> list[tuple[str, str]]:
    found: dict[str, str] = {}
    for old in PER_EVENT_VERSIONS:
        old_messages = reference(old, "messages", "MESSAGES")
        by_shape = defaultdict(list)
        for name, (_, children) in old_messages.items():
            by_shape[shape(children)].append(name)
        for names in by_shape.values():
            targets = sorted(n for n in names if n in messages)
            for name in names:
                if name not in messages and name not in found and targets:
                    found[name] = targets[0]
    return sorted(found.items())


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("-o", "--output", type=Path, default=OUT)
    args = parser.parse_args()
    masks: dict[tuple[str, str, str], int] = defaultdict(int)
    order: list[tuple[str, str, str]] = []
    for bit, version in enumerate(VERSIONS):
        for record in records(version):
            if record not in masks:
                order.append(record)
            masks[record] |= 1 << bit
    rank = {"L": 0, "M": 1, "E": 2, "S": 3, "D": 4, "T": 5}
    order.sort(key=lambda r: (rank[r[0]], r[1], masks[r]))
    lines = [
        f"# HL7 v2 definitions generated by tools/definitions.py from hl7apy {package_version('hl7apy')}",
        "# reference data (Copyright (c) 2012-2018, CRS4; MIT licence in NOTICE). Do not edit.",
        "V " + " ".join(VERSIONS),
    ]
    for kind, name, body in order:
        head = f"{kind} {masks[(kind, name, body)]:x}"
        lines.append(" ".join(part for part in (head, name, body) if part))
    args.output.parent.mkdir(parents=True, exist_ok=True)
    tmp = args.output.with_suffix(".tmp")
    tmp.write_text("\n".join(lines) + "\n", encoding="ascii")
    tmp.replace(args.output)


if __name__ == "__main__":
    main()
