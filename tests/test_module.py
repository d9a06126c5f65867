"""The module object, its registration and parse()."""

import importlib
import subprocess
import sys

import pytest

import vellomar
from vellomar import _core


def test_module_docstring_and_names():
    assert _core.__doc__ == "vellomar \u2014 High-performance HL7v2 message parser."
    assert _core.__all__[:7] == [
        "Message", "Segment", "Field", "Component", "MessageIterator", "SegmentIterator", "parse",
    ]
    for name in _core.__all__:
        assert getattr(vellomar, name) is getattr(_core, name)


def test_parse_function():
    assert _core.parse.__text_signature__ == "(raw)"
    assert _core.parse.__self__ is _core
    assert _core.parse.__doc__.startswith("Parse a raw HL7v2 message string into a `Message` object.")
    assert _core.parse.__doc__.endswith('# "DOE"\n```')
    assert "\\\\&|SENDER" in _core.parse.__doc__ and "2.5\\\\rPID" in _core.parse.__doc__
    raw = "MSH|^~\\&|A"
    a, b = vellomar.parse(raw=raw), vellomar.parse(raw)
    assert a is not b and a.raw == b.raw == raw


@pytest.mark.parametrize(
    "args, kwargs, message",
    [
        ((), {}, "parse() missing 1 required positional argument: 'raw'"),
        (("a", "b"), {}, "parse() takes 1 positional arguments but 2 were given"),
        ((), {"text": "x"}, "parse() got an unexpected keyword argument 'text'"),
        (("x",), {"raw": "y"}, "parse() got multiple values for argument 'raw'"),
        ((123,), {}, "argument 'raw': 'int' object cannot be converted to 'PyString'"),
        ((b"MSH|",), {}, "argument 'raw': 'bytes' object cannot be converted to 'PyString'"),
        ((None,), {}, "argument 'raw': 'NoneType' object cannot be converted to 'PyString'"),
    ],
)
def test_parse_binding_errors(args, kwargs, message):
    with pytest.raises(TypeError) as info:
        vellomar.parse(*args, **kwargs)
    assert info.value.args == (message,)


def test_type_name_uses_qualname():
    class Outer:
        class Inner:
            pass

    with pytest.raises(TypeError) as info:
        vellomar.parse(Outer.Inner())
    assert str(info.value) == "argument 'raw': 'test_type_name_uses_qualname.<locals>.Outer.Inner' object cannot be converted to 'PyString'"


def test_reimport_returns_the_same_module():
    again = importlib.import_module("vellomar._core")
    assert again is _core
    del sys.modules["vellomar._core"]
    try:
        assert importlib.import_module("vellomar._core") is _core
    finally:
        sys.modules["vellomar._core"] = _core


def test_subinterpreter_is_refused():
    interpreters = pytest.importorskip("_xxsubinterpreters")
    code = (
        "import _xxsubinterpreters as i\n"
        "import vellomar\n"
        "iid = i.create()\n"
        "try:\n"
        "    i.run_string(iid, 'import vellomar._core')\n"
        "except Exception as e:\n"
        "    print(type(e).__name__, e)\n"
    )
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert "ImportError" in out.stdout
    del interpreters
