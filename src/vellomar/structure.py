"""Message structures and validation against the HL7 v2 definitions.

The definitions (message structures, segments, composite types, tables and
the names of all of them, of versions 2.1 to 2.8.2) live in definitions/hl7.txt, generated from hl7apy's
reference data by tools/definitions.py; they are read into the core once, on
first use. Matching and validation run in C++.
"""

from __future__ import annotations

import re
from dataclasses import dataclass
from typing import Any, Callable, NamedTuple, TypeVar, Union

from . import _ops
from ._core import Message, parse

__all__ = ["Finding", "Group", "SegmentRef", "structure", "validate", "describe", "get", "ack"]

_loaded = False


def load_definitions() -> None:
    """Reads the definitions into the core (once per process)."""
    global _loaded
    if not _loaded:
        # Imported here: importlib.resources brings pathlib, tempfile and more,
        # which a process that never validates does not need at its start.
        from importlib import resources

        text = resources.files(__package__).joinpath("definitions", "hl7.txt").read_text("ascii")
        _ops.load_definitions(text)
        _loaded = True


class Finding(NamedTuple):
    """One result of `validate`: severity "error" or "warning", a code of HL7
    table 0357, the location as a path, a text, and the name of the element
    at the location ("Administrative Sex"; None where the definitions name
    none). (A named tuple: the core makes them without running Python code.)"""

    severity: str
    code: int
    location: str
    text: str
    name: str | None = None


@dataclass(frozen=True, slots=True)
class SegmentRef:
    """A segment in a group: its name and index in the message; `expected`
    is false for one the structure has no place for there (a Z segment, or
    one out of order)."""

    name: str
    index: int
    expected: bool = True


@dataclass(frozen=True, slots=True)
class Group:
    """One occurrence of a group: its name and children (segments and child
    groups) in message order. The message itself is the root group, named by
    its structure; `known` is false when the structure is not in the
    definitions and the message is one flat group."""

    name: str
    children: tuple[Union[Group, SegmentRef], ...]
    known: bool = True

    @property
    def segments(self) -> list[SegmentRef]:
        return [c for c in self.children if isinstance(c, SegmentRef)]

    @property
    def groups(self) -> list[Group]:
        return [c for c in self.children if isinstance(c, Group)]


_V = TypeVar("_V", bound=Callable[..., list[Finding]])


def _message(message: Message | str) -> Message:
    return parse(message) if isinstance(message, str) else message


def structure(message: Message | str, *, version: str | None = None) -> Group:
    """The group tree of `message`, matched against the structure its MSH-9
    names in the definitions of `version` (MSH-12 when None)."""
    load_definitions()
    return _ops.structure(_message(message), version, Group, SegmentRef)


def _in_core(function: _V) -> _V:
    """The core's stand-in for `function`: the same signature, docstring and
    errors, but no Python frame per call, which was a measurable share of
    validating one message."""
    return _ops.validate_function(function, Finding, load_definitions)


@_in_core
def validate(  # type: ignore[empty-body]  # the core runs it (_in_core)
    message: Message | str, *, version: str | None = None, strict: bool = False
) -> list[Finding]:
    """The findings for `message` against the definitions of `version`
    (MSH-12 when None), in message order; [] for a valid message. A version
    the definitions do not hold and a message type beginning with Z (a
    site's own) are warnings, errors when `strict`. Text that does not parse
    raises as `parse` does."""


def describe(message: Message | str, path: str, *, version: str | None = None) -> dict[str, Any]:
    """What the definitions of the message's version (MSH-12, or `version`)
    say about the element a terser path selects, with its value:
    {"path": the path written plainly ("OBX(1)-5-1"), "name": "Patient Name",
    "type": "XPN", "table": "0001", "value": the decoded value or None when
    the message lacks it, "meaning": the table's meaning of the value}. Any
    of name, type, table and meaning is None when the definitions do not
    give it; for a segment ("PID") name is the segment's name."""
    load_definitions()
    keys = ("path", "name", "type", "table", "value", "meaning")
    return dict(zip(keys, _ops.describe(_message(message), path, version)))


