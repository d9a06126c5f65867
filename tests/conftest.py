import pathlib

import pytest
from hypothesis import settings

import vellomar

# Examples are timed by nothing: a busy machine or a sanitizer build must not
# turn a slow example into a failure.
settings.register_profile("vellomar", deadline=None)
settings.load_profile("vellomar")

CORPUS = pathlib.Path(__file__).resolve().parents[2] / "shared" / "corpus"

# The two-line message used throughout the tests.
ADT = (
    "MSH|^~\\&|SENDER|FAC|RECV|FAC|20230101||ADT^A01|123|P|2.5\r"
    "PID|1||MRN||DOE^JOHN~SMITH^JANE"
)


@pytest.fixture
def msg():
    return vellomar.parse(ADT)


def corpus_files():
    """The sample messages beside the project, or nothing in a user's clone."""
    if not CORPUS.is_dir():
        return []
    return sorted(CORPUS.glob("*.hl7"))


def field_value(text, header="MSH|^~\\&"):
    """The decoded value of `text` as the first field of a ZZZ segment."""
    return vellomar.parse(header + "\rZZZ|" + text).segments[1].field(1).value
