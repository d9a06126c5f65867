"""Pickling of Message, Segment, Field and Component.

The classes have no constructor, so each is reduced to the private function
that rebuilds it and one compact text: a message's raw text, or a child's own
raw text with its message's encoding characters (see record_state in the
core). The reducers are registered with copyreg, which also serves
copy.copy and copy.deepcopy; the classes themselves keep their members.
"""

import copyreg
from collections.abc import Callable

from . import _core, _ops


_Record = _core.Message | _core.Segment | _core.Field | _core.Component


def _reduce(record: _Record) -> tuple[Callable[[str], _Record], tuple[str]]:
    return _ops.record_from_state, (_ops.record_state(record),)


# (The stubs give the classes a __new__ that never returns, which the type
# checker takes for the class objects' own type.)
for _cls in (_core.Message, _core.Segment, _core.Field, _core.Component):
    copyreg.pickle(_cls, _reduce)  # type: ignore[arg-type]
