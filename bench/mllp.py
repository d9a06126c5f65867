#!/usr/bin/env python3
"""Load run of MLLP listeners: vellomar's and python-hl7's asyncio server.

Usage:
    python bench/mllp.py                      # 1 and 20 connections, 5,000 messages each
    python bench/mllp.py --messages 2000 --connections 1,20
    python bench/mllp.py --json out.json

Each listener runs in a subprocess of its own; this process is the client,
the same for every listener: each connection sends a 1.1 KB ADT^A01 and
waits for its ACK before sending the next (as interface engines do), and the
time from the send to the whole ACK is its latency. Listeners:

- python-hl7: `hl7.mllp.start_hl7_server`, handler reads the parsed message,
  `create_ack`, writes it and drains;
- vellomar: `vellomar.mllp.serve` with a handler that returns None (parse,
  AA ACK, write), on asyncio and, when installed, on uvloop;
- vellomar --store: the same with `store=DIR`, every ACK after its fsync
  (DIR on the disk of the temporary directory, and on /dev/shm, a memory file
  system whose fsync costs nothing: the listener's own ceiling);
- the relay (`vellomar relay`, its own process) in front of a vellomar
  listener (another process) that counts what arrives: end to end, the
  messages/s from the first send to the last arrival downstream; and the
  drain: 100,000 messages (`--drain N`) queued while the receiver is down,
  then the time from the receiver's start to the last arrival.

A message is lost when its ACK does not come (or acknowledges another
control ID) within 10 s. The client runs on uvloop when it is installed
(for every listener alike). pyperf is not used: it times a function, while
this is a load of concurrent requests whose latency distribution matters.
"""

from __future__ import annotations

import argparse
import asyncio
import json
import os
import platform
import signal
import socket
import subprocess
import sys
import tempfile
import time
from importlib import metadata
from pathlib import Path
from typing import Any

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import corpus  # noqa: E402

START, END, CR = b"\x0b", b"\x1c", b"\r"
ACK_TIMEOUT = 10.0


# ---------------------------------------------------------------------------
# Listeners (each in its own process: `mllp.py serve KIND`)


async def _serve_vellomar(store: str | None, ready: Any) -> dict[str, Any]:
    import vellomar.mllp

    async with vellomar.mllp.serve(lambda message: None, port=0, store=store) as server:
        ready(server.port)
        await _until_stdin_closes()
    return vars(server.stats)


async def _serve_hl7(store: str | None, ready: Any) -> dict[str, Any]:
    import hl7
    import hl7.mllp

    count = 0

    async def on_connection(reader: Any, writer: Any) -> None:
        nonlocal count
        try:
            while not writer.is_closing():
                message = await reader.readmessage()
                writer.writemessage(message.create_ack())
                await writer.drain()
                count += 1
        except (asyncio.IncompleteReadError, ConnectionError):
            pass
        finally:
            writer.close()

    server = await hl7.mllp.start_hl7_server(on_connection, "127.0.0.1", 0)
    ready(server.sockets[0].getsockname()[1])
    await _until_stdin_closes()
    server.close()
    return {"messages": count}


async def _serve_downstream(port: int, expect: int, ready: Any) -> dict[str, Any]:
    """A receiver that prints the monotonic time of its first and of its
    `expect`-th message (clocks that other processes share)."""
    import vellomar.mllp

    times: list[float] = []
    count = 0

    def handler(message: Any) -> None:
        nonlocal count
        count += 1
        if count == 1 or count == expect:
            times.append(time.monotonic())
            if count == expect:
                print(json.dumps({"first": times[0], "last": times[-1]}), flush=True)

    async with vellomar.mllp.serve(handler, port=port) as server:
        ready(server.port)
        await _until_stdin_closes()
    return {"messages": count}


async def _until_stdin_closes() -> None:
    await asyncio.get_running_loop().run_in_executor(None, sys.stdin.read)


def serve(kind: str, use_uvloop: bool, store: str | None, port: int, expect: int) -> None:
    def ready(port: int) -> None:
        print(port, flush=True)

    if kind == "downstream":
        body = _serve_downstream(port, expect, ready)
    else:
        body = (_serve_hl7 if kind == "hl7" else _serve_vellomar)(store, ready)
    if use_uvloop:
        import uvloop

        stats = uvloop.run(body)
    else:
        stats = asyncio.run(body)
    print(json.dumps(stats), flush=True)


# ---------------------------------------------------------------------------
# The client


