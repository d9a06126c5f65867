"""Leak checks: every public function, method, property, slot and iterator,
on its success and error paths, called many times in a fresh interpreter,
must not grow the traced Python memory nor the process's resident memory, and
must leave the reference counts of its arguments and of its instance as they
were.

The measuring runs in a subprocess (`python tests/test_leaks.py --worker`),
so that nothing else in the test session disturbs the figures; run the file
as `python tests/test_leaks.py --report` to print them per 100,000 calls.
"""

import gc
import json
import os
import subprocess
import sys
import tracemalloc

import pytest

RSS_CALLS = 3_000  # calls between the two resident-memory readings
TRACED_CALLS = 300  # calls between the two tracemalloc readings
WARM_CALLS = 100

# Noise allowances (the noise measured is at most one page of RSS and a few
# hundred bytes of traced memory). A leak of one small object or one small C++
# allocation per call exceeds them: 300 leaked 32-byte objects are some 10 KiB
# of traced memory, 3,000 leaked 48-byte heap blocks some 190 KiB of RSS. The
# two control cases below leak on purpose and must be caught.
TRACED_LIMIT = 4 * 1024
RSS_LIMIT = 64 * 1024
CONTROLS = ["control: Python object leak", "control: heap block leak"]

RAW = (
    "MSH|^~\\&|SEND|FAC|RECV|FAC|20230101||ADT^A01|CTRL1|P|2.5\r"
    "PID|1||MRN||DOE&JR^JOHN~SMITH^JANE\r"
    "OBX|1|ST|C^D||v\\F\\x\\XE9\\"
)


def fresh(text):
    """A new str object equal to `text` (never an interned or cached one)."""
    return "".join([text[:1], text[1:]]) if len(text) > 1 else text + ""


