"""The six classes: navigation, lengths, string forms, iteration, copies."""

import gc
import weakref

import pytest

import vellomar
from vellomar import _core

CLASSES = ["Message", "Segment", "Field", "Component", "MessageIterator", "SegmentIterator"]
FOUR = (
    "MSH|^~\\&|SENDER|FAC|RECV|FAC|20230101||ADT^A01|123|P|2.5\r"
    "PID|1||MRN||DOE^JOHN\rOBX|1\rOBX|2"
)


@pytest.mark.parametrize("name", CLASSES)
def test_type_properties(name):
    cls = getattr(_core, name)
    assert (cls.__module__, cls.__name__, cls.__qualname__) == ("builtins", name, name)
    assert repr(cls) == f"<class 'builtins.{name}'>"
    with pytest.raises(TypeError) as info:
        cls()
    assert str(info.value) == f"No constructor defined for {name}"
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})


def test_class_docstrings():
    assert _core.Message.__doc__ == "A parsed HL7v2 message."
    assert _core.MessageIterator.__doc__ == "Iterator over segments in a message."
    assert _core.Segment.__doc__ == "A single segment within an HL7v2 message (e.g. MSH, PID, OBX)."
    assert _core.SegmentIterator.__doc__ == "Iterator over fields in a segment."
    assert _core.Field.__doc__ == (
        "A single field within an HL7v2 segment.\n\nFields may contain components "
        "(separated by `^`) and repetitions (separated\nby `~`)."
    )
    assert _core.Component.__doc__ == (
        "A single component within an HL7v2 field.\n\n"
        "Components may contain sub-components separated by `&`."
    )


@pytest.mark.parametrize(
    "method, signature, doc",
    [
        (_core.Message.segment, "($self, name)", "Return the first segment matching the given name."),
        (_core.Message.segments_by_name, "($self, name)", "Return all segments matching the given name."),
        (_core.Segment.field, "($self, index)",
         'Return field at 1-based index.\n\nFor MSH, field(1) returns the field separator "|".'),
        (_core.Field.component, "($self, index)", "Return component at 1-based index."),
        (_core.Component.sub_component, "($self, index)", "Return sub-component at 1-based index."),
    ],
)
def test_method_signatures_and_docs(method, signature, doc):
    assert method.__text_signature__ == signature
    assert method.__doc__ == doc


def test_instances_have_no_dict_and_no_weakrefs(msg):
    seg = msg.segment("PID")
    objects = [msg, seg, seg.field(5), seg.field(5).component(1), iter(msg), iter(seg)]
    for obj in objects:
        with pytest.raises(AttributeError):
            obj.anything = 1
        with pytest.raises(TypeError):
            weakref.ref(obj)


@pytest.mark.parametrize(
    "get_obj, attr",
    [
        (lambda m: m, "raw"),
        (lambda m: m, "segments"),
        (lambda m: m.segment("PID"), "name"),
        (lambda m: m.segment("PID"), "fields"),
        (lambda m: m.segment("PID").field(5), "value"),
        (lambda m: m.segment("PID").field(5), "components"),
        (lambda m: m.segment("PID").field(5), "repetitions"),
        (lambda m: m.segment("PID").field(5)[1], "value"),
        (lambda m: m.segment("PID").field(5)[1], "sub_components"),
    ],
)
def test_properties_are_read_only(msg, get_obj, attr):
    obj = get_obj(msg)
    before = getattr(obj, attr)
    with pytest.raises(AttributeError):
        setattr(obj, attr, "x")
    assert getattr(obj, attr) == before or attr in ("segments", "fields", "components", "repetitions")
    assert getattr(type(obj), attr).__doc__ == ""


def test_message_members():
    m = vellomar.parse(FOUR)
    assert repr(m) == str(m) == "Message(segments=[MSH, PID, OBX, OBX])"
    assert len(m) == 4 and bool(m)
    assert [s.name for s in m] == ["MSH", "PID", "OBX", "OBX"]
    assert m.segment("OBX").field(1).value == "1"
    assert [s.field(1).value for s in m.segments_by_name("OBX")] == ["1", "2"]
    assert m.segments_by_name("obx") == [] and m.segments_by_name("ZZZ") == []
    assert m.segment(name="PID").name == "PID"
    assert "PID" not in m
    assert m.segments[0] is not m.segments[0]
    assert m.segment("PID") != m.segment("PID")
    segs = m.segments
    segs.clear()
    assert len(m) == 4


