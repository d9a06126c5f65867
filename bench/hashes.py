"""Hashes of everything the library hands out, to show that a change made
for speed changed no output.

Over the sample corpus (../shared/corpus, when present), the benchmark's
messages and 20,000 seeded random ones (realistic ADT and ORU messages, and
texts cut from random segments, separators, escapes and line ends), it hashes
per area: parse results and errors, to_json, to_dict, every navigation result
(segments, fields, repetitions, components, sub-components, terser paths,
the header properties), structure(), validate() findings, parse_batch, read()
and table() from text and from a path. Run it before and after a change and
compare the lines:

    python bench/hashes.py            # one line per area, then the total
    python bench/hashes.py --count 2000
"""

from __future__ import annotations

import argparse
import hashlib
import json
import os
import random
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import corpus as bench_corpus  # noqa: E402

import vellomar  # noqa: E402

CORPUS = os.path.join(os.path.dirname(__file__), "..", "..", "shared", "corpus")
PATHS = ["MSH-9", "MSH-9-2", "MSH-10", "MSH-12", "MSH-18", "PID-3", "PID-3(1)-1", "PID-5-1",
         "PID-5-2", "PID-11-3", "PV1-3-1", "PV1-19", "OBX-3-1", "OBX(1)-5", "OBX(2)-5-1-2",
         "NK1-2", "ZZZ-1", "PID-99", "OBR-4-2", "AL1(1)-3-2", "DG1-3-1-1", "BAD PATH"]
COLUMNS = {"type": "MSH-9", "control": "MSH-10", "version": "MSH-12", "mrn": "PID-3-1",
           "family": "PID-5-1", "given": "PID-5-2", "birth": "PID-7", "sex": "PID-8",
           "visit": "PV1-19", "obx": "OBX-5"}
SEGMENTS = ["MSH", "EVN", "PID", "PD1", "NK1", "PV1", "PV2", "OBR", "OBX", "NTE", "AL1", "DG1",
            "PR1", "IN1", "ORC", "ZAB", "MSA", "FHS", "BHS", "BTS", "FTS", "QRD", "SPM"]
ALPHABET = "AB12 ^~\\&|#EFXHNST.-é漢\t\x01"


def _random_text(r: random.Random) -> str:
    """A text cut from random segments: odd delimiters, escapes, repeats,
    empty fields, line ends of every kind, sometimes an MLLP frame."""
    fs, cs, rs, es, ss = "|", "^", "~", "\\", "&"
    if r.random() < 0.15:
        fs, cs, rs, es, ss = r.sample("|^~\\&#!@$%*", 5)
    version = r.choice(["2.3", "2.4", "2.5", "2.5.1", "2.6", "2.7", "2.8", "", "9.9"])
    kind = r.choice(["ADT^A01", "ADT^A08^ADT_A01", "ORU^R01", "ORM^O01", "SIU^S12", "ACK", "",
                     "ADT^A04", "VXU^V04", "ZZZ^Z01"])
    kind = kind.replace("^", cs)
    msh = f"MSH{fs}{cs}{rs}{es}{ss}{fs}APP{fs}FAC{fs}R{fs}F{fs}20240101{fs}{fs}{kind}{fs}C{r.randint(0, 999)}{fs}P{fs}{version}"
    if r.random() < 0.2:
        msh += fs * r.randint(1, 3) + r.choice(["UNICODE UTF-8", "8859/1", "ASCII", ""])
    lines = [msh]
    for _ in range(r.randint(0, 14)):
        name = r.choice(SEGMENTS)
        fields = []
        for _ in range(r.randint(0, 8)):
            n = r.randint(0, 12)
            value = "".join(r.choice(ALPHABET) for _ in range(n))
            value = value.replace("|", fs).replace("^", cs).replace("~", rs).replace("&", ss)
            value = value.replace("\\", es)
            if r.random() < 0.1:
                value = f"{es}F{es}x{es}X41{es}{es}E{es}"
            fields.append(value)
        lines.append(fs.join([name, *fields]))
    end = r.choice(["\r", "\r", "\n", "\r\n"])
    text = end.join(lines) + (end if r.random() < 0.8 else "")
    if r.random() < 0.05:
        text = "\x0b" + text + "\x1c\r"
    return text


def random_messages(count: int, seed: int = 30) -> list[str]:
    r = random.Random(seed)
    out = []
    for i in range(count):
        pick = r.random()
        if pick < 0.2:
            out.append(bench_corpus.adt_a01(r, control=i))
        elif pick < 0.3:
            out.append(bench_corpus.oru_r01(r, control=i, n_obx=r.randint(0, 6)))
        elif pick < 0.33:
            out.append(bench_corpus.adt_escaped(r, control=i))
        else:
            out.append(_random_text(r))
    return out


