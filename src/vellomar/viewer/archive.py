"""The messages of the files a viewer shows: an index of where each message
starts, messages read on demand, pages of list rows and filters.

The index holds one 64-bit offset per message, found by the core's cutter
without decoding or parsing (`_ops.message_offsets`), so opening an archive
costs a pass at the cutter's speed and 8 bytes a message. A message is read
again from its bytes when a page or the message itself is asked for. Filters
are terser path conditions evaluated by the table engine over the files.
"""

from __future__ import annotations

import bisect
import io
import os
import re
import threading
from array import array
from collections import OrderedDict
from collections.abc import Callable, Sequence
from dataclasses import dataclass, field
from typing import Any

from .. import _ops
from .._core import Message
from ..read import MessageError, read, without_bom
from ..structure import validate
from ..table import table_batches

__all__ = ["Archive", "IndexedFile", "parse_filter", "FilterError"]

# What a row of the list and a message's title show: (name, terser path).
SUMMARY = {"code": "MSH-9-1", "event": "MSH-9-2", "control_id": "MSH-10", "time": "MSH-7",
           "patient_id": "PID-3-1", "version": "MSH-12-1"}
# Filters whose matches are kept, most recently used last.
KEPT_FILTERS = 8
# Rows of a filter's table batch: memory for a few thousand messages' values.
FILTER_BATCH_ROWS = 8192


@dataclass
class IndexedFile:
    """A file of the archive: its name as given, its size when indexed, and
    the offsets of its messages (counted from the file's start)."""

    name: str
    size: int
    offsets: array[int]  # of "Q"
    first: int = 0  # the archive's number of its first message (0-based)
    bom: int = 0  # bytes of a byte order mark before the first message

    def span(self, index: int) -> tuple[int, int]:
        """The bytes [start, end) of the file's message `index` (0-based)."""
        end = self.offsets[index + 1] if index + 1 < len(self.offsets) else self.size - self.bom
        return self.offsets[index] + self.bom, end + self.bom


def index_file(name: str) -> IndexedFile:
    """The index of the file `name`; OSError when it cannot be read."""
    with open(name, "rb", buffering=0) as file:
        size = os.fstat(file.fileno()).st_size
        reader, _, bom = without_bom(file.read)
        # The bytes there now: a file still being written is indexed as it was.
        offsets = array("Q")
        offsets.frombytes(_ops.message_offsets(reader, max(size - bom, 0)))
    return IndexedFile(name, size, offsets, bom=bom)


class FilterError(ValueError):
    """A filter that is not a list of conditions; the text says why."""


_CONDITION = re.compile(r"\s*(\S+?)\s*(!=|=|~)\s*(.*?)\s*\Z", re.S)


def parse_filter(text: str) -> list[tuple[str, str, str]]:
    """The conditions (path, operator, value) of a filter: conditions joined
    by ";", each `PATH = VALUE` (equal), `PATH != VALUE` (not equal) or
    `PATH ~ TEXT` (contains TEXT, ignoring case). A path a message lacks
    reads as ""."""
    conditions = []
    for part in text.split(";"):
        if not part.strip():
            continue
        match = _CONDITION.match(part)
        if not match:
            raise FilterError(
                f"{part.strip()!r} is not a condition: PATH = VALUE, PATH != VALUE or PATH ~ TEXT")
        path, operator, value = match.groups()
        problem = _ops.check_path(path)
        if problem is not None:
            raise FilterError(f"{path}: {problem}")
        conditions.append((path, operator, value))
    return conditions


def summary(message: Message) -> dict[str, str]:
    """The message's type ("ADT^A01"), control ID, time, patient ID and
    version; "" for what it lacks."""
    values = {}
    for name, path in SUMMARY.items():
        try:
            values[name] = message.get(path)
        except (KeyError, IndexError):
            values[name] = ""
    code, event = values.pop("code"), values.pop("event")
    return {"type": f"{code}^{event}" if event else code, **values}


