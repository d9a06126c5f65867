#!/usr/bin/env python3
"""Benchmark of vellomar against the pure-Python HL7 v2 parsers and plain floors.

Usage:
    python bench/run.py            # the full run (about 15 minutes on 2 busy cores)
    python bench/run.py --quick    # a smoke run in one process (a minute or two)
    python bench/run.py --json out.json
    python bench/run.py -o pyperf.json   # and any other pyperf option

The peers `hl7` (python-hl7) and `hl7apy` are used when they are importable
(``pip install -e '.[bench]'``); nothing is installed by this script. Every
contender first has to extract the same values from the same messages; the
run stops if one disagrees. Then pyperf times every case (see common.py); the
table shows the median time per operation with the fastest and slowest value,
throughput, and the ratio of each time to vellomar's in the same case. Memory
retained per parsed message is measured in fresh subprocesses from the growth
of the resident set, which pyperf does not measure (its --track-memory gives
the peak of a whole worker, texts and all).
"""

from __future__ import annotations

import argparse
import gc
import json
import os
import subprocess
import sys
import sysconfig
import tempfile
from importlib import metadata
from pathlib import Path
from typing import Any, Callable

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import common  # noqa: E402
import corpus  # noqa: E402

# ---------------------------------------------------------------------------
# Contenders: each parses text to its own message object and exposes the same
# three reads through its public API.


class Vellomar:
    name = "vellomar"

    def __init__(self) -> None:
        import vellomar

        self.parse = vellomar.parse
        self.parse_batch = vellomar.parse_batch
        self.structure = vellomar.structure

    @staticmethod
    def pid_5_1(msg: Any) -> str:
        return msg["PID-5-1"]

    @staticmethod
    def leaves(msg: Any) -> list[str]:
        """Every sub-component value of every repetition, MSH-1 and MSH-2 as one value each."""
        out: list[str] = []
        for seg in msg:
            fields = iter(seg)
            if seg.name == "MSH":
                out.append(next(fields).value)
                out.append(next(fields).value)
            for fld in fields:
                for rep in fld.repetitions or (fld,):
                    for comp in rep.components:
                        out.extend(comp.sub_components)
        return out


def _hl7_collect(node: Any, out: list[str]) -> None:
    for child in node:
        if isinstance(child, str):
            out.append(child)
        else:
            _hl7_collect(child, out)


class PythonHl7:
    name = "hl7"

    def __init__(self) -> None:
        import hl7

        self.parse = hl7.parse
        self.parse_file = hl7.parse_file

    @staticmethod
    def pid_5_1(msg: Any) -> str:
        return msg["PID.F5.R1.C1"]

    @staticmethod
    def leaves(msg: Any) -> list[str]:
        out: list[str] = []
        for seg in msg:
            for fld in seg[1:]:  # item 0 is the segment name
                _hl7_collect(fld, out)
        return out


def _apy_collect(element: Any, out: list[str]) -> None:
    children = element.children
    if children:
        for child in children:
            _apy_collect(child, out)
    else:
        out.append(element.to_er7())


class Hl7apy:
    name = "hl7apy"

    def __init__(self) -> None:
        from hl7apy.parser import parse_message

        def parse(text: str) -> Any:
            return parse_message(text, find_groups=False)

        self.parse = parse

    @staticmethod
    def pid_5_1(msg: Any) -> str:
        return msg.pid.pid_5.pid_5_1.to_er7()

    @staticmethod
    def leaves(msg: Any) -> list[str]:
        out: list[str] = []
        for seg in msg.children:
            fields = iter(seg.children)
            if seg.name == "MSH":  # the encoding characters, unescaped
                out.append(next(fields).value)
                out.append(next(fields).value)
            for fld in fields:
                _apy_collect(fld, out)
        return out


CONTENDERS = {cls.name: cls for cls in (Vellomar, PythonHl7, Hl7apy)}


def load_contenders(names: list[str]) -> tuple[dict[str, Any], dict[str, str]]:
    loaded: dict[str, Any] = {}
    missing: dict[str, str] = {}
    for name in names:
        try:
            loaded[name] = CONTENDERS[name]()
        except ImportError as exc:
            missing[name] = str(exc)
    return loaded, missing


# ---------------------------------------------------------------------------
# Floors: what plain Python costs for the same bytes.


def split_chain(text: str) -> list:
    """A bare str.split chain: segments, fields, repetitions, components, sub-components."""
    return [[[[c.split("&") for c in r.split("^")] for r in f.split("~")]
             for f in s.split("|")] for s in text.split("\r") if s]


