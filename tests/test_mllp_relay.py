"""vellomar.mllp.relay and `vellomar relay`: store and forward, on loopback."""

import asyncio
import contextlib
import random
import signal
import sys

import pytest

import vellomar

from vellomar import mllp

MSG = "MSH|^~\\&|SND|FAC|RCV|FAC|20230101||ADT^A01|{}|P|2.5\rPID|1||MRN||DOE^JOHN"


async def until(condition, seconds=30):
    """Wait (at most `seconds`) until `condition()` holds."""
    for _ in range(int(seconds * 20)):
        if condition():
            return
        await asyncio.sleep(0.05)
    raise AssertionError("the relay made no progress")


@pytest.mark.parametrize("on_reject, forwarded, dead_letters", [
    ("hold", ["1", "bad", "2"], b""),  # "bad" waits at the head until it is taken
    ("dead-letter", ["1", "2"], b"\x0b" + MSG.format("bad").encode() + b"\x1c\r\n"),
])
def test_a_rejected_message_is_held_or_moved_aside(tmp_path, on_reject, forwarded, dead_letters):
    received, refusing = [], [True]

    def downstream(message):
        if message.control_id == "bad" and refusing[0]:
            raise ValueError("not now")
        received.append(message.control_id)

    async def scenario():
        async with mllp.serve(downstream, port=0) as receiver, mllp.relay(
            "127.0.0.1", receiver.port, store=tmp_path, port=0, retry_wait=0.01, on_reject=on_reject
        ) as relay:
            for number in ("1", "bad", "2"):
                assert (await mllp.send("127.0.0.1", relay.port, MSG.format(number)))["MSA-1"] == "AA"
            await until(lambda: relay.stats.held >= 3 or relay.stats.dead_letters)
            refusing[0] = False
            # A receiver records a message before it answers: wait until the relay has read the ACK too.
            await until(lambda: relay.stats.forwarded == len(forwarded))
            return relay.stats

    stats = asyncio.run(scenario())
    dead = tmp_path / "dead-letter.hl7"
    assert (received, dead.read_bytes() if dead.exists() else b"") == (forwarded, dead_letters)
    assert (stats.forwarded, stats.dead_letters) == (len(forwarded), len(dead_letters and "1"))


def test_a_receiver_that_is_down_is_retried_in_order(tmp_path):
    received, connections = [], 0

    async def resets_three_times(reader, writer):
        nonlocal connections
        connections += 1
        with contextlib.suppress(asyncio.IncompleteReadError, ConnectionError):
            while connections > 3:
                message = vellomar.parse((await reader.readuntil(b"\x1c")).strip(b"\r\x0b\x1c").decode())
                received.append(message.control_id)
                writer.write(b"\x0b" + message.ack().encode() + b"\x1c\r")
        writer.transport.abort()

    async def scenario():
        receiver = await asyncio.start_server(resets_three_times, "127.0.0.1", 0)
        to = receiver.sockets[0].getsockname()[1]
        async with mllp.relay("127.0.0.1", to, store=tmp_path, port=0, retry_wait=0.01) as relay:
            for number in range(5):
                await mllp.send("127.0.0.1", relay.port, MSG.format(number))
            await until(lambda: relay.stats.forwarded == 5)
        receiver.close()
        return relay.stats

    stats = asyncio.run(scenario())
    assert (received, stats.failures, stats.forwarded) == ([str(n) for n in range(5)], 3, 5)
    stored = (tmp_path / "messages.hl7").read_bytes().rstrip(b"\0")
    assert (tmp_path / "forwarded").read_text() == f"{len(stored):020d}\n"


@pytest.mark.parametrize("position, error", [
    (b"x1\n", "{forwarded}: not a byte offset: b'x1\\n'"),
    (b"%020d\n" % 99, "{forwarded}: offset 99 is past the end of {store} (0 bytes)"),
])
def test_a_position_that_cannot_be_right_stops_the_start(tmp_path, position, error):
    (tmp_path / "forwarded").write_bytes(position)

    async def start():
        async with mllp.relay("127.0.0.1", 9, store=tmp_path, port=0):
            pass

    with pytest.raises(ValueError) as raised:
        asyncio.run(start())
    assert str(raised.value) == error.format(forwarded=tmp_path / "forwarded", store=tmp_path / "messages.hl7")


