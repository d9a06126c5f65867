"""Any text a message holds reaches the FHIR JSON as it is: the characters
JSON escapes (quote, backslash) and those it need not; but control
characters, which FHIR's strings may not hold, are left out and reported."""

import json

from hypothesis import given, strategies as st

import vellomar
import vellomar.fhir as fhir

ALPHABET = ['"', "\\", "\x00", "\x01", "\x08", "\x1b", "\x1f", "/", "\x7f", "a", "é", "\u200b", "\U0001f600"]


@given(st.text(st.sampled_from(ALPHABET), min_size=1).filter(lambda v: v != '""'))  # "" is the explicit null
def test_text_values_reach_the_json(value):
    text = "MSH|^~\\&|A|B|C|D|20240110120000||ADT^A01|X1|P|2.5.1\rPID|1||ID1||" + vellomar.escape(value, "^~\\&")
    converted = fhir.convert(text)
    (patient,) = [e["resource"] for e in json.loads(converted.json)["entry"]
                  if e["resource"]["resourceType"] == "Patient"]
    kept = "".join(c for c in value if c >= " " or c == "\t")
    assert patient.get("name") == ([{"family": kept}] if kept and kept != '""' else None)
    assert ("PID-5 (control characters left out)" in converted.unmapped) == (kept != value)


@given(st.text(st.sampled_from("a b\t-é/"), min_size=1).filter(lambda v: v.strip(" \t")))
def test_endpoints_are_uris_without_blanks(name):
    bundle = fhir.to_dict(f"MSH|^~\\&|{name}|B|C|D|20240110120000||ADT^A01|X1|P|2.5.1\rPID|1||ID1||DOE")
    header = bundle["entry"][0]["resource"]
    assert header["source"]["endpoint"] == name.strip(" \t").replace(" ", "-").replace("\t", "-")
