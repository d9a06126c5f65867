"""Typed use of the public API, checked by mypy (not collected by pytest).

    python -m mypy --strict tests/typing_example.py

Each `assert_type` states the type a checker must infer; each line marked
`# type: ignore[...]` is a misuse the checker must reject (--strict includes
--warn-unused-ignores, so an ignore that is no longer needed fails the run).
"""

import datetime
from typing import assert_type

import vellomar
from vellomar import Component, Field, Message, Segment, parse

RAW = "MSH|^~\\&|SENDER|FAC|RECV|FAC|20230101||ADT^A01|123|P|2.5\rPID|1||MRN||DOE^JOHN"


def navigate(msg: Message) -> str:
    assert_type(msg.raw, str)
    assert_type(msg.segments, list[Segment])
    pid = msg.segment("PID")
    assert_type(pid, Segment)
    assert_type(msg.segments_by_name(name="OBX"), list[Segment])
    assert_type(len(msg), int)
    for segment in msg:
        assert_type(segment, Segment)
        for field in segment:
            assert_type(field, Field)
    assert_type(pid.name, str)
    assert_type(pid.fields, list[Field])
    field = pid.field(5)
    assert_type(pid[5], Field)
    assert_type(field.value, str)
    assert_type(field.components, list[Component])
    assert_type(field.repetitions, list[Field])
    assert_type(field[1], Component)
    component = field.component(index=1)
    assert_type(component.sub_components, list[str])
    assert_type(component.sub_component(1), str)
    return component.value


def query(msg: Message) -> tuple[str, str]:
    assert_type(msg["PID-5-1"], str)
    assert_type(msg.get(path="OBX(1)-5"), str)
    assert_type(msg.message_type, tuple[str, str])
    assert_type(msg.control_id, str)
    assert_type(msg.version, str)
    assert_type(msg.sending_application, str)
    assert_type(msg.sending_facility, str)
    assert_type(msg.ack(), str)
    assert_type(msg.ack("AE", text="Unknown patient"), str)
    return msg.message_type


def serialize(msg: Message) -> list[str]:
    as_dict = msg.to_dict()
    names = [segment["name"] for segment in as_dict["segments"]]
    first = as_dict["segments"][0]["fields"][0]
    assert_type(first["components"], list[str])
    for repetition in first.get("repetitions", []):
        assert_type(repetition["value"], str)
    assert_type(msg.segment("PID").to_dict()["fields"], list[vellomar._core._FieldDict])
    assert_type(msg.to_json(), str)
    return names


def module_functions() -> None:
    assert_type(parse(RAW), Message)
    assert_type(vellomar.parse_batch(RAW), list[Message])
    assert_type(vellomar.parse_datetime("20230101120000-0500"), datetime.datetime)
    assert_type(vellomar.parse_date("20230101"), datetime.date)
    assert_type(vellomar.__version__, str)


def misuse(msg: Message) -> None:
    parse(b"MSH|")  # type: ignore[arg-type]
    msg.segment(5)  # type: ignore[arg-type]
    msg.segment("PID").field("5")  # type: ignore[arg-type]
    msg[5]  # type: ignore[index]
    msg.ack(None)  # type: ignore[arg-type]
    msg.ack(code="AE")  # type: ignore[call-arg]
    msg.raw = "x"  # type: ignore[misc]
    msg.anything = 1  # type: ignore[attr-defined]
    msg.to_dict()["raw"]  # type: ignore[typeddict-item]
    msg.segment("PID").field(5).component(1).to_dict()  # type: ignore[attr-defined]
    for _ in msg.segment("PID").field(5):  # type: ignore[misc]
        pass
    list(msg.segment("PID").field(5))  # type: ignore[call-overload]
    len(msg.segment("PID").field(5).component(1))  # type: ignore[arg-type]


def subclass() -> None:
    class Sub(Message):  # type: ignore[misc]
        pass


if __name__ == "__main__":
    message = parse(RAW)
    print(navigate(message), query(message), serialize(message))
    module_functions()
