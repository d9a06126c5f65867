#!/usr/bin/env python3
"""Hashes of the FHIR converter's output, to show that a change made for
speed changed no bundle.

Over every message of the sample corpus (../shared/corpus via vellomar.read,
when present), the FHIR benchmark's two messages, the messages of real
kinds in bench/fhir_kinds.py, 1,000 seeded messages of
bench/hashes.py's generator and 1,000 built from the segment templates the
FHIR tests draw from, it hashes to_json for the three bundle types, the
unmapped list of convert() and resources_of(). Run it before and after a
change and compare the lines:

    python bench/fhir_hashes.py
    python bench/fhir_hashes.py --count 500
"""

from __future__ import annotations

import argparse
import hashlib
import os
import random
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import fhir as bench_fhir  # noqa: E402
import fhir_kinds  # noqa: E402
import hashes as bench_hashes  # noqa: E402

import vellomar  # noqa: E402
import vellomar.fhir  # noqa: E402

KINDS = ["ADT^A01^ADT_A01", "ADT^A08^ADT_A01", "ORU^R01^ORU_R01", "VXU^V04^VXU_V04",
         "ORM^O01^ORM_O01", "DFT^P03^DFT_P03", "SIU^S12^SIU_S12", "MDM^T02^MDM_T02", "XYZ^Q99",
         "ADT^A02^ADT_A02", "ADT^A05^ADT_A05", "OML^O21^OML_O21"]
TEMPLATES = ["PID|1||{v}^^^{v}^MR||{v}^{v}||{d}|{v}", "PV1|1|{v}|{v}^{v}||||{v}^{v}",
             "OBX|1|{t}|{v}^{v}^LN||{v}|{v}|||||{v}|||{d}", "NK1|1|{v}^{v}|{v}",
             "AL1|1|{v}|{v}^{v}", "DG1|1||{v}^{v}^I10||{d}", "IN1|1|{v}|{v}|{v}",
             "ORC|{v}|{v}|{v}", "OBR|1|{v}|{v}|{v}^{v}", "RXA|0|1|{d}||{v}^{v}^CVX|{v}",
             "ZZZ|{v}", "EVN|A01|{d}", "PD1|||{v}^^{v}|{v}^{v}", "PR1|1||{v}^{v}^I10P||{d}",
             "SPM|1|{v}||{v}^{v}", "NTE|1||{v}", "SCH|{v}|{v}", "TXA|1|{v}|{v}|{d}"]
VALUES = ["", "A", "Z9", "F", "M", "I", "1.5", "x&y", "a~b", "PATID1234", "é\\T\\"]
DATES = ["", "2024", "202401101200", "20240110120000+0530", "2024011", "99999999", "x"]
TYPES = ["NM", "ST", "CWE", "SN", "DT", "TM", "XX", "CE", "TS"]


def template_messages(count: int, seed: int = 29) -> list[str]:
    r = random.Random(seed)
    out = []
    for i in range(count):
        head = (f"MSH|^~\\&|APP|GHH|EHR|GHH|20240110120000-0500||{r.choice(KINDS)}|M{i}|P|2.5.1")
        body = [r.choice(TEMPLATES).format(v=r.choice(VALUES), d=r.choice(DATES), t=r.choice(TYPES))
                for _ in range(r.randint(0, 12))]
        out.append("\r".join([head, *body]) + "\r")
    return out


def messages(count: int) -> list[vellomar.Message]:
    out = []
    if os.path.isdir(bench_hashes.CORPUS):
        for name in sorted(os.listdir(bench_hashes.CORPUS)):
            if name.endswith(".hl7"):
                out.extend(vellomar.read(os.path.join(bench_hashes.CORPUS, name)))
    texts = [bench_fhir.ADT, bench_fhir.ORU, *fhir_kinds.MESSAGES, *bench_hashes.random_messages(count),
             *template_messages(count)]
    for text in texts:
        try:
            out.append(vellomar.parse(text))
        except Exception:  # only messages that parse are converted
            pass
    return out


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--count", type=int, default=1000)
    args = parser.parse_args()
    areas = {k: hashlib.sha256() for k in ("message", "transaction", "collection",
                                           "unmapped", "resources")}
    found = messages(args.count)
    for m in found:
        try:
            vellomar.fhir.resources_of(m)
        except ValueError as e:  # a text of several messages: its error is hashed
            for area in areas.values():
                area.update(str(e).encode() + b"\0")
            continue
        for kind in ("message", "transaction", "collection"):
            areas[kind].update(vellomar.fhir.to_json(m, bundle_type=kind).encode() + b"\0")
        areas["unmapped"].update("\n".join(vellomar.fhir.convert(m).unmapped).encode() + b"\0")
        for row in vellomar.fhir.resources_of(m):
            areas["resources"].update("\t".join(row).encode() + b"\0")
    total = hashlib.sha256()
    print(f"{len(found)} messages")
    for k, h in areas.items():
        print(f"{k:12} {h.hexdigest()[:16]}")
        total.update(h.digest())
    print(f"{'total':12} {total.hexdigest()[:16]}")


if __name__ == "__main__":
    main()
