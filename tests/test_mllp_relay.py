"""vellomar.mllp.relay and `vellomar relay`: store and forward, on loopback."""

import asyncio
import contextlib
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
    assert (tmp_path / "forwarded").read_text() == f"{(tmp_path / 'messages.hl7').stat().st_size:020d}\n"


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
