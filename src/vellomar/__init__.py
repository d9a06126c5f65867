"""vellomar: a fast HL7 v2 message parser with a C++ core.

The message classes and parse functions come from the extension module
:mod:`vellomar._core`; the package adds its own functions beside them.
"""

import importlib.machinery as _machinery
import importlib.util as _util
import sys as _sys

from . import _core
from ._core import *  # noqa: F403


def _load_ops():  # type: ignore[no-untyped-def]
    # The private entry _ops sits in _core's own library file (so that both
    # share one set of classes); it is loaded from that file under its name.
    name = __name__ + "._ops"
    loader = _machinery.ExtensionFileLoader(name, _core.__file__)
    spec = _util.spec_from_file_location(name, _core.__file__, loader=loader)
    module = _util.module_from_spec(spec)  # type: ignore[arg-type]
    _sys.modules[name] = module
    return module


_ops = _load_ops()
PanicException = _ops.PanicException

from . import _pickling  # noqa: E402,F401  (registers the reducers)
from .charsets import decode  # noqa: E402
from .read import MessageError, Reader, read  # noqa: E402
from .table import Table, table, table_batches  # noqa: E402

# Editing lives in the core: each is the C function itself, no Python layer.
edit = _ops.edit
values = _ops.values
escape = _ops.escape

__all__ = [
    *_core.__all__, "PanicException", "decode", "read", "Reader", "MessageError", "table", "table_batches", "Table",
    "edit", "values", "escape",
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