def build_cases():
    """(name, call, expected exception or None, objects whose counts must hold)."""
    import vellomar
    from vellomar import _core

    class Index(int):
        """An int whose instances are fresh objects with their own counts."""

    raw = fresh(RAW)
    msg = vellomar.parse(raw)
    no_msh = vellomar.parse(fresh("MSH\u00a6^~\\&\u00a6A"))  # one segment, not named MSH
    short = vellomar.parse(fresh("MSH|^~\\&|A"))
    seg = msg.segment("PID")
    field = seg.field(5)
    comp = field.component(1)
    one, two, five = Index(1), Index(2), Index(5)
    big = 10**6
    huge = 2**64
    negative = -(10**6)
    pid, obx, nope = fresh("PID"), fresh("OBX"), fresh("ZZZ")
    path, bad_path, no_seg_path, far_path = (
        fresh("PID-5-1-2"), fresh("PID-x"), fresh("ZZZ-1"), fresh("PID-99"))
    batch = fresh(RAW + "\r" + RAW)
    bad_batch = fresh(RAW + "\rMSH|^")
    stamp, aware, bad_stamp, year0 = (
        fresh("20230101120000.5"), fresh("20230101120000-0500"), fresh("20231301"), fresh("00000101"))
    date, bad_date, month13 = fresh("20230115"), fresh("2023-01-01"), fresh("20231315")
    empty, not_msh, too_short = fresh(""), fresh("PID|1||MRN"), fresh("MSH|^~\\")
    surrogate = fresh("MSH|^~\\&|\ud800x")
    code, text = fresh("AE"), fresh("some text")
    key_raw, key_x = fresh("raw"), fresh("x")
    not_str = 12345678901234567890

    def expect(exc, call):
        def run():
            try:
                call()
            except exc as e:
                if type(e) is not exc:
                    raise
            else:
                raise AssertionError("no exception")
        return run

    def drain(iterable):
        def run():
            for _ in iterable():
                pass
        return run

    def next_after_end(iterator):
        def run():
            it = iterator()
            for _ in it:
                pass
            try:
                next(it)
            except StopIteration:
                pass
            assert iter(it) is it
        return run

    def set_attr(obj, name):
        return expect(AttributeError, lambda: setattr(obj, name, name))

    cases = [
        # Module functions.
        ("parse", lambda: vellomar.parse(raw), (raw,)),
        ("parse(raw=)", lambda: vellomar.parse(raw=raw), (raw,)),
        ("parse empty", expect(ValueError, lambda: vellomar.parse(empty)), (empty,)),
        ("parse not MSH", expect(ValueError, lambda: vellomar.parse(not_msh)), (not_msh,)),
        ("parse too short", expect(ValueError, lambda: vellomar.parse(too_short)), (too_short,)),
        ("parse not str", expect(TypeError, lambda: vellomar.parse(not_str)), (not_str,)),
        ("parse surrogate", expect(UnicodeEncodeError, lambda: vellomar.parse(surrogate)), (surrogate,)),
        ("parse missing", expect(TypeError, lambda: vellomar.parse()), ()),
        ("parse surplus", expect(TypeError, lambda: vellomar.parse(raw, raw)), (raw,)),
        ("parse unknown kw", expect(TypeError, lambda: vellomar.parse(text=raw)), (raw,)),
        ("parse duplicate kw", expect(TypeError, lambda: vellomar.parse(raw, raw=raw)), (raw,)),
        ("parse_batch", lambda: vellomar.parse_batch(batch), (batch,)),
        ("parse_batch error", expect(ValueError, lambda: vellomar.parse_batch(bad_batch)), (bad_batch,)),
        ("parse_batch not str", expect(TypeError, lambda: vellomar.parse_batch(not_str)), (not_str,)),
        ("parse_datetime", lambda: vellomar.parse_datetime(stamp), (stamp,)),
        ("parse_datetime offset", lambda: vellomar.parse_datetime(raw=aware), (aware,)),
        ("parse_datetime invalid", expect(ValueError, lambda: vellomar.parse_datetime(bad_stamp)), (bad_stamp,)),
        ("parse_datetime year 0", expect(ValueError, lambda: vellomar.parse_datetime(year0)), (year0,)),
        ("parse_datetime not str", expect(TypeError, lambda: vellomar.parse_datetime(not_str)), (not_str,)),
        ("parse_date", lambda: vellomar.parse_date(date), (date,)),
        ("parse_date invalid", expect(ValueError, lambda: vellomar.parse_date(bad_date)), (bad_date,)),
        ("parse_date month 13", expect(ValueError, lambda: vellomar.parse_date(month13)), (month13,)),
        ("parse_date missing", expect(TypeError, lambda: vellomar.parse_date()), ()),
        # Message properties.
        ("Message.raw", lambda: msg.raw, (msg,)),
        ("Message.segments", lambda: msg.segments, (msg,)),
        ("Message.message_type", lambda: msg.message_type, (msg,)),
        ("Message.control_id", lambda: msg.control_id, (msg,)),
        ("Message.version", lambda: msg.version, (msg,)),
        ("Message.sending_application", lambda: msg.sending_application, (msg,)),
        ("Message.sending_facility", lambda: msg.sending_facility, (msg,)),
        ("header no MSH", expect(KeyError, lambda: no_msh.control_id), (no_msh,)),
        ("header type no MSH", expect(KeyError, lambda: no_msh.message_type), (no_msh,)),
        ("header short", expect(IndexError, lambda: short.version), (short,)),
        ("header type short", expect(IndexError, lambda: short.message_type), (short,)),
        ("Message.raw set", set_attr(msg, key_raw), (msg, key_raw)),
        ("Message attr set", set_attr(msg, key_x), (msg, key_x)),
        # Message methods.
        ("Message.segment", lambda: msg.segment(pid), (msg, pid)),
        ("Message.segment missing", expect(KeyError, lambda: msg.segment(nope)), (msg, nope)),
        ("Message.segment not str", expect(TypeError, lambda: msg.segment(not_str)), (msg, not_str)),
        ("Message.segment surplus", expect(TypeError, lambda: msg.segment(pid, pid)), (msg, pid)),
        ("Message.segments_by_name", lambda: msg.segments_by_name(name=obx), (msg, obx)),
        ("Message.segments_by_name bad", expect(TypeError, lambda: msg.segments_by_name(not_str)), (msg,)),
        ("Message.to_dict", lambda: msg.to_dict(), (msg,)),
        ("Message.to_dict argument", expect(TypeError, lambda: msg.to_dict(raw)), (msg, raw)),
        ("Message.to_json", lambda: msg.to_json(), (msg,)),
        ("Message.get", lambda: msg.get(path), (msg, path)),
        ("Message.get invalid", expect(ValueError, lambda: msg.get(path=bad_path)), (msg, bad_path)),
        ("Message.get no segment", expect(KeyError, lambda: msg.get(no_seg_path)), (msg, no_seg_path)),
        ("Message.get out of range", expect(IndexError, lambda: msg.get(far_path)), (msg, far_path)),
        ("Message.get not str", expect(TypeError, lambda: msg.get(not_str)), (msg, not_str)),
        ("Message[path]", lambda: msg[path], (msg, path)),
        ("Message[bad path]", expect(ValueError, lambda: msg[bad_path]), (msg, bad_path)),
        ("Message[int]", expect(TypeError, lambda: msg[big]), (msg, big)),
        ("Message.ack", lambda: msg.ack(), (msg,)),
        ("Message.ack args", lambda: msg.ack(code, text=text), (msg, code, text)),
        ("Message.ack not str", expect(TypeError, lambda: msg.ack(ack_code=not_str)), (msg, not_str)),
        ("Message.ack surplus", expect(TypeError, lambda: msg.ack(code, text, text)), (msg, code, text)),
        ("Message.ack no MSH", expect(KeyError, lambda: no_msh.ack()), (no_msh,)),
        ("len(Message)", lambda: len(msg), (msg,)),
        ("repr(Message)", lambda: repr(msg), (msg,)),
        ("str(Message)", lambda: str(msg), (msg,)),
        ("MessageIterator", drain(lambda: msg), (msg,)),
        ("MessageIterator exhausted", next_after_end(lambda: iter(msg)), (msg,)),
        # Segment.
        ("Segment.name", lambda: seg.name, (seg,)),
        ("Segment.fields", lambda: seg.fields, (seg,)),
        ("Segment.field", lambda: seg.field(two), (seg, two)),
        ("Segment.field(index=)", lambda: seg.field(index=five), (seg, five)),
        ("Segment.field range", expect(IndexError, lambda: seg.field(big)), (seg, big)),
        ("Segment.field negative", expect(OverflowError, lambda: seg.field(negative)), (seg, negative)),
        ("Segment.field huge", expect(OverflowError, lambda: seg.field(huge)), (seg, huge)),
        ("Segment.field str", expect(TypeError, lambda: seg.field(pid)), (seg, pid)),
        ("Segment[index]", lambda: seg[two], (seg, two)),
        ("Segment[range]", expect(IndexError, lambda: seg[big]), (seg, big)),
        ("Segment[str]", expect(TypeError, lambda: seg[pid]), (seg, pid)),
        ("Segment.to_dict", lambda: seg.to_dict(), (seg,)),
        ("Segment.name set", set_attr(seg, key_x), (seg, key_x)),
        ("len(Segment)", lambda: len(seg), (seg,)),
        ("str(Segment)", lambda: str(seg), (seg,)),
        ("repr(Segment)", lambda: repr(seg), (seg,)),
        ("SegmentIterator", drain(lambda: seg), (seg,)),
        ("SegmentIterator exhausted", next_after_end(lambda: iter(seg)), (seg,)),
        # Field.
        ("Field.value", lambda: field.value, (field,)),
        ("Field.components", lambda: field.components, (field,)),
        ("Field.repetitions", lambda: field.repetitions, (field,)),
        ("Field.component", lambda: field.component(one), (field, one)),
        ("Field.component range", expect(IndexError, lambda: field.component(big)), (field, big)),
        ("Field.component str", expect(TypeError, lambda: field.component(pid)), (field, pid)),
        ("Field.component missing", expect(TypeError, lambda: field.component()), (field,)),
        ("Field[index]", lambda: field[two], (field, two)),
        ("Field[range]", expect(IndexError, lambda: field[big]), (field, big)),
        ("Field.to_dict", lambda: field.to_dict(), (field,)),
        ("len(Field)", lambda: len(field), (field,)),
        ("str(Field)", lambda: str(field), (field,)),
        ("repr(Field)", lambda: repr(field), (field,)),
        # Component.
        ("Component.value", lambda: comp.value, (comp,)),
        ("Component.sub_components", lambda: comp.sub_components, (comp,)),
        ("Component.sub_component", lambda: comp.sub_component(two), (comp, two)),
        ("Component.sub_component range", expect(IndexError, lambda: comp.sub_component(big)), (comp, big)),
        ("Component.sub_component str", expect(TypeError, lambda: comp.sub_component(pid)), (comp, pid)),
        ("str(Component)", lambda: str(comp), (comp,)),
        ("repr(Component)", lambda: repr(comp), (comp,)),
    ]
    for name in ["Message", "Segment", "Field", "Component", "MessageIterator", "SegmentIterator"]:
        cls = getattr(_core, name)
        cases.append((f"{name}()", expect(TypeError, cls), (cls,)))

    # Deliberate leaks, to show that the measuring catches them.
    kept = []
    cases.append((CONTROLS[0], lambda: kept.append(bytearray(32)), ()))
    if sys.platform.startswith("linux"):
        import ctypes

        libc = ctypes.CDLL(None)
        libc.malloc.restype = ctypes.c_void_p
        cases.append((CONTROLS[1], lambda: libc.malloc(48), ()))
    return cases


