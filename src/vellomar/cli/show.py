"""`vellomar show`: every message as a readable tree, or as JSON."""

from __future__ import annotations

import argparse
import json
import re
from typing import Any, TextIO

from .. import _ops
from .._core import Field, Message
from ..structure import load_definitions
from ._base import Handler, add_command, common_options, header, run_files, visible


def register(commands: Any) -> None:
    show = add_command(
        commands,
        "show",
        run,
        parents=[common_options()],
        help="print each message as a tree, or as JSON",
        description="Print every message of the files as a tree: segments, then their "
        "non-empty fields labelled with terser paths (PID-5), components (PID-5-1), "
        "sub-components (PID-3-4-1) and repetitions (PID-3[2]), each with its name in the "
        "definitions of the message's version and a coded value's meaning: "
        "PID-8  Administrative Sex  M (Male).",
    )
    form = show.add_mutually_exclusive_group()
    form.add_argument(
        "--json",
        action="store_true",
        help="print one JSON array of records: \"file\", \"message\" (its number in the "
        "file), then the message's JSON form",
    )
    form.add_argument(
        "--ndjson", action="store_true", help="print the same records as compact JSON, one per line"
    )
    show.add_argument("files", nargs="+", metavar="FILE", help="HL7 file, or - for standard input")


def run(args: argparse.Namespace, stdout: TextIO, stderr: TextIO) -> int:
    return run_files(args, _handler(args), stdout, stderr)


def _field_lines(label: str, field: Field, depth: int, lines: list[tuple[int, str, str]]) -> None:
    lines.append((depth, label, field.value))
    repetitions = field.repetitions
    if repetitions:
        for number, repetition in enumerate(repetitions, 1):
            _field_lines(f"{label}[{number}]", repetition, depth + 1, lines)
        return
    components = field.components
    if len(components) == 1 and len(components[0].sub_components) == 1:
        return
    for number, component in enumerate(components, 1):
        if not component.value:
            continue
        lines.append((depth + 1, f"{label}-{number}", component.value))
        subs = component.sub_components
        if len(subs) > 1:
            for sub_number, sub in enumerate(subs, 1):
                if sub:
                    lines.append((depth + 2, f"{label}-{number}-{sub_number}", sub))


def _described(message: Message, path: str, value: str | None = None) -> tuple[str, str | None]:
    """The name the definitions give the element at `path`, and the meaning
    of `value` there; none for a segment whose name no path can hold (a line
    of text among the segments, "hello world": shown, not named)."""
    try:
        _, name, _, _, _, meaning = _ops.describe(message, path, None, value)
    except ValueError:
        return "", None
    return name or "", meaning


def _named(message: Message, segment: str, label: str, value: str) -> tuple[str, str]:
    """The name of the element a label stands for, and its value with the
    meaning the definitions give it ("M (Male)")."""
    # The label's segment is this occurrence ("OBX(2)"); a repetition ("[2]")
    # is named as its field.
    path = segment + re.sub(r"\[\d+\]", "", label[3:])
    name, meaning = _described(message, path, value)
    if meaning is not None:
        value = f"{value} ({meaning})"
    return name, value


def format_tree(message: Message) -> str:
    """The readable tree of `show`: each segment, then its non-empty fields
    labelled with their terser paths, with their components, sub-components
    and repetitions (`PID-3[2]` is the second repetition of PID-3); beside
    each label its name in the definitions of the message's version, and a
    coded value's meaning."""
    load_definitions()
    lines: list[tuple[int, str, str, str]] = []
    seen: dict[str, int] = {}
    for segment in message:
        occurrence = seen.get(segment.name, -1) + 1
        seen[segment.name] = occurrence
        name = segment.name + (f"({occurrence})" if occurrence else "")
        lines.append((0, segment.name, _described(message, name)[0], ""))
        is_msh = segment.name == "MSH"
        fields: list[tuple[int, str, str]] = []
        for number, field in enumerate(segment.fields, 1):
            label = f"{segment.name}-{number}"
            if is_msh and number <= 2:
                # MSH-1 and MSH-2 hold the delimiters themselves.
                fields.append((1, label, field.value))
            elif field.value:
                _field_lines(label, field, 1, fields)
        lines.extend((depth, label, *_named(message, name, label, value)) for depth, label, value in fields)
    width = max(2 * depth + len(label) for depth, label, _, _ in lines)
    names = max(len(name) for _, _, name, _ in lines)
    out = []
    for depth, label, name, value in lines:
        head = f"{'  ' * depth + label:<{width}}  {name}"
        out.append(f"{head:<{width + 2 + names}}  {visible(value)}" if value else head.rstrip())
    return "\n".join(out) + "\n"


def compact_json(message: Message) -> str:
    """The JSON form of `message` on one line."""
    return json.dumps(json.loads(message.to_json()), ensure_ascii=False, separators=(",", ":"))


def _record_head(name: str, number: int, pretty: bool) -> str:
    """The text that opens the JSON record of a message, up to its own keys:
    "file" (the name given on the command line) and "message" (its number)."""
    name_json = json.dumps(name, ensure_ascii=False)
    if pretty:
        return f'{{\n  "file": {name_json},\n  "message": {number},\n  '
    return f'{{"file":{name_json},"message":{number},'


class JsonArray:
    """`show --json`: every message of every file as one element of one JSON
    array, so that the whole output is one document. An element is the
    message's JSON form preceded by the keys "file" and "message"; the text is
    the one `json.dumps(records, indent=2, ensure_ascii=False)` writes."""

    def __init__(self) -> None:
        self.separator = "[\n  "

    def __call__(self, name: str, number: int, message: Message) -> str:
        # The JSON form opens with "{\n  " and has no line break inside a value.
        record = _record_head(name, number, True) + message.to_json()[4:]
        text = self.separator + record.replace("\n", "\n  ")
        self.separator = ",\n  "
        return text

    def finish(self) -> str:
        return "[]\n" if self.separator.startswith("[") else "\n]\n"


def _handler(args: argparse.Namespace) -> Handler:
    if args.json:
        return JsonArray()
    if args.ndjson:
        return lambda name, number, message: (
            _record_head(name, number, False) + compact_json(message)[1:] + "\n"
        )
    separator = ""

    def tree(name: str, number: int, message: Message) -> str:
        nonlocal separator
        title_header = header(message)
        title = f"# {name}, message {number}" + (f": {title_header}" if title_header else "")
        text = separator + title + "\n" + format_tree(message)
        separator = "\n"
        return text

    return tree

