"""The module and its six classes: names, binding and lookup errors, navigation,
string forms, iteration, copies that outlive their parents, header properties."""

import gc
import importlib
import io
import subprocess
import sys
import weakref

import pytest

import vellomar
from conftest import ADT, raises
from vellomar import _core, _ops

CLASSES = ["Message", "Segment", "Field", "Component", "MessageIterator", "SegmentIterator"]
CONV = "argument '{}': '{}' object cannot be converted to 'PyString'"
T, K, I = TypeError, KeyError, IndexError
INT = "argument 'index': '{}' object cannot be interpreted as an integer"
NO_MSH = "MSH\u00e9^~\\&|A"  # no field separator in the header line: no segment is named MSH
MSG = vellomar.parse(ADT)
PID = MSG.segment("PID")
ODD, BAD_INDEX = type("In", (), {"__qualname__": "Out.In"})(), type("Bad", (), {"__index__": lambda s: 1 / 0})()


def test_module():
    assert _core.__all__ == CLASSES + ["parse", "parse_batch", "parse_datetime", "parse_date"]
    assert all(getattr(vellomar, name) is getattr(_core, name) for name in _core.__all__)
    del sys.modules["vellomar._core"]
    try:
        assert importlib.import_module("vellomar._core") is _core
    finally:
        sys.modules["vellomar._core"] = _core
    # _ops is found by the import system (a reload asks it again), in _core's file.
    assert importlib.reload(vellomar._ops).__spec__.origin == _core.__file__


def test_subinterpreter_is_refused():
    pytest.importorskip("_xxsubinterpreters")
    code = "import _xxsubinterpreters as i, vellomar\ntry: i.run_string(i.create(), 'import vellomar._core')\nexcept Exception as e: print(e)"
    assert "ImportError" in subprocess.run([sys.executable, "-c", code], capture_output=True, text=True).stdout


@pytest.mark.parametrize("name, obj", list(zip(CLASSES, [MSG, PID, PID[5], PID[5][1], iter(MSG), iter(PID)])))
def test_classes(name, obj):
    cls = type(obj)  # constructing one is in ERRORS
    assert (cls, cls.__module__, cls.__qualname__, repr(cls)) == (getattr(_core, name), "builtins", name, f"<class 'builtins.{name}'>")
    for misuse in (lambda: type("Sub", (cls,), {}), lambda: weakref.ref(obj)):  # no subclasses, no weak references
        assert raises(misuse)[0] is TypeError
    assert raises(lambda: setattr(obj, "anything", 1))[0] is AttributeError


PROPERTIES = [
    (MSG, "raw"), (MSG, "segments"), (PID, "name"), (PID, "fields"), (PID[5], "value"), (PID[5], "components"),
    (PID[5], "repetitions"), (PID[5][1], "value"), (PID[5][1], "sub_components"), (MSG, "message_type"),
    (MSG, "control_id"), (MSG, "version"), (MSG, "sending_application"), (MSG, "sending_facility"),
]


@pytest.mark.parametrize("obj, attr", PROPERTIES)
def test_properties_are_read_only_and_fresh(obj, attr):
    assert raises(lambda: setattr(obj, attr, "x"))[0] is AttributeError
    assert raises(lambda: delattr(obj, attr))[0] is AttributeError
    assert getattr(obj, attr) is not getattr(obj, attr) or attr in ("raw", "name", "value")


def test_a_patched_class_attribute_is_seen(monkeypatch):
    monkeypatch.setattr(_core.Message, "raw", property(lambda self: "patched"))
    assert MSG.raw == "patched"


