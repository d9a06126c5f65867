"""vellomar: a fast HL7 v2 message parser with a C++ core.

Everything public comes from the extension module :mod:`vellomar._core`.
"""

from . import _core
from ._core import *  # noqa: F403

__all__ = list(_core.__all__)

# The one place that holds the version; the build reads it from here.
__version__ = "0.1.0"
