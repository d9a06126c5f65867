"""Several Python threads parsing, querying and iterating shared messages at
once: every thread must see exactly what a single thread sees."""

import sys
import threading

import pytest

import vellomar

THREADS = 4
ROUNDS = 40

RAWS = [
    "MSH|^~\\&|SEND|FAC|RECV|FAC|20230101120000||ADT^A01|C1|P|2.5\r"
    "PID|1||MRN^^^H&1.2&ISO~ALT||DOE&JR^JOHN~SMITH^JANE\rOBX|1|ST|C^D||v\\F\\x\\XE9\\\rOBX|2|ST|E",
    "MSH#^~\\&#A#B#C#D#20240229#\u00e9#ORU^R01#C2#P#2.6\rOBR#1#x^y&z\r\U0001F600#\u00a6",
    "\x0bMSH|^~\\&|X|Y\nNTE|1||line\\.br\\two\r\n\x1c\r",
]
PATHS = ["PID-5", "PID-5-1-2", "OBX(1)-3", "MSH-9-2", "OBR-2-2-2", "NTE-3", "ZZZ-1", "PID-x",
         "PID-99", "MSH-1"]


def answer(call):
    """The result of `call`, or the type and arguments of what it raised."""
    try:
        return call()
    except (ValueError, KeyError, IndexError) as e:
        return type(e).__name__, e.args


def workload(shared):
    out = []
    for raw in RAWS:  # parse in this thread
        msg = vellomar.parse(raw)
        out.append(msg.to_json())
        out.append(answer(lambda: msg.ack("AE", "t")[:8]))
    out.append([m.raw for m in vellomar.parse_batch("\r".join(r.strip("\x0b\x1c\r") for r in RAWS))])
    for msg in shared:  # query and iterate the messages shared by all threads
        out.append(msg.to_dict())
        out.append([(s.name, [(f.value, [c.sub_components for c in f.components], [r.value for r in f.repetitions])
                              for f in s]) for s in msg])
        out.append([answer(lambda p=p: msg[p]) for p in PATHS])
        out.append([answer(lambda h=h: getattr(msg, h)) for h in
                    ("message_type", "control_id", "version", "sending_application")])
        out.append([s.to_dict() for s in msg.segments_by_name("OBX")])
    out.append(vellomar.parse_datetime("20230101120000.5-0500"))
    out.append(answer(lambda: vellomar.parse_date("20231315")))
    return out


@pytest.fixture
def fast_switching():
    old = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    yield
    sys.setswitchinterval(old)


def run_threads(target, count=THREADS):
    errors = []
    barrier = threading.Barrier(count)

    def body(i):
        try:
            barrier.wait()
            target(i)
        except BaseException as e:  # report anything, PanicException included
            errors.append(e)

    threads = [threading.Thread(target=body, args=(i,)) for i in range(count)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert errors == []


def test_threads_agree_with_a_single_thread(fast_switching):
    shared = [vellomar.parse(raw) for raw in RAWS]
    expected = workload(shared)
    mismatches = []

    def rounds(i):
        for n in range(ROUNDS):
            if workload(shared) != expected:
                mismatches.append((i, n))

    run_threads(rounds)
    assert mismatches == []
    assert [m.raw for m in shared] == [vellomar.parse(raw).raw for raw in RAWS]


@pytest.mark.parametrize("kind", ["message", "segment"])
def test_shared_iterator_hands_out_every_item_once(fast_switching, kind):
    count = 20_000
    if kind == "message":
        msg = vellomar.parse("MSH|^~\\&\r" + "\r".join(f"Z{i}|x" for i in range(count - 1)))
        iterator, expected = iter(msg), ["MSH"] + [f"Z{i}" for i in range(count - 1)]
        key = lambda item: item.name  # noqa: E731
    else:
        msg = vellomar.parse("MSH|^~\\&\rZZZ|" + "|".join(map(str, range(count))))
        iterator, expected = iter(msg.segment("ZZZ")), [str(i) for i in range(count)]
        key = lambda item: item.value  # noqa: E731
    taken = [[] for _ in range(THREADS)]

    def drain(i):
        for item in iterator:
            taken[i].append(key(item))

    run_threads(drain)
    together = [item for part in taken for item in part]
    assert sorted(together) == sorted(expected)
    position = {item: i for i, item in enumerate(expected)}
    for part in taken:  # each thread saw its items in iteration order
        assert [position[item] for item in part] == sorted(position[item] for item in part)
    with pytest.raises(StopIteration):
        next(iterator)


def test_calls_back_into_python_during_argument_conversion():
    # __index__ runs while Segment.field holds its borrow of the segment: the
    # same segment, its iterator and other members stay usable meanwhile.
    seg = vellomar.parse(RAWS[0]).segment("PID")
    seen = []

    class Index:
        def __index__(self):
            seen.append([f.value for f in seg])
            seen.append(seg.field(1).value)
            seen.append(seg.to_dict()["name"])
            return 5

    assert seg.field(Index()).value == "DOE&JR^JOHN~SMITH^JANE"
    assert seg[Index()].value == "DOE&JR^JOHN~SMITH^JANE"
    assert seen[:3] == [["1", "", "MRN^^^H&1.2&ISO~ALT", "", "DOE&JR^JOHN~SMITH^JANE"], "1", "PID"]
