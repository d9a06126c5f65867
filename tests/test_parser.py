"""parse(): frames, lines, delimiters, the four errors, escape decoding."""

import pytest
from hypothesis import given, strategies as st

import vellomar
from conftest import raises, value_of

SB, EB = "\x0b", "\x1c"
MSG = "MSH|^~\\&|A|B\rPID|1"
MSH_GOT = "Message must start with MSH segment, got: '{}'"
SHORT = "MSH segment too short to extract encoding characters"


PARSE_ERRORS = [
    ("", "Empty message"), (SB + EB + "\r", "Empty message"), ("\r\n\r\n", "No segments found"),
    (SB + "\n" + EB, "No segments found"), (SB + EB, MSH_GOT.format(SB + EB)), (" ", MSH_GOT.format(" ")),
    ("PID|1||MRN||DOE", MSH_GOT.format("PID|1||MRN")), ("msh|^~\\&|A", MSH_GOT.format("msh|^~\\&|A")),
    ("MS", MSH_GOT.format("MS")), (SB + MSG + EB + "\n", MSH_GOT.format(SB + "MSH|^~\\&|")),
    ("PIDéééééééé", MSH_GOT.format("PIDééé")), ("ZZ€€€€", MSH_GOT.format("ZZ€€")),  # whole characters only
    ("😀😀😀", MSH_GOT.format("😀😀")), ("MSH|^~\\", SHORT), ("\r\nMSH", SHORT),
]


@pytest.mark.parametrize("raw, message", PARSE_ERRORS)
def test_parse_errors(raw, message):
    assert raises(lambda: vellomar.parse(raw)) == (ValueError, (message,))


SHAPES = [
    (SB + MSG + EB + "\r", MSG, [("MSH", ["|", "^~\\&", "A", "B"]), ("PID", ["1"])]),
    (SB + MSG + EB, MSG, [("MSH", ["|", "^~\\&", "A", "B"]), ("PID", ["1"])]),
    ("MSH|^~\\&\r\nPID|1\r\n\r\n", None, [("MSH", ["|", "^~\\&"]), ("PID", ["1"])]),
    ("\r\n\nMSH|^~\\&\n\rA|1\nB|2\r\nC|\x00\n\rD\r\r\n", None,
     [("MSH", ["|", "^~\\&"]), ("A", ["1"]), ("B", ["2"]), ("C", ["\x00"]), ("D", [])]),
    ("MSH|^~\\&\r PID|1\rPID|\rZ|a|\r|x\rMSH|A|B\rMSHX|A\rMSH", None,  # every MSH line has MSH-1
     [("MSH", ["|", "^~\\&"]), (" PID", ["1"]), ("PID", [""]), ("Z", ["a", ""]), ("", ["x"]), ("MSH", ["|", "A", "B"]),
      ("MSHX", ["|", "A"]), ("MSH", [])]),
    ("MSH#^~\\&#A#B|C", None, [("MSH", ["#", "^~\\&", "A", "B|C"])]),
    ("MSH|^~\\|A&B|C", None, [("MSH", ["|", "^~\\", "A&B", "C"])]),
    ("MSH¦^~\\&¦A\rPID¦1", None, [("MSH¦^~\\&¦A", []), ("PID¦1", [])]),
    # Bytes 3..7 of "MSHé^~\&" are C3 A9 5E 7E 5C: separators U+00C3 and U+00A9.
    ("MSHé^~\\&\rZZZÃa©bÃc", None, [("MSHé^~\\&", []), ("ZZZ", ["a©b", "c"])]),
    ("MSHé^~\\&\nZZZÃa\r\nYYYÃb", None, [("MSHé^~\\&", []), ("ZZZ", ["a"]), ("YYY", ["b"])]),  # and LF
    ("MSH|^~\\&\rZ\x00Z|\x01\x0b\x1c\x7f\u2028\ufeff|🩺^\U0010FFFF\\F\\", None,
     [("MSH", ["|", "^~\\&"]), ("Z\x00Z", ["\x01\x0b\x1c\x7f\u2028\ufeff", "🩺^\U0010FFFF|"])]),
]


@pytest.mark.parametrize("raw, kept, shape", SHAPES)
def test_segments_and_fields(raw, kept, shape):
    msg = vellomar.parse(type("Text", (str,), {})(raw))  # a str subclass is accepted
    assert msg.raw == (raw if kept is None else kept)
    assert [(s.name, [f.value for f in s]) for s in msg] == shape