# ---------------------------------------------------------------------------
# Agreement: every contender extracts the same values before anything is timed.


def check_agreement(contenders: dict[str, Any], texts: dict[str, str]) -> list[str]:
    """Compares PID-5-1 and the non-empty leaf values against vellomar's.

    hl7apy leaves empty values out of its tree, so only non-empty leaves are
    compared. The message with escape sequences is compared by count only:
    the peers hand out values with the escapes as written, vellomar decodes
    them.
    """
    problems = []
    ref = contenders["vellomar"]
    for key in ("adt", "oru", "escaped", "oru_1mb"):
        text = texts[key]
        ref_msg = ref.parse(text)
        want_pid = ref.pid_5_1(ref_msg)
        want_leaves = [v for v in ref.leaves(ref_msg) if v]
        for name, c in contenders.items():
            if name == "vellomar":
                continue
            msg = c.parse(text)
            got_pid = c.pid_5_1(msg)
            got_leaves = [v for v in c.leaves(msg) if v]
            if key != "escaped" and got_pid != want_pid:
                problems.append(f"{name} {key}: PID-5-1 {got_pid!r} != {want_pid!r}")
            if len(got_leaves) != len(want_leaves):
                problems.append(f"{name} {key}: {len(got_leaves)} non-empty leaves != {len(want_leaves)}")
            elif key != "escaped" and got_leaves != want_leaves:
                diff = next(i for i, (a, b) in enumerate(zip(got_leaves, want_leaves)) if a != b)
                problems.append(f"{name} {key}: leaf {diff} {got_leaves[diff]!r} != {want_leaves[diff]!r}")
    # The batch road must give the messages that single parses give.
    batch_text = corpus.batch(count=50)
    body = batch_text[batch_text.index("MSH|"):batch_text.index("BTS|")]
    singles = [ref.parse("MSH|" + part) for part in body.split("MSH|")[1:]]
    messages = ref.parse_batch(batch_text)
    if [ref.leaves(m) for m in messages] != [ref.leaves(m) for m in singles]:
        problems.append("vellomar parse_batch: the messages differ from single parses")
    if "hl7" in contenders:
        peer = contenders["hl7"].parse_file(batch_text)
        peer_messages = [m for b in peer for m in b]
        if [contenders["hl7"].pid_5_1(m) for m in peer_messages] != [ref.pid_5_1(m) for m in messages]:
            problems.append("hl7 parse_file: PID-5-1 of the batch messages differ")
    return problems


# ---------------------------------------------------------------------------
# Cases: (key, title, input bytes per operation (0: no throughput), messages
# per operation, {contender: case for common.benchmarks}).


def given(value: Any) -> Callable[[], Any]:
    return lambda: value


