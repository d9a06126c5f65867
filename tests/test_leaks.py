"""Leak check: one worker in a fresh interpreter runs the suite's tables of calls (every public callable on
its success and error paths) and the members of every class many times; none may grow traced Python memory
or resident memory, nor change the reference counts of its arguments and instances (after success and after
failure alike). Two control cases leak on purpose and must be caught."""

import ctypes
import gc
import json
import os
import subprocess
import sys
import tracemalloc
from functools import partial

import pytest

CALLS, RSS_CALLS, WARM = 300, 3_000, 100
# A leak of one 32-byte object per call is ~10 KiB traced; of one 48-byte heap block ~190 KiB of RSS.
TRACED_LIMIT, RSS_LIMIT = 4 * 1024, 64 * 1024
CONTROLS = ["control: object", "control: heap block"]


def cases():
    """name -> (call, objects whose counts must hold)."""
    import test_api
    import test_batch
    import test_hostile
    import test_parser
    import test_table
    import test_terser
    import test_timestamp
    import vellomar
    from conftest import raises, value_of

    members = msg, seg, field, comp = test_api.MSG, test_api.PID, test_api.PID[5], test_api.PID[5][1]
    parsed = {text: vellomar.parse(text) for text, _, _ in test_terser.PATHS}
    tables = {
        "binding and lookup errors": [call for call, _, _ in test_api.ERRORS],
        "parse": [partial(vellomar.parse, row[0]) for row in test_parser.PARSE_ERRORS + test_parser.SHAPES],
        "escapes": [partial(value_of, row[0], *row[2:]) for row in test_parser.ESCAPES],
        "terser": [partial(f, p) for t, p, _ in test_terser.PATHS for f in (parsed[t].get, parsed[t].__getitem__)],
        "timestamps": [partial(f, raw) for f, raw, _ in test_timestamp.VALUES + test_timestamp.ERRORS],
        "batches": [partial(vellomar.parse_batch, raw) for raw, _ in test_batch.BATCHES],
        "lone surrogates": [partial(call, msg) for call in test_hostile.SURROGATES],
        "tables": test_table.LEAK_CALLS,
    }
    def arguments(call):  # of a partial, or the constants a lambda passes (but the interpreter's shared small ints)
        if isinstance(call, partial) or not hasattr(call, "__code__"):
            return getattr(call, "args", [call])
        return [c for c in call.__code__.co_consts if isinstance(c, (str, bytes)) or type(c) is int and not -5 <= c <= 256]

    return {name: (lambda calls=calls: [raises(c) for c in calls], [*members, *(a for c in calls for a in arguments(c))])
            for name, calls in tables.items()} | {
        "members": (lambda: ([getattr(o, a) for o, a in test_api.PROPERTIES], msg.segment("PID"), msg.segments_by_name("OBX"),
                             seg.field(2), seg[5], field.component(2), field[1], comp.sub_component(1), msg.ack("AE", "t"),
                             len(msg), repr(msg), len(seg), repr(seg), str(field), repr(field), repr(comp), msg.to_dict(),
                             seg.to_dict(), field.to_dict(), msg.to_json(), [next(it, None) for it in (iter(msg), iter(seg))
                                                                             for _ in range(14)]), members),
        CONTROLS[0]: (partial([].append, None), ()),
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
    done = subprocess.run([sys.executable, __file__], capture_output=True, text=True, timeout=600)
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
