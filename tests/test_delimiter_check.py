"""Which five delimiters a message may declare: every ASCII byte at every place."""

import string

import pytest

import vellomar
from conftest import raises

ODD = "Delimiters must be five distinct ASCII punctuation characters, got: "


@pytest.mark.parametrize("place", range(5))
def test_delimiters_are_five_distinct_punctuation_characters(place):
    for code in range(128):
        five = list("|^~\\&")
        five[place] = chr(code)
        fine = chr(code) in string.punctuation and len(set(five)) == 5
        if place == 0:  # the field separator comes from a message
            message = raises(lambda: vellomar.parse("MSH" + "".join(five) + five[0] + "A"))
            if message:  # no message to declare them in (a line break among them)
                continue
            delimiters = vellomar.parse("MSH" + "".join(five) + five[0] + "A")
        else:
            delimiters = "".join(five[1:])
        assert raises(lambda: vellomar.escape("x", delimiters)) == (None if fine else (ValueError, (ODD + "'" + "".join(five) + "'",))), code
