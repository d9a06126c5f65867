"""Tables of HL7 v2 archives as Dask DataFrames.

``read_hl7`` cuts every file into byte ranges of about ``blocksize`` bytes
and makes one partition of each with ``vellomar.table.range_batches`` (a table
numbered and placed as in the whole file), so that several
workers share one large file. As a CSV reader cuts at line ends, a range is
moved forward to the next message start, by the reader's own rule (see
vellomar._ranges): each message belongs to the range in which it begins, and
the ranges together hold every message of the file exactly once.
"""

from __future__ import annotations

import logging
import operator
import os
from collections.abc import Iterable, Mapping, Sequence
from typing import TYPE_CHECKING, Any, Literal

try:
    import dask.dataframe as _dd
    import fsspec as _fsspec
    import pandas as _pd
    import pyarrow as _pa
    from dask import delayed as _delayed
    from dask.dataframe.utils import pyarrow_strings_enabled as _pyarrow_strings_enabled
    from dask.utils import parse_bytes as _parse_bytes
except ImportError as error:  # pragma: no cover - depends on the environment
    raise ImportError(
        "vellomar.dask needs dask[dataframe] and distributed: "
        "pip install 'vellomar[dask]'"
    ) from error

import vellomar
from vellomar.table import count_range, range_batches

from ._ranges import message_range as _message_range, readable_size

if TYPE_CHECKING:
    from fsspec import AbstractFileSystem

__all__ = ["read_hl7", "read_fhir"]

_log = logging.getLogger("vellomar.dask")



def _files_of(paths_or_glob: Any) -> tuple[AbstractFileSystem, list[str]]:
    """The file system and the files a path, a glob or a list of them names;
    FileNotFoundError when they name none."""
    if isinstance(paths_or_glob, (str, os.PathLike)):
        urlpath: Any = os.fspath(paths_or_glob)
    else:
        urlpath = [os.fspath(p) for p in paths_or_glob]
    fs, _, paths = _fsspec.core.get_fs_token_paths(urlpath, mode="rb")
    if not paths:
        raise FileNotFoundError(f"no file matches {urlpath!r}")
    return fs, paths

def _block_size(blocksize: int | str | None) -> int | None:
    size = None if blocksize is None else _parse_bytes(blocksize)
    if size is not None and size < 1:
        raise ValueError(f"blocksize must be positive, not {blocksize!r}")
    return size


def _blocks(fs: AbstractFileSystem, paths: list[str], size: int | None) -> list[tuple[str, int, int, int]]:
    """The byte ranges (path, offset, length, size of the file) of about
    `size` bytes (None: whole files) that the files are cut into."""
    blocks = []
    for path in paths:  # a glob comes sorted; a list keeps its order
        length = fs.size(path)
        if "file" in (fs.protocol if isinstance(fs.protocol, tuple) else (fs.protocol,)):
            length = readable_size(path, length)  # a live store: its durable part
        step = length if size is None else size
        blocks.extend(
            (path, offset, step, length) for offset in range(0, max(length, 1), max(step, 1))
        )
    return blocks


def read_hl7(
    paths_or_glob: str | os.PathLike[str] | Iterable[str | os.PathLike[str]],
    columns: Mapping[str, str] | Sequence[str],
    *,
    rows: str | None = None,
    blocksize: int | str | None = "64MiB",
    errors: Literal["raise", "skip", "keep"] = "raise",
    encoding: str | None = None,
    fallback_encoding: str | None = None,
    provenance: bool = False,
) -> Any:
    """A Dask DataFrame of the messages of HL7 v2 files.

    ``paths_or_glob`` is a path, a glob pattern or a list of them (any
    location fsspec opens). ``columns``, ``rows``, ``errors``, ``encoding``,
    ``fallback_encoding`` and ``provenance`` are those of
    :func:`vellomar.table`: one row per message, or one per occurrence of the
    segment ``rows``; every path column holds strings, with missing values
    null. Errors and provenance name the file and count messages and bytes
    from its start, whatever the partition. With errors="skip" each bad
    message is logged (logger "vellomar.dask", on the worker) and left out.
    ``blocksize`` (bytes, or a text such as "64MiB"; None for one partition
    per file) is the size of the byte ranges that files are cut into.

    Message numbers need the messages before each range: with
    ``provenance=True`` a counting task per range (the cutter alone, no
    decoding or parsing) runs first and each partition starts from the sum
    of the counts before it; otherwise the count is made only for a range
    whose bad message must be named.
    """
    fs, paths = _files_of(paths_or_glob)
    size = _block_size(blocksize)
    # The columns and options are checked here, on the client, before any
    # task runs (a str is left for the table to refuse).
    if isinstance(columns, Mapping):
        columns = dict(columns)
    elif not isinstance(columns, str):
        columns = list(columns)
    options = {"rows": rows, "errors": errors, "encoding": encoding,
               "fallback_encoding": fallback_encoding, "provenance": provenance}
    meta = _pa.table(vellomar.table(b"", columns, **options)).to_pandas()
    reader = _BlockReader(fs, columns, options)
    blocks = _blocks(fs, paths, size)
    if not provenance:
        return _dd.from_map(reader, blocks, meta=meta, label="read-hl7", enforce_metadata=False)
    # Each partition gets the count of the messages of its file before it:
    # a chain of sums over one counting task per range.
    parts, before, last_path = [], None, None
    for block in blocks:
        if block[0] != last_path:
            before, last_path = 0, block[0]
        parts.append(_delayed(reader)(block, before))
        before = _delayed(operator.add)(before, _delayed(reader.count)(block))
    frame = _dd.from_delayed(parts, meta=meta, verify_meta=False)
    if _pyarrow_strings_enabled():  # from_map converts strings so; from_delayed does not
        frame = frame.astype({name: "string[pyarrow]" for name in meta.columns
                              if name not in ("source_message", "source_offset")})
    return frame


