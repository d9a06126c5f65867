"""vellomar: a fast HL7 v2 message parser with a C++ core.

Everything public comes from the extension module :mod:`vellomar._core`.
"""

from . import _core
from ._core import *  # noqa: F403

__all__ = list(_core.__all__)
