"""Leak check: every public callable, on its success and error paths, called
many times by one worker in a fresh interpreter, must not grow traced Python
memory nor resident memory, and must leave the reference counts of its
arguments and instance as they were. Two control cases leak on purpose and
must be caught."""

import gc
import json
import os
import subprocess
import sys
import tracemalloc

import pytest

CALLS, RSS_CALLS, WARM = 300, 3_000, 100
# A leak of one 32-byte object per call is ~10 KiB traced; of one 48-byte heap block ~190 KiB of RSS.
TRACED_LIMIT, RSS_LIMIT = 4 * 1024, 64 * 1024
CONTROLS = ["control: object", "control: heap block"]
RAW = "MSH|^~\\&|SEND|FAC|RECV|FAC|20230101||ADT^A01|CTRL1|P|2.5\rPID|1||MRN||DOE&JR^JOHN~SMITH^JANE\rOBX|1|ST|C||v\\F\\x\\XE9\\"


def raised(call):
    try:
        call()
    except TypeError:
        return True


def fresh(text):
    """A new str equal to `text`, never an interned one, so that its count is its own."""
    return "".join([text[:1], text[1:]])


def cases():
    """name -> (call, exception it raises or None, objects whose counts must hold)."""
    import ctypes

    import vellomar
    from vellomar import _core

    raw, bad, path, surrogate = fresh(RAW), fresh("MSH|^~\\"), fresh("PID-5-1-2"), fresh("MSH|\ud800")
    msg, no_msh, short = vellomar.parse(raw), vellomar.parse(fresh("MSH\u00a6^~\\&\u00a6A")), vellomar.parse(fresh("MSH|^~\\&"))
    seg = msg.segment("PID")
    field, comp, big, neg, name, two = seg.field(5), seg.field(5)[1], 10**6, -(10**6), fresh("OBX"), int("2")
    classes = tuple(getattr(_core, n) for n in ("Message", "Segment", "Field", "Component", "MessageIterator", "SegmentIterator"))
    stamp, batch, kept = fresh("20230101120000.5-0500"), fresh(RAW + "\r" + RAW), []
    table = {
        "parse": (lambda: vellomar.parse(raw=raw), None, (raw,)), "parse error": (lambda: vellomar.parse(bad), ValueError, (bad,)),
        "parse type": (lambda: vellomar.parse(big), TypeError, (big,)), "parse surrogate": (lambda: vellomar.parse(surrogate), UnicodeEncodeError, (surrogate,)),
        "parse binding": (lambda: vellomar.parse(raw, raw=raw), TypeError, (raw,)), "parse missing": (lambda: vellomar.parse(), TypeError, ()),
        "parse_batch": (lambda: vellomar.parse_batch(batch), None, (batch,)), "parse_batch error": (lambda: vellomar.parse_batch(raw + bad), ValueError, ()),
        "parse_datetime": (lambda: vellomar.parse_datetime(stamp), None, (stamp,)), "parse_datetime error": (lambda: vellomar.parse_datetime(bad), ValueError, (bad,)),
        "parse_datetime year 0": (lambda: vellomar.parse_datetime("00000101"), ValueError, ()), "parse_date": (lambda: vellomar.parse_date(stamp), None, (stamp,)),
        "parse_date error": (lambda: vellomar.parse_date(bad), ValueError, (bad,)), "parse_date type": (lambda: vellomar.parse_date(raw=big), TypeError, (big,)),
        "properties": (lambda: (msg.raw, msg.segments, seg.name, seg.fields, field.value, field.components, field.repetitions,
                                comp.value, comp.sub_components), None, (msg, seg, field, comp)),
        "header": (lambda: (msg.message_type, msg.control_id, msg.version, msg.sending_application, msg.sending_facility), None, (msg,)),
        "header no MSH": (lambda: no_msh.message_type, KeyError, (no_msh,)), "header short": (lambda: short.version, IndexError, (short,)),
        "attribute set": (lambda: setattr(msg, "raw", raw), AttributeError, (msg, raw)),
        "segment": (lambda: msg.segment(name), None, (msg, name)), "segment missing": (lambda: msg.segment(raw), KeyError, (msg, raw)),
        "segment type": (lambda: msg.segment(big), TypeError, (msg, big)), "segment binding": (lambda: msg.segment(name, name), TypeError, (msg, name)),
        "segments_by_name": (lambda: msg.segments_by_name(name=name), None, (msg, name)),
        "to_dict": (lambda: (msg.to_dict(), seg.to_dict(), field.to_dict()), None, (msg, seg, field)),
        "to_json": (lambda: msg.to_json(), None, (msg,)), "to_dict binding": (lambda: msg.to_dict(raw), TypeError, (msg, raw)),
        "get": (lambda: (msg.get(path=path), msg[path]), None, (msg, path)), "get invalid": (lambda: msg[fresh("PID-x")], ValueError, (msg,)),
        "get missing": (lambda: msg.get(fresh("ZZZ-1")), KeyError, (msg,)), "get range": (lambda: msg[fresh("PID-99")], IndexError, (msg,)),
        "get type": (lambda: msg[big], TypeError, (msg, big)), "ack": (lambda: msg.ack(name, text=raw), None, (msg, name, raw)),
        "ack type": (lambda: msg.ack(ack_code=big), TypeError, (msg, big)), "ack no MSH": (lambda: no_msh.ack(), KeyError, (no_msh,)),
        "slots": (lambda: (len(msg), repr(msg), str(msg), len(seg), repr(seg), str(field), repr(field), repr(comp)), None, (msg, seg, field, comp)),
        "iterators": (lambda: ([s for s in msg], [f for f in seg]), None, (msg, seg)),
        "exhausted iterators": (lambda: [next(it, None) for it in (iter(msg), iter(seg)) for _ in range(14)], None, (msg, seg)),
        "field": (lambda: (seg.field(two), seg[two], field.component(two), field[two], comp.sub_component(1)), None, (seg, field, comp, two)),
        "index range": (lambda: seg.field(big), IndexError, (seg, big)), "index negative": (lambda: field[neg], OverflowError, (field, neg)),
        "index type": (lambda: comp.sub_component(name), TypeError, (comp, name)),
        "constructors": (lambda: [raised(cls) for cls in classes], None, classes),
        CONTROLS[0]: (lambda: kept.append(bytearray(32)), None, ()),
        CONTROLS[1]: (lambda: ctypes.CDLL(None).malloc(48), None, ()),
    }
    return table


