"""Every cell of a table is what navigation reads at its path, for messages of
any shape: delimiters that change from message to message, repeated and
missing segments, fields, components and sub-components, escapes."""

import pytest
from hypothesis import given, settings, strategies as st

import vellomar

HEADERS = ["MSH|^~\\&|A|B", "MSH#^~\\&#C", "MSH|^~\\&", "MSH|^~#&|D", "MSH$%*!@$E$$ZZZ^Z01", "MSH|^~\\&|||||||ZZZ^Z01"]
PIECES = ["a", "bc", "\\F\\", "é", "^", "~", "&", "|", "#", "$", "%", "*", "@", "!"]
field = st.lists(st.sampled_from(PIECES), max_size=6).map("".join)
segment = st.tuples(st.sampled_from(["PID", "OBX", "OBX", "OBX", "ZZZ", "ZZZZ"]), st.lists(field, max_size=4)).map(
    lambda s: "|".join([s[0], *s[1]]))  # a name alone too
message = st.tuples(st.sampled_from(HEADERS), st.lists(segment | st.just(""), max_size=6)).map(  # empty lines too
    lambda m: "\r".join([m[0], *(s.replace("|", m[0][3]) for s in m[1])]))
index = st.integers(1, 4).map(str)
path = st.tuples(st.sampled_from(["MSH", "PID", "OBX", "OBX", "OBX", "ZZZ", "OBX(0)", "OBX(1)", "PID(1)"]),
                 st.lists(index, min_size=1, max_size=3) | st.just([])).map(lambda p: "-".join([p[0], *p[1]]))


def get(message, path):
    try:
        return message.get(path)
    except (KeyError, IndexError):
        return None


@settings(max_examples=150)
@given(st.lists(message, min_size=1, max_size=4), st.lists(path, min_size=1, max_size=5, unique=True),
       st.sampled_from(["\r", "\n", "\r\n"]), st.sampled_from([None, "OBX"]))
def test_cells_are_what_get_reads(texts, paths, newline, rows):
    messages = [vellomar.parse(t) for t in texts]
    if rows is None:
        expected = [{p: get(m, p) for p in paths} for m in messages]
    else:  # a row per occurrence; a path on it without a repetition reads that occurrence
        expected = [{p: get(m, f"OBX({i})" + p[3:] if p == "OBX" or p.startswith("OBX-") else p) for p in paths}
                    for m in messages for i in range(len(m.segments_by_name("OBX")))]
    for source in [newline.join(texts), messages]:
        assert vellomar.table(source, paths, rows=rows).to_pylist() == expected