def build_cases(contenders: dict[str, Any], texts: dict[str, str], worker: bool) -> list[tuple]:
    v = contenders["vellomar"]
    cases: list[tuple] = []

    def add(key: str, title: str, nbytes: int, rows: dict, messages: int = 1) -> None:
        cases.append((key, title, nbytes, messages, rows))

    def parse_then(c: Any, read: Callable[[Any], Any]) -> Callable[[str], Any]:
        parse = c.parse
        return lambda t: read(parse(t))

    def encoded_len(t: str) -> int:
        return len(t.encode())

    for key, title in (("adt", "parse ADT^A01"), ("oru", "parse ORU^R01, 20 OBX"),
                       ("escaped", "parse ADT^A01, escapes"), ("oru_1mb", "parse ORU, 1 MB base64 OBX-5")):
        text = texts[key]
        rows = {n: (c.parse, given(text)) for n, c in contenders.items()}
        if key != "escaped":
            rows |= {"floor: len(encode)": (encoded_len, given(text)), "floor: str.split": (split_chain, given(text))}
        add(f"parse_{key}", f"{title} ({len(text.encode()):,} B)", len(text.encode()), rows)

    adt, oru = texts["adt"], texts["oru"]
    nb, oru_nb = len(adt.encode()), len(oru.encode())
    add("parse_pid", "parse + PID-5-1 (ADT)", nb,
        {n: (parse_then(c, c.pid_5_1), given(adt)) for n, c in contenders.items()})
    add("pid", "PID-5-1 alone (parsed ADT)", 0,
        {n: (c.pid_5_1, lambda c=c: c.parse(adt)) for n, c in contenders.items()})
    add("parse_walk", "parse + walk of every leaf (ADT)", nb,
        {n: (parse_then(c, c.leaves), given(adt)) for n, c in contenders.items()})
    for key, text in (("adt", adt), ("oru", oru)):
        add(f"walk_{key}", f"walk of every leaf (parsed {key.upper()})", 0,
            {n: (c.leaves, lambda c=c, t=text: c.parse(t)) for n, c in contenders.items()})

    full = texts["adt_full"]
    add("structure_adt", f"structure (ADT^A01 for FHIR, {len(full.encode()):,} B)", 0,
        {"vellomar": (v.structure, lambda: v.parse(full))})

    msg_type = type(v.parse(adt))
    add("to_dict_adt", "to_dict (ADT)", nb, {"vellomar": (msg_type.to_dict, lambda: v.parse(adt))})
    add("to_dict_oru", "to_dict (ORU)", oru_nb, {
        "vellomar": (msg_type.to_dict, lambda: v.parse(oru)),
        "json.loads(to_json())": (lambda m: json.loads(m.to_json()), lambda: v.parse(oru))})
    add("to_json_adt", "to_json (ADT)", nb, {"vellomar": (msg_type.to_json, lambda: v.parse(adt))})
    add("to_json_oru", "to_json (ORU)", oru_nb, {"vellomar": (msg_type.to_json, lambda: v.parse(oru))})
    add("to_json_1mb", "to_json (ORU, 1 MB base64)", len(texts["oru_1mb"].encode()),
        {"vellomar": (msg_type.to_json, lambda: v.parse(texts["oru_1mb"]))})

    # A batch is made only in the process that times it; its size only in the main process.
    def batch(count: int) -> Callable[[], str]:
        return lambda: corpus.batch(count=count)

    def size(count: int) -> int:
        return 0 if worker else len(corpus.batch(count=count).encode())

    rows = {"vellomar": (v.parse_batch, batch(1_000))}
    if "hl7" in contenders:
        rows["hl7"] = (contenders["hl7"].parse_file, batch(1_000))
    add("batch_1k", "parse_batch, 1,000 ADT (hl7: parse_file)", size(1_000), rows, 1_000)
    add("batch_10k", "parse_batch, 10,000 ADT", size(10_000), {
        "vellomar": (v.parse_batch, batch(10_000)), "floor: len(encode)": (encoded_len, batch(10_000))}, 10_000)
    add("batch_100k", "parse_batch, 100,000 ADT", size(100_000), {"vellomar": (v.parse_batch, batch(100_000))}, 100_000)
    return cases


# ---------------------------------------------------------------------------
# Memory: bytes retained per parsed message, from RSS growth in a fresh process.


def rss_bytes() -> int:
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def memory_child(contender: str, path: str) -> None:
    """Runs in a fresh interpreter: parses every text of `path` and holds the results."""
    c = CONTENDERS[contender]()
    # The texts are read as one block and split, so that no freed holes are
    # left in the heap for the parsed messages to fill unseen.
    with open(path, encoding="ascii", newline="") as f:
        block = f.read()
    texts = block.split("\n")
    del block
    text_bytes = sum(len(t) for t in texts)  # ASCII: one byte per character
    c.parse(corpus.adt_a01(1))  # warm-up: lazy imports, tables, caches
    gc.collect()
    before = rss_bytes()
    held = [c.parse(t) for t in texts]
    gc.collect()
    after = rss_bytes()
    print(json.dumps({"contender": contender, "messages": len(held),
                      "text_bytes_per_message": text_bytes / len(held),
                      "rss_growth": after - before,
                      "bytes_per_message": (after - before) / len(held)}))


def measure_memory(names: list[str], quick: bool) -> list[dict]:
    counts = {"vellomar": 100_000, "hl7": 5_000, "hl7apy": 200}
    if quick:
        counts = {"vellomar": 20_000, "hl7": 500, "hl7apy": 20}
    results = []
    series = corpus.adt_series(max(counts[n] for n in names))
    with tempfile.TemporaryDirectory(prefix="vellomar-bench-") as tmp:
        for name in names:
            path = os.path.join(tmp, f"{name}.txt")
            with open(path, "w", encoding="ascii", newline="") as f:
                f.write("\n".join(series[: counts[name]]))
            proc = subprocess.run([sys.executable, str(Path(__file__).resolve()), "--memory-child", name, path],
                                  capture_output=True, text=True, check=False)
            if proc.returncode != 0:
                results.append({"contender": name, "error": proc.stderr.strip().splitlines()[-1:]})
                continue
            results.append(json.loads(proc.stdout))
    return results


