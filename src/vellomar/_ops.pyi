# Internal functions of the package; use the package's own names.
from . import PanicException as PanicException
