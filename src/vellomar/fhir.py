"""HL7 v2 to FHIR R4, following HL7's V2-to-FHIR mapping tables.

The tables live in definitions/fhir.txt, generated from HL7's CSVs by
tools/fhir_tables.py (tools/fhir_report.txt lists the rows not honoured and
why); they are read into the core once, on first use, and one engine in C++
walks them for every message and writes the JSON.
"""

from __future__ import annotations

import functools
import json
import os
from importlib import resources
from typing import Any, Callable, Iterable, Literal, NamedTuple, cast
from urllib.parse import unquote

from . import _ops
from ._core import Message, parse
from .charsets import codec_of
from .structure import load_definitions

__all__ = ["to_json", "to_dict", "convert", "resources_of", "Conversion", "Mapping",
           "write_ndjson"]


def _data() -> str:
    return resources.files(__package__).joinpath("definitions", "fhir.txt").read_text("utf-8")


def _read_maps() -> None:
    load_definitions()
    _ops.fhir_load(_data())


# Reads the definitions and the maps into the core, once per process (a call
# that raised is not kept, so the next one tries again).
_load: Callable[[], None] = functools.cache(_read_maps)


def _message(message: Message | str | bytes) -> Message:
    if isinstance(message, Message):
        return cast(Message, message)
    if isinstance(message, str):
        return parse(message)
    if isinstance(message, (bytes, bytearray, memoryview)):
        data = bytes(message)
        return _ops.parse_bytes(data, codec_of(data))
    raise TypeError(f"cannot convert {type(message).__name__!r} to FHIR: "
                    "a Message, str or bytes is needed")


class Mapping:
    """The package's maps with a user's own rows over them (see `load`)."""

    __slots__ = ("_maps", "paths", "report")

    def __init__(self, maps: object, paths: tuple[str, ...]) -> None:
        self._maps = maps
        self.paths = paths
        self.report: list[str] = []

    @classmethod
    def load(cls, paths: str | os.PathLike[str] | Iterable[str | os.PathLike[str]]) -> Mapping:
        """A user's tables in the layouts of HL7's V2-to-FHIR CSVs, read over
        the package's: a message table adds its rows to the structure it
        names (a Z segment routed to a resource); a segment or data type map
        or a vocabulary replaces the package's of the same name (its file
        name: "ZPI[Patient].csv", "PID[Patient].csv", "AdministrativeSex.csv");
        a map without rows switches the package's off. Rows the converter
        cannot honour are listed in `report`."""
        from . import _fhir_tables

        _load()
        names: tuple[str | os.PathLike[str], ...] = (
            (paths,) if isinstance(paths, (str, os.PathLike)) else tuple(paths))
        data = _data()
        known = [unquote(line.split("\t")[1]) for line in data.splitlines()
                 if line.startswith(("S\t", "D\t"))]
        text = _fhir_tables.compile_files(names, _fhir_tables.TableShapes(data), known)
        mapping = cls(_ops.fhir_mapping(text), tuple(os.fspath(p) for p in names))
        mapping.report = list(_fhir_tables.report)
        return mapping

    def __repr__(self) -> str:
        return f"Mapping.load({list(self.paths)!r})"


def _maps(mapping: Mapping | None) -> object:
    if mapping is None:
        return None
    if not isinstance(mapping, Mapping):
        raise TypeError(f"mapping must be a Mapping or None, not {type(mapping).__name__!r}")
    return mapping._maps


class Conversion(NamedTuple):
    """A message's Bundle as JSON text and what could not be mapped: segments
    no row maps ("ZPI"), valued fields no row reads ("PID-10"), codes missing
    from a vocabulary ("PID-8 'X' (AdministrativeSex)") and resources left out
    for want of a required element ("Coverage without payor (from IN1)")."""

    json: str
    unmapped: list[str]


def convert(message: Message | str | bytes, *, bundle_type: Literal["message", "transaction", "collection"] = "message",
            mapping: Mapping | None = None) -> Conversion:
    """The FHIR R4 Bundle of `message` and the list of what was not mapped."""
    _load()
    text, unmapped = _ops.fhir_convert(_message(message), bundle_type, _maps(mapping), 1)
    return Conversion(text, unmapped)


def to_json(message: Message | str | bytes, *, bundle_type: Literal["message", "transaction", "collection"] = "message",
            mapping: Mapping | None = None) -> str:
    """The FHIR R4 Bundle of `message` as JSON text, written in C++."""
    _load()
    text: str = _ops.fhir_convert(_message(message), bundle_type, _maps(mapping), 0)
    return text


def to_dict(message: Message | str | bytes, *, bundle_type: Literal["message", "transaction", "collection"] = "message",
            mapping: Mapping | None = None) -> dict[str, Any]:
    """`json.loads(to_json(...))`."""
    result: dict[str, Any] = json.loads(to_json(message, bundle_type=bundle_type,
                                                mapping=mapping))
    return result


def resources_of(message: Message | str | bytes, *,
                 mapping: Mapping | None = None) -> list[tuple[str, str, str]]:
    """The resources of `message` alone, as (resourceType, id, JSON text),
    their references relative ("Patient/<id>"), as NDJSON holds them."""
    _load()
    rows: list[tuple[str, str, str]] = _ops.fhir_convert(
        _message(message), "collection", _maps(mapping), 2)
    return rows


from ._fhir_bulk import write_ndjson  # noqa: E402
