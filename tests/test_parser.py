"""parse(): frame removal, line splitting, the four errors, delimiters."""

import pytest

import vellomar

from conftest import corpus_files

SB, EB = "\x0b", "\x1c"
MSG = "MSH|^~\\&|A|B\rPID|1"


@pytest.mark.parametrize(
    "raw, message",
    [
        ("", "Empty message"),
        (SB + EB + "\r", "Empty message"),
        (SB + EB, "Message must start with MSH segment, got: '\x0b\x1c'"),
        ("\r\n\r\n", "No segments found"),
        (SB + "\n" + EB, "No segments found"),
        (" ", "Message must start with MSH segment, got: ' '"),
        ("PID|1||MRN||DOE^JOHN", "Message must start with MSH segment, got: 'PID|1||MRN'"),
        ("msh|^~\\&|A", "Message must start with MSH segment, got: 'msh|^~\\&|A'"),
        ("MS", "Message must start with MSH segment, got: 'MS'"),
        (SB + MSG, "Message must start with MSH segment, got: '\x0bMSH|^~\\&|'"),
        (SB + MSG + EB + "\n", "Message must start with MSH segment, got: '\x0bMSH|^~\\&|'"),
        ("MSH|^~\\", "MSH segment too short to extract encoding characters"),
        ("\r\nMSH", "MSH segment too short to extract encoding characters"),
    ],
)
def test_parse_errors(raw, message):
    with pytest.raises(ValueError) as info:
        vellomar.parse(raw)
    assert type(info.value) is ValueError
    assert info.value.args == (message,)


@pytest.mark.parametrize(
    "line, shown",
    [
        ("PIDéééééééé", "PIDééé"),  # the tenth byte ends inside an é: cut before it
        ("ZZ€€€€", "ZZ€€"),
        ("😀😀😀", "😀😀"),
        ("abcdefghijk", "abcdefghij"),
    ],
)
def test_msh_check_shows_whole_characters(line, shown):
    with pytest.raises(ValueError) as info:
        vellomar.parse(line)
    assert str(info.value) == f"Message must start with MSH segment, got: '{shown}'"


@pytest.mark.parametrize(
    "framed",
    [SB + MSG + EB + "\r", SB + MSG + EB, MSG],
)
def test_mllp_frame_removed(framed):
    m = vellomar.parse(framed)
    assert m.raw == MSG
    assert [s.name for s in m] == ["MSH", "PID"]


@pytest.mark.parametrize(
    "raw",
    [
        "MSH|^~\\&|A\r\nPID|1\r\n\r\n",
        "MSH|^~\\&|A\n\rPID|1",
        "\r\n\nMSH|^~\\&|A\n\nPID|1\n",
        "MSH|^~\\&|A\rPID|1",
    ],
)
def test_line_ends_and_blank_lines(raw):
    m = vellomar.parse(raw)
    assert m.raw == raw  # line ends and blank lines stay in raw
    assert [s.name for s in m] == ["MSH", "PID"]
    assert m.segment("PID").field(1).value == "1"


def test_eight_byte_header_is_enough():
    m = vellomar.parse("MSH|^~\\&")
    msh = m.segment("MSH")
    assert [f.value for f in msh] == ["|", "^~\\&"]
    # MSH-2 is cut like any field: first repetition "^" gives two empty
    # components; the repetitions are "^" and "\&".
    assert [c.value for c in msh[2].components] == ["", ""]
    assert [r.value for r in msh[2].repetitions] == ["^", "\\&"]


@pytest.mark.parametrize(
    "line, name, values",
    [
        (" PID|1", " PID", ["1"]),
        ("ZZZ", "ZZZ", []),
        ("PID|", "PID", [""]),
        ("PID|a|", "PID", ["a", ""]),
        ("|x", "", ["x"]),
        ("MSH|A|B", "MSH", ["|", "A", "B"]),  # a later MSH gets MSH-1 too
        ("MSHX|A", "MSHX", ["|", "A"]),
        ("MSH", "MSH", []),
        ("PID|A\\S\\B", "PID", ["A^B"]),  # escaped delimiters never cut
    ],
)
def test_segment_lines(line, name, values):
    seg = vellomar.parse("MSH|^~\\&\r" + line).segments[1]
    assert seg.name == name
    assert [f.value for f in seg] == values


