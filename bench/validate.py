#!/usr/bin/env python3
"""Parsing and validating a message against the HL7 definitions, against hl7apy.

    python bench/validate.py            # pyperf's default run
    python bench/validate.py --fast     # a shorter one
    python bench/validate.py --quick    # a smoke run in this process

Messages: corpus.py's ADT^A01 (1,112 bytes) and ORU^R01 with 20 OBX (3,936
bytes), both version 2.5. Cases for each:

- vellomar parse + validate: `vellomar.validate(vellomar.parse(text))`;
- vellomar validate: `vellomar.validate(msg)` of a parsed message;
- vellomar parse: `vellomar.parse(text)`, the yardstick;
- hl7apy parse + validate: `parse_message(text, find_groups=True)` then
  `msg.validate()` (its STRICT validation).

Before timing, both must find the message free of errors (vellomar's
warnings are table values of coding systems, which hl7apy does not check in
components). Ratios are of the medians of this one run. Targets: parse +
validate at least 1,000x faster than hl7apy; validate at most 3x one parse.
"""

from __future__ import annotations

import sys
from importlib import metadata
from pathlib import Path

from hl7apy.parser import parse_message

import vellomar

sys.path.insert(0, str(Path(__file__).resolve().parent))
import common  # noqa: E402
import corpus  # noqa: E402

TEXTS = {"ADT^A01": corpus.adt_a01(corpus.SEED), "ORU^R01": corpus.oru_r01(corpus.SEED)}


def hl7apy_validate(text: str) -> bool:
    return parse_message(text, find_groups=True).validate()  # raises its first error


def check() -> None:
    for kind, text in TEXTS.items():
        errors = [f for f in vellomar.validate(text) if f.severity == "error"]
        if errors or not hl7apy_validate(text):
            sys.exit(f"{kind}: the validators disagree: {errors}")


def main() -> None:
    common.runner().metadata["hl7apy_version"] = metadata.version("hl7apy")
    args = common.args()
    if not args.worker:
        check()
    vellomar.validate(TEXTS["ADT^A01"])  # the definitions are read once, before timing
    cases: dict[str, common.Case] = {}
    for kind, text in TEXTS.items():
        cases[f"vellomar parse + validate {kind}"] = lambda t=text: vellomar.validate(vellomar.parse(t))
        cases[f"vellomar validate {kind}"] = (vellomar.validate, lambda t=text: vellomar.parse(t))
        cases[f"vellomar parse {kind}"] = lambda t=text: vellomar.parse(t)
        cases[f"hl7apy parse + validate {kind}"] = lambda t=text: hl7apy_validate(t)
    medians = common.medians(cases)
    if medians is None:
        return
    print()
    for kind in TEXTS:
        ours = medians[f"vellomar parse + validate {kind}"]
        theirs = medians[f"hl7apy parse + validate {kind}"]
        alone, parse = medians[f"vellomar validate {kind}"], medians[f"vellomar parse {kind}"]
        print(f"{kind}: parse + validate {ours * 1e6:.2f} us, hl7apy {theirs * 1e3:.1f} ms: "
              f"{theirs / ours:,.0f}x faster (target >= 1,000x)")
        print(f"{kind}: validate {alone * 1e6:.2f} us = {alone / parse:.2f}x one parse "
              f"({parse * 1e6:.2f} us) (target <= 3x)")


if __name__ == "__main__":
    main()