@contextlib.asynccontextmanager
async def relay_process(store, to_port):
    process = await asyncio.create_subprocess_exec(
        sys.executable, "-m", "vellomar", "relay", "--listen", "127.0.0.1:0", "--store", str(store),
        "--to", f"127.0.0.1:{to_port}", "--retry-wait", "0.05", stderr=asyncio.subprocess.PIPE)
    try:
        yield process, int((await process.stderr.readline()).split()[3].rsplit(b":", 1)[1])
    finally:
        if process.returncode is None:
            process.send_signal(signal.SIGINT)
        await asyncio.wait_for(process.communicate(), 30)


def test_nothing_acknowledged_is_lost_across_sigkill(tmp_path):
    received, acked = [], []

    async def send_all(port, numbers, kill=None):
        """Send one at a time; SIGKILL the relay after 100 ACKs."""
        with contextlib.suppress(ConnectionError, OSError):
            async with mllp.connect("127.0.0.1", port) as connection:
                for number in numbers:
                    await connection.send(MSG.format(number))
                    acked.append(number)
                    if kill is not None and len(acked) == 100:
                        kill.kill()
                        await kill.wait()

    async def scenario():
        async with mllp.serve(lambda m: received.append(int(m.control_id)), port=0) as downstream:
            async with relay_process(tmp_path, downstream.port) as (process, port):
                await send_all(port, range(300), kill=process)
            assert len(acked) == 100  # the relay is gone
            async with relay_process(tmp_path, downstream.port) as (process, port):
                await send_all(port, range(100, 300))
                await until(lambda: set(received) >= set(range(300)))

    asyncio.run(asyncio.wait_for(scenario(), 120))
    first = sorted(set(received), key=received.index)
    assert first == list(range(300))  # every one, in order
    assert len(received) - 300 <= 2  # at most the one in flight, and the one whose ACK the kill cut


ANSWERS = ["AA", "AA AA", "AA late", "CA AA", "CA AE", "CA AR", "AE", "AR", "CA", "drop", "cut", "garbage"]
WEIGHTS = [30, 6, 6, 6, 3, 3, 4, 4, 2, 2, 3, 3]
REJECTED = {"CA AE", "CA AR", "AE", "AR"}


async def randomised_relay(tmp_path, seed, count):
    """Relay `count` messages, their control IDs repeating, to a receiver
    that answers at random; the receiver's log of (number, outcome)."""
    rng = random.Random(seed)
    log = []

    async def receiver(reader, writer):
        spare = None  # a second answer held back until the next message comes
        with contextlib.suppress(asyncio.IncompleteReadError, ConnectionError):
            while True:
                message = vellomar.parse((await reader.readuntil(b"\x1c")).strip(b"\r\n\x0b\x1c").decode())
                number, how = int(message["PID-3"]), rng.choices(ANSWERS, WEIGHTS)[0]
                frames = [b"\x0b" + message.ack(code).encode() + b"\x1c\r" for code in how.split()[:2]
                          if code in ("AA", "AE", "AR", "CA")]
                outcome = "AA" if how.split()[-1] in ("AA", "late") else "rejected" if how in REJECTED else "lost"
                if spare is not None:  # an earlier message's answer first: this one's cannot be taken
                    frames.insert(0, spare)
                    outcome, spare = "lost", None
                if how == "AA late":
                    spare = frames[-1]
                elif how == "cut":
                    frames = [b"\x0b" + message.ack().encode()[:20]]
                elif how == "garbage":
                    frames = [b"\x0bnot an answer\x1c\r"]
                log.append((number, outcome))
                writer.write(b"".join(frames))
                if how == "cut":
                    break
        writer.transport.abort()

    server = await asyncio.start_server(receiver, "127.0.0.1", 0)
    to = server.sockets[0].getsockname()[1]
    async with mllp.relay("127.0.0.1", to, store=tmp_path, port=0, retry_wait=0.01, timeout=1.5) as relay:
        async with mllp.connect("127.0.0.1", relay.port) as sender:
            for number in range(count):
                text = MSG.format(rng.choice("ABC")).replace("MRN", str(number))
                assert (await sender.send(text))["MSA-1"] == "AA"
        await until(lambda: log.count((count - 1, "AA")), 60)
    server.close()
    return log


