"""Messages started from nothing: a header that `edit` then fills."""

from __future__ import annotations

import datetime
import os
from collections.abc import Sequence

from . import _ops
from ._core import Message, parse

__all__ = ["new_message"]

# A header with the default delimiters and nothing else, the start of every new message.
_EMPTY = parse("MSH|^~\\&")

Value = str | Sequence[str] | None


def new_message(
    message_type: str | Sequence[str],
    *,
    version: str = "2.5.1",
    control_id: str | None = None,
    time: datetime.datetime | str | None = None,
    processing_id: Value = "P",
    sending_application: Value = None,
    sending_facility: Value = None,
    receiving_application: Value = None,
    receiving_facility: Value = None,
    charset: Value = None,
) -> Message:
    """A new message of its MSH segment alone, with the default delimiters
    ``|^~\\&``: MSH-9 `message_type` ("ADT^A01" or its components, e.g.
    ("ADT", "A01", "ADT_A01")), MSH-12 `version`, MSH-10 `control_id` (a
    fresh random one of 20 hex digits by default), MSH-7 `time` (now, with
    the local UTC offset, by default; a naive datetime is written without
    one), MSH-11 `processing_id`, MSH-3 to MSH-6 the sending and receiving
    application and facility, MSH-18 `charset`. A str is one value, escaped
    as `edit` escapes it; a sequence of str gives the components. `edit`
    adds the rest: ``edit(new_message("ADT^A01"), {"PID(+)-5-1": "Doe"})``."""
    if isinstance(message_type, str):
        message_type = message_type.split("^")
    if time is None:
        time = datetime.datetime.now().astimezone()
    if isinstance(time, datetime.datetime):
        time = time.strftime("%Y%m%d%H%M%S%z")
    fields: dict[int, Value] = {
        3: sending_application, 4: sending_facility, 5: receiving_application,
        6: receiving_facility, 7: time, 9: message_type,
        10: os.urandom(10).hex() if control_id is None else control_id,
        11: processing_id, 12: version, 18: charset,
    }
    changes: dict[str, str | None] = {}
    for number, value in fields.items():
        if isinstance(value, str):
            changes[f"MSH-{number}"] = value
        elif value is not None:
            for component, text in enumerate(value, 1):
                changes[f"MSH-{number}-{component}"] = text
    return _ops.edit(_EMPTY, changes)
