"""Hostile and very large input: one table of generators, each checked for its
exact result at a million units and for output that grows in proportion to the
input (a quadratic algorithm shows as a hung suite; bench/ times the growth)."""

import json
import tracemalloc

import pytest
from hypothesis import given, settings, strategies as st

import vellomar
from conftest import raises, tree, value_of

HEADER = "MSH|^~\\&|SEND|FAC|RECV|FAC|20230101||ADT^A01|1|P|2.5"
PID = HEADER + "\rPID|1||MRN||DOE^JOHN"
M = 1_000_000
BATCH_MSG = "MSH|^~\\&|A|B|C|D|20230101||ADT^A01|{0}|P|2.5\rPID|1||{0}\r"

# name -> (text of size n, what is read from it, the expected result)
GENERATORS = {
    "segments": (lambda n: HEADER + "\r" + "OBX|1|TX|C^T||x\\F\\y|F\r" * n + "ZZZ|last",
                 lambda t, n: (len(vellomar.parse(t)), vellomar.parse(t)[f"OBX({n - 1})-5"]), lambda n: (n + 2, "x|y")),
    "fields": (lambda n: HEADER + "\rZZZ|" + "|".join(map(str, range(n))),
               lambda t, n: (len(vellomar.parse(t).segments[1]), vellomar.parse(t)[f"ZZZ-{n}"]), lambda n: (n, str(n - 1))),
    "components": (lambda n: HEADER + "\rZZZ|" + "c^" * (n - 1) + "last&sub",
                   lambda t, n: (len(vellomar.parse(t).segments[1][1]), vellomar.parse(t)[f"ZZZ-1-{n}-2"]), lambda n: (n, "sub")),
    "backslashes": (lambda n: "\\" * n, lambda t, n: value_of(t), lambda n: "\\" * n),
    "escaped escapes": (lambda n: "\\E\\" * n, lambda t, n: value_of(t), lambda n: "\\" * n),
    "open escapes": (lambda n: "\\F" * n, lambda t, n: value_of(t), lambda n: "|F" * (n // 2) + "\\F" * (n % 2)),
    "unterminated": (lambda n: "a\\" + "X41" * n, lambda t, n: value_of(t), lambda n: "a\\" + "X41" * n),
    "hex": (lambda n: "\\X" + "E9" * n + "\\", lambda t, n: value_of(t), lambda n: "\u00e9" * n),
    "hex odd": (lambda n: "\\X" + "4" * (2 * n + 1) + "\\", lambda t, n: value_of(t), lambda n: "D" * n),
    "hex invalid pairs": (lambda n: "\\X" + "ZZ41" * n + "\\", lambda t, n: value_of(t), lambda n: "A" * n),
    "unknown escape": (lambda n: "\\Z" + "q" * n + "\\", lambda t, n: value_of(t), lambda n: "\\Z" + "q" * n + "\\"),
    "batch": (lambda n: "FHS|^~\\&\rBHS|^~\\&\r" + "".join(BATCH_MSG.format(i) for i in range(n // 10)) + "BTS|1\rFTS|1",
              lambda t, n: [m.control_id for m in vellomar.parse_batch(t)], lambda n: [str(i) for i in range(n // 10)]),
    "zero-padded path": (lambda n: "PID-" + "0" * n + "5", lambda t, n: vellomar.parse(PID)[t], lambda n: "DOE^JOHN"),
    "huge repetition": (lambda n: "PID(" + "9" * n + ")-3", lambda t, n: vellomar.parse(PID)[t], lambda n: "MRN"),
    "ignored path tail": (lambda n: "PID-5-1-1-" + "x" * n, lambda t, n: vellomar.parse(PID)[t], lambda n: "DOE"),
    "long name": (lambda n: "P" * n, lambda t, n: raises(lambda: vellomar.parse(PID)[t]),
                  lambda n: (KeyError, ("Segment '" + "P" * n + "' not found",))),
    "huge field number": (lambda n: "PID-" + "9" * n, lambda t, n: raises(lambda: vellomar.parse(PID)[t]),
                          lambda n: (ValueError, ("Invalid field index: '" + "9" * n + "'",))),
    "hyphens": (lambda n: "-" * n, lambda t, n: raises(lambda: vellomar.parse(PID)[t]), lambda n: (KeyError, ("Segment '' not found",))),
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


ERRORS = ("Empty message", "No segments found", "MSH segment too short to extract encoding characters")


@settings(max_examples=300)
@given(st.sampled_from(["MSH|^~\\&", "MSH#^~\\&", "MSH|^~é&", "", "MSH"]),
       st.text(st.sampled_from(list("MSH|^~\\&\r\nXF.brEZ0123456789+-é\x00\x0b\x1c") + ["😀", "\u00a6"]), max_size=80))
def test_arbitrary_text_parses_or_fails_with_a_parser_error(header, body):
    outcome = raises(lambda: vellomar.parse(header + body))
    if outcome is None:
        msg = vellomar.parse(header + body)
        assert json.loads(msg.to_json()) == tree(msg)
    else:
        assert outcome[0] is ValueError and (outcome[1][0] in ERRORS or outcome[1][0].startswith(
            "Message must start with MSH segment, got: '")), outcome
