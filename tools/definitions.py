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
    T mask 0001 A F M N O U            HL7 tables and their values (%XX escapes);
                                       ~HL7nnnn a pattern (n a digit, z/x/s a letter or
                                       digit, * any rest, other bytes as written; the
                                       head, up to the first of those, in any case)
    F mask PID Patient Identification|Set ID PID|...   names: the segment's, then its fields'
    C mask XPN Extended Person Name|Family Name|...     names: the type's, then its components'
    W mask 0001 Administrative Sex     names: the table's
    Y mask 0001 F Female|M Male|...    the meanings of table values

Fields are numbered by hl7apy's names (PID_5 is the fifth field): a field a
version withdrew, which hl7apy leaves out, stands as `-?`, a placeholder of
no type that is never required. Names are written as the standard spells
them where the reference data keeps only an identifier (SET_ID_PID reads
"Set ID PID"); "|" and "%" in a name, and bytes outside printable ASCII, are
written %XX. Segment and data type names, and the meanings of table values,
come from HL7's V2-to-FHIR mapping tables (../shared/v2-to-fhir, Apache-2.0,
see NOTICE) when they stand beside the checkout.

A structure element is a segment name or a group `[NAME ...]`, followed by its
cardinality: nothing for exactly one, `?` at most one, `*` any number, `+`
one or more, `{min,max}` otherwise (max 0: unbounded). A field or component
token is `TYPE[:TABLE]` plus, for fields, the same cardinality.
"""

from __future__ import annotations

import argparse
import csv
import importlib
import re
from collections import defaultdict
from collections.abc import Iterable
from pathlib import Path

from importlib.metadata import version as package_version

VERSIONS = ["2.1", "2.2", "2.3", "2.3.1", "2.4", "2.5", "2.5.1", "2.6", "2.7", "2.8", "2.8.1", "2.8.2"]
# Before 2.3 every event had its own structure; structures that were the same
# there were merged under one name later, which gives the events that share one.
PER_EVENT_VERSIONS = ["2.2", "2.1"]
ROOT = Path(__file__).resolve().parent.parent
OUT = ROOT / "src" / "vellomar" / "definitions" / "hl7.txt"
MAPPINGS = ROOT.parent / "shared" / "v2-to-fhir" / "mappings"


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


def children_of(value: tuple) -> tuple:
    # A segment is ("sequence", fields); 2.1's ORO is its field list alone.
    if value and value[0] in ("sequence", "choice"):
        return value[1] if len(value) > 1 else ()
    return value


def by_number(owner: str, children: tuple) -> list:
    """The children of `owner` at the places their names give (PID_5 is the
    fifth), with None for a number the reference data leaves out."""
    out: list = []
    for child in children:
        number = int(child[0].rpartition("_")[2])
        out.extend([None] * (number - len(out)))
        out[number - 1] = child
    return out


ACRONYMS = {"ID", "OID", "DRG", "HL7", "URI", "SSN", "NDC", "ISO", "PPP", "UB", "DEA", "MSH", "CLIA",
            "VIP", "PID", "NK1", "PV1", "OBX", "OBR", "EI", "MFN", "CE", "CWE", "XON", "XCN", "URL"}
SMALL = {"of", "or", "and", "for", "to", "the", "in", "by", "a", "an", "on", "at", "as", "per", "with"}


def spoken(identifier: str) -> str:
    """A reference identifier as words: PATIENT_NAME -> Patient Name."""
    words = []
    for i, word in enumerate(w for w in identifier.split("_") if w):
        if word in ACRONYMS or any(c.isdigit() for c in word):
            words.append(word)
        elif i and word.lower() in SMALL:
            words.append(word.lower())
        else:
            words.append(word.capitalize())
    return " ".join(words).replace("Mother S ", "Mother's ").replace("Driver S ", "Driver's ")


def name_list(names: Iterable[str]) -> str:
    return "|".join(quote(n, keep=" ") for n in names)


def chapter_names() -> dict[tuple[str, str], str]:
    """(kind, identifier) -> name of the segments and data types in the
    mapping tables' chapter list ("Segment", "PID") -> "Patient Identification"."""
    out: dict[tuple[str, str], str] = {}
    path = MAPPINGS / "chapterdata.csv"
    if not path.exists():
        return out
    with path.open(encoding="utf-8-sig", newline="") as f:
        for row in csv.reader(f):
            if len(row) >= 4 and row[0] in ("Segment", "Data Type") and row[3].strip():
                out.setdefault((row[0], row[3].strip()), " ".join(row[2].split()))
    return out