def _test(operator: str, value: str) -> Callable[[str | None], bool]:
    if operator == "=":
        return lambda found: (found or "") == value
    if operator == "!=":
        return lambda found: (found or "") != value
    folded = value.casefold()
    return lambda found: folded in (found or "").casefold()


@dataclass
class Archive:
    """The indexed files and the messages they hold, numbered 0.. across
    the files in order. `encoding` decodes every message (None: each by its
    MSH-18)."""

    files: list[IndexedFile]
    encoding: str | None = None
    _filters: OrderedDict[str, Sequence[int]] = field(default_factory=OrderedDict)
    _lock: threading.Lock = field(default_factory=threading.Lock)

    def __post_init__(self) -> None:
        first = 0
        for file in self.files:
            file.first = first
            first += len(file.offsets)
        self.total = first
        self._firsts = [file.first for file in self.files]

    def locate(self, number: int) -> tuple[IndexedFile, int]:
        """The file of the archive's message `number` and its index there;
        IndexError when there is no such message."""
        if not 0 <= number < self.total:
            raise IndexError(f"no message {number + 1}: the files hold {self.total}")
        file = self.files[bisect.bisect_right(self._firsts, number) - 1]
        return file, number - file.first

    def message(self, number: int) -> Message | MessageError:
        """The archive's message `number`, read again from its file, or the
        MessageError that names the file, the message and its offset."""
        file, index = self.locate(number)
        start, end = file.span(index)
        try:
            with open(file.name, "rb") as handle:
                handle.seek(start)
                data = handle.read(end - start)
        except OSError as error:
            return MessageError(index + 1, start, error.strerror or str(error), file.name)
        try:
            # The reader decodes and parses as reading the whole file would.
            return next(read(io.BytesIO(data), encoding=self.encoding))
        except MessageError as error:
            return MessageError(index + 1, start + error.offset, error.reason, file.name)
        except StopIteration:
            return MessageError(index + 1, start, "the file has changed since it was opened",
                                file.name)

    def rows(self, numbers: Sequence[int]) -> list[dict[str, Any]]:
        """The list's rows of the archive's messages `numbers`."""
        rows = []
        for number in numbers:
            message = self.message(number)
            file, index = self.locate(number)
            row: dict[str, Any] = {"n": number, "file": file.name, "number": index + 1,
                                   "offset": file.span(index)[0]}
            if isinstance(message, MessageError):
                row["bad"] = message.reason
            else:
                row.update(summary(message))
                findings = validate(message)
                row["errors"] = sum(f.severity == "error" for f in findings)
                row["warnings"] = len(findings) - row["errors"]
            rows.append(row)
        return rows

    def select(self, text: str) -> Sequence[int]:
        """The numbers of the messages that meet the filter `text` (every
        message for a blank one); FilterError for a filter that is not one."""
        conditions = parse_filter(text)
        if not conditions:
            return range(self.total)
        key = ";".join(f"{path}\0{operator}\0{value}" for path, operator, value in conditions)
        with self._lock:  # one pass per filter, however many ask at once
            if key not in self._filters:
                self._filters[key] = self._matches(conditions)
                while len(self._filters) > KEPT_FILTERS:
                    self._filters.popitem(last=False)
            self._filters.move_to_end(key)
            return self._filters[key]

    def _matches(self, conditions: list[tuple[str, str, str]]) -> array[int]:
        tests = [_test(operator, value) for _, operator, value in conditions]
        columns = {str(number): path for number, (path, _, _) in enumerate(conditions)}
        found = array("Q")
        for file in self.files:
            count = len(file.offsets)
            for batch in table_batches(file.name, columns, errors="skip", provenance=True,
                                       encoding=self.encoding, batch_rows=FILTER_BATCH_ROWS):
                data = batch.to_pydict()
                values = [data[name] for name in columns]
                found.extend(
                    file.first + ordinal - 1
                    for ordinal, *row in zip(data["source_message"], *values)
                    if ordinal <= count and all(test(v) for test, v in zip(tests, row)))
        return found
