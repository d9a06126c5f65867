"""Threads parsing, querying and iterating shared messages at once see exactly what one thread sees."""

import sys
import threading

import pytest

import vellomar
from conftest import raises, tree

RAWS = ["MSH|^~\\&|SEND|FAC|RECV|FAC|20230101120000||ADT^A01|C1|P|2.5\r"
        "PID|1||MRN^^^H&1.2&ISO~ALT||DOE&JR^JOHN~SMITH^JANE\rOBX|1|ST|C^D||v\\F\\x\\XE9\\\rOBX|2|ST|E",
        "MSH#^~\\&#A#B#C#D#20240229#\u00e9#ORU^R01#C2#P#2.6\rOBR#1#x^y&z\r\U0001F600#\u00a6",
        "\x0bMSH|^~\\&|X|Y\nNTE|1||line\\.br\\two\r\n\x1c\r"]
PATHS = ["PID-5", "PID-5-1-2", "OBX(1)-3", "MSH-9-2", "OBR-2-2-2", "NTE-3", "ZZZ-1", "PID-x", "PID-99", "MSH-1"]


def workload(shared):
    out = [(vellomar.parse(raw).to_json(), vellomar.parse(raw).ack("AE", "t")[:8]) for raw in RAWS]
    out.append([m.raw for m in vellomar.parse_batch("\r".join(r.strip("\x0b\x1c\r") for r in RAWS))])
    for msg in shared:
        out += [msg.to_dict(), tree(msg), [raises(lambda: msg[p]) or msg[p] for p in PATHS],
                [raises(lambda: getattr(msg, h)) or getattr(msg, h) for h in ("message_type", "control_id", "version")]]
    return out + [vellomar.parse_datetime("20230101120000.5-0500"), raises(lambda: vellomar.parse_date("20231315"))]


@pytest.fixture
def run_threads():
    """Runs target(i) in four threads started together, switching as often as the interpreter can."""
    old, errors, barrier = sys.getswitchinterval(), [], threading.Barrier(4)
    sys.setswitchinterval(1e-6)

    def run(target):
        # Each thread waits for the others, then runs target(i): what it raises, or None, is kept.
        threads = [threading.Thread(target=lambda i=i: errors.append((barrier.wait(), raises(lambda: target(i)))[1]))
                   for i in range(4)]
        [t.start() for t in threads] + [t.join() for t in threads]
        assert errors == [None] * 4
    yield run
    sys.setswitchinterval(old)


def test_threads_agree_with_a_single_thread(run_threads):
    shared = [vellomar.parse(raw) for raw in RAWS]
    expected, mismatches = workload(shared), []
    run_threads(lambda i: mismatches.extend(n for n in range(40) if workload(shared) != expected))
    assert mismatches == [] and [m.raw for m in shared] == [vellomar.parse(raw).raw for raw in RAWS]


@pytest.mark.parametrize("text, items, key", [
    ("MSH|^~\\&\r" + "\r".join(f"Z{i}|x" for i in range(20_000)), lambda m: m, lambda s: s.name),
    ("MSH|^~\\&\rZZZ|" + "|".join(map(str, range(20_000))), lambda m: m.segments[1], lambda f: f.value),
])
def test_shared_iterator_hands_out_every_item_once(run_threads, text, items, key):
    msg = vellomar.parse(text)
    iterator, expected, taken = iter(items(msg)), [key(x) for x in items(msg)], [[] for _ in range(4)]
    run_threads(lambda i: taken[i].extend(key(x) for x in iterator))
    assert sorted(x for part in taken for x in part) == sorted(expected) and next(iterator, None) is None
    position = {x: i for i, x in enumerate(expected)}
    assert all([position[x] for x in part] == sorted(position[x] for x in part) for part in taken)


def test_calls_back_into_python_during_argument_conversion():
    # __index__ runs while Segment.field holds its borrow of the segment, which stays usable meanwhile.
    seg, seen = vellomar.parse(RAWS[0]).segment("PID"), []
    index = type("Index", (), {"__index__": lambda s: seen.append(([f.value for f in seg], seg[1].value,
                                                                    seg.to_dict()["name"])) or 5})()
    assert seg.field(index).value == seg[index].value == "DOE&JR^JOHN~SMITH^JANE"
    assert seen[0] == (["1", "", "MRN^^^H&1.2&ISO~ALT", "", "DOE&JR^JOHN~SMITH^JANE"], "1", "PID")
