"""to_json, to_dict: the tree read back through navigation, in JSON and dict form."""

import gc
import json
import os
import subprocess
import sys

import pytest
from hypothesis import given, settings, strategies as st

import vellomar
from conftest import CORPUS_FILES, raises, tree

# Every escape class of the writer and every delimiter of the parser.
ALPHABET = list("|^~\\&#aXF.S") + ["\x00", "\x01", "\x08", "\t", "\x0b", "\x0c", "\x1b", "\x1c", "\x1f",
                                   '"', "/", "\x7f", "\x85", "é", "\u2028", "\U0001f600"]
HEADERS = ["MSH|^~\\&", "MSH#^~\\&", "MSH|^~\\|", "MSH\xa6^~\\&", "MSH|^~\\&#", "MSH|^~\\", "\x0bMSH", "\r\n", ""]
ERRORS = ("Empty message", "No segments found", "MSH segment too short to extract encoding characters")


def field_dict(f):
    d = {"value": f.value, "components": [c.value for c in f.components]}
    return d | ({"repetitions": [field_dict(r) for r in f.repetitions]} if f.repetitions else {})


@settings(max_examples=400)
@given(st.sampled_from(HEADERS), st.text(st.sampled_from(ALPHABET)),
       st.lists(st.sampled_from(ALPHABET + ["\r", "\n", "MSH", "PID|"])))
def test_serialization_matches_the_tree(header, head, rest):
    text = header + head + "\r" + "".join(rest)
    if error := raises(lambda: vellomar.parse(text)):  # a failure is one of the documented ones
        assert error[0] is ValueError and (error[1][0] in ERRORS or error[1][0].startswith("Message must start with MSH")), error
        return
    msg = vellomar.parse(text)
    assert msg.to_json() == json.dumps(tree(msg), indent=2, ensure_ascii=False)
    segments = [{"name": s.name, "fields": [field_dict(f) for f in s]} for s in msg]
    # json.dumps compares the key order too.
    assert json.dumps(msg.to_dict()) == json.dumps({"segments": segments})
    assert [json.dumps(s.to_dict()) for s in msg] == [json.dumps(s) for s in segments]
    assert [json.dumps(f.to_dict()) for s in msg for f in s] == [json.dumps(f) for s in segments for f in s["fields"]]


# Long values take the writer's wide paths: a byte to escape or a non-ASCII character in or after the first
# 64 bytes, at the end of a block, in a field copied whole or cut into components.
@pytest.mark.parametrize("value", [
    "A" * 200, "é" + "A" * 199, "A" * 63 + "é" + "A" * 100, "A" * 64 + "\U0001f600" + "A" * 64,
    "A" * 70 + '"' + "A" * 100, "A" * 127 + "\x01", "A" * 80 + "^" + "é" * 80, "A" * 90 + "\\E\\" + "A" * 90,
    "A" * 100 + "~" + "A" * 100 + "&" + "\x7f" * 70,
])
def test_long_values(value):
    msg = vellomar.parse("MSH|^~\\&\rZ1|" + value + "|" + value[::-1] + "\rZ2|" + value)
    assert msg.to_json() == json.dumps(tree(msg), indent=2, ensure_ascii=False)


def test_to_dict_gives_new_objects():
    msg = vellomar.parse("MSH|^~\\&\rZ1|a^b")
    msg.to_dict()["segments"][1]["fields"].clear()
    assert len(msg.to_dict()["segments"][1]["fields"]) == 1


@pytest.mark.parametrize("build", [lambda: vellomar.parse("MSH|^~\\&\rZ1|a").to_dict(),
                                   lambda: vellomar.table("MSH|^~\\&\rZZ1|a", ["ZZ1-1"]).to_pylist()])
@pytest.mark.parametrize("enabled", [True, False])
def test_the_collector_is_left_as_it_was(build, enabled):
    # Paused while a result is built, on again only if it was on.
    was = gc.isenabled()
    (gc.enable if enabled else gc.disable)()
    try:
        build()
        assert gc.isenabled() is enabled
    finally:
        (gc.enable if was else gc.disable)()


@pytest.mark.parametrize("path", CORPUS_FILES, ids=lambda p: p.name)
def test_corpus_batches(path):
    for msg in vellomar.parse_batch(path.read_bytes().decode("latin-1")):
        assert msg.to_json() == json.dumps(tree(msg), indent=2, ensure_ascii=False)


@pytest.mark.skipif("asan" in os.environ.get("LD_PRELOAD", "") or not sys.platform.startswith("linux"),
                    reason="counts the pages the system allocator maps; ASan's allocator maps its own way")
