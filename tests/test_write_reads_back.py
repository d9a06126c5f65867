"""vellomar.write writes a message only when the reader gives it back as it
is, whatever its lines: ones that open a message or an envelope, frame bytes,
White_Space, a byte-order mark, non-ASCII first bytes."""

import io

from hypothesis import given, strategies as st

import vellomar
from conftest import raises

LINES = ["PID|1", "MSH|^~\\&", "MSA|1", "FHS|x", "F|1", "FTS", "BHS", "B|", "BTS|1", " ", " X", "\t", "\u00a0Y",
         "\u3000", "é|1", "\ufeffMSH|^~\\&", "\ufeffPID", "\x0bMSH|^~\\&", "\x0bPID", "ZZZ|\x0b", "PID|\x1c", "\x1c",
         "\x00", "\x00PID", "M", "MS", "MSH"]
REFUSED = ("Message 1 at byte 0: Message would not read back as written: a segment after MSH starts a message or "
           "is left out by the reader (MSH, FHS, BHS, BTS, FTS, MLLP block bytes)")


# The last line keeps the end of the text free of what the reader trims there.
# Lines that begin alike (and a last line that begins like them) meet each rule
# of the writer's shortcut alone.
def alike(first):
    return st.tuples(st.lists(st.sampled_from([line for line in LINES if line[0] == first]), max_size=3),
                     st.just(first + "ZZ|end" if first.isalpha() else "ZZZ|end"))


lines = st.sampled_from(LINES).flatmap(lambda line: alike(line[0])) | st.tuples(
    st.lists(st.sampled_from(LINES), max_size=4), st.sampled_from(["ZZZ|end", "MZZ|end"]))


@given(lines, st.sampled_from(["\r", "\n", "\r\n"]), st.sampled_from([None, "mllp"]))
def test_written_messages_read_back_or_are_refused(lines, line_end, framing):
    text = "\r".join(["MSH|^~\\&|A", *lines[0], lines[1]])
    out = io.BytesIO()
    try:
        vellomar.write(out, [vellomar.parse(text)], line_end=line_end, framing=framing)
    except vellomar.MessageError as error:
        assert str(error) == REFUSED
        assert raises(lambda: vellomar.parse_batch(text)) or [m.raw for m in vellomar.parse_batch(text)] != [text]
    else:
        assert [m.raw for m in vellomar.read(io.BytesIO(out.getvalue()))] == [text]
