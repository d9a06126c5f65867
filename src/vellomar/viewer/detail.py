"""One message as the viewer shows it: its groups and segments, each field
with its name, data type, table and value meaning, the validation findings
beside the elements they concern, and its raw text cut into the elements
each character belongs to.

Elements are named within their segment by a key: "5" for field 5, "3(1)"
for its second repetition, "5-1" and "3(1)-4-2" for components and
sub-components; a segment is known by its index in the message.
"""

from __future__ import annotations

import importlib
import json
import re
from typing import Any

from .._core import Field, Message
from ..structure import Group, SegmentRef, structure, validate

__all__ = ["detail", "describe", "raw_pieces", "fhir_available"]

_NOTHING = {"name": None, "type": None, "table": None, "value": None, "meaning": None}


def describe(message: Message, path: str) -> dict[str, Any]:
    """What the definitions say of the element at `path` (name, type, table,
    value meaning), through `vellomar.describe` where the package has it;
    all None where it has not or knows nothing of the path."""
    package = importlib.import_module("vellomar")
    function = getattr(package, "describe", None)
    if function is not None:
        try:
            return {**_NOTHING, **function(message, path)}
        except (KeyError, IndexError, ValueError):
            pass
    return {**_NOTHING, "path": path}


_fhir_found: list[bool] = []  # whether the converter imports, once known


def fhir_available() -> bool:
    """Whether the package holds the FHIR converter (looked up once: the
    import system does not remember a failed import)."""
    if not _fhir_found:
        try:
            importlib.import_module("vellomar.fhir")
            _fhir_found.append(True)
        except ImportError:
            _fhir_found.append(False)
    return _fhir_found[0]


def _fhir(message: Message) -> Any:
    try:
        converter: Any = importlib.import_module("vellomar.fhir")
        return json.loads(converter.to_json(message))
    except Exception as error:  # the converter's failure is shown, not fatal
        return {"error": f"{type(error).__name__}: {error}"}


def _element(message: Message, seg_path: str, key: str, value: str,
             children: list[dict[str, Any]], described: str | None = None) -> dict[str, Any]:
    path = f"{seg_path}-{key}"
    info = describe(message, path)
    if described and described != path and info["name"] is None:
        # Within a repetition: the element's own definition, but no meaning
        # read from another repetition's value.
        info = {**describe(message, described), "meaning": None}
    return {"key": key, "path": path, "value": value, "name": info["name"], "type": info["type"],
            "table": info["table"], "meaning": info["meaning"], "children": children}


def _field(message: Message, seg_path: str, key: str, field: Field,
           described: str | None = None) -> dict[str, Any]:
    repetitions = field.repetitions
    if repetitions:
        children = [_field(message, seg_path, f"{key}({r})", repetition, f"{seg_path}-{key}")
                    for r, repetition in enumerate(repetitions)]
        return _element(message, seg_path, key, field.value, children)
    components = field.components
    children = []
    if len(components) > 1 or len(components[0].sub_components) > 1:
        base = described or f"{seg_path}-{key}"
        for c, component in enumerate(components, 1):
            if not component.value:
                continue
            subs = component.sub_components
            grand = [_element(message, seg_path, f"{key}-{c}-{s}", sub, [], f"{base}-{c}-{s}")
                     for s, sub in enumerate(subs, 1) if sub and len(subs) > 1]
            children.append(_element(message, seg_path, f"{key}-{c}", component.value, grand,
                                     f"{base}-{c}"))
    return _element(message, seg_path, key, field.value, children, described)


_LOCATION = re.compile(r"([A-Z][A-Z0-9]{2})(?:\((\d+)\))?(?:-(\d+))?")


def _place(location: str, paths: dict[str, int]) -> tuple[int | None, str | None]:
    """The segment index and field key a finding's location names, where
    the message holds them (a location through groups is the message's)."""
    match = _LOCATION.match(location)
    if not match:
        return None, None
    name, occurrence, field = match.groups()
    index = paths.get(name if not occurrence or occurrence == "0" else f"{name}({occurrence})")
    return index, field if index is not None else None


def _tree(node: Group | SegmentRef) -> dict[str, Any]:
    if isinstance(node, SegmentRef):
        return {"segment": node.index, "expected": node.expected}
    return {"group": node.name, "known": node.known, "children": [_tree(c) for c in node.children]}