class _BlockReader:
    """The task of one partition: the table of the messages that start in a
    block (path, offset, length, size of the file)."""

    def __init__(
        self, fs: AbstractFileSystem, columns: dict[str, str] | list[str], options: dict[str, Any]
    ) -> None:
        self.fs = fs
        self.columns = columns
        self.options = options

    def _range(self, block: tuple[str, int, int, int]) -> tuple[int, int]:
        path, offset, length, size = block
        with self.fs.open(path, "rb") as file:
            return _message_range(file, offset, offset + length, size)

    def count(self, block: tuple[str, int, int, int]) -> int:
        """The number of messages that start in the block."""
        start, end = self._range(block)
        return count_range(lambda: self.fs.open(block[0], "rb"), start, end)

    def __call__(self, block: tuple[str, int, int, int], before: int | None = None) -> _pd.DataFrame:
        start, end = self._range(block)
        (result,) = range_batches(lambda: self.fs.open(block[0], "rb"), block[0], start, end,
                                  self.columns, before=before, **self.options)
        for error in result.errors if self.options["errors"] == "skip" else ():
            _log.warning("%s", error)
        # The columns go through Arrow's C stream to pandas without a Python
        # object per value.
        return _pa.table(result).to_pandas()


def read_fhir(
    paths_or_glob: str | os.PathLike[str] | Iterable[str | os.PathLike[str]],
    *,
    mapping: Any = None,
    blocksize: int | str | None = "8MiB",
    errors: Literal["raise", "skip"] = "raise",
    encoding: str | None = None,
) -> Any:
    """A Dask DataFrame of the FHIR R4 resources of the messages of HL7 v2
    files (see vellomar.fhir): one row per resource, the string columns
    ``resourceType``, ``id`` and ``resource`` (its JSON text, references as
    ``Type/id``), so that ``to_json`` grouped by ``resourceType`` gives Bulk
    Data NDJSON. Files are cut into byte ranges of about ``blocksize`` as by
    ``read_hl7``, one partition each (a partition holds its resources' JSON,
    about 15 times the bytes of its messages: 8 MiB of them make a frame of
    some 120 MB, 64 MiB one of a gigabyte); a range's messages are converted in
    batches in C++ and cut into rows without a Python object per resource.
    A bad message is named by its number and byte offset in its file; with
    errors="skip" it is logged (logger "vellomar.dask") and left out."""
    from . import fhir
    from ._fhir_bulk import arrow_rows

    fs, paths = _files_of(paths_or_glob)
    if errors not in ("raise", "skip"):
        raise ValueError(f"errors must be 'raise' or 'skip', not {errors!r}")
    fhir._maps(mapping)  # a wrong type fails here, not in a task
    meta = arrow_rows({}).to_pandas()
    return _dd.from_map(_FhirReader(fs, mapping, errors, encoding), _blocks(fs, paths, _block_size(blocksize)),
                        meta=meta, label="read-fhir", enforce_metadata=False)


class _FhirReader:
    """The task of one partition: the resources of the messages that start
    in a block (path, offset, length, size of the file)."""

    def __init__(self, fs: AbstractFileSystem, mapping: Any, errors: str,
                 encoding: str | None) -> None:
        self.fs, self.mapping, self.errors, self.encoding = fs, mapping, errors, encoding

    def __call__(self, block: tuple[str, int, int, int]) -> _pd.DataFrame:
        from . import fhir
        from ._fhir_bulk import arrow_rows, range_lines
        from .read import MessageError

        fhir._load()
        path, offset, length, size = block
        with self.fs.open(path, "rb") as file:
            start, end = _message_range(file, offset, offset + length, size)

        def bad(error: MessageError) -> None:
            if self.errors == "raise":
                raise error
            _log.warning("%s", error)

        tables = [arrow_rows(lines) for lines, _ in range_lines(
            lambda: self.fs.open(path, "rb"), path, start, end, fhir._maps(self.mapping), self.encoding, bad)]
        return (_pa.concat_tables(tables) if tables else arrow_rows({})).to_pandas()