def rss():
    """Resident memory in bytes (0 where /proc is not there to tell)."""
    try:
        with open("/proc/self/statm") as f:
            return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")
    except OSError:
        return 0


def _malloc_trim():
    """glibc's malloc_trim, which hands the free pages of the heap back to the
    system, so that a leak has to take new pages and shows in RSS."""
    try:
        import ctypes

        return ctypes.CDLL(None).malloc_trim
    except (ImportError, OSError, AttributeError):
        return lambda pad: 0


malloc_trim = _malloc_trim()


def settle():
    """Frees what only caches hold: cyclic garbage, the interpreter's type
    attribute cache (whose slots keep temporary attribute names alive: a new
    slot for every new address of such a name, up to the cache's size) and
    the free pages of the C heap."""
    gc.collect()
    getattr(sys, "_clear_internal_caches", sys._clear_type_cache)()
    malloc_trim(0)


def measure(call, tracked, rss_calls=RSS_CALLS, traced_calls=TRACED_CALLS):
    for _ in range(WARM_CALLS):
        call()
    settle()
    counts = [sys.getrefcount(o) for o in tracked]
    before = rss()
    for _ in range(rss_calls):
        call()
    settle()
    rss_growth = rss() - before

    tracemalloc.start()
    for _ in range(WARM_CALLS):
        call()
    settle()
    start = tracemalloc.get_traced_memory()[0]
    for _ in range(traced_calls):
        call()
    settle()
    traced_growth = tracemalloc.get_traced_memory()[0] - start
    tracemalloc.stop()
    after = [sys.getrefcount(o) for o in tracked]
    return {"rss": rss_growth, "traced": traced_growth,
            "refs": [a - b for a, b in zip(after, counts)]}


