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
import re
import zoneinfo
from datetime import datetime, timedelta
from importlib import resources
from typing import Any, Callable, Iterable, Literal, NamedTuple, cast
from urllib.parse import unquote

from . import _ops
from ._core import Message, parse
from .charsets import codec_of
from .structure import load_definitions

__all__ = ["to_json", "to_dict", "convert", "resources_of", "Conversion", "Mapping",
           "write_ndjson", "Written"]


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

    __slots__ = ("_maps", "_text", "paths", "report", "zone")

    def __init__(self, maps: object, paths: tuple[str, ...], zone: str | None = None,
                 text: str | None = None) -> None:
        self._maps = maps
        self._text = text  # what the core compiled `maps` from
        self.paths = paths
        self.report: list[str] = []
        self.zone = zone

    def __reduce__(self) -> tuple[Callable[..., Mapping], tuple[Any, ...]]:
        # Sent to another process (a Dask worker, which a task's mapping
        # goes to pickled) as the text the core compiled, which that process
        # compiles again: the user's tables need not be there.
        if self._text is None:
            raise TypeError("only a Mapping made by Mapping.load can be pickled")
        return _compiled, (self._text, self.paths, self.zone, tuple(self.report))

    @classmethod
    def load(cls, paths: str | os.PathLike[str] | Iterable[str | os.PathLike[str]] = (), *,
             zone: str | None = None) -> Mapping:
        """A user's tables in the layouts of HL7's V2-to-FHIR CSVs, read over
        the package's: a message table adds its rows to the structure it
        names (a Z segment routed to a resource); a segment or data type map
        or a vocabulary replaces the package's of the same name (its file
        name: "ZPI[Patient].csv", "PID[Patient].csv", "AdministrativeSex.csv");
        a map without rows switches the package's off. Rows the converter
        cannot honour are listed in `report`.

        `zone` is the sender's time zone, which a time of day sent without an
        offset is in (the tables leave it to local configuration): a name of
        the IANA database ("America/New_York": each time takes the offset its
        own date and hour had there) or a fixed offset ("-05:00", "Z").
        Without one, such a time takes MSH-7's offset, else UTC."""
        from . import _fhir_tables

        _load()
        names: tuple[str | os.PathLike[str], ...] = (
            (paths,) if isinstance(paths, (str, os.PathLike)) else tuple(paths))
        data = _data()
        known = [unquote(line.split("\t")[1]) for line in data.splitlines()
                 if line.startswith(("S\t", "D\t"))]
        text = _fhir_tables.compile_files(names, _fhir_tables.TableShapes(data), known)
        if zone is not None:
            text += "".join(f"Z\t{start}\t{offset}\n" for start, offset in _zone_changes(zone))
        return _compiled(text, tuple(os.fspath(p) for p in names), zone, _fhir_tables.report)

    def __repr__(self) -> str:
        zone = "" if self.zone is None else f", zone={self.zone!r}"
        return f"Mapping.load({list(self.paths)!r}{zone})"


def _compiled(text: str, paths: tuple[str, ...], zone: str | None, report: Iterable[str]) -> Mapping:
    """A Mapping of the core's compiled `text` (see Mapping.load)."""
    _load()
    mapping = Mapping(_ops.fhir_mapping(text), paths, zone, text)
    mapping.report = list(report)
    return mapping


def _zone_table(zone: str) -> tuple[tuple[int, int], ...]:
    """The offsets of `zone` by local time, as the core reads them: from each
    local time (seconds from 1970-01-01T00:00 of the zone's clock) on, the
    offset in minutes east of UTC, 1900 to 2100. A local time a change skips
    or repeats takes the offset before the change, as zoneinfo's fold 0."""
    if not isinstance(zone, str):
        raise TypeError(f"zone must be a str or None, not {type(zone).__name__!r}")
    fixed = re.fullmatch(r"([+-])(\d\d):?(\d\d)", zone)
    if fixed or zone in ("Z", "UTC"):
        minutes = 0 if not fixed else int(fixed[2]) * 60 + int(fixed[3])
        if minutes > 14 * 60 or (fixed and int(fixed[3]) > 59):
            raise ValueError(f"zone {zone!r}: an offset is within 14 hours")
        return ((-(2 ** 62), -minutes if fixed and fixed[1] == "-" else minutes),)
    try:
        tz = zoneinfo.ZoneInfo(zone)
    except (zoneinfo.ZoneInfoNotFoundError, ValueError):
        if not zoneinfo.available_timezones():  # (a system without the database, and no tzdata)
            raise ValueError(f"zone {zone!r}: no IANA time zone database here "
                             "(pip install tzdata)") from None
        raise ValueError(f"zone {zone!r}: not a time zone of the IANA database, "
                         "nor an offset such as '-05:00'") from None

    def offset(local: datetime) -> int:
        return int(cast(timedelta, local.replace(tzinfo=tz).utcoffset()).total_seconds() // 60)

    # a day at a time, then the minute each change starts at, by halves
    epoch, day, end, minute = datetime(1970, 1, 1), datetime(1900, 1, 1), datetime(2101, 1, 1), timedelta(minutes=1)
    before = offset(day)
    changes = [(int((day - epoch).total_seconds()), before)]
    while day < end:
        following = day + timedelta(days=1)
        if (now := offset(following)) != before:
            low, high = day, following  # before at low, now at high
            while high - low > minute:
                middle = low + (high - low) // 2 // minute * minute
                low, high = (middle, high) if offset(middle) == before else (low, middle)
            changes.append((int((high - epoch).total_seconds()), now))
            before = now
        day = following
    return tuple(changes)


_zone_changes: Callable[[str], tuple[tuple[int, int], ...]] = functools.lru_cache(maxsize=16)(_zone_table)


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


from ._fhir_bulk import Written, write_ndjson  # noqa: E402