def detail(message: Message) -> dict[str, Any]:
    """The viewer's form of `message`: "structure" (the group tree, whose
    leaves are segment indexes), "segments" (each with its path, name and
    non-empty fields as element trees), "findings" (each placed at a segment
    and field where it can be), "raw" (see `raw_pieces`) and "fhir" (the
    FHIR bundle when the package holds the converter, else None)."""
    segments = []
    paths: dict[str, int] = {}
    seen: dict[str, int] = {}
    for index, segment in enumerate(message.segments):
        name = segment.name
        occurrence = seen[name] = seen.get(name, -1) + 1
        seg_path = name if occurrence == 0 else f"{name}({occurrence})"
        paths[seg_path] = index
        fields = []
        for number, field in enumerate(segment.fields, 1):
            if field.value or (name == "MSH" and number <= 2):
                # MSH-1 and MSH-2 hold the delimiters themselves: never split.
                fields.append(_element(message, seg_path, str(number), field.value, [])
                              if name == "MSH" and number <= 2
                              else _field(message, seg_path, str(number), field))
        segments.append({"index": index, "path": seg_path, "segment": name,
                         "name": describe(message, seg_path)["name"], "fields": fields})
    findings = []
    for finding in validate(message):
        place, key = _place(finding.location, paths)
        findings.append({"severity": finding.severity, "code": finding.code,
                         "location": finding.location, "text": finding.text,
                         "segment": place, "field": key})
    return {"structure": _tree(structure(message)), "segments": segments,
            "findings": findings, "raw": raw_pieces(message),
            "fhir": _fhir(message) if fhir_available() else None}


_LINES = re.compile(r"\r\n|\r|\n")


def raw_pieces(message: Message) -> list[list[list[Any]]]:
    """The message's raw text, segment by segment, as pieces [text, key]:
    each piece is the text of one element (key as in `detail`) or a
    delimiter or segment name (key None). A line that cannot be matched to
    its segment is one piece without a key."""
    # The core hands out decoded values, not where they stand in the text;
    # splitting the raw line again finds every place exactly, since an escape
    # sequence never holds a delimiter itself. The delimiters are the ones
    # the parser read from MSH-1 and MSH-2.
    lines = [line for line in _LINES.split(message.raw) if line.strip()]
    names = [segment.name for segment in message.segments]
    if len(lines) != len(names):
        return [[[line, None]] for line in lines]
    separator = message.get("MSH-1")
    encoding = message.get("MSH-2")
    repetition, component, sub = (encoding + "   ")[1], encoding[:1], (encoding + "   ")[3]
    out = []
    for name, line in zip(names, lines):
        if not line.startswith(name):
            out.append([[line, None]])
            continue
        pieces: list[list[Any]] = [[name, None]]
        rest = line[len(name):]
        if name == "MSH":  # MSH-1 is the separator itself, MSH-2 is not split
            head, _, rest = rest[1:].partition(separator)
            pieces += [[separator, "1"], [head, "2"]]
            rest = separator + rest if rest or line.endswith(separator) else ""
            first = 3
        else:
            first = 1
        for number, text in enumerate(rest.split(separator)[1:], first):
            pieces.append([separator, None])
            _split_field(text, str(number), repetition, component, sub, pieces)
        out.append(pieces)
    return out


def _split_field(text: str, key: str, repetition: str, component: str, sub: str,
                 pieces: list[list[Any]]) -> None:
    reps = text.split(repetition) if repetition.strip() else [text]
    for r, rep in enumerate(reps):
        if r:
            pieces.append([repetition, None])
        rep_key = f"{key}({r})" if len(reps) > 1 else key
        comps = rep.split(component) if component.strip() else [rep]
        for c, comp in enumerate(comps, 1):
            if c > 1:
                pieces.append([component, None])
            subs = comp.split(sub) if sub.strip() else [comp]
            for s, part in enumerate(subs, 1):
                if s > 1:
                    pieces.append([sub, None])
                if len(comps) == 1 and len(subs) == 1:
                    pieces.append([part, rep_key])
                elif len(subs) == 1:
                    pieces.append([part, f"{rep_key}-{c}"])
                else:
                    pieces.append([part, f"{rep_key}-{c}-{s}"])
