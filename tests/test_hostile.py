"""Hostile and very large input: one table of generators, each checked for its exact result at a million units, and
output that grows in proportion to input (a quadratic algorithm shows as a hung suite; bench/ times the growth)."""

import tracemalloc

import pytest

import vellomar
from conftest import raises, value_of

HEADER = "MSH|^~\\&|SEND|FAC|RECV|FAC|20230101||ADT^A01|1|P|2.5"
PID = HEADER + "\rPID|1||MRN||DOE^JOHN"
M, BATCH_MSG = 1_000_000, "MSH|^~\\&|A|B|C|D|20230101||ADT^A01|{0}|P|2.5\rPID|1||{0}\r"

DECODED = lambda t, n: value_of(t)  # noqa: E731
LOOKUP = lambda t, n: raises(lambda: vellomar.parse(PID)[t]) or vellomar.parse(PID)[t]  # noqa: E731
# name -> (text of size n, what is read from it, the expected result)
GENERATORS = {
    "segments": (lambda n: HEADER + "\r" + "OBX|1|TX|C^T||x\\F\\y|F\r" * n + "ZZZ|last",
                 lambda t, n: (len(vellomar.parse(t)), vellomar.parse(t)[f"OBX({n - 1})-5"]), lambda n: (n + 2, "x|y")),
    "fields": (lambda n: HEADER + "\rZZZ|" + "|".join(map(str, range(n))),
               lambda t, n: (len(vellomar.parse(t).segments[1]), vellomar.parse(t)[f"ZZZ-{n}"]), lambda n: (n, str(n - 1))),
    "components": (lambda n: HEADER + "\rZZZ|" + "c^" * (n - 1) + "last&sub",
                   lambda t, n: (len(vellomar.parse(t).segments[1][1]), vellomar.parse(t)[f"ZZZ-1-{n}-2"]), lambda n: (n, "sub")),
    "backslashes": (lambda n: "\\" * n, DECODED, lambda n: "\\" * n),
    "escaped escapes": (lambda n: "\\E\\" * n, DECODED, lambda n: "\\" * n),
    "open escapes": (lambda n: "\\F" * n, DECODED, lambda n: "|F" * (n // 2) + "\\F" * (n % 2)),
    "unterminated": (lambda n: "a\\" + "X41" * n, DECODED, lambda n: "a\\" + "X41" * n),
    "hex": (lambda n: "\\X" + "E9" * n + "\\", DECODED, lambda n: "\u00e9" * n),
    "hex odd": (lambda n: "\\X" + "4" * (2 * n + 1) + "\\", DECODED, lambda n: "D" * n),
    "hex invalid pairs": (lambda n: "\\X" + "ZZ41" * n + "\\", DECODED, lambda n: "A" * n),
    "unknown escape": (lambda n: "\\Z" + "q" * n + "\\", DECODED, lambda n: "\\Z" + "q" * n + "\\"),
    "batch": (lambda n: "FHS|^~\\&\rBHS|^~\\&\r" + "".join(BATCH_MSG.format(i) for i in range(n // 10)) + "BTS|1\rFTS|1",
              lambda t, n: [m.control_id for m in vellomar.parse_batch(t)], lambda n: [str(i) for i in range(n // 10)]),
    "zero-padded path": (lambda n: "PID-" + "0" * n + "5", LOOKUP, lambda n: "DOE^JOHN"),
    "huge repetition": (lambda n: "PID(" + "9" * n + ")-3", LOOKUP, lambda n: "MRN"),
    "ignored path tail": (lambda n: "PID-5-1-1-" + "x" * n, LOOKUP, lambda n: "DOE"),
    "long name": (lambda n: "P" * n, LOOKUP, lambda n: (KeyError, ("Segment '" + "P" * n + "' not found",))),
    "huge field number": (lambda n: "PID-" + "9" * n, LOOKUP, lambda n: (ValueError, ("Invalid field index: '" + "9" * n + "'",))),
    "hyphens": (lambda n: "-" * n, LOOKUP, lambda n: (KeyError, ("Segment '' not found",))),
}


@pytest.mark.parametrize("name", GENERATORS)
def test_hostile_input(name):
    make, read, expected = GENERATORS[name]
    for n in (M, M + 1):
        assert read(make(n), n) == expected(n)


def test_output_grows_in_proportion_to_input():
    sizes = {}
    for n in (4_000, 32_000):
        msg = vellomar.parse(GENERATORS["segments"][0](n // 20) + "\rZZZ|" + "|".join("a^b&c~d\\F\\" for _ in range(n)))
        tracemalloc.start()
        sizes[n] = (len(msg.to_json()), len(msg.to_dict()["segments"][-1]["fields"]), tracemalloc.get_traced_memory()[1])
        tracemalloc.stop()
    assert all(7.5 < big / small < 8.5 for small, big in zip(sizes[4_000], sizes[32_000])), sizes


SURROGATES = [
    lambda m: vellomar.parse("MSH|^~\\&|A\ud800B"), lambda m: vellomar.parse_batch("MSH|^~\\&|A\ud800B"),
    lambda m: vellomar.parse_datetime("2023\udfff"), lambda m: vellomar.parse_date("\ud83d20230101"),
    lambda m: m.segment("P\udc00"), lambda m: m.segments_by_name("\ud800"), lambda m: m.get("PID-\ud800"),
    lambda m: m["\ud800"], lambda m: m.ack("\ud800"), lambda m: m.ack("AA", "\udfff"),
]


@pytest.mark.parametrize("call", SURROGATES)
def test_lone_surrogates_raise_the_interpreters_encode_error(call):
    error = raises(lambda: call(vellomar.parse(HEADER)))
    assert error[0] is UnicodeEncodeError and error[1][0] == "utf-8" and error[1][4] == "surrogates not allowed"
