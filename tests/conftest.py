import importlib.util
import os
import pathlib
import sys

import pytest
from hypothesis import settings

import vellomar

# Nothing is timed: a busy machine or a sanitizer build must not fail an example.
# Under the sanitizer (its runtime preloaded), where each example runs several
# times slower, a quarter of the examples: the fuzz targets explore at length.
SANITIZED = "libasan" in os.environ.get("LD_PRELOAD", "")
settings.register_profile("vellomar", deadline=None, **({"max_examples": 25} if SANITIZED else {}))
settings.load_profile("vellomar")



def bench_module(name):
    """bench/NAME.py (the message generators the benchmarks share), loaded from its file once.
    bench/ is not put on sys.path: its fhir.py would stand there for the fhir package that
    fhir.resources' models are imported from, in every test module run after."""
    key = f"bench_{name}"
    if key not in sys.modules:
        spec = importlib.util.spec_from_file_location(key, pathlib.Path(__file__).resolve().parents[1] / "bench" / f"{name}.py")
        sys.modules[key] = importlib.util.module_from_spec(spec)
        spec.loader.exec_module(sys.modules[key])
    return sys.modules[key]


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


# An archive for `vellomar view`: a byte order mark, two messages, one that
# does not decode, and one more.
VIEW_MESSAGES = [
    b"MSH|^~\\&|S|F|R|F|20240101120000||ADT^A01^ADT_A01|C1|P|2.5\rEVN|A01|20240101\r"
    b"PID|1||MRN1^^^H||DOE^JOHN~DOE^J||19700101|M\rPV1|1|I\r",
    b"MSH|^~\\&|S|F|R|F|20240102||ADT^A08|C2|P|2.5\rEVN|A08|20240102\r"
    b"PID|1||MRN2||SMITH^ANN||19800101|Q\rPV1|1|O\r",
    b"MSH|^~\\&|S|F|R|F|20240103||ADT^A01|C3|P|2.5\rPID|1||\xff\xfe||X^Y\r",
    b"MSH|^~\\&|S|F|R|F|20240104||ORU^R01|C4|P|2.5\rPID|1||MRN4||DOE^JANE\r",
]


@pytest.fixture
def view_server(tmp_path):
    """A running viewer of the archive above (its server; `server.url`)."""
    import threading

    from vellomar.viewer.archive import Archive, index_file
    from vellomar.viewer.server import make_server

    path = tmp_path / "archive.hl7"
    path.write_bytes(b"\xef\xbb\xbf" + b"".join(VIEW_MESSAGES))
    server = make_server(Archive([index_file(str(path))]))
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    yield server
    server.shutdown()
    server.server_close()
    thread.join(10)
