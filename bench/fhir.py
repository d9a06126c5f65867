#!/usr/bin/env python3
"""Benchmark of vellomar.fhir.to_json against hl7v2-fhir-bridge.

Usage:
    python bench/fhir.py            # 5 repeats of 2,000 conversions per case
    python bench/fhir.py --quick    # 3 repeats of 300, bulk over fewer messages
    python bench/fhir.py --bulk 10000,50000   # archive sizes of the bulk case (0: none)

Cases: text to FHIR Bundle JSON text for

- a 2.5 KB ADT^A01 with PID, PD1, NK1, PV1, PV2, OBX, AL1, DG1, PR1 and IN1
  (target: 100,000 messages a second, 40x the pure-Python converter);
- an ORU^R01 with 28 OBX (target: 20,000 a second).

And an ORU^R01 of 250, 1,000 and 4,000 results of one code (a report's
lines), each with its own observer: CPU time a result, the same at each
size when conversion takes time in proportion to a message's segments.

Both converters take the message text and give JSON text (the peer's dict is
dumped with json.dumps: it builds a dict where vellomar writes text). Each
case first checks that both give a bundle holding a Patient. Times are CPU
time (time.process_time) of fixed iterations, alternating the contenders
within each repeat; the median of the repeats is reported with its spread,
and the ratio of the medians from this one run. The peer makes fewer
resources (it maps the radiology subset of ADT and ORU): resources per
message are printed beside the times.

Bulk: `vellomar fhir ARCHIVE -o DIR` in a fresh process over archives of
the two messages in turn (each with its own control id and patient), at each
size given, with --jobs 1 and with as many threads as the process may use
CPUs: wall and CPU time, MB/s of each and messages/s of the archive, and the
child's peak resident memory (Linux's VmHWM, read as it exits), which stays
flat as the archive grows when memory is bounded (target: 200 MB/s), and
the CPU time a message against the mean to_json time of the two above
(target: 1.2x; the child's time includes its start, about 0.1 s). The archives and outputs are
written to a temporary folder and deleted afterwards.
"""

from __future__ import annotations

import argparse
import json
import platform
import os
import statistics
import shutil
import sys
import tempfile
import time
from importlib import metadata
from typing import Callable

import vellomar.fhir

MSH = "MSH|^~\\&|ADT1|GOOD HEALTH HOSPITAL|EHR|GOOD HEALTH HOSPITAL|20240110120000-0500||{}|{}|P|2.5.1"
PID = ("PID|1||PATID1234^^^GOOD HEALTH HOSPITAL^MR~123456789^^^USSSA^SS||EVERYMAN^ADAM^A^III^^^L|"
       "|19610615|M||2106-3^White^CDCREC|2222 HOME STREET^^GREENSBORO^NC^27401-1020^USA^H||"
       "^PRN^PH^^1^555^5552004|^WPN^PH^^1^555^5553004|ENG^English^ISO639|M^Married^HL70002|"
       "CHR^Christian^HL70006|AC555444444^^^GOOD HEALTH HOSPITAL^AN||67-A4335^OH^20251231")
PV1 = ("PV1|1|I|2000^2012^01^GOOD HEALTH HOSPITAL||||004777^ATTEND^AARON^A^^^Dr.^MD|"
       "005777^REFER^RITA^^^^Dr.||SUR||||1|||004777^ATTEND^AARON^A^^^Dr.^MD||"
       "VN0001^^^GOOD HEALTH HOSPITAL^VN|||||||||||||||||||||||||20240110120000-0500")