# ---------------------------------------------------------------------------
# The machine, the interpreter (from pyperf's metadata), the build and the peers.


def elf_build_id(path: Path) -> bytes | None:
    """The GNU build ID note of an ELF file, or None."""
    try:
        data = path.read_bytes()
    except OSError:
        return None
    # Note header: name size 4, descriptor size 20, type 3 (NT_GNU_BUILD_ID), "GNU\0".
    at = data.find(b"\x04\x00\x00\x00\x14\x00\x00\x00\x03\x00\x00\x00GNU\x00")
    return data[at + 16: at + 36] if at >= 0 else None


def vellomar_build(build_dir: str | None = None) -> dict[str, str]:
    """Compiler and flags of the imported extension, from a build directory of this
    checkout holding the same binary (same GNU build ID) when there is one."""
    import vellomar._core as core

    so = Path(core.__file__).resolve()
    info = {"module": str(so)}
    try:
        data = so.read_bytes()
        at = data.find(b"GCC: (")
        if at < 0:
            at = data.find(b"clang version")
        if at >= 0:
            info["compiler"] = data[at: data.find(b"\0", at)].decode(errors="replace")
    except OSError:
        pass
    build_id = elf_build_id(so)
    if build_dir:
        candidates = [Path(build_dir) / so.name]
    else:
        candidates = sorted([*HERE.parent.glob(f"build/{so.name}"), *HERE.parent.glob(f"build/*/{so.name}")],
                            key=lambda p: p.stat().st_mtime, reverse=True)
    for built in candidates:
        if not build_dir and (build_id is None or elf_build_id(built) != build_id):
            continue
        build_dir = built.parent
        info["build_dir"] = str(build_dir)
        ninja = build_dir / "build.ninja"
        flags_make = build_dir / "CMakeFiles" / "vellomar_core.dir" / "flags.make"
        if ninja.exists():
            text = ninja.read_text()
            at = text.find("FLAGS = ", text.find("vellomar_core.dir/src/core/parser.cpp.o:"))
            if at >= 0:
                info["flags"] = text[at + 8: text.find("\n", at)].strip()
        elif flags_make.exists():
            for line in flags_make.read_text().splitlines():
                if line.startswith("CXX_FLAGS"):
                    info["flags"] = line.split("=", 1)[1].strip()
        break
    return info


def environment(meta: dict, load: tuple, contenders: dict[str, Any], missing: dict[str, str], build_dir: str | None) -> dict:
    versions = {}
    for name in CONTENDERS:
        try:
            versions[name] = metadata.version(name)
        except metadata.PackageNotFoundError:
            versions[name] = "not installed"
    config_args = sysconfig.get_config_var("CONFIG_ARGS") or ""
    return {
        "pyperf": {k: meta[k] for k in ("cpu_model_name", "cpu_count", "platform", "python_version",
                                        "python_compiler", "python_cflags", "perf_version") if k in meta},
        "load_average": load,
        "python_pgo": "--enable-optimizations" in config_args,
        "python_lto": "--with-lto" in config_args,
        "vellomar_build": vellomar_build(build_dir) if "vellomar" in contenders else {},
        "versions": versions,
        "missing": missing,
    }


# ---------------------------------------------------------------------------
# Reporting.


def fmt_time(seconds: float) -> str:
    for unit, scale in (("s", 1.0), ("ms", 1e-3), ("µs", 1e-6), ("ns", 1e-9)):
        if seconds >= scale or unit == "ns":
            value = seconds / scale
            return f"{value:.3g} {unit}" if value < 100 else f"{value:.0f} {unit}"
    raise AssertionError


def fmt_num(value: float) -> str:
    return f"{value:,.0f}" if value >= 100 else f"{value:.3g}"


def fmt_rate(value: float) -> str:
    if value >= 1e6:
        return f"{value / 1e6:.2f}M"
    if value >= 1e3:
        return f"{value / 1e3:.1f}k"
    return f"{value:.1f}"


def summarise(cases: list[tuple], benches: dict) -> dict[str, dict]:
    out = {}
    for key, title, nbytes, messages, rows in cases:
        ref = benches[f"{key}: vellomar"].median()
        results = {}
        for name in rows:
            b = benches[f"{key}: {name}"]
            values, med = b.get_values(), b.median()
            results[name] = {
                "values": len(values), "median_s": med, "min_s": min(values), "max_s": max(values),
                "mb_per_s": nbytes / med / 1e6 if nbytes else None, "messages_per_s": messages / med,
                "ratio_to_vellomar": med / ref}
        out[key] = {"title": title, "bytes": nbytes, "messages": messages, "results": results}
    return out


