"""vellomar — High-performance HL7v2 message parser."""

import datetime
from typing import ClassVar, NoReturn, NotRequired, Self, SupportsIndex, TypedDict, final, type_check_only

__all__ = [
    "Message",
    "Segment",
    "Field",
    "Component",
    "MessageIterator",
    "SegmentIterator",
    "parse",
    "parse_batch",
    "parse_datetime",
    "parse_date",
]

# The layouts returned by the `to_dict` methods. They exist for type checkers
# only; at run time the results are plain `dict` and `list` objects.

@type_check_only
class _FieldDict(TypedDict):
    value: str
    components: list[str]
    # Present only when the field repeats: one entry per repetition.
    repetitions: NotRequired[list[_FieldDict]]

@type_check_only
class _SegmentDict(TypedDict):
    name: str
    fields: list[_FieldDict]

@type_check_only
class _MessageDict(TypedDict):
    segments: list[_SegmentDict]

@final
class Message:
    """A parsed HL7v2 message.

    Made only by `parse` and `parse_batch`; every member returns a new copy,
    so objects taken from a message stay valid after it is gone. Equality and
    hashing are by identity.
    """

    def __new__(cls, *args: object, **kwargs: object) -> NoReturn:
        """Always raises TypeError "No constructor defined for Message"."""

    @property
    def raw(self) -> str:
        """The parsed text, without the MLLP frame if there was one."""

    @property
    def segments(self) -> list[Segment]:
        """A new list of copies of all segments, in message order."""

    def segment(self, name: str) -> Segment:
        """Return the first segment matching the given name.

        Raises KeyError "Segment '{name}' not found".
        """

    def segments_by_name(self, name: str) -> list[Segment]:
        """Return all segments matching the given name.

        The match is exact and case-sensitive; an empty list when none matches.
        """

    def __len__(self) -> int:
        """The number of segments."""

    def __iter__(self) -> MessageIterator:
        """A new iterator over copies of the segments."""

    def __getitem__(self, path: str, /) -> str:
        """Terser path access: `msg["PID-5-1"]`, `msg["OBX(1)-5"]`.

        Raises ValueError for a malformed path, KeyError for a missing segment
        and IndexError for a number out of range; never returns None.
        """

    def get(self, path: str) -> str:
        """Terser path access method. Same as bracket notation."""

    @property
    def message_type(self) -> tuple[str, str]:
        """Message type, e.g. ("ADT", "A01").

        Components 1 and 2 of MSH-9; a missing component is "".
        """

    @property
    def control_id(self) -> str:
        """Message control ID from MSH-10."""

    @property
    def version(self) -> str:
        """HL7 version from MSH-12."""

    @property
    def sending_application(self) -> str:
        """Sending application from MSH-3."""

    @property
    def sending_facility(self) -> str:
        """Sending facility from MSH-4."""

    def to_dict(self) -> _MessageDict:
        """Serialize the entire message to a Python dict.

        Layout: {"segments": [{"name": ..., "fields": [{"value": ...,
        "components": [...], "repetitions": [...]}]}]}; "repetitions" only
        for repeating fields; no raw text and no sub-components.
        """

    def to_json(self) -> str:
        """Serialize the entire message to a JSON string.

        Indented by two spaces, with every record member ("raw", "segments",
        "name", "fields", "value", "components", "repetitions",
        "sub_components").
        """

    def ack(self, ack_code: str = "AA", text: str = "") -> str:
        """Generate an ACK response message.

        `ack_code`: "AA" (accept), "AE" (error), "AR" (reject). Default: "AA".
        `text`: Optional text message for MSA-3.
        """

@final
class Segment:
    """A single segment within an HL7v2 message (e.g. MSH, PID, OBX)."""

    def __new__(cls, *args: object, **kwargs: object) -> NoReturn:
        """Always raises TypeError "No constructor defined for Segment"."""

    @property
    def name(self) -> str:
        """The segment name, e.g. "PID"."""

    @property
    def fields(self) -> list[Field]:
        """A new list of copies of the fields; `fields[0]` is field 1."""

    def field(self, index: SupportsIndex) -> Field:
        """Return field at 1-based index.

        For MSH, field(1) returns the field separator "|".
        """

    def to_dict(self) -> _SegmentDict:
        """Serialize to a Python dict."""

    def __getitem__(self, index: SupportsIndex, /) -> Field:
        """Same as `field(index)`: 1-based, no negative indices or slices."""

    def __len__(self) -> int:
        """The number of fields (for MSH, MSH-1 included)."""

    def __iter__(self) -> SegmentIterator:
        """A new iterator over copies of the fields."""

