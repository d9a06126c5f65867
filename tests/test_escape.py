"""Escape sequences, seen through the decoded values of parsed fields."""

import pytest
from hypothesis import given, strategies as st

import vellomar

from conftest import field_value


@pytest.mark.parametrize(
    "raw, decoded",
    [
        ("", ""),
        ("plain text", "plain text"),
        ("a\\F\\b", "a|b"),
        ("\\S\\\\T\\\\R\\\\E\\", "^&~\\"),
        ("\\F\\\\S\\", "|^"),
        ("\\\\", "\\\\"),
        ("\\\\F\\", "\\\\F\\"),
        ("abc\\", "abc\\"),
        ("a\\Fb", "a\\Fb"),
        ("\\.br\\", "\n"),
        ("\\.BR\\", "\\.BR\\"),
        ("\\.sp\\", "\\.sp\\"),
        ("\\H\\bold\\N\\", "\\H\\bold\\N\\"),
        ("\\f\\", "\\f\\"),
        ("\\x41\\", "\\x41\\"),
        ("\\Zxyz\\", "\\Zxyz\\"),
        ("\\X41\\", "A"),
        ("\\X4142\\", "AB"),
        ("\\X414\\", "A"),
        ("\\X\\", ""),
        ("\\X4\\", ""),
        ("\\XE9\\", "\u00e9"),
        ("\\XC3A9\\", "\u00c3\u00a9"),
        ("\\XZZ41\\", "A"),
        ("\\X+4\\", "\x04"),
        ("\\X-4\\", ""),
        ("\\X00\\", "\x00"),
        ("\\Xé41\\", ""),  # "é4" is an invalid pair, "1" an odd final digit
        ("\\Xéé41\\", "A"),
        ("é\\F\\ü", "é|ü"),
    ],
)
def test_decode_standard_characters(raw, decoded):
    assert field_value(raw) == decoded


@pytest.mark.parametrize(
    "header, raw, decoded",
    [
        ("MSH|^~#&", "#F#", "|"),
        ("MSH|^~#&", "\\F\\", "\\F\\"),
        ("MSH|^~#&", "#X41#", "A"),
        # "¤" is the two bytes C2 A4: byte 6 (0xC2) makes the escape character
        # U+00C2 "Â", byte 7 the sub-component separator U+00A4 "¤".
        ("MSH|^~¤", "ÂFÂxÂSÂ", "|x^"),
        ("MSH|^~¤", "ÂX41ÂÂ.brÂÂTÂ", "A\n¤"),
        ("MSH|^~¤", "ÂXÂ41Â", "41Â"),
        ("MSH|^~¤", "aÂF", "aÂF"),
    ],
)
def test_decode_other_escape_characters(header, raw, decoded):
    assert field_value(raw, header) == decoded


@given(st.text(alphabet=st.characters(blacklist_characters="\\|\r\n\ud800")))
def test_value_without_escape_character_decodes_to_itself(text):
    if any(0xD800 <= ord(c) <= 0xDFFF for c in text):
        return
    assert field_value(text) == text


def test_every_level_is_decoded():
    m = vellomar.parse("MSH|^~\\&\rZZZ|a\\T\\b&c\\F\\^d~e\\R\\")
    f = m.segments[1].field(1)
    assert f.value == "a&b&c|^d~e~"
    assert [r.value for r in f.repetitions] == ["a&b&c|^d", "e~"]
    assert [c.value for c in f.components] == ["a&b&c|", "d"]
    assert f.component(1).sub_components == ["a&b", "c|"]
    assert f.component(1).sub_component(2) == "c|"
