"""The MSH header properties of Message."""

import pytest

import vellomar

HEAD = "MSH|^~\\&|SENDER|FAC|RECV|FAC|20230101||{}|{}|P|{}"
PROPERTIES = {
    "message_type": 'Message type, e.g. ("ADT", "A01").',
    "control_id": "Message control ID from MSH-10.",
    "version": "HL7 version from MSH-12.",
    "sending_application": "Sending application from MSH-3.",
    "sending_facility": "Sending facility from MSH-4.",
}
ADT = HEAD.format("ADT^A01", "123", "2.5") + "\rPID|1||MRN||DOE^JOHN"
NO_MSH = "MSH\u00e9^~\\&|A"  # no field separator in the header line: no segment is named MSH


@pytest.mark.parametrize(
    "text, prop, expected",
    [
        (ADT, "message_type", ("ADT", "A01")), (ADT, "control_id", "123"),
        (ADT, "version", "2.5"), (ADT, "sending_application", "SENDER"),
        (ADT, "sending_facility", "FAC"),
        (HEAD.format("ACK", "", ""), "message_type", ("ACK", "")),
        (HEAD.format("", "", ""), "message_type", ("", "")),
        (HEAD.format("ADT^A01^ADT_A01", "", ""), "message_type", ("ADT", "A01")),
        (HEAD.format("ADT^A01~ORM^O01", "", ""), "message_type", ("ADT", "A01")),
        (HEAD.format("A\\S\\B^C\\T\\D", "", ""), "message_type", ("A^B", "C&D")),
        ("MSH|^~\\&|APP^SITE", "sending_application", "APP^SITE"),
        ("MSH|^~\\&|A|F&G~H", "sending_facility", "F&G~H"),
        (HEAD.format("", "A\\F\\B", ""), "control_id", "A|B"),
        (HEAD.format("", "", "2.5.1^USA"), "version", "2.5.1^USA"),
        ("MSH|^~\\&|S|F|R|G|T||ADT|123|P", "control_id", "123"),
        (ADT + "\rMSH|^~\\&|LATER", "sending_application", "SENDER"),
    ],
)
def test_property_value(text, prop, expected):
    msg = vellomar.parse(text)
    assert getattr(msg, prop) == expected and type(getattr(msg, prop)) is type(expected)


@pytest.mark.parametrize(
    "text, prop, exc, message",
    [
        ("MSH|^~\\&|A", "control_id", IndexError, "Field index 10 out of range (1..3)"),
        ("MSH|^~\\&|A", "message_type", IndexError, "Field index 9 out of range (1..3)"),
        ("MSH|^~\\&|A", "sending_facility", IndexError, "Field index 4 out of range (1..3)"),
        ("MSH|^~\\&|S|F|R|G|T||ADT|123|P", "version", IndexError,
         "Field index 12 out of range (1..11)"),
        ("MSH|^~\\&", "sending_application", IndexError, "Field index 3 out of range (1..2)"),
    ]
    + [(NO_MSH, prop, KeyError, "Segment 'MSH' not found") for prop in PROPERTIES],
)
def test_property_errors(text, prop, exc, message):
    with pytest.raises(exc) as info:
        getattr(vellomar.parse(text), prop, None)
    assert info.value.args == (message,)


@pytest.mark.parametrize("prop, doc", PROPERTIES.items())
def test_property_is_documented_read_only_and_fresh(prop, doc):
    msg = vellomar.parse(ADT)
    assert getattr(vellomar.Message, prop).__doc__ == doc
    assert getattr(msg, prop) is not getattr(msg, prop)
    with pytest.raises(AttributeError):
        setattr(msg, prop, "2.6")
    with pytest.raises(AttributeError):
        delattr(msg, prop)
    assert getattr(msg, prop) == getattr(vellomar.parse(ADT), prop)