ERRORS = [  # (call, exception type, its text; None for the interpreter's own)
    *[(getattr(_core, name), T, f"No constructor defined for {name}") for name in CLASSES],
    (lambda: vellomar.parse(), T, "parse() missing 1 required positional argument: 'raw'"),
    (lambda: vellomar.parse("a", "b"), T, "parse() takes 1 positional arguments but 2 were given"),
    (lambda: vellomar.parse(text="x"), T, "parse() got an unexpected keyword argument 'text'"),
    (lambda: vellomar.parse("x", raw="y"), T, "parse() got multiple values for argument 'raw'"),
    (lambda: vellomar.parse(b"MSH|"), T, CONV.format("raw", "bytes")),
    (lambda: vellomar.parse_batch(None), T, CONV.format("raw", "NoneType")),
    (lambda: vellomar.parse_batch(), T, "parse_batch() missing 1 required positional argument: 'raw'"),
    (lambda: vellomar.parse_datetime(1), T, CONV.format("raw", "int")),
    (lambda: vellomar.parse_date("a", "b"), T, "parse_date() takes 1 positional arguments but 2 were given"),
    (lambda: vellomar.parse_datetime(text="x"), T, "parse_datetime() got an unexpected keyword argument 'text'"),
    (lambda: vellomar.parse(ODD), T, CONV.format("raw", "Out.In")),
    (lambda: MSG.segment(), T, "Message.segment() missing 1 required positional argument: 'name'"),
    (lambda: MSG.segment(1, 2, x=3), T, "Message.segment() takes 1 positional arguments but 2 were given"),
    (lambda: MSG.segment(x=3), T, "Message.segment() got an unexpected keyword argument 'x'"),
    (lambda: MSG.segment("a", name="b"), T, "Message.segment() got multiple values for argument 'name'"),
    (lambda: MSG.segments_by_name(b"PID"), T, CONV.format("name", "bytes")),
    (lambda: MSG.get(), T, "Message.get() missing 1 required positional argument: 'path'"),
    (lambda: MSG.get(1, path="PID"), T, "Message.get() got multiple values for argument 'path'"),
    (lambda: MSG[5], T, CONV.format("path", "int")), (lambda: MSG.ack(None), T, CONV.format("ack_code", "NoneType")),
    (lambda: MSG.ack(text=5), T, CONV.format("text", "int")),
    (lambda: MSG.ack("AA", "", "x"), T, "Message.ack() takes from 0 to 2 positional arguments but 3 were given"),
    (lambda: vellomar.parse(NO_MSH).ack(None, code=1), T, "Message.ack() got an unexpected keyword argument 'code'"),
    (lambda: vellomar.parse(NO_MSH).ack("", 1, text=1), T, "Message.ack() got multiple values for argument 'text'"),
    (lambda: MSG.to_json(indent=2), T, None), (lambda: MSG.to_dict(1), T, None),  # the interpreter's texts
    (lambda: iter(PID[5]), T, None), (lambda: len(PID[5][1]), T, None), (lambda: PID[5][1][1], T, None),
    (lambda: PID.field(), T, "Segment.field() missing 1 required positional argument: 'index'"),
    (lambda: PID.field("5"), T, INT.format("str")), (lambda: PID[1:2], T, INT.format("slice")),
    (lambda: PID[5].component(1, 2), T, "Field.component() takes 1 positional arguments but 2 were given"),
    (lambda: PID[5].component(None), T, INT.format("NoneType")),
    (lambda: PID[5][1].sub_component(i=1), T, "Component.sub_component() got an unexpected keyword argument 'i'"),
    (lambda: MSG.segment("ZZZ"), K, "Segment 'ZZZ' not found"), (lambda: MSG.segment("pid"), K, "Segment 'pid' not found"),
    (lambda: PID.field(6), I, "Field index 6 out of range (1..5)"),
    (lambda: PID[0], I, "Field index 0 out of range (1..5)"),
    (lambda: PID.field(2**64 - 1), I, "Field index 18446744073709551615 out of range (1..5)"),
    (lambda: PID[5][0], I, "Component index 0 out of range (1..2)"),
    (lambda: PID[5].component(3), I, "Component index 3 out of range (1..2)"),
    (lambda: PID[5][1].sub_component(2), I, "Sub-component index 2 out of range (1..1)"),
    (lambda: PID[5][1].sub_component(0), I, "Sub-component index 0 out of range (1..1)"),
    (lambda: vellomar.parse("MSH|^~\\&\rZZZ").segments[1].field(1), I, "Field index 1 out of range (1..0)"),
    (lambda: vellomar.parse(NO_MSH).ack(), K, "Segment 'MSH' not found"),
    (lambda: PID.field(BAD_INDEX), ZeroDivisionError, ("division by zero")),
    *[(lambda args=args: _ops.tsv_line(*args), T, "tsv_line() takes a Message and a tuple of paths")
      for args in [(MSG, ["PID-1"]), (PID, ("PID-1",))]],
    (lambda: _ops.parse_bytes(b"MSH|^~\\&", 1), T, "argument 'encoding': 'int' object cannot be converted to 'PyString'"),
    (lambda: _ops.count_messages(io.BytesIO(), -1), OverflowError, "can't convert negative int to unsigned"),
]


@pytest.mark.parametrize("call, exc, message", ERRORS)
def test_binding_and_lookup_errors(call, exc, message):
    assert raises(call) == (exc, (message,)) if message else raises(call)[0] is exc


@pytest.mark.parametrize("index", [-1, 2**64, -(2**70)])
@pytest.mark.parametrize("call", [PID.field, PID.__getitem__, PID[5].component, PID[5].__getitem__,
                                  PID[5][1].sub_component])
def test_index_overflow(call, index):
    assert raises(lambda: call(index))[0] is OverflowError


