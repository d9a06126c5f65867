"""vellomar.write: the inverse of read, and a path never half-written."""

import io
import subprocess
import sys

import pytest
from conftest import CORPUS_FILES

import vellomar

LATIN = "MSH|^~\\&" + "|" * 16 + "8859/1\rPID|Zoë"
FORMS = [(None, "\r"), (None, "\r\n"), ("mllp", "\r"), ("mllp", "\n")]


def written(messages, **options):
    out = io.BytesIO()
    assert vellomar.write(out, messages, **options) == len(messages)
    return out.getvalue()


@pytest.mark.parametrize("path", CORPUS_FILES, ids=lambda p: p.name)  # none: skipped
def test_read_gives_back_what_write_wrote(path):
    messages = list(vellomar.read(path, errors="skip"))
    for framing, line_end in FORMS:
        again = list(vellomar.read(io.BytesIO(written(messages, framing=framing, line_end=line_end))))
        assert [m.raw for m in again] == [m.raw for m in messages]


def test_each_message_in_its_own_codec_and_form():
    texts = [LATIN, "MSH|^~\\&\nPID|Zoë\n", vellomar.parse_batch("MSH|^~\\&\r\nPID|1\r\n")[0]]
    assert written(texts) == b"MSH|^~\\&" + b"|" * 16 + b"8859/1\rPID|Zo\xeb\rMSH|^~\\&\rPID|Zo\xc3\xab\rMSH|^~\\&\rPID|1\r"
    assert written(texts[1:2], framing="mllp", line_end="\r\n") == b"\x0bMSH|^~\\&\r\nPID|Zo\xc3\xab\r\n\x1c\r"
    assert written(texts[:1], encoding="utf-8").endswith(b"Zo\xc3\xab\r")
    assert [m["PID-1"] for m in vellomar.read(io.BytesIO(written(texts)))] == ["Zoë", "Zoë", "1"]


@pytest.mark.parametrize("messages, options, error, text", [
    (["MSH|^~\\&\rPID|1", LATIN.replace("ë", "€")], {}, vellomar.MessageError,
     "Message 2 at byte 15: 'latin-1' codec can't encode character '\\u20ac' in position 37: ordinal not in range(256)"),
    (["MSH|^~\\&" + "|" * 16 + "X-NONE"], {}, vellomar.MessageError, "Message 1 at byte 0: Unknown character set in MSH-18: 'X-NONE'"),
    (["MSH|^~\\&\rPID|" + "x" * (1 << 20), "MSH|^~\\&" + "|" * 16 + "X-NONE"], {}, vellomar.MessageError,  # after a batch
     "Message 2 at byte 1048590: Unknown character set in MSH-18: 'X-NONE'"),
    *[([text], {}, vellomar.MessageError, "Message 1 at byte 0: Message would not read back as written: a segment after "
        "MSH starts a message or is left out by the reader (MSH, FHS, BHS, BTS, FTS, MLLP block bytes)")
      for text in ("MSH|^~\\&\rPID|1\rMSH|^~\\&", "MSH|^~\\&\rBTS|1", "MSH|^~\\&\r\x0bPID|1")],
    (["MSH|^~\\&", 3], {}, TypeError, "write() takes Message objects and str texts, not 'int'"),
    (["MSH|^~\\&"], {"line_end": "\t"}, ValueError, "line_end must be '\\r', '\\n' or '\\r\\n', not '\\t'"),
    (["MSH|^~\\&"], {"framing": "tcp"}, ValueError, "framing must be None or 'mllp', not 'tcp'"),
])
def test_refusals_leave_the_file_as_it_was(tmp_path, messages, options, error, text):
    path = tmp_path / "out.hl7"
    path.write_bytes(b"old")
    with pytest.raises(error) as raised:
        vellomar.write(path, messages, **options)
    assert (str(raised.value), path.read_bytes(), [p.name for p in tmp_path.iterdir()]) == (text, b"old", ["out.hl7"])
    with pytest.raises(TypeError, match="^write\\(\\) needs a binary file: open it with mode 'wb'$"):
        vellomar.write(io.StringIO(), messages)


def test_a_path_is_replaced_only_when_whole(tmp_path):
    path = tmp_path / "out.hl7"
    path.write_bytes(b"old")

    def failing():
        yield from [LATIN] * 20000  # more than one batch is handed to the file
        raise OSError("source gone")

    with pytest.raises(OSError, match="source gone"):
        vellomar.write(path, failing())
    assert (path.read_bytes(), len(list(tmp_path.iterdir()))) == (b"old", 1)
    assert vellomar.write(path, vellomar.parse(LATIN)) == 1  # one message alone
    assert path.read_bytes() == LATIN.encode("latin-1") + b"\r"


def test_a_killed_writer_leaves_the_old_file(tmp_path):
    (path := tmp_path / "out.hl7").write_bytes(b"old")
    code = ("import sys, time, vellomar\n"
            "def slow():\n"
            "    for n in range(200000):\n"
            "        if n == 100000:  # two batches handed to the file by now\n"
            "            print('half', flush=True)\n"
            "            time.sleep(60)\n"
            "        yield 'MSH|^~\\\\&\\rPID|%d' % n\n"
            "vellomar.write(sys.argv[1], slow())\n")
    with subprocess.Popen([sys.executable, "-c", code, str(path)], stdout=subprocess.PIPE) as writer:
        assert writer.stdout.readline() == b"half\n"
        writer.kill()
    assert path.read_bytes() == b"old"