ADT = "\r".join([
    MSH.format("ADT^A01^ADT_A01", "MSG00001"),
    "EVN|A01|20240110120000-0500|||JSMITH^Smith^John^^^Dr.",
    PID,
    "PD1|||GOOD HEALTH CLINIC^^12345|1234567^DOCTOR^PRIMARY^^^Dr.^MD^^^^^^NPI",
    "NK1|1|NUCLEAR^NELDA^W|SPO^Spouse^HL70063|2222 HOME STREET^^GREENSBORO^NC^27401-1020|"
    "^PRN^PH^^1^555^5552004",
    "NK1|2|EVERYMAN^EVE|DAU^Daughter^HL70063|14 ELM ROAD^^DURHAM^NC^27701|^PRN^PH^^1^919^5550101",
    PV1,
    "PV2|||^Chest pain and shortness of breath||||||20240115|5|||||||||||||N",
    "OBX|1|NM|8302-2^Body height^LN||180|cm^centimeter^UCUM|||||F|||20240110120000-0500",
    "OBX|2|NM|29463-7^Body weight^LN||82|kg^kilogram^UCUM|||||F|||20240110120000-0500",
    "OBX|3|NM|8867-4^Heart rate^LN||88|/min^per minute^UCUM|60-100|N|||F|||20240110120000-0500",
    "OBX|4|NM|8480-6^Systolic blood pressure^LN||142|mm[Hg]^mmHg^UCUM|90-140|H|||F|||"
    "20240110120000-0500",
    "OBX|5|ST|72166-2^Tobacco smoking status^LN||Former smoker||||||F|||20240110120000-0500",
    "OBX|6|NM|8310-5^Body temperature^LN||37.2|Cel^degree Celsius^UCUM|36.1-37.8|N|||F|||"
    "20240110120000-0500",
    "AL1|1|DA|1605^Penicillin^RXNORM|SV|Hives~Wheezing|20200101",
    "AL1|2|FA|256349002^Peanut protein^SCT|MO|Swelling of lips and tongue|20150601",
    "PR1|2||02100Z9^Bypass coronary artery, one artery from left internal mammary^I10P||"
    "20240110150000-0500|P||||004777^ATTEND^AARON^A^^^Dr.^MD",
    "DG1|1||I21.9^Acute myocardial infarction, unspecified^I10||20240110|A",
    "DG1|2||I10^Essential (primary) hypertension^I10||20240110|W",
    "PR1|1||0210093^Bypass coronary artery, one artery from aorta^I10P||20240110130000-0500|"
    "P||||004777^ATTEND^AARON^A^^^Dr.^MD",
    "IN1|1|BC1^Blue Plan|7^^^BCBS^NIIP|BLUE CROSS BLUE SHIELD|123 INSURANCE WAY^^GREENSBORO^NC^27401"
    "||^WPN^PH^^1^555^5559999|90||||20240101|20241231|||EVERYMAN^ADAM^A|SEL^Self^HL70063|"
    "19610615|2222 HOME STREET^^GREENSBORO^NC^27401|||1||||||||||||||POL123",
]) + "\r"
ORU = "\r".join([
    MSH.format("ORU^R01^ORU_R01", "MSG00002"),
    PID,
    "PV1|1|O|||||004777^ATTEND^AARON|||||||||||VN0002^^^GOOD HEALTH HOSPITAL^VN",
    "ORC|RE|PL123^EHR|FL456^LAB",
    "OBR|1|PL123^EHR|FL456^LAB|24323-8^Comprehensive metabolic panel^LN|||20240110080000-0500"
    "|||||||||004777^ATTEND^AARON||||||20240110110000-0500|||F",
    *(f"OBX|{i + 1}|NM|{2345 + i}-7^Analyte {i}^LN||{90 + i}.5|mg/dL^mg/dL^UCUM|70-110|N|||F|||"
      "20240110080000-0500" for i in range(28)),
]) + "\r"
TARGETS = {"ADT^A01": (100_000, 40.0), "ORU^R01 (28 OBX)": (20_000, None)}


def peer() -> Callable[[str], str] | None:
    try:
        from v2fhir.config import Config
        from v2fhir.convert import convert
        from v2fhir.hl7.parser import parse
    except ImportError:
        return None
    config = Config()
    return lambda text: json.dumps(convert(parse(text), config).bundle)


def resources(text: str) -> int:
    bundle = json.loads(text)
    assert any(e["resource"]["resourceType"] == "Patient" for e in bundle["entry"])
    return len(bundle["entry"])


def write_archive(path: str, count: int) -> int:
    """Writes `count` messages, ADT^A01 and ORU^R01 in turn, each with its own
    control id and patient id; returns the size in bytes."""
    with open(path, "w", newline="") as file:
        for i in range(count):
            text = ADT if i % 2 == 0 else ORU
            file.write(text.replace("MSG0000", f"M{i:09d}-", 1)
                       .replace("PATID1234", f"P{i // 2:08d}", 1))
    return os.path.getsize(path)


