"""parse_batch(): envelopes, frames, line ends, the first failure."""

import pytest
from hypothesis import given, strategies as st

import vellomar
from conftest import raises, tree

SB, EB = "\x0b", "\x1c"
LINES = ["FHS|^~\\&|A", "BHS|^~\\&|A", "MSH|^~\\&|A|B", "PID|1", "MSH|^~\\&|C|D", "PID|2", "BTS|2", "FTS|1"]
TWO = ["MSH|^~\\&|A|B\rPID|1", "MSH|^~\\&|C|D\rPID|2"]
SHORT = "Error parsing message in batch: MSH segment too short to extract encoding characters"


BATCHES = [
    ("", []), (" \t\r\n\u3000", []), ("ZZZ|1", []), ("BHS|1\rBTS|0", []), ("\r".join(LINES), TWO),
    ("\n".join(LINES), TWO), ("\r\n\r\n".join(LINES) + "\r\n", TWO), ("\n\r".join(LINES), TWO),
    ("ZZZ|1\rNTE|x\r" + "\r".join(TWO), TWO), ("MSH|^~\\&|A|B\rBHS|x\rPID|1\rFTS\rMSH|^~\\&|C|D\rPID|2", TWO),
    ("  MSH|^~\\&|A|B \rPID|1  \r\u2028", ["MSH|^~\\&|A|B \rPID|1"]), ("ZZ\rMSH|^~\\&\rFH\rBT", ["MSH|^~\\&\rFH\rBT"]),
    (" MSH|^~\\&|A\rPID|1\r MSH|^~\\&|B", ["MSH|^~\\&|A\rPID|1\r MSH|^~\\&|B"]),
    (SB + "\r".join(TWO) + EB + "\r", TWO), ("".join(SB + r + "\r" + EB + "\r" for r in TWO), TWO),
    ("".join(SB + r + EB + "\r\n" for r in TWO), TWO), ("\n".join(SB + r + "\n" + EB for r in TWO), TWO),
    (SB + "FHS|x\r" + SB + TWO[0] + EB + "\rFTS|1" + EB, TWO[:1]),
    (TWO[0] + SB + "\rNTE|" + EB + "x", [TWO[0] + SB + "\rNTE|" + EB + "x"]),  # frame bytes inside a line stay
    ("MSH|^~\\&|A|B\r" + SB + SB + "PID|1" + EB + EB, ["MSH|^~\\&|A|B\r" + SB + "PID|1" + EB]),
    ("MSH|^~#&|#F#\rMSH#^~\\&#\\F\\\rMSH|^~\\&|" + "x" * 40, ["MSH|^~#&|#F#", "MSH#^~\\&#\\F\\", "MSH|^~\\&|" + "x" * 40]),
    # A frame starts a message wherever it stands, as on the wire.
    (SB + TWO[0] + EB + SB + TWO[1] + EB, TWO), (SB + TWO[0] + EB + " " + SB + TWO[1] + EB + "\r", TWO),
    (SB + TWO[0] + EB + "\0" + SB + TWO[1] + EB + "\r\0" + SB + "\r", TWO), (TWO[0] + SB + TWO[1], TWO),
    (TWO[0] + "\r\0" + SB + TWO[1] + EB + EB + " ", [TWO[0], TWO[1] + EB]),
    # A byte order mark before MSH belongs to no message, alone on a line neither; a bare MSH after one
    # opens a message as a bare MSH does.
    ("\ufeff" + TWO[0] + "\r\n\ufeff" + TWO[1] + "\r\ufeff" + SB + TWO[0] + EB + "\r\ufeff", TWO + TWO[:1]),
    (TWO[0] + "\r\ufeffMSH", SHORT),
    (TWO[0] + "\rMSH|^\rPID|2", SHORT), (TWO[0] + "\rMSH|^~\\&\r" + SB + "MSH|^~" + EB, SHORT),
]


# Unicode's White_Space beside its neighbours in each UTF-8 lead byte's range.
WHITE = " \t\x0b\x0c\x85\xa0\u1680\u2000\u200a\u2028\u2029\u202f\u205f\u3000"
NEAR = "\x84\x86\x9f\xa1\u167f\u1681\u1fff\u200b\u2027\u202a\u202e\u2030\u205e\u2060\u2fff\u3001"


@given(st.text(WHITE + "\r\n", max_size=4), st.text(WHITE + NEAR, max_size=4))
def test_white_space_around_a_message_is_trimmed(before, after):
    (message,) = vellomar.parse_batch(before + "MSH|^~\\&|A" + after)
    assert message.raw == ("MSH|^~\\&|A" + after).rstrip(WHITE)


@pytest.mark.parametrize("raw, raws", BATCHES)
def test_messages_of_a_batch(raw, raws):
    if isinstance(raws, str):
        assert raises(lambda: vellomar.parse_batch(raw)) == (ValueError, (raws,))
        return
    messages = vellomar.parse_batch(raw=raw)
    assert type(messages) is list and [m.raw for m in messages] == raws
    assert [tree(m)["segments"] for m in messages] == [tree(vellomar.parse(r))["segments"] for r in raws]


MESSAGE = st.builds(lambda head, rest: "\r".join([head] + rest),
                    st.sampled_from(["MSH|^~\\&|A", "MSH#^~\\&#B\\F\\", "MSH|^~#&|#S#C", "MSH|^~\\&"]),
                    st.lists(st.sampled_from(["PID|1^2~3", "OBX|2|x&y", "NTE", "ZZZ|a\\F\\b", "|x"]), max_size=3))


@given(st.lists(MESSAGE, max_size=5), st.sampled_from(["\r", "\n", "\r\n", "\r\n\r\n"]), st.booleans())
def test_joined_messages_give_each_message(messages, newline, framed):
    lines = [m.replace("\r", newline) for m in messages]
    got = vellomar.parse_batch("".join(SB + m + EB + newline for m in lines) if framed else newline.join(lines))
    assert [tree(m) for m in got] == [tree(vellomar.parse(m)) for m in messages]
