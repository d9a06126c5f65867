"""Resource ids are name-based UUIDs (version 5) in the package's namespace,
whatever the length of the name, by the processor's SHA-1 instructions where
it has them and by the portable rounds (both roads checked in one process)."""

import hashlib
import uuid

import pytest
from hypothesis import example, given, strategies as st

from vellomar import _ops, fhir

NAMESPACE = uuid.UUID("4f0d8c5e-6a1b-4c7e-9b2d-3e5f7a9c1d20")


# the namespace, "Bundle|m=" and the sender and time are 48 bytes: these
# lengths meet the block edges
@pytest.mark.parametrize("n", [1, 7, 8, 15, 16, 71, 72, 139])
def test_bundle_ids_are_uuid5_of_the_control_id_sender_and_time(n):
    control_id = "".join(chr(0x41 + i % 26) for i in range(n))
    bundle = fhir.to_dict(f"MSH|^~\\&|A|B|C|D|20240110120000||ADT^A01|{control_id}|P|2.5.1\r")
    assert bundle["id"] == str(uuid.uuid5(NAMESPACE, f"Bundle|m={control_id}|s=A^B|t=20240110120000"))


# namespace and name at 55, 56, 63, 64, 119 and 120 bytes: the padding's block edges
@given(st.binary(max_size=300))
@example(bytes(39))
@example(bytes(40))
@example(bytes(47))
@example(bytes(48))
@example(bytes(103))
@example(bytes(104))
def test_ids_on_both_sha1_roads_equal_uuid5(name):
    digest = hashlib.sha1(NAMESPACE.bytes + name).digest()
    expected = str(uuid.UUID(bytes=digest[:16], version=5))
    assert (_ops.fhir_uuid5(name, False), _ops.fhir_uuid5(name, True)) == (expected, expected)
