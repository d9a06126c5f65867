#!/usr/bin/env python3
"""One hash of validate()'s findings, to show that a change made for speed
changed none: over bench/hashes.py's texts (the sample corpus, the
benchmark's messages, 20,000 seeded random ones), 400 seeded ADT^A01 and
ORU^R01 and 15 random mutations of each (separators, digits, letters, '""',
runs of 20-300 X inserted, bytes replaced or removed), each validated as
read, strict, and with version= 2.2, 2.3, 2.4, 2.5.1, 2.6, 2.7 and 2.8
strict. Prints the number of findings and the hash.

    python bench/findings_hash.py [COUNT]    # COUNT random messages (20,000)
"""

from __future__ import annotations

import hashlib
import os
import random
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import corpus  # noqa: E402
import hashes  # noqa: E402

import vellomar  # noqa: E402

OPTIONS = ((None, False), (None, True), ("2.2", False), ("2.3", False), ("2.4", False),
           ("2.5.1", False), ("2.6", False), ("2.7", False), ("2.8", True))


def mutate(r: random.Random, text: str) -> str:
    chars = list(text)
    for _ in range(r.randint(1, 6)):
        i = r.randrange(len(chars))
        op = r.random()
        pick = r.choice("^~&|\\\"0123456789AZaz.-+ ")
        if op < 0.4:
            chars.insert(i, pick)
        elif op < 0.6:
            chars[i] = pick
        elif op < 0.7:
            chars.insert(i, "X" * r.randint(20, 300))
        elif op < 0.8:
            chars.insert(i, '""')
        else:
            del chars[i]
    return "".join(chars)


def main() -> None:
    count = int(sys.argv[1]) if len(sys.argv) > 1 else 20_000
    r = random.Random(7)
    single = corpus.corpus()
    texts = hashes.corpus_texts() + [single[k] for k in ("adt", "oru", "escaped")]
    texts += hashes.random_messages(count)
    base = [corpus.adt_a01(r, control=i) for i in range(200)]
    base += [corpus.oru_r01(r, control=i, n_obx=r.randint(0, 6)) for i in range(200)]
    texts += base + [mutate(r, t) for t in base for _ in range(15)]
    h, n = hashlib.sha256(), 0
    for text in texts:
        try:
            message = vellomar.parse(text)
        except Exception:
            continue
        for version, strict in OPTIONS:
            found = vellomar.validate(message, version=version, strict=strict)
            n += len(found)
            h.update(repr(found).encode("utf-8", "surrogatepass"))
    print(n, h.hexdigest()[:16])


if __name__ == "__main__":
    main()