def test_navigation_and_string_forms():
    m = vellomar.parse(ADT + "\rOBX|1\rOBX|2\r|x\rA'B|O'BRIEN\\.br\\x")
    assert repr(m) == str(m) == "Message(segments=[MSH, PID, OBX, OBX, , A'B])"
    assert (len(m), bool(m), [s.name for s in m.segments_by_name("OBX")]) == (6, True, ["OBX", "OBX"])
    assert m.segments_by_name("obx") == [] and m.segment(name="").field(1).value == "x"
    assert [s.field(1).value for s in m.segments_by_name(name="OBX")] == ["1", "2"]
    assert m.segments[0] is not m.segments[0] and m.segment("PID") != m.segment("PID") and "PID" not in m
    pid, msh, quote = m.segment("PID"), m.segment("MSH"), m.segments[5].field(1)
    assert (str(pid), repr(pid), len(pid), repr(msh)) == ("PID", "Segment('PID', fields=5)", 5, "Segment('MSH', fields=12)")
    assert (msh[1].value, msh.field(10).value, pid.field(index=True).value) == ("|", "123", "1")
    assert pid[type("Two", (), {"__index__": lambda s: 2})()].value == ""
    f = pid.field(5)
    assert (f.value, str(f), repr(f), len(f)) == ("DOE^JOHN~SMITH^JANE",) * 2 + ("Field('DOE^JOHN~SMITH^JANE')", 2)
    assert [r.repetitions for r in f.repetitions] == [[], []] and (len(pid[2]), bool(pid[2])) == (1, True)
    c = f.component(1)
    assert (repr(c), str(c), c.sub_components, c.sub_component(1), bool(c)) == ("Component('DOE')", "DOE", ["DOE"], "DOE", True)
    assert (repr(quote), repr(quote[1])) == ("Field('O'BRIEN\nx')", "Component('O'BRIEN\nx')")
    z = vellomar.parse("MSH|^~\\&\rZZZ").segments[1]
    assert (len(z), bool(z), repr(z), list(z)) == (0, False, "Segment('ZZZ', fields=0)", [])
    segments = m.segments
    segments.clear()
    assert len(m) == 6


@pytest.mark.parametrize("obj", [MSG, PID], ids=type)
def test_iterators_hand_out_independent_copies(obj):
    it, parent = iter(obj), vellomar.parse(ADT)
    assert iter(it) is it and type(it).__name__ == type(obj).__name__ + "Iterator"
    items, kept = [next(it) for _ in range(len(obj))], (iter(parent), parent.segment("PID").field(5))
    assert [raises(lambda: next(it)) for _ in range(2)] == [(StopIteration, ())] * 2
    assert [str(x) for x in items] == [str(x) for x in obj] and items[0] is not next(iter(obj))
    del parent  # children outlive their parents
    gc.collect()
    assert ([s.name for s in kept[0]], kept[1].value, kept[1][2].value) == (["MSH", "PID"], "DOE^JOHN~SMITH^JANE", "JOHN")


HEAD = "MSH|^~\\&|SENDER|FAC|RECV|FAC|20230101||{}|{}|P|{}"
PROPS = ("message_type", "control_id", "version", "sending_application", "sending_facility")
RANGE = [(I, (f"Field index {n} out of range (1..{{}})",)) for n in (9, 10, 12, 3, 4)]


@pytest.mark.parametrize("text, expected", [
    (ADT + "\rMSH|^~\\&|LATER", (("ADT", "A01"), "123", "2.5", "SENDER", "FAC")),  # the first MSH segment
    (HEAD.format("A\\S\\B^C\\T\\D~ORM^O01", "A\\F\\B", "2.5.1^U"), (("A^B", "C&D"), "A|B", "2.5.1^U", "SENDER", "FAC")),
    (HEAD.format("ADT^A01^X", "", ""), (("ADT", "A01"), "", "", "SENDER", "FAC")),
    (HEAD.format("ACK", "", ""), (("ACK", ""), "", "", "SENDER", "FAC")), (HEAD.format("", "", ""), (("", ""), "", "", "SENDER", "FAC")),
    ("MSH|^~\\&|APP^SITE|F&G~H", (*RANGE[:3], "APP^SITE", "F&G~H")), ("MSH|^~\\&", RANGE),
    ("MSH|^~\\&|S|F|R|G|T||ADT|123|P", (("ADT", ""), "123", RANGE[2], "S", "F")),
    (NO_MSH, [(KeyError, ("Segment 'MSH' not found",))] * 5),
])
def test_header_properties(text, expected):
    msg = vellomar.parse(text)
    count = str(len(msg.segments[0]))
    got = [raises(lambda: getattr(msg, p)) or getattr(msg, p) for p in PROPS]
    assert got == [(e[0], (e[1][0].format(count),)) if e in RANGE else e for e in expected]
