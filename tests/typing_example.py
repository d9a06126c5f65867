"""Typed use of the API for `mypy --strict` (not collected by pytest): each assert_type states what a
checker must infer; each `# type: ignore[...]` marks a misuse it must reject (unused ignores fail the run)."""

import datetime
import io
from collections.abc import Iterator
from typing import assert_type

import vellomar
from vellomar import Component, Field, Message, Segment, parse


def use(msg: Message, seg: Segment, field: Field) -> None:
    assert_type((msg.raw, msg.segments, msg.segment("PID"), msg.segments_by_name(name="OBX"), len(msg), [s for s in msg]),
                tuple[str, list[Segment], Segment, list[Segment], int, list[Segment]])
    assert_type((seg.name, seg.fields, seg.field(5), seg[5], [f for f in seg]), tuple[str, list[Field], Field, Field, list[Field]])
    assert_type((field.value, field.components, field.repetitions, field[1], field.component(index=1)),
                tuple[str, list[Component], list[Field], Component, Component])
    assert_type((field[1].sub_components, field[1].sub_component(1)), tuple[list[str], str])
    assert_type((msg["PID-5-1"], msg.get(path="OBX(1)-5"), msg.message_type, msg.control_id, msg.version, msg.sending_application,
                 msg.sending_facility, msg.ack(), msg.ack("AE", text="x"), msg.to_json()),
                tuple[str, str, tuple[str, str], str, str, str, str, str, str, str])
    first = msg.to_dict()["segments"][0]["fields"][0]
    assert_type((first["components"], [r["value"] for r in first.get("repetitions", [])]), tuple[list[str], list[str]])
    assert_type(seg.to_dict()["fields"], list[vellomar._core._FieldDict])
    assert_type((parse("MSH|^~\\&"), vellomar.parse_batch(""), vellomar.parse_datetime("2023"), vellomar.parse_date(""),
                 vellomar.__version__), tuple[Message, list[Message], datetime.datetime, datetime.date, str])
    assert_type((vellomar.write(io.BytesIO(), [msg, "MSH|^~\\&"]), vellomar.write("out.hl7", msg, framing="mllp")), tuple[int, int])
    vellomar.write("out.hl7", [msg], framing="tcp")  # type: ignore[arg-type]
    parse(b"MSH|")  # type: ignore[arg-type]
    msg.segment(5)  # type: ignore[arg-type]
    seg.field("5")  # type: ignore[arg-type]
    msg[5]  # type: ignore[index]
    msg.ack(code="AE")  # type: ignore[call-arg]
    msg.raw = "x"  # type: ignore[misc]
    msg.anything = 1  # type: ignore[attr-defined]
    msg.to_dict()["raw"]  # type: ignore[typeddict-item]
    field.component(1).to_dict()  # type: ignore[attr-defined]
    list(field)  # type: ignore[call-overload]
    len(field.component(1))  # type: ignore[arg-type]

    class Sub(Message):  # type: ignore[misc]
        pass


def tables(path: str) -> None:
    t = vellomar.table(path, {"mrn": "PID-3-1"}, errors="keep", fallback_encoding="latin-1", provenance=True)
    assert_type((t.errors, t.column_names, vellomar.table_batches(path, ["PID-3"], batch_rows=10)),
                tuple[list[vellomar.MessageError], list[str], Iterator[vellomar.Table]])
    vellomar.table(path, ["PID-3"], errors="ignore")  # type: ignore[arg-type]