def corpus_texts() -> list[str]:
    texts = []
    if os.path.isdir(CORPUS):
        for name in sorted(os.listdir(CORPUS)):
            if name.endswith(".hl7"):
                with open(os.path.join(CORPUS, name), "rb") as f:
                    texts.append(f.read().decode("utf-8", "replace"))
    return texts


def _try(fn, *args):
    try:
        return fn(*args)
    except Exception as exc:  # the error is part of the output
        return f"{type(exc).__name__}: {exc}"


def _walk(msg: vellomar.Message) -> list:
    out = [msg.raw, len(msg)]
    for prop in ("message_type", "control_id", "version", "sending_application",
                 "sending_facility"):
        out.append(_try(getattr, msg, prop))
    for seg in msg:
        out.append((seg.name, len(seg), seg.to_dict()))
        for i, fld in enumerate(seg.fields, 1):
            out.append((fld.value, len(fld), fld.to_dict(), _try(lambda: seg[i].value)))
            for rep in fld.repetitions or [fld]:
                for comp in rep.components:
                    out.append((comp.value, comp.sub_components, _try(comp.sub_component, 1)))
    for name in SEGMENTS:
        out.append([s.name for s in msg.segments_by_name(name)])
        out.append(_try(lambda: msg.segment(name).name))
    for path in PATHS:
        out.append(_try(msg.get, path))
        out.append(_try(vellomar.values, msg, path))
        out.append(_try(vellomar.get, msg, "/" + path.split("-")[0] + "-1"))
    return out


def _structure(group) -> list:
    return [group.name, group.known,
            [_structure(c) if isinstance(c, vellomar.Group) else (c.name, c.index, c.expected)
             for c in group.children]]


class Hashes:
    def __init__(self) -> None:
        self.h: dict[str, hashlib._Hash] = {}

    def add(self, area: str, value) -> None:
        h = self.h.setdefault(area, hashlib.sha256())
        h.update(repr(value).encode("utf-8", "surrogatepass"))
        h.update(b"\0")


def run(count: int) -> dict[str, str]:
    single = bench_corpus.corpus()
    texts = corpus_texts() + [single[k] for k in ("adt", "oru", "oru_1mb", "escaped")]
    texts += random_messages(count)
    hashes = Hashes()
    parsed = []
    for text in texts:
        try:
            msg = vellomar.parse(text)
        except Exception as exc:
            hashes.add("parse", f"{type(exc).__name__}: {exc}")
            continue
        parsed.append(msg)
        hashes.add("parse", len(msg))
        hashes.add("to_json", msg.to_json())
        hashes.add("to_dict", json.dumps(msg.to_dict(), sort_keys=True))
        hashes.add("navigation", _walk(msg))
        hashes.add("structure", _try(lambda: _structure(vellomar.structure(msg))))
        hashes.add("validate", _try(vellomar.validate, msg))
    joined = "".join(t if t.endswith(("\r", "\n")) else t + "\r" for t in texts)
    for start in range(0, len(texts), 1000):
        chunk = "".join(t if t.endswith(("\r", "\n")) else t + "\r" for t in texts[start:start + 1000])
        hashes.add("parse_batch", _try(lambda: [m.to_json() for m in vellomar.parse_batch(chunk)]))
    for rows in (None, "OBX"):
        for source in ("text", "path"):
            with tempfile.TemporaryDirectory() as tmp:
                path = os.path.join(tmp, "all.hl7")
                with open(path, "wb") as f:
                    f.write(joined.encode("utf-8", "surrogatepass"))
                src = joined if source == "text" else path
                t = _try(lambda: vellomar.table(src, COLUMNS, rows=rows, errors="keep"))
                hashes.add("table", t if isinstance(t, str) else  # the same file name every run
                           (t.to_pydict(), [str(e).replace(tmp, "TMP") for e in t.errors]))
                if rows is None and source == "path":
                    reader = vellomar.read(path, errors="skip")
                    hashes.add("read", ([m.to_json() for m in reader], reader.skipped))
    return {area: h.hexdigest()[:16] for area, h in hashes.h.items()}


def main() -> None:
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--count", type=int, default=20_000, help="random messages (20,000)")
    args = p.parse_args()
    result = run(args.count)
    total = hashlib.sha256(repr(sorted(result.items())).encode()).hexdigest()[:16]
    for area, digest in result.items():
        print(f"{area:12} {digest}")
    print(f"{'total':12} {total}")


if __name__ == "__main__":
    main()
