# Internal functions of the package; use the package's own names.
from collections.abc import Callable, Iterator
from typing import final, type_check_only

from . import Message as Message, PanicException as PanicException

@final
@type_check_only
class ReadState(Iterator[Message]):
    @property
    def ordinal(self) -> int: ...
    @property
    def offset(self) -> int: ...
    @property
    def skipped(self) -> int: ...
    @property
    def position(self) -> int: ...
    def __next__(self) -> Message: ...

def read_messages(
    read: Callable[[int], bytes],
    codec_for: Callable[[str], str],
    encoding: str | None,
    skip: bool,
    error_type: Callable[[int, int, str], BaseException],
) -> ReadState: ...