def test_escaped_component_separator_is_one_component():
    f = vellomar.parse("MSH|^~\\&\rPID|A\\S\\B").segment("PID").field(1)
    assert len(f) == 1
    assert f.component(1).value == "A^B"
    assert f.component(1).sub_components == ["A^B"]


def test_other_field_separator():
    m = vellomar.parse("MSH#^~\\&#A#B|C")
    assert [f.value for f in m.segment("MSH")] == ["#", "^~\\&", "A", "B|C"]


def test_sub_component_separator_equal_to_field_separator():
    m = vellomar.parse("MSH|^~\\|A&B|C")
    msh = m.segment("MSH")
    assert [f.value for f in msh] == ["|", "^~\\", "A&B", "C"]
    # MSH-1 keeps the separator as its one sub-component.
    assert msh[1][1].sub_components == ["|"]
    assert msh[3][1].sub_components == ["A&B"]


def test_duplicate_encoding_characters():
    # Repetition separator "&" equals the sub-component separator.
    m = vellomar.parse("MSH|^&&^|A&B^C")
    f = m.segment("MSH").field(3)
    assert [r.value for r in f.repetitions] == ["A", "B^C"]
    assert [c.value for c in f.components] == ["A"]


def test_non_ascii_field_separator_makes_one_segment_per_line():
    m = vellomar.parse("MSH¦^~\\&¦A\rPID¦1")
    assert [(s.name, len(s)) for s in m] == [("MSH¦^~\\&¦A", 0), ("PID¦1", 0)]


def test_non_ascii_delimiters_are_latin1_characters():
    # Bytes 3..7 of "MSHé^~\&" are C3 A9 5E 7E 5C: the field separator is
    # U+00C3 and the component separator U+00A9 ("©").
    m = vellomar.parse("MSHé^~\\&\rZZZÃa©bÃc")
    seg = m.segments[1]
    assert seg.name == "ZZZ"
    assert [f.value for f in seg] == ["a©b", "c"]
    assert seg.field(1).value == "a©b"
    # The header line itself holds no U+00C3: one segment, no fields.
    assert (m.segments[0].name, len(m.segments[0])) == ("MSHé^~\\&", 0)


@pytest.mark.parametrize("text", ["\x00", "a\x00b", "\x01\x02", "\ufeff", "🩺"])
def test_control_and_non_bmp_characters_survive(text):
    m = vellomar.parse("MSH|^~\\&|" + text)
    assert m.segment("MSH").field(3).value == text
    assert m.raw == "MSH|^~\\&|" + text


def test_lone_surrogate_raises_interpreters_encoding_error():
    with pytest.raises(UnicodeEncodeError):
        vellomar.parse("MSH|^~\\&|\ud800")


def test_str_subclass_is_accepted():
    class Text(str):
        pass

    assert vellomar.parse(Text(MSG)).raw == MSG


@pytest.mark.parametrize("path", corpus_files(), ids=lambda p: p.name)
def test_corpus_parses_or_fails_with_a_parser_error(path):
    raw = path.read_bytes().decode("utf-8", errors="replace")
    try:
        m = vellomar.parse(raw)
    except ValueError as e:
        assert str(e).startswith(
            ("Empty message", "No segments found", "Message must start", "MSH segment too short")
        )
        return
    assert m.segments[0].name.startswith("MSH")
    # Every leaf can be walked.
    for seg in m:
        for field in seg:
            for rep in field.repetitions or [field]:
                for comp in rep.components:
                    assert isinstance(comp.sub_components, list)
