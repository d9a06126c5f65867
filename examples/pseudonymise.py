"""Pseudonymise the patients of HL7 v2 files with keyed, consistent pseudonyms.

    python examples/pseudonymise.py --key-file secret.key IN.hl7... > OUT.hl7

A recipe, not a compliance tool. Each value below is replaced by a pseudonym
derived from an HMAC-SHA256 of the value under a secret key, so one patient
gets the same pseudonym in every message and every file pseudonymised with
the same key, and nobody without the key can compute or reverse it. Keep the
key apart from the data, and use a new key where files must not be linkable.

Covered, in every repetition of the field and in every message of a file
(batches with FHS/BHS envelopes and MLLP streams keep their form):

- PID-3 patient identifiers: the ID number (component 1);
- PID-5 patient names: family, given and further given names (components 1-3);
- PID-7 date of birth: the year is kept, month and day become a keyed date;
- PID-11 addresses: street, other designation, city and postal code
  (components 1, 2, 3 and 5); state, country and type are kept;
- PID-13 home phone: number, e-mail, area code and local number (1, 4, 6, 7);
- NK1-2 names of every next of kin (components 1-3).

Not covered, among others: PID-2, PID-4, PID-18, PID-19 and PID-20 (other
identifiers, account, SSN, licence), PID-14 (business phone), PID-21 and
PD1, NK1 addresses and phones, GT1, IN1, PV1 (visit numbers, providers),
dates of service, free text (NTE, OBX-5), and identifying details inside
any other segment or field. Check what your messages carry before relying on
the output.
"""

from __future__ import annotations

import argparse
import hashlib
import hmac
import sys

import vellomar
from vellomar.cli.edit import rewrite

# (segment, field, components to replace, kind of pseudonym)
FIELDS = [
    ("PID", 3, (1,), "ID"),
    ("PID", 5, (1, 2, 3), "NAME"),
    ("PID", 11, (1, 2, 3, 5), "ADDR"),
    ("PID", 13, (1, 4, 6, 7), "TEL"),
    ("NK1", 2, (1, 2, 3), "NAME"),
]


class Pseudonymiser:
    def __init__(self, key: bytes) -> None:
        self.key = key

    def digest(self, kind: str, value: str) -> str:
        # The kind is part of the message authenticated, so that a name and an
        # identifier with the same text get unrelated pseudonyms.
        mac = hmac.new(self.key, f"{kind}\0{value}".encode(), hashlib.sha256)
        return mac.hexdigest().upper()

    def pseudonym(self, kind: str, value: str) -> str:
        return f"{kind}{self.digest(kind, value)[:12]}"

    def birth_date(self, value: str) -> str:
        # Year kept; month and day keyed by the whole date (1-28: always valid).
        number = int(self.digest("DOB", value[:8]), 16)
        return f"{value[:4]}{number % 12 + 1:02d}{number // 12 % 28 + 1:02d}"

    def changes(self, message: vellomar.Message) -> dict[str, str]:
        changes = {}
        names = [segment.name for segment in message]
        for name, field, components, kind in FIELDS:
            for n in range(names.count(name)):
                for component in components:
                    path = f"{name}({n})-{field}"
                    for r, value in enumerate(vellomar.values(message, f"{path}-{component}")):
                        if value:
                            changes[f"{path}({r})-{component}"] = self.pseudonym(kind, value)
        if "PID" in names:
            for r, value in enumerate(vellomar.values(message, "PID-7-1")):
                if len(value) >= 4:
                    changes[f"PID-7({r})-1"] = self.birth_date(value)
        return changes

    def __call__(self, message: vellomar.Message) -> vellomar.Message:
        return vellomar.edit(message, self.changes(message))


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--key-file", required=True, help="file holding the secret key (its bytes)")
    parser.add_argument("files", nargs="+", metavar="FILE")
    args = parser.parse_args(argv)
    with open(args.key_file, "rb") as file:
        pseudonymise = Pseudonymiser(file.read())
    for name in args.files:
        with open(name, "rb") as file:
            # Read and written back by vellomar.read and vellomar.write, each
            # message in its own codec, the file in its own form.
            sys.stdout.buffer.write(rewrite(file.read(), pseudonymise))
    return 0


if __name__ == "__main__":
    sys.exit(main())
