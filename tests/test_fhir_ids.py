"""Resource ids are name-based UUIDs (version 5) in the package's namespace,
whatever the length of the name: every SHA-1 block boundary."""

import uuid

import vellomar.fhir as fhir

NAMESPACE = uuid.UUID("4f0d8c5e-6a1b-4c7e-9b2d-3e5f7a9c1d20")


def test_bundle_ids_at_every_name_length():
    for n in range(1, 140):
        control_id = "".join(chr(0x41 + i % 26) for i in range(n))
        bundle = fhir.to_dict(f"MSH|^~\\&|A|B|C|D|20240110120000||ADT^A01|{control_id}|P|2.5.1\r")
        assert bundle["id"] == str(uuid.uuid5(NAMESPACE, "Bundle|m=" + control_id)), n

