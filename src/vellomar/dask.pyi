import os
from collections.abc import Iterable, Mapping, Sequence
from typing import Any, Literal

__all__ = ["read_hl7", "read_fhir"]

# A dask.dataframe.DataFrame (Any, so that type checking needs no dask).
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
) -> Any: ...
def read_fhir(
    paths_or_glob: str | os.PathLike[str] | Iterable[str | os.PathLike[str]],
    *,
    mapping: Any = None,
    blocksize: int | str | None = "8MiB",
    errors: Literal["raise", "skip"] = "raise",
    encoding: str | None = None,
) -> Any: ...