class _Sender(asyncio.Protocol):
    """One connection: keep `window` messages on the way, each ACK timed
    from its message's send."""

    def __init__(
        self, messages: list[bytes], ids: list[bytes], window: int, done: asyncio.Future[None]
    ) -> None:
        self.messages, self.ids, self.window, self.done = messages, ids, window, done
        self.latencies: list[float] = []
        self.sent_at: list[float] = []
        self.acked = 0
        self.answered = 0
        self.buffer = b""

    def connection_made(self, transport: Any) -> None:
        self.transport = transport

    def start(self) -> None:
        self._send()

    def _send(self) -> None:
        if self.answered == len(self.messages):
            self.transport.close()
            if not self.done.done():
                self.done.set_result(None)
            return
        while len(self.sent_at) < min(self.answered + self.window, len(self.messages)):
            self.sent_at.append(time.perf_counter())
            self.transport.write(self.messages[len(self.sent_at) - 1])

    def data_received(self, data: bytes) -> None:
        self.buffer += data
        while (end := self.buffer.find(END)) >= 0:
            now = time.perf_counter()
            frame, self.buffer = self.buffer[:end], self.buffer[end + 2 :]
            if b"MSA|AA|" + self.ids[self.answered] in frame:
                self.acked += 1
                self.latencies.append(now - self.sent_at[self.answered])
            self.answered += 1
        self._send()

    def connection_lost(self, exc: Exception | None) -> None:
        if not self.done.done():
            self.done.set_result(None)


