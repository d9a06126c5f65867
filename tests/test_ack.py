"""Message.ack(): the text of the acknowledgement."""

import re
import time

import pytest
from hypothesis import given, strategies as st

import vellomar
from conftest import ADT


def stamped_ack(msg, *args, **kwargs):
    """The reply with its timestamp, 14 digits naming a local second within the call, replaced by "{T}"."""
    before, reply = int(time.time()), msg.ack(*args, **kwargs)
    [stamp] = {time.strftime("%Y%m%d%H%M%S", time.localtime(t)) for t in range(before, int(time.time()) + 1)} & set(re.findall(r"\d{14}", reply))
    return reply.replace(stamp, "{T}", 1)


@pytest.mark.parametrize("text, args, kwargs, expected", [
    (ADT, (), {}, "MSH|^~\\&|RECV|FAC|SENDER|FAC|{T}||ACK|ACK123|P|2.5\rMSA|AA|123|"),
    (ADT, ("AE", "Bad PID"), {}, "\rMSA|AE|123|Bad PID"), (ADT, (), {"text": "x"}, "\rMSA|AA|123|x"),
    (ADT, (), {"ack_code": "AR"}, "\rMSA|AR|123|"), (ADT, ("",), {}, "\rMSA||123|"),
    (ADT, ("AE", "a|b"), {}, "\rMSA|AE|123|a|b"), ("MSH|^~\\&|A", (), {}, "MSH|^~\\&|||A||{T}||ACK|ACK|P|2.5\rMSA|AA||"),
    ("MSH|^~\\&", (), {}, "MSH|^~\\&|||||{T}||ACK|ACK|P|2.5\rMSA|AA||"),
    ("MSH#^~\\&#S#F#R#G#20230101##ADT^A01#9#P#2.4", (), {}, "MSH#^~\\&#R#G#S#F#{T}##ACK#ACK9#P#2.4\rMSA#AA#9#"),
    ("MSH|^~\\&|S|F|R|G|T||ADT|123|P", (), {}, "MSH|^~\\&|R|G|S|F|{T}||ACK|ACK123|P|2.5\rMSA|AA|123|"),
    ("MSH|^~\\&|S|F|R|G|T||ADT|123|P|", (), {}, "MSH|^~\\&|R|G|S|F|{T}||ACK|ACK123|P|\rMSA|AA|123|"),
    ("MSH|^~\\&|APP^SITE|F|R|G|T||ADT|1|T|2.3|x", (), {}, "MSH|^~\\&|R|G|APP^SITE|F|{T}||ACK|ACK1|P|2.3\rMSA|AA|1|"),
    # Copied fields keep their escape sequences, the separator's included.
    ("MSH|^~\\&|A\\F\\B|F\\S\\G|R||T||ADT|A\\F\\B|P|2.5", (), {}, "MSH|^~\\&|R||A\\F\\B|F\\S\\G|{T}||ACK|ACKA\\F\\B|P|2.5\rMSA|AA|A\\F\\B|"),
    ("MSH|^~\\F\\&|S||||T||ADT|1", (), {}, "MSH|^~\\F\\&|||S||{T}||ACK|ACK1|P|2.5\rMSA|AA|1|"),
    ("MSH|^~\\&|S\rMSH|^~\\&|LATER|X||||ADT|9", (), {}, "MSH|^~\\&|||S||{T}||ACK|ACK|P|2.5\rMSA|AA||"),
])
def test_ack_text(text, args, kwargs, expected):
    reply = stamped_ack(vellomar.parse(text), *args, **kwargs)
    assert reply == expected if expected.startswith("MSH") else reply.endswith(expected)
    assert re.fullmatch(r"[^\r]*\r[^\r]*", reply)


CONTROL_ID = st.text(st.sampled_from("\\^~&FSTREXH.09aé") | st.characters(blacklist_characters="|\r\n",
                                                                          blacklist_categories=("Cs",)), max_size=16)


@given(st.sampled_from(["A\\F\\B", "\\X41\\^\\E\\~x&y", ""]), CONTROL_ID)
def test_reply_echoes_the_control_id(start, extra):
    msg = vellomar.parse(f"MSH|^~\\&|S|F|R|G|T||ADT^A01|{start + extra}|P|2.5\rPID|1")
    reply = vellomar.parse(msg.ack("AE", "t"))
    assert [s.name for s in reply] == ["MSH", "MSA"] and reply["MSA-2"] == msg.control_id
    assert (reply.control_id, reply.message_type, reply["MSA-3"]) == ("ACK" + msg.control_id, ("ACK", ""), "t")