def worker(rss_calls=RSS_CALLS, traced_calls=TRACED_CALLS):
    results = {}
    for name, call, tracked in build_cases():
        results[name] = measure(call, tracked, rss_calls, traced_calls)
    json.dump(results, sys.stdout)


CASE_NAMES = [name for name, _, _ in build_cases() if name not in CONTROLS]


def sanitized():
    return "asan" in os.environ.get("LD_PRELOAD", "")


@pytest.fixture(scope="module")
def figures():
    done = subprocess.run(
        [sys.executable, __file__, "--worker"], capture_output=True, text=True, timeout=300,
    )
    assert done.returncode == 0, done.stderr
    return json.loads(done.stdout)


def test_every_case_was_measured(figures):
    assert sorted(set(figures) - set(CONTROLS)) == sorted(CASE_NAMES)


def test_deliberate_leaks_are_caught(figures):
    assert figures[CONTROLS[0]]["traced"] > TRACED_LIMIT
    if CONTROLS[1] in figures and not sanitized():
        assert figures[CONTROLS[1]]["rss"] > RSS_LIMIT


@pytest.mark.parametrize("name", CASE_NAMES)
def test_no_leak(figures, name):
    result = figures[name]
    assert result["refs"] == [0] * len(result["refs"]), "reference counts changed"
    assert result["traced"] < TRACED_LIMIT, f"traced memory grew by {result['traced']} bytes"
    # Resident memory says nothing under AddressSanitizer's allocator.
    if not sanitized():
        assert result["rss"] < RSS_LIMIT, f"resident memory grew by {result['rss']} bytes"


def report():
    """Growth per 100,000 calls of each case (traced memory over 100,000
    calls too, which takes a minute or two)."""
    done = subprocess.run([sys.executable, __file__, "--worker", "--long"],
                          capture_output=True, text=True)
    figures = json.loads(done.stdout)
    print(f"{'case':40} {'RSS growth':>12} {'traced growth':>14}  (bytes per 100,000 calls)")
    for name, r in figures.items():
        print(f"{name:40} {r['rss']:>12} {r['traced']:>14}")
    real = [r for name, r in figures.items() if name not in CONTROLS]
    print(f"worst of {len(real)} cases: RSS {max(r['rss'] for r in real)} bytes, "
          f"traced {max(r['traced'] for r in real)} bytes per 100,000 calls")


if __name__ == "__main__":
    if "--worker" in sys.argv:
        worker(*((100_000, 100_000) if "--long" in sys.argv else ()))
    elif "--report" in sys.argv:
        report()
