"""Character sets: MSH-18 located and named, bytes decoded, UTF-8 checked strictly."""

import io

import pytest

import vellomar
from vellomar import charsets

HEAD = b"MSH|^~\\&" + b"|" * 16  # MSH-18 follows


@pytest.mark.parametrize(
    "data, name",
    [
        (HEAD + b" UNICODE UTF-8 ^x~y|z\rPID", "UNICODE UTF-8"),
        (HEAD + b"8859/1~UTF-8", "8859/1"),
        (b"MSH|\r" + HEAD + b"latin-1", None),  # the first MSH line names none
        (b"XMSH|^~\\&||||||||||||||||ascii\n" + HEAD + b"UTF-8", "UTF-8"),  # no line start
        (b"PID|1\n" + HEAD + b"UTF-8", "UTF-8"), (b"\x0b" + HEAD + b"\x1fascii\x1c", "ascii"),
        (HEAD + b"\t\x0c8859/1\x1d\x1f", "8859/1"),  # the ends of the stripped ranges
        (HEAD[:-1] + b"\rNTE|ascii", None), (b"MSH", None), (b"", None),
    ],
)
def test_charset_of(data, name):
    assert charsets.charset_of(data) == name


@pytest.mark.parametrize(
    "charset, codec",
    [("unicode  utf-8", "utf-8"), ("8859/15", "iso8859-15"), ("cp1252", "cp1252")],
)
def test_codec_for(charset, codec):
    assert charsets.codec_for(charset) == codec


def test_decode():
    assert vellomar.decode(HEAD + b"8859/1\rPID|\xe9") == HEAD.decode() + "8859/1\rPID|é"
    assert vellomar.decode(b"MSH|^~\\&\rPID|\xe9", default="cp1252") == "MSH|^~\\&\rPID|é"
    with pytest.raises(LookupError) as raised:
        vellomar.decode(HEAD + b"klingon")
    assert str(raised.value) == "Unknown character set in MSH-18: 'klingon'"


# Each edge of the UTF-8 rules, at the end of a message and inside it: the reader
# takes exactly what the interpreter's strict decoder takes, and fails as it does.
@pytest.mark.parametrize(
    "bad",
    [b"\xc2\x80", b"\xc1\xbf", b"\xdf\xbf", b"\xe0\xa0\x80", b"\xe0\x9f\xbf", b"\xed\x9f\xbf", b"\xed\xa0\x80",
     b"\xef\xbf\xbf", b"\xf0\x90\x80\x80", b"\xf0\x8f\xbf\xbf", b"\xf4\x8f\xbf\xbf", b"\xf4\x90\x80\x80",
     b"\xf5\x80\x80\x80", b"\xe2\x82", b"\xf0\x9f\x98", b"\xe2\x82\xac", b"\xe2\x28\xa1", b"\xf0\x9f\x28\x80"],
)
def test_read_checks_utf8_as_the_interpreter(bad):
    # at every place in the ASCII scan's blocks of 64, 32 and 8 bytes, and at the end
    for pad in range(70):
        data = b"MSH|^~\\&|A\rPID|" + b"x" * pad + bad + b"|x" * (pad * 7 % 25)
        try:
            expected = data.decode()
        except UnicodeDecodeError as error:
            expected = f"Message 1 at byte 0: {error}"
        try:
            got = next(vellomar.read(io.BytesIO(data))).raw
        except vellomar.MessageError as error:
            got = str(error)
        assert got == expected, pad
