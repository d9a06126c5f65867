import pathlib

import pytest
from hypothesis import settings

import vellomar

# Nothing is timed: a busy machine or a sanitizer build must not fail an example.
settings.register_profile("vellomar", deadline=None)
settings.load_profile("vellomar")

CORPUS_FILES = sorted((pathlib.Path(__file__).resolve().parents[2] / "shared" / "corpus").glob("*.hl7"))  # may be none
ADT = "MSH|^~\\&|SENDER|FAC|RECV|FAC|20230101||ADT^A01|123|P|2.5\rPID|1||MRN||DOE^JOHN~SMITH^JANE"


@pytest.fixture
def msg():
    return vellomar.parse(ADT)


def raises(call):
    """(type, args) of what `call` raises; None when it returns."""
    try:
        call()
    except BaseException as e:  # noqa: B036 (PanicException derives from BaseException)
        return type(e), e.args
    return None


def tree(msg):
    """The whole tree of a message read through the public properties, in to_json's form."""
    def field(f):
        return {"value": f.value,
                "components": [{"value": c.value, "sub_components": c.sub_components} for c in f.components],
                "repetitions": [field(r) for r in f.repetitions]}
    return {"raw": msg.raw, "segments": [{"name": s.name, "fields": [field(f) for f in s]} for s in msg]}


def value_of(text, header="MSH|^~\\&"):
    """The decoded value of `text` as the first field of a ZZZ segment."""
    return vellomar.parse(header + "\rZZZ|" + text).segments[1].field(1).value
