"""Message.ack(): the text of the acknowledgement."""

import re
import time

import pytest
from hypothesis import given, strategies as st

import vellomar

ADT = "MSH|^~\\&|SENDER|FAC|RECV|FAC|20230101||ADT^A01|123|P|2.5\rPID|1||MRN||DOE^JOHN"
NO_MSH = "MSH\u00e9^~\\&|A"  # no field separator in the header line: no segment is named MSH


def stamped_ack(msg, *args, **kwargs):
    """The reply with its timestamp replaced by "{T}", after checking that the
    timestamp is 14 digits naming a local second within the call."""
    before = time.time()
    reply = msg.ack(*args, **kwargs)
    after = time.time()
    window = {time.strftime("%Y%m%d%H%M%S", time.localtime(t))
              for t in range(int(before), int(after) + 1)}
    stamps = [s for s in window if s in reply]
    assert len(stamps) == 1 and re.fullmatch(r"\d{14}", stamps[0])
    return reply.replace(stamps[0], "{T}", 1)


@pytest.mark.parametrize(
    "text, args, kwargs, expected",
    [
        (ADT, (), {}, "MSH|^~\\&|RECV|FAC|SENDER|FAC|{T}||ACK|ACK123|P|2.5\rMSA|AA|123|"),
        (ADT, ("AE", "Bad PID"), {}, "\rMSA|AE|123|Bad PID"),
        (ADT, (), {"text": "x"}, "\rMSA|AA|123|x"),
        (ADT, (), {"ack_code": "AR"}, "\rMSA|AR|123|"),
        (ADT, ("",), {}, "\rMSA||123|"),
        (ADT, ("AE", "a|b"), {}, "\rMSA|AE|123|a|b"),
        ("MSH|^~\\&|A", (), {}, "MSH|^~\\&|||A||{T}||ACK|ACK|P|2.5\rMSA|AA||"),
        ("MSH|^~\\&", (), {}, "MSH|^~\\&|||||{T}||ACK|ACK|P|2.5\rMSA|AA||"),
        ("MSH#^~\\&#S#F#R#G#20230101##ADT^A01#9#P#2.4", (), {},
         "MSH#^~\\&#R#G#S#F#{T}##ACK#ACK9#P#2.4\rMSA#AA#9#"),
        ("MSH|^~\\&|S|F|R|G|T||ADT|123|P", (), {}, "|{T}||ACK|ACK123|P|2.5\rMSA|AA|123|"),
        ("MSH|^~\\&|S|F|R|G|T||ADT|123|P|", (), {}, "|{T}||ACK|ACK123|P|\rMSA|AA|123|"),
        ("MSH|^~\\&|APP^SITE|F|R|G|T||ADT|1|T|2.3|x", (), {},
         "MSH|^~\\&|R|G|APP^SITE|F|{T}||ACK|ACK1|P|2.3\rMSA|AA|1|"),
        # Copied fields keep their escape sequences, the separator's included.
        ("MSH|^~\\&|A\\F\\B|F\\S\\G|R||T||ADT|A\\F\\B|P|2.5", (), {},
         "MSH|^~\\&|R||A\\F\\B|F\\S\\G|{T}||ACK|ACKA\\F\\B|P|2.5\rMSA|AA|A\\F\\B|"),
        ("MSH|^~\\F\\&|S||||T||ADT|1", (), {}, "MSH|^~\\F\\&|||S||{T}||ACK|ACK1|P|2.5\rMSA|AA|1|"),
        ("MSH|^~\\&|S\rMSH|^~\\&|LATER|X||||ADT|9", (), {}, "MSH|^~\\&|||S||{T}||ACK|ACK|P|2.5\rMSA|AA||"),
    ],
)
def test_ack_text(text, args, kwargs, expected):
    reply = stamped_ack(vellomar.parse(text), *args, **kwargs)
    # A whole reply starts with "MSH"; other rows give its tail.
    assert reply == expected if expected.startswith("MSH") else reply.endswith(expected)


CONTROL_ID = st.text(
    st.sampled_from("\\^~&FSTREXH.09aé")
    | st.characters(blacklist_characters="|\r\n", blacklist_categories=("Cs",)),
    max_size=16,
)


@pytest.mark.parametrize("control_id", ["A\\F\\B", "\\X41\\^\\E\\~x&y"])
@given(extra=CONTROL_ID)
def test_ack_parses_and_echoes_control_id(control_id, extra):
    control_id += extra
    msg = vellomar.parse(f"MSH|^~\\&|S|F|R|G|T||ADT^A01|{control_id}|P|2.5\rPID|1")
    text = msg.ack("AE", "t")
    assert text.count("\r") == 1 and text.endswith(f"\rMSA|AE|{control_id}|t")
    reply = vellomar.parse(text)
    assert [s.name for s in reply] == ["MSH", "MSA"]
    assert reply["MSA-2"] == msg.control_id
    assert reply.control_id == "ACK" + msg.control_id
    assert reply.message_type == ("ACK", "")


def test_ack_signature_and_doc():
    assert vellomar.Message.ack.__text_signature__ == '($self, ack_code="AA", text="")'
    assert vellomar.Message.ack.__doc__ == (
        "Generate an ACK response message.\n\n"
        '`ack_code`: "AA" (accept), "AE" (error), "AR" (reject). Default: "AA".\n'
        "`text`: Optional text message for MSA-3."
    )


@pytest.mark.parametrize(
    "args, kwargs, message",
    [
        ((None,), {}, "argument 'ack_code': 'NoneType' object cannot be converted to 'PyString'"),
        ((), {"text": 5}, "argument 'text': 'int' object cannot be converted to 'PyString'"),
        (("AA", "", "x"), {}, "Message.ack() takes from 0 to 2 positional arguments but 3 were given"),
        ((None,), {"code": "AA"}, "Message.ack() got an unexpected keyword argument 'code'"),
        (("AA", None), {"text": None}, "Message.ack() got multiple values for argument 'text'"),
    ],
)
def test_ack_binding_errors(args, kwargs, message):
    for text in (ADT, NO_MSH):  # arguments are checked before the MSH lookup
        with pytest.raises(TypeError) as info:
            vellomar.parse(text).ack(*args, **kwargs)
        assert str(info.value) == message


def test_ack_without_msh_segment():
    with pytest.raises(KeyError) as info:
        vellomar.parse(NO_MSH).ack()
    assert info.value.args == ("Segment 'MSH' not found",)