def test_to_json_takes_no_fresh_pages_per_call():
    # A writer buffer of this size (~300 KB for ~150 KB of text) allocated anew at every call came back from
    # the allocator as new pages each time: ~45 page faults a call in a fresh interpreter.
    code = """if 1:
        import resource, vellomar
        m = vellomar.parse("MSH|^~\\\\&|a\\r" + "OBX|1|NM|2345-7^Glucose^LN||98|mg/dL|70-99|N|||F\\r" * 50)
        for _ in range(20): m.to_json()
        before = resource.getrusage(resource.RUSAGE_SELF).ru_minflt
        for _ in range(300): m.to_json()
        print(resource.getrusage(resource.RUSAGE_SELF).ru_minflt - before)"""
    # The allocator's own tuning (Dask's nanny puts MALLOC_TRIM_THRESHOLD_ in this process's environment) is left
    # out: with it, freeing each result str hands its pages back too.
    env = {k: v for k, v in os.environ.items() if not k.startswith("MALLOC_")}
    faults = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True, timeout=120,
                            env=env).stdout
    assert int(faults) < 100


# A message's equal texts share one str: texts that differ only between their first and last eight bytes,
# texts of 2 to 16 bytes that differ in one byte, and more distinct texts than the shared ones are kept for.
@pytest.mark.parametrize("values, shared", [
    (["ABCDEFGH" + m + "12345678" for m in ("x", "y", "xx", "yx", "x" * 20, "y" * 20)] * 2, True),
    (["ab", "ac", "abc", "abd", "abcd", "abce", "abcdefg", "abcdefh", "abcdefgh" * 2, "abcdefgh" * 2 + "i"] * 2, True),
    ([f"v{i}" for i in range(1_000)] * 2, False),
])
def test_to_dict_equal_texts(values, shared):
    msg = vellomar.parse("MSH|^~\\&\rZ1|" + "|".join(values) + "\rZ2|" + "^".join(values))
    segments = [{"name": s.name, "fields": [field_dict(f) for f in s]} for s in msg]
    result = msg.to_dict()
    assert json.dumps(result) == json.dumps({"segments": segments})
    if shared:  # each text is one object, however long
        found = []

        def walk(node):
            if isinstance(node, str):
                found.append(node)
            for child in node.values() if isinstance(node, dict) else node if isinstance(node, list) else ():
                walk(child)
        walk(result["segments"][1:])
        first = {}
        assert all(first.setdefault(text, text) is text for text in found if text in values)


def test_one_character_values_are_the_interpreters_own_str():
    # No allocation for a one-character ASCII value; a character above it is decoded as any other.
    msg = vellomar.parse("MSH|^~\\&\rPID|F|\\X80\\|1^x")
    assert [msg["PID-1"] is chr(70), msg["PID-2"], msg["PID-3-1"] is chr(49)] == [True, "\x80", True]


# Neither a separator nor a byte that JSON escapes: a plain value.
PLAIN = st.text(st.characters(blacklist_categories=("Cc", "Cs"), blacklist_characters='|^~\\&"'), max_size=40)


@given(st.lists(st.lists(st.lists(PLAIN, min_size=1, max_size=3), min_size=1, max_size=3), min_size=1, max_size=3))
def test_plain_values_are_written_as_plain(fields):
    # A plain value is written as its own component and sub-component
    # without the general road (the same JSON, slower). Only a field that
    # holds a separator, and each of its repetitions that holds one, count
    # on the general road; their plain components do not, at any depth.
    from vellomar import _ops

    def general(text):
        message = vellomar.parse(text)
        before = _ops.roads()["json_general"]
        message.to_json()
        return _ops.roads()["json_general"] - before

    header = "MSH|^~\\&|A\rZZZ|"
    text = "|".join("~".join("^".join(components) for components in field) for field in fields)
    expected = sum((len(field) > 1 or len(field[0]) > 1) + (len(field) > 1) * sum(len(r) > 1 for r in field)
                   for field in fields)
    assert general(header + text) - general(header) == expected


HEADER = "MSH|^~\\&|A\rZZZ|"


@pytest.mark.parametrize("road, base, text, change", [
    # A plain value is copied three times (field, component, sub-component):
    # in blocks under 64 bytes while a block from its last 16 stays inside
    # the raw text, else with memcpy.
    ("json_memcpy", HEADER + "|" + "y" * 20, HEADER + "x" * 16 + "|" + "y" * 20, 0),
    ("json_memcpy", HEADER + "|" + "y" * 20, HEADER + "x" * 63 + "|" + "y" * 20, 0),
    ("json_memcpy", HEADER + "|" + "y" * 20, HEADER + "x" * 64 + "|" + "y" * 20, 3),
    ("json_memcpy", HEADER, HEADER + "x" * 5, 3),
    # A string's run goes in blocks while 16 bytes of the raw text follow
    # it: the raw text's first run and the first segment's name, both at the
    # text's first byte, once the text holds 16 bytes.
    ("json_tails", "MSH|^~\\&|" + "x" * 6, "MSH|^~\\&|" + "x" * 7, -2),
])
def test_json_block_roads(road, base, text, change):
    from vellomar import _ops

    def calls(text):
        message = vellomar.parse(text)
        before = _ops.roads()[road]
        message.to_json()
        return _ops.roads()[road] - before

    assert calls(text) - calls(base) == change