def settle():
    """Frees what only caches hold: cycles, the type attribute cache, free heap pages."""
    gc.collect()
    getattr(sys, "_clear_internal_caches", sys._clear_type_cache)()
    try:
        import ctypes
        ctypes.CDLL(None).malloc_trim(0)
    except (OSError, AttributeError):
        pass


def rss():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def measure(call, exc, tracked):
    def once():
        try:
            call()
        except BaseException as e:
            if exc is None or type(e) is not exc:
                raise
    for _ in range(WARM):
        once()
    settle()
    counts, before = [sys.getrefcount(o) for o in tracked], rss()
    for _ in range(RSS_CALLS):
        once()
    settle()
    grown = rss() - before
    tracemalloc.start()
    for _ in range(WARM):
        once()
    settle()
    start = tracemalloc.get_traced_memory()[0]
    for _ in range(CALLS):
        once()
    settle()
    traced = tracemalloc.get_traced_memory()[0] - start
    tracemalloc.stop()
    after = [sys.getrefcount(o) for o in tracked]
    return {"rss": grown, "traced": traced, "refs": [a - c for a, c in zip(after, counts)]}


@pytest.fixture(scope="module")
def figures():
    done = subprocess.run([sys.executable, __file__], capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stderr
    return json.loads(done.stdout)


SANITIZED = "asan" in os.environ.get("LD_PRELOAD", "")  # resident memory says nothing under ASan's allocator


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="reads /proc")
@pytest.mark.parametrize("name", [n for n in cases() if n not in CONTROLS])
def test_no_leak(figures, name):
    assert figures[CONTROLS[0]]["traced"] > TRACED_LIMIT and (SANITIZED or figures[CONTROLS[1]]["rss"] > RSS_LIMIT)
    result = figures[name]
    assert result["refs"] == [0] * len(result["refs"]) and result["traced"] < TRACED_LIMIT, result
    assert SANITIZED or result["rss"] < RSS_LIMIT, result


if __name__ == "__main__":
    json.dump({name: measure(*case) for name, case in cases().items()}, sys.stdout)