def relayed_as_promised(log, count):
    """Every message reached the receiver with an AA, in order, each once;
    after anything but an AA that the relay could read, the same again."""
    expected = 0
    for number, outcome in log:
        assert number == expected, log
        expected += outcome == "AA"
    return expected == count


@pytest.mark.parametrize("seed", range(3))
def test_a_randomised_receiver_gets_every_message_in_order(tmp_path, seed):
    assert relayed_as_promised(asyncio.run(randomised_relay(tmp_path, seed, 30)), 30)


@pytest.mark.parametrize("fault, sent, on_reject, held", [
    # The ACK cannot be read: "1" is sent again.
    ("charset", "1 2", "hold", "127.0.0.1:{port}: Unknown character set in MSH-18: 'X-NONE'"),
    ("disk full", "bad 1 2", "dead-letter", "OSError: [Errno 28] No space left on device"),
])
def test_an_error_in_forwarding_is_held_and_retried(tmp_path, monkeypatch, caplog, fault, sent, on_reject, held):
    received, faults = [], [1]
    from vellomar.mllp import forwarding

    def write_all(fd, buffers):
        if faults.pop() if faults else 0:
            raise OSError(28, "No space left on device")
        return store_write_all(fd, buffers)

    store_write_all = forwarding.write_all
    if fault == "disk full":
        monkeypatch.setattr(forwarding, "write_all", write_all)

    def downstream(message):
        received.append(message.control_id)
        if message.control_id == "bad":
            raise ValueError("no")
        if fault == "charset" and faults and faults.pop():
            return message.ack().replace("|2.5", "|2.5||||||X-NONE", 1)

    async def scenario():
        async with mllp.serve(downstream, port=0) as receiver, mllp.relay(
            "127.0.0.1", receiver.port, store=tmp_path, port=0, retry_wait=0.01, on_reject=on_reject
        ) as relay:
            for number in sent.split():
                await mllp.send("127.0.0.1", relay.port, MSG.format(number))
            await until(lambda: relay.stats.forwarded == 2)
            return receiver.port

    port = asyncio.run(scenario())
    assert f"relay: holding the message at byte 0: {held.format(port=port)}" in caplog.messages
    assert [n for n in received if n != "bad"] == (["1", "1", "2"] if fault == "charset" else ["1", "2"])


@pytest.mark.parametrize("content, at, count", [
    (b"stray bytes\x0b" + MSG.format(1).encode() + b"\x1c\r\n", 0, 11),  # before a record
    (b"\x0b" + MSG.format(1).encode() + b"\x1c\r\nstray bytes", 75, 11),  # after the last one
])
def test_bytes_that_are_not_a_record_are_passed_over_once(tmp_path, caplog, content, at, count):
    (tmp_path / "messages.hl7").write_bytes(content)
    received = []

    async def scenario():
        async with mllp.serve(lambda m: received.append(m.control_id), port=0) as receiver, mllp.relay(
            "127.0.0.1", receiver.port, store=tmp_path, port=0, retry_wait=0.01
        ) as relay:
            await until(lambda: relay.stats.state == "waiting")
            await mllp.send("127.0.0.1", relay.port, MSG.format(2))
            await until(lambda: relay.stats.forwarded == 2)

    asyncio.run(asyncio.wait_for(scenario(), 60))
    assert received == ["1", "2"]
    assert [m for m in caplog.messages if "passing over" in m] == [
        f"relay: {tmp_path / 'messages.hl7'}: passing over {count} bytes at byte {at} that are not a stored message"]