def test_repr_inserts_names_as_stored():
    m = vellomar.parse("MSH|^~\\&\r|x\rA'B|1")
    assert repr(m) == "Message(segments=[MSH, , A'B])"
    assert m.segment("").field(1).value == "x"


@pytest.mark.parametrize(
    "call, exc, message",
    [
        (lambda m: m.segment("ZZZ"), KeyError, "Segment 'ZZZ' not found"),
        (lambda m: m.segment("pid"), KeyError, "Segment 'pid' not found"),
        (lambda m: m.segment(5), TypeError, "argument 'name': 'int' object cannot be converted to 'PyString'"),
        (lambda m: m.segments_by_name(b"PID"), TypeError,
         "argument 'name': 'bytes' object cannot be converted to 'PyString'"),
        (lambda m: m.segment(), TypeError, "Message.segment() missing 1 required positional argument: 'name'"),
        (lambda m: m.segment("a", "b"), TypeError, "Message.segment() takes 1 positional arguments but 2 were given"),
        (lambda m: m.segment("a", nam="b"), TypeError, "Message.segment() got an unexpected keyword argument 'nam'"),
        (lambda m: m.segment("a", name="b"), TypeError, "Message.segment() got multiple values for argument 'name'"),
        (lambda m: m.segments_by_name(), TypeError,
         "Message.segments_by_name() missing 1 required positional argument: 'name'"),
        # binding errors come before conversion errors, surplus before unknown
        (lambda m: m.segment(1, 2, x=3), TypeError, "Message.segment() takes 1 positional arguments but 2 were given"),
        (lambda m: m.segment(x=3), TypeError, "Message.segment() got an unexpected keyword argument 'x'"),
        (lambda m: m.segment("PID").field(6), IndexError, "Field index 6 out of range (1..5)"),
        (lambda m: m.segment("PID").field(0), IndexError, "Field index 0 out of range (1..5)"),
        (lambda m: m.segment("PID")[6], IndexError, "Field index 6 out of range (1..5)"),
        (lambda m: m.segment("PID").field(2**64 - 1), IndexError,
         "Field index 18446744073709551615 out of range (1..5)"),
        (lambda m: m.segment("PID").field(), TypeError, "Segment.field() missing 1 required positional argument: 'index'"),
        (lambda m: m.segment("PID").field(5).component(1, 2), TypeError,
         "Field.component() takes 1 positional arguments but 2 were given"),
        (lambda m: m.segment("PID").field(5)[1].sub_component(i=1), TypeError,
         "Component.sub_component() got an unexpected keyword argument 'i'"),
        (lambda m: m.segment("PID").field(5)[0], IndexError, "Component index 0 out of range (1..2)"),
        (lambda m: m.segment("PID").field(5)[3], IndexError, "Component index 3 out of range (1..2)"),
        (lambda m: m.segment("PID").field(5)[1].sub_component(2), IndexError,
         "Sub-component index 2 out of range (1..1)"),
        (lambda m: m.segment("PID").field("5"), TypeError,
         "argument 'index': 'str' object cannot be interpreted as an integer"),
        (lambda m: m.segment("PID")["5"], TypeError,
         "argument 'index': 'str' object cannot be interpreted as an integer"),
        (lambda m: m.segment("PID")[1:2], TypeError,
         "argument 'index': 'slice' object cannot be interpreted as an integer"),
        (lambda m: m.segment("PID").field(5).component(None), TypeError,
         "argument 'index': 'NoneType' object cannot be interpreted as an integer"),
    ],
)
def test_lookup_and_binding_errors(msg, call, exc, message):
    with pytest.raises(exc) as info:
        call(msg)
    assert type(info.value) is exc
    assert info.value.args == (message,)


@pytest.mark.parametrize("index", [-1, 2**64, -(2**70)])
def test_index_overflow(msg, index):
    pid = msg.segment("PID")
    for call in (lambda: pid.field(index), lambda: pid[index], lambda: pid.field(5)[index]):
        with pytest.raises(OverflowError):
            call()


def test_index_conversion_protocol(msg):
    class Two:
        def __index__(self):
            return 2

    class Bad:
        def __index__(self):
            raise ValueError("nope")

    pid = msg.segment("PID")
    assert pid.field(True).value == "1"
    assert pid.field(Two()).value == ""
    assert pid[Two()].value == ""
    with pytest.raises(ValueError, match="nope"):
        pid.field(Bad())


