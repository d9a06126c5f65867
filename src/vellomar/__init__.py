"""vellomar: a fast HL7 v2 message parser with a C++ core.

The message classes and parse functions come from the extension module
:mod:`vellomar._core`; the package adds its own functions beside them.
"""

import importlib.util as _util
import sys as _sys

from . import _core
from ._core import *  # noqa: F403


class _OpsFinder:
    """Finds the private entry vellomar._ops, which sits in _core's own
    library file (so that both share one set of classes): the import system
    then loads it as any extension module, by the extension loader that the
    file's suffix selects."""

    name = __name__ + "._ops"

    @classmethod
    def find_spec(cls, name, path=None, target=None):  # type: ignore[no-untyped-def]
        if name != cls.name:
            return None
        return _util.spec_from_file_location(name, _core.__file__)


# Last: the package's own directory holds no _ops file, so nothing else finds it.
_sys.meta_path.append(_OpsFinder)
from . import _ops  # noqa: E402

PanicException = _ops.PanicException

from . import _pickling  # noqa: E402,F401  (registers the reducers)
from .charsets import decode  # noqa: E402
from .read import MessageError, Reader, read  # noqa: E402
from .table import Table, table, table_batches  # noqa: E402
from .writer import write  # noqa: E402
from .structure import Finding, Group, SegmentRef, ack, describe, get, structure, validate  # noqa: E402
from .compose import new_message  # noqa: E402

# Editing lives in the core: each is the C function itself, no Python layer.
edit = _ops.edit
values = _ops.values
escape = _ops.escape
er7 = _ops.er7

__all__ = [
    *_core.__all__, "PanicException", "decode", "read", "write", "Reader", "MessageError", "table",
    "table_batches", "Table", "edit", "values", "escape", "structure", "validate", "describe", "get",
    "ack", "Finding", "Group", "SegmentRef", "er7", "new_message",
]


# The one place that holds the version; the build reads it from here.
__version__ = "0.1.0"


def __getattr__(name: str) -> object:
    # vellomar.mllp and vellomar.dask are imported when first used: plain
    # parsing and the command line do not pay for asyncio and ssl, and dask
    # is an optional extra.
    if name in ("mllp", "dask"):
        import importlib

        return importlib.import_module(f".{name}", __name__)
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")