# the threads of the bulk case beside one: the CPUs this process may use
JOBS = len(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity") else os.cpu_count() or 1


# `python -m vellomar` that writes its peak resident memory (kB) to the file
# $BENCH_HWM as it exits. The kernel's own figure (wait4's ru_maxrss) counts
# the pages of this process, which the child shares until it execs.
PEAK = """import atexit, os, runpy, sys
def peak():
    with open("/proc/self/status") as status, open(os.environ["BENCH_HWM"], "w") as out:
        out.write(next(line for line in status if line.startswith("VmHWM:")).split()[1])
atexit.register(peak)
runpy.run_module("vellomar", run_name="__main__", alter_sys=True)
"""


def bulk(counts: list[int], convert: float | None) -> None:
    """`convert`: the mean time of one to_json of the two messages, which
    the archive holds in turn (None: not measured)."""
    print("vellomar fhir ARCHIVE -o DIR (a fresh process; target 200 MB/s, memory flat"
          + (", 1.2x a convert a message" if convert else "") + "):")
    with tempfile.TemporaryDirectory() as folder:
        for count in counts:
            path = os.path.join(folder, f"archive{count}.hl7")
            size = write_archive(path, count)
            for jobs in sorted({1, JOBS}):
                out = os.path.join(folder, f"out{count}-{jobs}")
                devnull = os.open(os.devnull, os.O_WRONLY)
                hwm = os.path.join(folder, "hwm")
                start = time.perf_counter()
                pid = os.posix_spawn(sys.executable, [sys.executable, "-c", PEAK, "fhir", path,
                                                      "-o", out, "--jobs", str(jobs), "--no-progress"],
                                     {**os.environ, "BENCH_HWM": hwm},
                                     file_actions=[(os.POSIX_SPAWN_DUP2, devnull, 1),
                                                   (os.POSIX_SPAWN_DUP2, devnull, 2)])
                _, status, usage = os.wait4(pid, 0)
                wall = time.perf_counter() - start
                os.close(devnull)
                assert os.waitstatus_to_exitcode(status) == 0, status
                with open(hwm) as file:
                    peak = int(file.read()) / 1024
                cpu = usage.ru_utime + usage.ru_stime
                lines = sum(1 for name in os.listdir(out) for _ in open(os.path.join(out, name), "rb"))
                print(f"  {count:7,} messages {size / 1e6:6.1f} MB  --jobs {jobs}  wall {wall:6.1f} s"
                      f" {size / 1e6 / wall:6.1f} MB/s  cpu {cpu:6.1f} s {size / 1e6 / cpu:6.1f} MB/s"
                      f"  {count / cpu:7,.0f} msgs/s (cpu)"
                      f"  {lines:9,} resources  peak RSS {peak:6.1f} MB"
                      + (f"  {cpu / count / convert:.2f}x a convert" if convert else ""))
                shutil.rmtree(out)
            os.remove(path)


def long_results(obx: int) -> str:
    """An ORU^R01 of `obx` results of one code and no sub-id, each with its
    own responsible observer: the ids' counters and the roles made by
    reference that a message of many results repeats."""
    return "\r".join([MSH.format("ORU^R01^ORU_R01", "LONG1"), PID, "OBR|1|P1|F1|1-8^a^LN",
                      *(f"OBX|{i}|NM|1-8^a^LN||{i}||||||F|||||{i}^DOC{i}^ANN" for i in range(obx))]) + "\r"


def long_messages(repeats: int) -> None:
    """CPU time a result at 250, 1,000 and 4,000 results: the same in each
    when conversion takes time in proportion to a message's segments."""
    per: list[float] = []
    for obx in (250, 1000, 4000):
        message = vellomar.parse(long_results(obx))
        vellomar.fhir.to_json(message)
        runs = []
        for _ in range(repeats):
            start = time.process_time()
            vellomar.fhir.to_json(message)
            runs.append((time.process_time() - start) / obx)
        per.append(statistics.median(runs))
        print(f"  {obx:5,} results   {per[-1] * 1e6:6.2f} us a result")
    print(f"  4,000 against 250: {per[-1] / per[0]:.2f}x   (in proportion: about 1x)")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--quick", action="store_true")
    parser.add_argument("--bulk", help="archive sizes in messages, comma-separated (0: none)")
    args = parser.parse_args()
    sizes = [int(n) for n in (args.bulk or ("2000,10000" if args.quick else "10000,50000"))
              .split(",") if int(n) > 0]
    repeats, n = (3, 300) if args.quick else (5, 2000)
    bridge = peer()
    print(f"# CPython {platform.python_version()} on {platform.machine()}, "
          f"vellomar {vellomar.__version__}, hl7v2-fhir-bridge "
          f"{metadata.version('hl7v2-fhir-bridge') if bridge else 'not installed'}; "
          f"CPU time, median of {repeats} x {n}")
    ours = []
    for name, text in (("ADT^A01", ADT), ("ORU^R01 (28 OBX)", ORU)):
        contenders = {"vellomar": lambda t: vellomar.fhir.to_json(t)}
        if bridge:
            contenders["hl7v2-fhir-bridge"] = bridge
        counts = {k: resources(f(text)) for k, f in contenders.items()}
        times: dict[str, list[float]] = {k: [] for k in contenders}
        for _ in range(repeats):
            for k, f in contenders.items():
                start = time.process_time()
                for _ in range(n):
                    f(text)
                times[k].append((time.process_time() - start) / n)
        ours.append(statistics.median(times["vellomar"]))
        target_rate, target_ratio = TARGETS[name]
        print(f"{name}: {len(text)} bytes")
        for k, t in times.items():
            median = statistics.median(t)
            print(f"  {k:18} {median * 1e6:9.1f} us  ({min(t) * 1e6:.1f}-{max(t) * 1e6:.1f})"
                  f"  {1 / median:10,.0f} msgs/s  {counts[k]:3} resources"
                  + (f"   target {target_rate:,}/s" if k == "vellomar" else ""))
        if bridge:
            ratio = statistics.median(times["hl7v2-fhir-bridge"]) / statistics.median(times["vellomar"])
            print(f"  ratio {ratio:.1f}x" + (f"   target {target_ratio:.0f}x" if target_ratio else ""))
    print("ORU^R01 of many results of one code (a report's lines):")
    long_messages(repeats)
    sys.stdout.flush()
    if sizes:
        bulk(sizes, statistics.mean(ours))


if __name__ == "__main__":
    main()
