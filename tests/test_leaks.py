"""Leak check: every public callable, on its success and error paths, called
many times by one worker in a fresh interpreter, must not grow traced Python
memory nor resident memory, and must leave the reference counts of its
arguments and instance as they were. Two control cases leak on purpose and
must be caught."""

import ctypes
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


def fresh(text):
    """A new str equal to `text`, never an interned one, so that its count is its own."""
    return "".join([text[:1], text[1:]])


def cases():
    """name -> (call, objects whose counts must hold); error paths are grouped per callable."""
    import test_api  # its table of binding and lookup errors runs here too
    import vellomar
    from conftest import raises

    raw, bad, path, surrogate = fresh(RAW), fresh("MSH|^~\\"), fresh("PID-5-1-2"), fresh("MSH|\ud800")
    msg, no_msh = vellomar.parse(raw), vellomar.parse(fresh("MSH\u00a6^~\\&\u00a6A"))
    short = vellomar.parse(fresh("MSH|^~\\&"))
    seg = msg.segment("PID")
    field, comp, big, neg, name, two = seg.field(5), seg.field(5)[1], 10**6, -(10**6), fresh("OBX"), int("2")
    stamp, batch, kept = fresh("20230101120000.5-0500"), fresh(RAW + "\r" + RAW), []
    bad_paths = [fresh(p) for p in ("PID-x", "ZZZ-1", "PID-99")]
    each = lambda *calls: lambda: [raises(c) for c in calls]  # noqa: E731
    errors = {f"{exc.__name__}: {text}": (each(call), (test_api.MSG, test_api.PID)) for call, exc, text in test_api.ERRORS}
    return errors | {
        "parse": (lambda: (vellomar.parse(raw=raw), vellomar.parse_batch(batch)), (raw, batch)),
        "parse errors": (each(lambda: vellomar.parse(bad), lambda: vellomar.parse(big), lambda: vellomar.parse(surrogate),
                              lambda: vellomar.parse(raw, raw=raw), lambda: vellomar.parse_batch(raw + bad)),
                         (raw, bad, big, surrogate)),
        "timestamps": (lambda: (vellomar.parse_datetime(stamp), vellomar.parse_date(raw=stamp)), (stamp,)),
        "timestamp errors": (each(lambda: vellomar.parse_datetime(bad), lambda: vellomar.parse_datetime("00000101"),
                                  lambda: vellomar.parse_date(bad), lambda: vellomar.parse_date(raw=big)), (bad, big)),
        "properties": (lambda: (msg.raw, msg.segments, seg.name, seg.fields, field.value, field.components, field.repetitions,
                                comp.value, comp.sub_components), (msg, seg, field, comp)),
        "header": (lambda: (msg.message_type, msg.control_id, msg.version, msg.sending_application, msg.sending_facility), (msg,)),
        "header errors": (each(lambda: no_msh.message_type, lambda: short.version, lambda: setattr(msg, "raw", raw)),
                          (no_msh, short, msg, raw)),
        "segment": (lambda: (msg.segment(name), msg.segments_by_name(name=name)), (msg, name)),
        "segment errors": (each(lambda: msg.segment(raw), lambda: msg.segment(big), lambda: seg.field(big)), (msg, seg, raw, big)),
        "serialize": (lambda: (msg.to_dict(), seg.to_dict(), field.to_dict(), msg.to_json()), (msg, seg, field)),
        "get": (lambda: (msg.get(path=path), msg[path]), (msg, path)),
        "get errors": (each(*(lambda p=p: msg[p] for p in bad_paths), lambda: msg.get(big)), (msg, big, *bad_paths)),
        "ack": (lambda: (msg.ack(name, text=raw), raises(lambda: msg.ack(ack_code=big))), (msg, name, raw, big)),
        "slots": (lambda: (len(msg), repr(msg), str(msg), len(seg), repr(seg), str(field), repr(field), repr(comp)),
                  (msg, seg, field, comp)),
        "iterators": (lambda: [next(it, None) for it in (iter(msg), iter(seg)) for _ in range(14)], (msg, seg)),
        "index": (lambda: (seg.field(two), seg[two], field.component(two), field[two], comp.sub_component(1)),
                  (seg, field, comp, two)),
        "index errors": (each(lambda: field[neg], lambda: comp.sub_component(name)), (field, comp, neg, name)),
        CONTROLS[0]: (lambda: kept.append(bytearray(32)), ()),
        CONTROLS[1]: (lambda: ctypes.CDLL(None).malloc(48), ()),
    }


def settle():
    """Frees what only caches hold: cycles, the type attribute cache, free heap pages."""
    gc.collect()
    getattr(sys, "_clear_internal_caches", sys._clear_type_cache)()
    ctypes.CDLL(None).malloc_trim(0)


def rss():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def measure(call, tracked):
    def repeat(count, read):
        for _ in range(count):
            call()
        settle()
        return read()
    repeat(WARM, int)
    counts, before = [sys.getrefcount(o) for o in tracked], rss()
    grown = repeat(RSS_CALLS, rss) - before
    tracemalloc.start()
    start = repeat(WARM, lambda: tracemalloc.get_traced_memory()[0])
    traced = repeat(CALLS, lambda: tracemalloc.get_traced_memory()[0]) - start
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