def print_table(summary: dict, env: dict, memory: list[dict], targets: list[dict], out=sys.stdout) -> None:
    p = lambda *a: print(*a, file=out)  # noqa: E731
    b, m = env["vellomar_build"], env["pyperf"]
    p(f"machine:  {m.get('cpu_model_name')}, {m.get('cpu_count')} cores, {m.get('platform')}")
    p("load:     %.2f %.2f %.2f (1/5/15 min, at start)" % tuple(env["load_average"]))
    p(f"python:   {m.get('python_version')}, built by {m.get('python_compiler')}, CFLAGS {m.get('python_cflags')}, "
      f"PGO {'on' if env['python_pgo'] else 'off'}, LTO {'on' if env['python_lto'] else 'off'}")
    p(f"vellomar: {env['versions']['vellomar']} at {b.get('module', '?')}")
    p(f"          {b.get('compiler', 'compiler unknown')}, flags: {b.get('flags', 'unknown (build directory not found)')}")
    p("peers:    " + ", ".join(f"{k} {env['versions'][k]}" for k in CONTENDERS if k != "vellomar")
      + f"; timed by pyperf {m.get('perf_version')}")
    for name, why in env["missing"].items():
        p(f"          {name} not importable: {why}")
    p("")
    header = f"{'case':<44} {'contender':<22} {'median':>9} {'min..max':>21} {'MB/s':>8} {'msg/s':>8} {'x vellomar':>10}"
    p(header)
    p("-" * len(header))
    for case in summary.values():
        for i, (name, r) in enumerate(case["results"].items()):
            spread = f"{fmt_time(r['min_s'])}..{fmt_time(r['max_s'])}"
            mbs = fmt_num(r["mb_per_s"]) if r["mb_per_s"] is not None else ""
            p(f"{case['title'] if i == 0 else '':<44.44} {name:<22.22} {fmt_time(r['median_s']):>9} {spread:>21} "
              f"{mbs:>8} {fmt_rate(r['messages_per_s']):>8} {fmt_num(r['ratio_to_vellomar']):>10}")
    p("")
    p("x vellomar: median time of the row / median time of vellomar in the same case (above 1: slower than vellomar).")
    if memory:
        p("")
        p(f"{'memory retained per parsed ADT (RSS growth)':<44} {'messages':>9} {'bytes/msg':>10} {'x text':>7} {'x vellomar':>10}")
        ref = next((m for m in memory if m["contender"] == "vellomar" and "error" not in m), None)
        for m in memory:
            if "error" in m:
                p(f"  {m['contender']:<42} failed: {m['error']}")
                continue
            ratio = f"{m['bytes_per_message'] / ref['bytes_per_message']:.3g}" if ref else ""
            p(f"  {m['contender']:<42} {m['messages']:>9,} {m['bytes_per_message']:>10,.0f} "
              f"{m['bytes_per_message'] / m['text_bytes_per_message']:>7.2f} {ratio:>10}")
    p("")
    p(f"{'target':<58} {'measured':>12} {'goal':>9}  result")
    for t in targets:
        p(f"{t['target']:<58} {t['measured']:>12} {t['goal']:>9}  {t['result']}")


