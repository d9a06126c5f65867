"""Pickling and copying of the four record classes."""

import copy
import pickle

import pytest
from hypothesis import given
from hypothesis import strategies as st

import vellomar
from vellomar import _ops


def tree(record):
    """Everything a record shows: the classes compare by identity, not value."""
    if isinstance(record, vellomar.Message):
        return record.raw, [tree(s) for s in record]
    if isinstance(record, vellomar.Segment):
        return record.name, [tree(f) for f in record]
    if isinstance(record, vellomar.Field):
        return record.value, [tree(c) for c in record.components], [tree(r) for r in record.repetitions]
    return record.value, record.sub_components


# Standard, unusual and non-ASCII separators; later lines may be MSH lines too.
lines = st.lists(st.sampled_from(["MSH", "PID", ""]).flatmap(
    lambda name: st.text("A|#\u00a6^~\\&é ", max_size=20).map(lambda rest: name + rest)), max_size=4)


@given(st.sampled_from(["MSH|^~\\&|x", "MSH#^~\\&#x", "MSH^^~\\&^x", "MSH\u00a6^~\\&"]), lines,
       st.integers(0, pickle.HIGHEST_PROTOCOL))
def test_round_trip(header, more, protocol):
    msg = vellomar.parse("\r".join([header, *more]))
    fields = [f for s in msg for f in s]
    for record in [msg, *msg, *fields, *(r for f in fields for r in f.repetitions),
                   *(c for f in fields for c in f.components)]:
        for copied in (pickle.loads(pickle.dumps(record, protocol)), copy.deepcopy(record)):
            assert type(copied) is type(record) and tree(copied) == tree(record)


@pytest.mark.parametrize("state", ["", "X", "S1|^~\\&A", "F0|^~", "C0\u0100^~\\&x", "F2|^~\\&x"])
def test_tampered_state(state):
    with pytest.raises(ValueError) as raised:
        _ops.record_from_state(state)
    assert str(raised.value) == "Invalid record state"