def value_meanings() -> dict[str, dict[str, str]]:
    """Table number -> value -> meaning, from the mapping tables' code systems
    (columns Code, Text, Code System; the system written HL70001, HL7-0001 or
    HL0001)."""
    out: dict[str, dict[str, str]] = defaultdict(dict)
    for path in sorted((MAPPINGS / "codesystems").glob("*.csv")):
        with path.open(encoding="utf-8-sig", newline="") as f:
            rows = list(csv.reader(f))
        if len(rows) < 2 or rows[1][:3] != ["Code", "Text", "Code System"]:
            continue
        for row in rows[2:]:
            if len(row) < 3 or not row[0].strip() or not row[1].strip():
                continue
            number = re.search(r"(\d{3,4})\s*$", row[2])
            if number and row[2].upper().startswith("HL"):
                out[number[1].zfill(4)].setdefault(row[0].strip(), " ".join(row[1].split()))
    return out


def records(version: str, chapters: dict, meanings: dict) -> list[tuple[str, str, str]]:
    messages = reference(version, "messages", "MESSAGES")
    segments = reference(version, "segments", "SEGMENTS")
    fields = reference(version, "fields", "FIELDS")
    structs = reference(version, "datatypes", "DATATYPES_STRUCTS")
    tables = reference(version, "tables", "TABLES", {})
    out = [("L", "", primitive_lengths(version))]
    for name, (kind, children) in messages.items():
        out.append(("M", name, elements(children, kind == "choice")))
    for name, value in segments.items():
        # ANYHL7SEGMENT is hl7apy's wildcard; withdrawn segments have no fields.
        children = children_of(value)
        if name == "ANYHL7SEGMENT" or not children:
            continue
        tokens, names = [], [chapters.get(("Segment", name), "")]
        for child in by_number(name, children):
            if child is None:  # withdrawn: any value, never required
                tokens.append("-?")
                names.append("")
                continue
            field, _, (low, high), _ = child
            ref = fields[field]
            tokens.append(type_token(ref[2], ref[4]) + cardinality(low, high))
            names.append(spoken(ref[3]))
        out.append(("S", name, " ".join(tokens)))
        out.append(("F", name, name_list(names)))
    for name, children in structs.items():
        if not children:
            continue
        parts = by_number(name, children)
        tokens = [type_token(c[1][2], c[1][4]) if c else "-" for c in parts]
        out.append(("D", name, " ".join(tokens)))
        names = [chapters.get(("Data Type", name), "")]
        names += [spoken(c[1][3]) if c else "" for c in parts]
        out.append(("C", name, name_list(names)))
    for number, (title, values) in tables.items():
        number = number.removeprefix("HL7")
        kept = sorted({pattern(v) for v in values if v} | set(LOCAL_VALUES.get(number, ())))
        out.append(("T", number, " ".join(kept)))
        out.append(("W", number, name_list([" ".join(title.split())])))
        # The same for every version that has the table: a value the
        # version's table lacks has no meaning there (the loader checks).
        known = meanings.get(number, {})
        if known:
            out.append(("Y", number, name_list(f"{quote(v)} {known[v]}" for v in sorted(known))))
    out.extend(("E", event, target) for event, target in shared_events(version, messages))
    return out


# A value the standard writes as a pattern: a literal head and a tail of
# placeholders (n a digit, z, x or s any letter or digit): HL7nnnn, 99zzz.
PATTERN = re.compile(r"([A-Z0-9]*[A-Z0-9][a-z]?)([nzxs]{3,})")
# Values a table leaves to each site, as patterns: coding systems named as
# local or 99zzz (any length), and the message types, events and structures beginning with Z.
LOCAL_VALUES = {"0396": ["~LOCAL*", "~99*"], "0076": ["~Zzz"], "0003": ["~Zzz"], "0354": ["~Zzz_zzz"]}


def pattern(value: str) -> str:
    """A table value as its token: `~HEADtail` for a pattern, else quoted."""
    match = PATTERN.fullmatch(value)
    return f"~{match[1]}{match[2]}" if match else quote(value)


def quote(value: str, keep: str = "") -> str:
    # Table values may hold spaces ("UNICODE UTF-8"): bytes outside printable
    # ASCII, and the space, % and | themselves, are written %XX (a space is
    # kept in names, which end at the line's end).
    return "".join(
        chr(b) if (0x21 <= b <= 0x7E and b not in b"%|") or chr(b) in keep else f"%{b:02X}"
        for b in value.encode()
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
    chapters, meanings = chapter_names(), value_meanings()
    for bit, version in enumerate(VERSIONS):
        for record in records(version, chapters, meanings):
            if record not in masks:
                order.append(record)
            masks[record] |= 1 << bit
    rank = {"L": 0, "M": 1, "E": 2, "S": 3, "D": 4, "T": 5, "F": 6, "C": 7, "W": 8, "Y": 9}
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
