"""Resource ids are name-based UUIDs (version 5) in the package's namespace,
whatever the length of the name: every SHA-1 block boundary, by the
processor's SHA-1 instructions where it has them and by the portable rounds
(VELLOMAR_PORTABLE_SHA1, read once a process, so in a child process)."""

import os
import subprocess
import sys
import uuid

import pytest

import vellomar.fhir as fhir

NAMESPACE = uuid.UUID("4f0d8c5e-6a1b-4c7e-9b2d-3e5f7a9c1d20")


def bundle_ids_at_every_name_length():
    for n in range(1, 140):
        control_id = "".join(chr(0x41 + i % 26) for i in range(n))
        bundle = fhir.to_dict(f"MSH|^~\\&|A|B|C|D|20240110120000||ADT^A01|{control_id}|P|2.5.1\r")
        assert bundle["id"] == str(uuid.uuid5(NAMESPACE, "Bundle|m=" + control_id)), n


@pytest.mark.parametrize("portable", [False, True])
def test_bundle_ids_at_every_name_length(portable):
    if not portable:
        bundle_ids_at_every_name_length()
        return
    code = "import test_fhir_ids as t; t.bundle_ids_at_every_name_length()"
    env = dict(os.environ, VELLOMAR_PORTABLE_SHA1="1")
    done = subprocess.run([sys.executable, "-c", code], cwd=os.path.dirname(__file__), env=env,
                          capture_output=True, text=True, timeout=120)
    assert (done.returncode, done.stderr) == (0, "")