async def load(port: int, messages: list[str], connections: int, window: int) -> dict[str, Any]:
    loop = asyncio.get_running_loop()
    share = len(messages) // connections
    senders = []
    waits = []
    for number in range(connections):
        texts = messages[number * share : (number + 1) * share]
        frames = [START + text.encode() + END + CR for text in texts]
        ids = [text.split("\r", 1)[0].split("|")[9].encode() for text in texts]
        done: asyncio.Future[None] = loop.create_future()
        sender = _Sender(frames, ids, window, done)
        await loop.create_connection(lambda sender=sender: sender, "127.0.0.1", port)
        senders.append(sender)
        waits.append(done)
    # Every connection is made before the clock starts: the rate is the
    # messages', not the handshakes'.
    started = time.perf_counter()
    for sender in senders:
        sender.start()
    # Each connection must make progress: a silent one is cut after the timeout.
    while not all(wait.done() for wait in waits):
        before = sum(sender.answered for sender in senders)
        await asyncio.wait(waits, timeout=ACK_TIMEOUT)
        if sum(sender.answered for sender in senders) == before:
            break
    elapsed = time.perf_counter() - started
    for sender in senders:
        sender.transport.abort()
    latencies = sorted(x for sender in senders for x in sender.latencies)
    acked = sum(sender.acked for sender in senders)
    return {
        "connections": connections,
        "window": window,
        "messages": share * connections,
        "per_second": acked / elapsed,
        "p50_ms": 1000 * latencies[len(latencies) // 2] if latencies else float("nan"),
        "p99_ms": 1000 * latencies[int(len(latencies) * 0.99)] if latencies else float("nan"),
        "lost": share * connections - acked,
    }


def run_listener(
    kind: str,
    use_uvloop: bool,
    store: str | None,
    messages: list[str],
    loads: list[tuple[int, int]],
    repeat: int,
    per_connection: int = 0,
) -> tuple[list[dict[str, Any]], dict[str, Any]]:
    """The loads (connections, window) in turn, `repeat` rounds, against one
    listener process (`store`: None, or the directory to make the store in);
    for each load the run of median throughput, with the list of every
    round's rate under "rates". Rounds alternate the loads, so that a disk
    or a machine slower for a while weighs on each alike. With
    `per_connection` each run sends that many messages per connection (at
    least 500), else all of `messages`; a warm-up run goes first."""
    with tempfile.TemporaryDirectory(dir=store) as directory:
        command = [sys.executable, __file__, "serve", kind]
        command += ["--uvloop"] * use_uvloop + ["--store", directory] * (store is not None)
        process = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        assert process.stdout is not None and process.stdin is not None
        try:
            port = int(process.stdout.readline())
            _client_run(port, messages[:1000], loads[-1][0], loads[-1][1])  # warm-up
            runs: list[list[dict[str, Any]]] = [[] for _ in loads]
            for _ in range(repeat):
                for done, (connections, window) in zip(runs, loads):
                    count = max(500, per_connection * connections) if per_connection else None
                    cpu = _cpu_seconds(process.pid)
                    run = _client_run(port, messages[:count], connections, window)
                    run["cpu_us"] = 1e6 * (_cpu_seconds(process.pid) - cpu) / run["messages"]
                    done.append(run)
            rows = []
            for done in runs:
                rates = [run["per_second"] for run in done]
                done.sort(key=lambda run: run["per_second"])
                rows.append({**done[len(done) // 2], "rates": rates})
        finally:
            process.stdin.close()
            process.wait(30)
        server_stats = json.loads(process.stdout.read() or "{}")
        if store is not None:
            stored = (Path(directory) / "messages.hl7").read_bytes().count(b"\x1c\r\n")
            server_stats["stored"] = stored
    return rows, server_stats


def _cpu_seconds(pid: int) -> float:
    """The CPU time a process has used, all its threads (nan where /proc is not)."""
    try:
        fields = Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
    except OSError:
        return float("nan")
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def _client_run(port: int, messages: list[str], connections: int, window: int) -> dict[str, Any]:
    try:
        import uvloop
    except ImportError:
        return asyncio.run(load(port, messages, connections, window))
    return uvloop.run(load(port, messages, connections, window))


def _start(command: list[str], **options: Any) -> tuple[subprocess.Popen[str], int]:
    """A process that names its port on its first line (of stdout, or with
    `stderr=PIPE` of stderr: `vellomar: listening on HOST:PORT ...`)."""
    process = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True,
                               **options)
    line = (process.stderr if "stderr" in options else process.stdout).readline()  # type: ignore[union-attr]
    return process, int(line.split()[3].rsplit(":", 1)[1] if "stderr" in options else line)


def _free_port() -> int:
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return int(probe.getsockname()[1])


def run_relay(messages: list[str], drain: int, use_uvloop: bool) -> dict[str, Any]:
    """End to end through the relay to a live receiver, then the drain of
    `drain` messages queued while the receiver was down."""
    here = [sys.executable, __file__, "serve", "downstream"] + ["--uvloop"] * use_uvloop
    relay = [sys.executable, "-m", "vellomar", "relay", "--listen", "127.0.0.1:0",
             "--retry-wait", "0.2", "--store"]
    results: dict[str, Any] = {}
    with tempfile.TemporaryDirectory() as directory:
        # End to end: the receiver up all along.
        downstream, to = _start([*here, "--expect", str(len(messages))])
        process, port = _start([*relay, f"{directory}/a", "--to", f"127.0.0.1:{to}"],
                               stderr=subprocess.PIPE)
        started = time.monotonic()
        sent = _client_run(port, messages, 20, 8)
        times = json.loads(downstream.stdout.readline())  # type: ignore[union-attr]
        results["end_to_end_per_second"] = len(messages) / (times["last"] - started)
        results["upstream_per_second"] = sent["per_second"]
        for running in (process, downstream):
            running.send_signal(signal.SIGINT) if running is process else running.stdin.close()  # type: ignore[union-attr]
            running.wait(60)
        # The drain: queue while the receiver is down, then start it.
        to = _free_port()
        process, port = _start([*relay, f"{directory}/b", "--to", f"127.0.0.1:{to}"],
                               stderr=subprocess.PIPE)
        queued = corpus.adt_series(drain)
        sent = _client_run(port, queued, 20, 8)
        results["queued"] = drain - sent["lost"]
        results["queue_per_second"] = sent["per_second"]
        downstream = subprocess.Popen([*here, "--port", str(to), "--expect", str(drain)],
                                      stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        back = time.monotonic()
        downstream.stdout.readline()  # type: ignore[union-attr]
        times = json.loads(downstream.stdout.readline())  # type: ignore[union-attr]
        results["drain_seconds"] = times["last"] - back
        results["first_after_seconds"] = times["first"] - back
        results["drain_per_second"] = drain / (times["last"] - times["first"])
        process.send_signal(signal.SIGINT)
        downstream.stdin.close()  # type: ignore[union-attr]
        for running in (process, downstream):
            running.wait(60)
    return results


def durable_appends(count: int) -> dict[str, float]:
    """Milliseconds per durable write on the disk of the temporary directory,
    one at a time (nothing to group): the floor (a plain `fdatasync` of 1 KB
    overwritten in place, and `fsync` of 1 KB appended to a growing file,
    which commits the size to the file system's journal too), the median of
    `Store.append` of a 1.1 KB message, and the slowest of 20 appends within
    an extent beside the slowest of the 20 around the end of an extent (the
    one that enters the next extent, which is zeroed and flushed before a
    record goes in, and those flushed while the extent after it is
    prepared), with the next extent prepared in line by the append that
    needs it (as before) and ahead (as now): the difference is the wait."""
    from vellomar.mllp.config import Stats
    from vellomar.mllp.store import EXTENT, Store

    block = b"x" * 1100
    figures = {}
    with tempfile.TemporaryDirectory() as directory:
        path = Path(directory) / "floor"
        fd = os.open(path, os.O_RDWR | os.O_CREAT)
        os.write(fd, b"\0" * (count * len(block)))
        os.fsync(fd)
        for name, sync, at in (("fdatasync in place", os.fdatasync, lambda n: n * len(block)),
                               ("fsync appended", os.fsync, None)):
            if at is None:
                os.ftruncate(fd, 0)
                os.fsync(fd)
            times = []
            for n in range(count):
                started = time.perf_counter()
                if at is None:
                    os.write(fd, block)
                else:
                    os.pwrite(fd, block, at(n))
                sync(fd)
                times.append(time.perf_counter() - started)
            figures[name] = 1000 * sorted(times)[count // 2]
        os.close(fd)

        async def appends(ahead: bool) -> tuple[float, float, float]:
            store = Store(Path(directory) / f"store{ahead}", Stats())
            if not ahead:  # as before: the append that needs an extent prepares it
                store._prepare_ahead = lambda: None  # type: ignore[method-assign]
            await store.append(block)  # the first, which may make the file
            times = []
            for _ in range(count):
                started = time.perf_counter()
                await store.append(block)
                times.append(time.perf_counter() - started)
            # Fill the extent up to two records from its end; then, after a
            # pause as between two messages, time the appends across its end.
            room = -(store.durable_size + len(block) + 4) % EXTENT
            await store.append(b"x" * (room - 2 * (len(block) + 4) - 10))
            await asyncio.sleep(0.05)
            across = []
            for _ in range(20):
                started = time.perf_counter()
                await store.append(block)
                across.append(time.perf_counter() - started)
            await store.close()
            return 1000 * sorted(times)[count // 2], 1000 * max(times[-20:]), 1000 * max(across)

        for ahead in (False, True):
            median, within, across = asyncio.run(appends(ahead))
            if ahead:
                figures["Store.append"] = median
                figures["slowest of 20 within an extent"] = within
            figures["across an extent end, " + ("ahead" if ahead else "in line")] = across
    return figures


def _ratios(rows: list[dict[str, Any]]) -> str:
    """The last load's rate over the first's, of the medians and of each round."""
    rounds = [last / first for first, last in zip(rows[0]["rates"], rows[-1]["rates"])]
    return (f"{rows[-1]['per_second'] / rows[0]['per_second']:.1f}x (rounds: "
            + ", ".join(f"{ratio:.1f}x" for ratio in rounds) + ")")


def store_loads(repeat: int, per_connection: int) -> None:
    """The store at 1, 20 and 100 connections with one message in flight
    each, in alternating rounds, beside what the disk allows (measured
    before and after them)."""
    floor = durable_appends(200)
    print("# median of one durable write, ms (200 in a row): " +
          ", ".join(f"{name} {ms:.2f}" for name, ms in floor.items()))
    loads = [(1, 1), (20, 1), (100, 1)]
    messages = corpus.adt_series(max(500, per_connection * loads[-1][0]))
    rows, stats = run_listener("vellomar", False, tempfile.gettempdir(), messages, loads, repeat,
                               per_connection)
    after = durable_appends(200)
    for row in rows:
        print(f"vellomar asyncio --store {row['connections']:>4} connections: "
              f"{row['per_second']:>7.0f} msg/s (rounds " +
              " ".join(f"{rate:.0f}" for rate in row["rates"]) +
              f"), p99 {row['p99_ms']:.1f} ms, lost {row['lost']}, listener CPU "
              f"{row['cpu_us']:.0f} us/msg")
    print(f"100 connections / 1 connection: {_ratios(rows)}; target at least 20x")
    print(f"stored {stats['stored']} messages in {stats['fsyncs']} flushes; a plain fdatasync "
          f"loop allows {1000 / floor['fdatasync in place']:.0f} flushes/s before the loads, "
          f"{1000 / after['fdatasync in place']:.0f} after (" +
          ", ".join(f"{name} {ms:.2f}" for name, ms in after.items()
                    if not name.startswith("f")) + " ms)")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    commands = parser.add_subparsers(dest="command")
    server = commands.add_parser("serve")
    server.add_argument("kind", choices=["vellomar", "hl7", "downstream"])
    server.add_argument("--uvloop", action="store_true")
    server.add_argument("--store")
    server.add_argument("--port", type=int, default=0)
    server.add_argument("--expect", type=int, default=0)
    parser.add_argument("--messages", type=int, default=3000, help="messages per run")
    parser.add_argument("--repeat", type=int, default=3, help="runs per load (median shown)")
    parser.add_argument("--window", type=int, default=8, help="messages on the way per "
                        "connection in the pipelined store load")
    parser.add_argument("--drain", type=int, default=100_000, help="messages queued in the "
                        "relay while its receiver is down (0: no relay runs)")
    parser.add_argument("--json", help="write the figures to this file")
    parser.add_argument("--store-only", action="store_true", help="only the store: one durable "
                        "append, and 1, 20 and 100 connections with one message in flight, "
                        "--repeat rounds (give 5 or more)")
    parser.add_argument("--per-connection", type=int, default=100, help="messages per "
                        "connection in a run of --store-only (at least 500 a run)")
    args = parser.parse_args()
    if args.command == "serve":
        serve(args.kind, args.uvloop, args.store, args.port, args.expect)
        return
    if args.store_only:
        store_loads(args.repeat, args.per_connection)
        return

    messages = corpus.adt_series(args.messages)
    try:
        import uvloop  # noqa: F401

        loops = [False, True]
    except ImportError:
        loops = [False]
    plain = [(1, 1), (20, 1)]
    stored = [(20, 1), (20, args.window)]
    disk = tempfile.gettempdir()
    listeners: list[tuple[str, bool, str | None, list[tuple[int, int]]]] = [("hl7", False, None, plain)]
    listeners += [("vellomar", loop, None, plain) for loop in loops]
    listeners += [("vellomar", loop, disk, stored) for loop in loops]
    if os.path.isdir("/dev/shm"):
        listeners += [("vellomar", loops[-1], "/dev/shm", stored)]

    uv = f", uvloop {metadata.version('uvloop')}" if len(loops) > 1 else ", no uvloop"
    print(f"# {platform.python_implementation()} {platform.python_version()}, "
          f"{platform.machine()}, {os.cpu_count()} CPUs, load average "
          f"{os.getloadavg()[0]:.1f}; hl7 {metadata.version('hl7')}{uv}")
    print(f"# {args.messages} ADT^A01 of {len(messages[0].encode())} bytes per run, median "
          f"of {args.repeat} runs; client on {'uvloop' if len(loops) > 1 else 'asyncio'}; "
          "window: messages on the way per connection")
    print(f"{'listener':<26}{'conns':>6}{'window':>7}{'msg/s':>9}{'p50 ms':>9}{'p99 ms':>9}"
          f"{'lost':>6}{'x hl7':>7}")
    results = []
    base: dict[int, float] = {}
    for kind, use_uvloop, store, loads in listeners:
        name = kind + (" uvloop" if use_uvloop else " asyncio")
        name += "" if store is None else " --store" + (" shm" if store == "/dev/shm" else "")
        rows, stats = run_listener(kind, use_uvloop, store, messages, loads, args.repeat)
        for row in rows:
            if kind == "hl7":
                base[row["connections"]] = row["per_second"]
            ratio = row["per_second"] / base[row["connections"]]
            print(f"{name:<26}{row['connections']:>6}{row['window']:>7}{row['per_second']:>9.0f}"
                  f"{row['p50_ms']:>9.2f}{row['p99_ms']:>9.2f}{row['lost']:>6}{ratio:>7.1f}")
            results.append({"listener": name, **row})
        if store is not None:
            print(f"{'':<26}stored {stats['stored']} messages in {stats['fsyncs']} fsyncs")
        results.append({"listener": name, "server": stats})
    if args.drain:
        relay = run_relay(messages, args.drain, loops[-1])
        print(f"relay (vellomar relay, 20 connections, window 8, to a vellomar listener): "
              f"{relay['end_to_end_per_second']:.0f} msg/s end to end "
              f"({relay['upstream_per_second']:.0f} msg/s acknowledged upstream)")
        print(f"relay drain: {relay['queued']} messages queued at "
              f"{relay['queue_per_second']:.0f} msg/s while the receiver was down; "
              f"{relay['drain_seconds']:.1f} s from its start to the last arrival "
              f"(first after {relay['first_after_seconds']:.1f} s of backoff), "
              f"{relay['drain_per_second']:.0f} msg/s")
        results.append({"listener": "relay", **relay})
    if args.json:
        Path(args.json).write_text(json.dumps(results, indent=2))


if __name__ == "__main__":
    main()