_STEP = re.compile(r"([A-Za-z0-9_]+)(?:\((\d+)\))?\Z")


_T = TypeVar("_T", Group, SegmentRef)


def _pick(group: Group, kind: type[_T], name: str, repetition: int) -> _T:
    found = [c for c in group.children if isinstance(c, kind) and c.name == name]
    what = "Group" if kind is Group else "Segment"
    if not found:
        raise KeyError(f"{what} '{name}' not found")
    if repetition >= len(found):
        raise IndexError(f"{what} '{name}' repetition {repetition} not found (have {len(found)})")
    return found[repetition]


def get(message: Message | str, path: str, *, version: str | None = None) -> str:
    """The value a terser path selects. A path beginning with "/" goes
    through groups first: "/PATIENT_RESULT/ORDER_OBSERVATION(1)/OBX(2)-5" is
    OBX-5 of the third OBX directly in the second order of the first patient
    result (repetitions 0-based). Other paths are those of `Message.get`."""
    msg = _message(message)
    if not path.startswith("/"):
        return msg.get(path)
    *groups, last = path[1:].split("/")
    segment_part, dash, rest = last.partition("-")
    node: Group = structure(msg, version=version)
    for step in groups:
        match = _STEP.match(step)
        if not match:
            raise ValueError(f"Invalid group: '{step}'")
        node = _pick(node, Group, match[1], int(match[2] or 0))
    match = _STEP.match(segment_part)
    if not match:
        raise ValueError(f"Invalid segment name: '{segment_part}'")
    segment = _pick(node, SegmentRef, match[1], int(match[2] or 0))
    # The segment's repetition among all segments of its name in the message.
    names = [s.name for s in msg.segments[: segment.index]]
    return msg.get(f"{segment.name}({names.count(segment.name)}){dash}{rest}")


_LOCATION = re.compile(r"(?:.*/)?([A-Z0-9]{3})(?:\((\d+)\))?((?:-\d+(?:\(\d+\))?)*)\Z")


def _error_location(location: str, old_style: bool) -> str:
    # ERR's location: segment, its sequence among its name, field, field
    # repetition, component, sub-component (numbers 1-based).
    match = _LOCATION.match(location)
    if not match:
        return ""
    parts = [match[1], str(int(match[2] or 0) + 1)]
    for number, piece in enumerate(match[3].split("-")[1:]):
        field, _, repetition = piece.partition("(")
        parts.append(field)
        if number == 0 and not old_style:
            parts.append(str(int(repetition.rstrip(")") or 0) + 1))
    return "^".join(parts)


def ack(
    message: Message | str,
    code: str | None = None,
    findings: list[Finding] | None = None,
    *,
    text: str = "",
) -> str:
    """The text of an ACK to `message` (as `Message.ack` makes it) with one
    ERR segment per finding. `code` defaults to AR when a finding is an
    error, else AA; `findings` defaults to those of `validate`."""
    msg = _message(message)
    if findings is None:
        findings = validate(msg)
    if code is None:
        code = "AR" if any(f.severity == "error" for f in findings) else "AA"
    out = [msg.ack(code, text)]
    version = msg.get("MSH-12-1") if len(msg.segments[0].fields) >= 12 else ""
    old_style = version[:3] in ("2.3", "2.4")
    field = msg.get("MSH-1")
    for finding in findings:
        where = _error_location(finding.location, old_style)
        say = escape_value(finding.text, msg)
        if old_style:  # ERR-1: location^code&text&HL70357
            out.append(f"ERR{field}{where}^{finding.code}&{say}&HL70357")
        else:  # ERR-2 location, ERR-3 code, ERR-4 severity, ERR-8 the text
            severity = "E" if finding.severity == "error" else "W"
            out.append(f"ERR{field}{field}{where}{field}{finding.code}^{say}^HL70357"
                       f"{field}{severity}{field * 4}{say}")
    return "\r".join(out)


def escape_value(text: str, message: Message) -> str:
    return _ops.escape(text, message)
