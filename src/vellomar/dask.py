"""Tables of HL7 v2 archives as Dask DataFrames.

``read_hl7`` cuts every file into byte ranges of about ``blocksize`` bytes
and makes one partition of each with :func:`vellomar.table`, so that several
workers share one large file. As a CSV reader cuts at line ends, a range is
moved forward to the next message start, by the reader's own rule (see
vellomar._ranges): each message belongs to the range in which it begins, and
the ranges together hold every message of the file exactly once.
"""

from __future__ import annotations

import os
from collections.abc import Iterable, Mapping, Sequence
from typing import TYPE_CHECKING, Any

try:
    import dask.dataframe as _dd
    import fsspec as _fsspec
    import pandas as _pd
    import pyarrow as _pa
    from dask.utils import parse_bytes as _parse_bytes
except ImportError as error:  # pragma: no cover - depends on the environment
    raise ImportError(
        "vellomar.dask needs dask[dataframe] and distributed: "
        "pip install 'vellomar[dask]'"
    ) from error

import vellomar

from ._ranges import Range as _Range
from ._ranges import message_start as _message_start

if TYPE_CHECKING:
    from fsspec import AbstractFileSystem

__all__ = ["read_hl7"]


def read_hl7(
    paths_or_glob: str | os.PathLike[str] | Iterable[str | os.PathLike[str]],
    columns: Mapping[str, str] | Sequence[str],
    *,
    rows: str | None = None,
    blocksize: int | str | None = "64MiB",
) -> Any:
    """A Dask DataFrame of the messages of HL7 v2 files.

    ``paths_or_glob`` is a path, a glob pattern or a list of them (any
    location fsspec opens). ``columns`` and ``rows`` are those of
    :func:`vellomar.table`: one row per message, or one per occurrence of the
    segment ``rows``; every column holds strings, with missing values null.
    ``blocksize`` (bytes, or a text such as "64MiB"; None for one partition
    per file) is the size of the byte ranges that files are cut into.
    """
    if isinstance(paths_or_glob, (str, os.PathLike)):
        urlpath: Any = os.fspath(paths_or_glob)
    else:
        urlpath = [os.fspath(p) for p in paths_or_glob]
    fs, _, paths = _fsspec.core.get_fs_token_paths(urlpath, mode="rb")
    if not paths:
        raise FileNotFoundError(f"no file matches {urlpath!r}")
    size = None if blocksize is None else _parse_bytes(blocksize)
    if size is not None and size < 1:
        raise ValueError(f"blocksize must be positive, not {blocksize!r}")
    # The columns are checked here, on the client, before any task runs (a
    # str is left for the table to refuse).
    if isinstance(columns, Mapping):
        columns = dict(columns)
    elif not isinstance(columns, str):
        columns = list(columns)
    meta = _partition(b"", columns, rows)
    blocks = []
    for path in paths:  # a glob comes sorted; a list keeps its order
        length = fs.size(path)
        step = length if size is None else size
        blocks.extend(
            (path, offset, step, length) for offset in range(0, max(length, 1), max(step, 1))
        )
    return _dd.from_map(
        _BlockReader(fs, columns, rows), blocks, meta=meta, label="read-hl7",
        enforce_metadata=False,
    )


class _BlockReader:
    """The task of one partition: the table of the messages that start in a
    block (path, offset, length, size of the file)."""

    def __init__(
        self, fs: AbstractFileSystem, columns: dict[str, str] | list[str], rows: str | None
    ) -> None:
        self.fs = fs
        self.columns = columns
        self.rows = rows

    def __call__(self, block: tuple[str, int, int, int]) -> _pd.DataFrame:
        path, offset, length, size = block
        with self.fs.open(path, "rb") as file:
            start = _message_start(file, offset, size)
            end = _message_start(file, offset + length, size)
            file.seek(start)
            return _partition(_Range(file, end - start), self.columns, self.rows)


def _partition(
    source: bytes | _Range, columns: dict[str, str] | list[str], rows: str | None
) -> _pd.DataFrame:
    # The table reads the range in chunks (each message decoded by its
    # MSH-18); the columns go through Arrow's C stream to pandas without a
    # Python object per value.
    return _pa.table(vellomar.table(source, columns, rows=rows)).to_pandas()