@pytest.mark.parametrize("raw, path, components, repetitions, subs", [
    ("MSH|^~\\&", (0, 2), ["", ""], ["^", "\\&"], [[""], [""]]),  # MSH-2 is cut like any field
    ("MSH|^~\\&|A", (0, 1), ["|"], [], [["|"]]), ("MSH|^~\\|A&B|C", (0, 1), ["|"], [], [["|"]]),
    ("MSH|^~\\&\rZ|" + "^".join([*"abcdefghijklmno", "p&q"]), (1, 1), [*"abcdefghijklmno", "p&q"], [],  # 16 components
     [[c] for c in "abcdefghijklmno"] + [["p", "q"]]),  # and 17 (one cut too many for the short cut)
    ("MSH|^~\\&\rZ|" + "^".join("abcdefghijklmnopq"), (1, 1), list("abcdefghijklmnopq"), [], [[c] for c in "abcdefghijklmnopq"]),
    ("MSH|^&&^|A&B^C", (0, 3), ["A"], ["A", "B^C"], [["A"]]),  # repetition = sub-component separator
    ("MSH|^~\\&\rPID|A\\S\\B", (1, 1), ["A^B"], [], [["A^B"]]),  # escaped delimiters never cut
    ("MSH|^~\\&\rZ|a\\T\\b&c\\F\\^d~e\\R\\", (1, 1), ["a&b&c|", "d"], ["a&b&c|^d", "e~"], [["a&b", "c|"], ["d"]]),
])
def test_field_levels(raw, path, components, repetitions, subs):
    f = vellomar.parse(raw).segments[path[0]].field(path[1])
    assert [c.value for c in f.components] == components and [r.value for r in f.repetitions] == repetitions
    assert [c.sub_components for c in f.components] == subs and len(f) == len(components)


ESCAPES = [
    ("a\\F\\b", "a|b"), ("\\S\\\\T\\\\R\\\\E\\", "^&~\\"), ("\\\\", "\\\\"), ("\\\\F\\", "\\\\F\\"),
    ("abc\\", "abc\\"), ("a\\Fb", "a\\Fb"), ("\\.br\\", "\n"), ("\\.BR\\", "\\.BR\\"), ("\\.sp\\", "\\.sp\\"),
    ("\\H\\b\\N\\", "\\H\\b\\N\\"), ("\\f\\", "\\f\\"), ("\\x41\\", "\\x41\\"), ("\\Zxyz\\", "\\Zxyz\\"),
    ("\\X4142\\", "AB"), ("\\X414\\", "A"), ("\\X\\", ""), ("\\X4\\", ""), ("\\XC3A9\\", "Ã©"),
    ("\\XZZ41\\", "A"), ("\\X+4\\", "\x04"), ("\\X-4\\", ""), ("\\X00\\", "\x00"), ("\\Xé41\\", ""), ("\\X\u00a041\\", ""),
    ("\\Xéé41\\", "A"), ("\\X\u08004141\\", "\x14"), ("\\X\U000100004141\\", "\x14"), ("\\X/0:0@0G0`0g0\\", ""), ("é\\F\\ü", "é|ü"), ("\\E\\" * 3, "\\" * 3),
    ("#F#", "|", "MSH|^~#&"), ("\\F\\", "\\F\\", "MSH|^~#&"), ("#X41#", "A", "MSH|^~#&"),
    # "¤" is C2 A4: the escape character is U+00C2 "Â", the sub-component separator U+00A4.
    ("ÂFÂxÂSÂ", "|x^", "MSH|^~¤"), ("ÂX41ÂÂ.brÂÂTÂ", "A\n¤", "MSH|^~¤"),
    ("ÂXÂ41Â", "41Â", "MSH|^~¤"), ("aÂF", "aÂF", "MSH|^~¤"),
]


@pytest.mark.parametrize("row", ESCAPES)
def test_escape_sequences(row):  # (raw, decoded[, header])
    assert value_of(row[0], *row[2:]) == row[1]


@pytest.mark.parametrize("code", range(256))
def test_hex_escape_of_every_byte(code):
    assert value_of(f"\\X{code:02X}\\\\X{code:02x}\\") == chr(code) * 2


@given(st.text(st.characters(blacklist_characters="\\|\r\n", blacklist_categories=("Cs",))))
def test_text_without_escape_character_decodes_to_itself(text):
    assert value_of(text) == text


# short and long fields, every word boundary; NUL is a delimiter as any other byte
@given(st.sampled_from(["^~\\&", "\0~\\&", "^\0\\&", "^~\\\0"]),
       st.lists(st.sampled_from(["a", 0, 1, 3, "\\F\\", "é", "xyz0123"]), max_size=60))
def test_levels_agree_with_plain_splitting(delimiters, parts):
    component, repetition, _, sub_component = delimiters
    text = "".join(delimiters[p] if isinstance(p, int) else p for p in parts)
    unescape = lambda piece: piece.replace("\\F\\", "|")  # noqa: E731
    field = vellomar.parse(f"MSH|{delimiters}\rZ|" + text).segments[1].field(1)
    pieces = text.split(repetition)[0].split(component)
    assert [(c.value, c.sub_components) for c in field.components] == [
        (unescape(p), [unescape(s) for s in p.split(sub_component)]) for p in pieces]
    assert [r.value for r in field.repetitions] == (
        [unescape(r) for r in text.split(repetition)] if repetition in text else [])