def test_segment_field_component(msg):
    msh, pid = msg.segment("MSH"), msg.segment("PID")
    assert (str(pid), repr(pid), len(pid), bool(pid)) == ("PID", "Segment('PID', fields=5)", 5, True)
    assert repr(msh) == "Segment('MSH', fields=12)"
    assert (msh.field(1).value, msh[3].value, msh.field(10).value) == ("|", "SENDER", "123")
    f = pid.field(index=5)
    assert f.value == str(f) == "DOE^JOHN~SMITH^JANE"
    assert repr(f) == "Field('DOE^JOHN~SMITH^JANE')"
    assert len(f) == 2 and str(f[1]) == "DOE"
    assert [c.value for c in f.components] == ["DOE", "JOHN"]
    assert [r.value for r in f.repetitions] == ["DOE^JOHN", "SMITH^JANE"]
    assert all(r.repetitions == [] for r in f.repetitions)
    empty = pid.field(2)
    assert (empty.value, repr(empty), len(empty), bool(empty)) == ("", "Field('')", 1, True)
    comp = f.component(1)
    assert (repr(comp), str(comp), comp.sub_components, comp.sub_component(1)) == (
        "Component('DOE')", "DOE", ["DOE"], "DOE")
    assert bool(vellomar.parse("MSH|^~\\&\rZ|").segment("Z")[1][1])
    with pytest.raises(TypeError):
        iter(f)
    with pytest.raises(TypeError):
        len(comp)
    with pytest.raises(TypeError):
        comp[1]


def test_msh1_field():
    f = vellomar.parse("MSH|^~\\&|A").segment("MSH").field(1)
    assert (f.value, [c.value for c in f.components], f.repetitions) == ("|", ["|"], [])
    assert f[1].sub_components == ["|"]


def test_repr_shows_values_unescaped():
    m = vellomar.parse("MSH|^~\\&\rPID|O'BRIEN\\.br\\x")
    f = m.segment("PID").field(1)
    assert repr(f) == "Field('O'BRIEN\nx')"
    assert repr(f[1]) == "Component('O'BRIEN\nx')"


@pytest.mark.parametrize("kind", ["message", "segment"])
def test_iterators(msg, kind):
    obj = msg if kind == "message" else msg.segment("PID")
    count = len(obj)
    it = iter(obj)
    assert iter(it) is it
    assert type(it).__name__ == ("MessageIterator" if kind == "message" else "SegmentIterator")
    items = [next(it) for _ in range(count)]
    for _ in range(2):
        with pytest.raises(StopIteration):
            next(it)
    again = list(iter(obj))
    assert len(items) == len(again) == count
    assert items[0] is not again[0]


def test_field_iteration_values(msg):
    assert [x.value for x in msg.segment("PID")] == ["1", "", "MRN", "", "DOE^JOHN~SMITH^JANE"]


def test_segment_without_fields():
    z = vellomar.parse("MSH|^~\\&\rZZZ").segment("ZZZ")
    assert (len(z), bool(z), repr(z), list(z)) == (0, False, "Segment('ZZZ', fields=0)", [])
    with pytest.raises(IndexError) as info:
        z.field(1)
    assert str(info.value) == "Field index 1 out of range (1..0)"


def test_children_outlive_their_parents():
    m = vellomar.parse(FOUR)
    pid = m.segment("PID")
    it = iter(m)
    f = pid.field(5)
    comp = f[2]
    del m, pid
    gc.collect()
    assert (f.value, comp.value, f.component(1).value) == ("DOE^JOHN", "JOHN", "DOE")
    assert [s.name for s in it] == ["MSH", "PID", "OBX", "OBX"]


def test_reference_counts_unchanged(msg):
    import sys

    name, raw = "PID", "MSH|^~\\&|A"
    before = sys.getrefcount(name), sys.getrefcount(raw)
    for _ in range(100):
        msg.segment(name)
        vellomar.parse(raw)
        with pytest.raises(KeyError):
            msg.segment("NOPE")
        with pytest.raises(TypeError):
            vellomar.parse(raw, raw=raw)
    assert (sys.getrefcount(name), sys.getrefcount(raw)) == before
