"""Startup and answers of `vellomar view` on a large generated archive.

The archive repeats examples/adt_a01.hl7 with distinct control IDs (as
bench/cli.py writes it). Each run starts `vellomar view --no-browser` in a
fresh process and measures: the wall and CPU seconds until it prints its
address (interpreter start, import, index of the file), the first page of
the list, a filter over the whole archive (a pass of the table engine), one
message, and the server's peak resident memory once indexed and at the end. Medians of the runs beside
the target: the page open in under 2 s.

    python bench/view.py [--size 200] [--repeats 3] [--dir /tmp]
"""

import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time
import urllib.parse
import urllib.request
from pathlib import Path

from cli import MB, write_file

TARGET = 2.0  # seconds until the first page is on the screen


def cpu_seconds(pid):
    fields = Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def peak_rss(pid):
    for line in Path(f"/proc/{pid}/status").read_text().splitlines():
        if line.startswith("VmHWM:"):
            return int(line.split()[1]) * 1024
    return 0


def timed_get(url):
    start = time.perf_counter()
    with urllib.request.urlopen(url, timeout=120) as answer:
        body = json.loads(answer.read())
    return time.perf_counter() - start, body


def run_once(path):
    start = time.perf_counter()
    child = subprocess.Popen([sys.executable, "-m", "vellomar", "view", "--no-browser", str(path)],
                             stdout=subprocess.PIPE, text=True)
    try:
        url = child.stdout.readline().strip()
        ready = time.perf_counter() - start
        cpu = cpu_seconds(child.pid)
        indexed = peak_rss(child.pid)
        page, _ = timed_get(url + "api/messages?start=0&count=50")
        query = urllib.parse.urlencode({"filter": "MSH-10 ~ 00012345"})
        filtered, body = timed_get(url + "api/messages?" + query)
        assert body["total"] >= 1, body
        message, _ = timed_get(url + "api/message?pos=12345")
        return {"ready": ready, "cpu": cpu, "page": page, "open": ready + page,
                "filter": filtered, "message": message, "indexed": indexed,
                "rss": peak_rss(child.pid)}
    finally:
        child.terminate()
        child.wait(30)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--size", type=int, default=200, help="archive size in MB")
    parser.add_argument("--repeats", type=int, default=3)
    parser.add_argument("--dir", default=tempfile.gettempdir())
    args = parser.parse_args()
    with tempfile.TemporaryDirectory(dir=args.dir) as folder:
        path = Path(folder) / "archive.hl7"
        count = write_file(path, args.size * MB)
        runs = [run_once(path) for _ in range(args.repeats)]
    print(f"{path.name}: {args.size} MB, {count} messages, {args.repeats} runs, medians")
    for key, label in (("ready", "address printed (wall)"), ("cpu", "address printed (CPU)"),
                       ("page", "first page of 50 rows"), ("open", "page open (address + page)"),
                       ("filter", "filter over the archive"), ("message", "one message")):
        line = f"{label:28} {statistics.median(r[key] for r in runs):7.3f} s"
        if key == "open":
            line += f"   target < {TARGET:.1f} s"
        print(line)
    print(f"{'peak RSS once indexed':28} {max(r['indexed'] for r in runs) / MB:7.0f} MB")
    print(f"{'peak RSS after the filter':28} {max(r['rss'] for r in runs) / MB:7.0f} MB")


if __name__ == "__main__":
    main()