def evaluate_targets(summary: dict, memory: list[dict]) -> list[dict]:
    def res(case: str, who: str = "vellomar", field: str = "ratio_to_vellomar") -> float | None:
        r = summary.get(case, {}).get("results", {}).get(who)
        return r and r[field]

    a, b = res("batch_10k", field="median_s"), res("batch_100k", field="median_s")
    mem = next((m for m in memory if m["contender"] == "vellomar" and "error" not in m), None)
    rows = [  # target, measured value (None: not run), unit, at least (True) or at most, goal
        ("parse ADT: times faster than python-hl7", res("parse_adt", "hl7"), "x", True, 200),
        ("parse ADT: MB/s", res("parse_adt", field="mb_per_s"), " MB/s", True, 400),
        ("parse + PID-5-1: times faster than python-hl7", res("parse_pid", "hl7"), "x", True, 100),
        ("PID-5-1 alone: times faster than python-hl7", res("pid", "hl7"), "x", True, 10),
        ("parse + walk: times faster than python-hl7", res("parse_walk", "hl7"), "x", True, 10),
        ("walk alone (ADT): times faster than python-hl7", res("walk_adt", "hl7"), "x", True, 1),
        ("to_json ORU: MB/s of input", res("to_json_oru", field="mb_per_s"), " MB/s", True, 300),
        ("parse ADT: µs per message", res("parse_adt", field="median_s") and
         res("parse_adt", field="median_s") * 1e6, " µs", False, 0.30),
        ("structure of the 2.5 KB ADT: µs", res("structure_adt", field="median_s") and
         res("structure_adt", field="median_s") * 1e6, " µs", False, 2),
        ("to_dict ORU: times faster than json.loads(to_json())",
         res("to_dict_oru", "json.loads(to_json())"), "x", True, 10),
        ("parse_batch 10,000 ADT: MB/s", res("batch_10k", field="mb_per_s"), " MB/s", True, 300),
        ("parse_batch 100,000 / 10,000 time (linear: 10)", a and b and b / a, "x", False, 11),
        ("memory retained per parsed ADT: times its text",
         mem and mem["bytes_per_message"] / mem["text_bytes_per_message"], "x", False, 3),
    ]
    targets = []
    for text, value, unit, at_least, goal in rows:
        passed = value is not None and (value >= goal if at_least else value <= goal)
        targets.append({"target": text, "value": value, "measured": "n/a" if value is None else fmt_num(value) + unit,
                        "goal": f"{'>=' if at_least else '<='} {goal:g}{'x' if unit == 'x' else ''}",
                        "result": "n/a (not run)" if value is None else "PASS" if passed else "FAIL"})
    return targets


# ---------------------------------------------------------------------------


def main() -> int:
    ap = common.runner(processes=10).argparser
    ap.description, ap.formatter_class = __doc__, argparse.RawDescriptionHelpFormatter
    ap.add_argument("--json", metavar="FILE", help="also write the results as JSON to FILE ('-': stdout)")
    ap.add_argument("--build-dir", help="build directory of the imported extension, for its compiler flags "
                    "(default: the build/* directory of this checkout holding the same binary)")
    ap.add_argument("--no-memory", action="store_true", help="skip the memory subprocesses")
    ap.add_argument("--contenders", default=",".join(CONTENDERS),
                    help="comma-separated subset of %s (vellomar is always run)" % ", ".join(CONTENDERS))
    ap.add_argument("--memory-child", nargs=2, metavar=("CONTENDER", "FILE"), help=argparse.SUPPRESS)
    args = common.args()

    if args.memory_child:
        memory_child(*args.memory_child)
        return 0

    names = ["vellomar"] + [n for n in args.contenders.split(",") if n in CONTENDERS and n != "vellomar"]
    contenders, missing = load_contenders(names)
    if "vellomar" not in contenders:
        print(f"vellomar is not importable: {missing['vellomar']}", file=sys.stderr)
        return 2
    table_out = sys.stderr if args.json == "-" else sys.stdout
    load = os.getloadavg()
    texts = corpus.corpus()
    if not args.worker:
        problems = check_agreement(contenders, texts)
        if problems:
            print("contenders disagree; nothing timed:", file=sys.stderr)
            for line in problems:
                print("  " + line, file=sys.stderr)
            return 1
        print(f"agreement: {', '.join(contenders)} extract the same PID-5-1 and leaf values "
              f"from the ADT, ORU and 1 MB ORU (escaped ADT: same leaf count)", file=table_out)

    cases = build_cases(contenders, texts, args.worker)
    del texts
    benches = common.benchmarks({f"{key}: {name}": case for key, _, _, _, rows in cases
                                 for name, case in rows.items()})
    if benches is None:  # a pyperf worker
        return 0
    summary = summarise(cases, benches)
    env = environment(next(iter(benches.values())).get_metadata(), load, contenders, missing, args.build_dir)
    del cases, benches
    gc.collect()

    memory = [] if args.no_memory else measure_memory(list(contenders), args.quick)
    targets = evaluate_targets(summary, memory)
    how = "quick run in one process" if args.in_process else "full run, one process per value set"
    print(f"\npyperf: {args.processes} processes x {args.values} values per row, loops calibrated; {how}\n",
          file=table_out)
    print_table(summary, env, memory, targets, out=table_out)

    if args.json:
        doc = {"environment": env, "quick": args.quick, "cases": summary, "memory": memory, "targets": targets}
        text = json.dumps(doc, indent=2) + "\n"
        sys.stdout.write(text) if args.json == "-" else Path(args.json).write_text(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