@final
class Field:
    """A single field within an HL7v2 segment.

    Fields may contain components (separated by `^`) and repetitions (separated
    by `~`).
    """

    def __new__(cls, *args: object, **kwargs: object) -> NoReturn:
        """Always raises TypeError "No constructor defined for Field"."""

    @property
    def value(self) -> str:
        """The whole escape-decoded field text, separators included."""

    @property
    def components(self) -> list[Component]:
        """The components of the first repetition; never empty."""

    @property
    def repetitions(self) -> list[Field]:
        """One field per repetition, or an empty list if the field does not repeat."""

    def component(self, index: SupportsIndex) -> Component:
        """Return component at 1-based index."""

    def to_dict(self) -> _FieldDict:
        """Serialize to a Python dict."""

    def __getitem__(self, index: SupportsIndex, /) -> Component:
        """Same as `component(index)`: 1-based, no negative indices or slices."""

    def __len__(self) -> int:
        """The number of components (not repetitions); at least 1."""
    # A field is not iterable, although it can be subscripted by number:
    # iterate over `components` or `repetitions` instead.
    __iter__: ClassVar[None]

@final
class Component:
    """A single component within an HL7v2 field.

    Components may contain sub-components separated by `&`.
    """

    def __new__(cls, *args: object, **kwargs: object) -> NoReturn:
        """Always raises TypeError "No constructor defined for Component"."""

    @property
    def value(self) -> str:
        """The whole escape-decoded component text, sub-component separators included."""

    @property
    def sub_components(self) -> list[str]:
        """The escape-decoded sub-components; never empty."""

    def sub_component(self, index: SupportsIndex) -> str:
        """Return sub-component at 1-based index."""

@final
class MessageIterator:
    """Iterator over segments in a message."""

    def __new__(cls, *args: object, **kwargs: object) -> NoReturn:
        """Always raises TypeError "No constructor defined for MessageIterator"."""

    def __iter__(self) -> Self: ...
    def __next__(self) -> Segment: ...

@final
class SegmentIterator:
    """Iterator over fields in a segment."""

    def __new__(cls, *args: object, **kwargs: object) -> NoReturn:
        """Always raises TypeError "No constructor defined for SegmentIterator"."""

    def __iter__(self) -> Self: ...
    def __next__(self) -> Field: ...

def parse(raw: str) -> Message:
    """Parse a raw HL7v2 message string into a `Message` object.

    Handles MLLP-framed input automatically. Supports `\\r`, `\\n`, and `\\r\\n`
    segment delimiters. Raises ValueError with the parser's message for text
    that is not a message.
    """

def parse_batch(raw: str) -> list[Message]:
    """Parse a batch of HL7v2 messages from a raw string.

    Handles:
    - FHS/BHS/BTS/FTS wrapped files (batch headers/trailers are stripped)
    - Multiple messages separated by `MSH` segment headers

    Returns a list of parsed `Message` objects.
    """

def parse_datetime(raw: str) -> datetime.datetime:
    """Parse an HL7v2 timestamp string into a Python `datetime.datetime`.

    Handles full and partial timestamps:
    - `"20230101"` → `datetime(2023, 1, 1)`
    - `"20230101120000"` → `datetime(2023, 1, 1, 12, 0, 0)`
    - `"20230101120000.123"` → `datetime(2023, 1, 1, 12, 0, 0, 123000)`
    - `"20230101120000-0500"` → `datetime(2023, 1, 1, 12, 0, 0, tzinfo=...)`

    Naive without an offset, aware with one.
    """

def parse_date(raw: str) -> datetime.date:
    """Parse an HL7v2 timestamp into just a Python `datetime.date`."""
