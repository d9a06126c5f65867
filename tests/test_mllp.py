"""vellomar.mllp, `vellomar listen` and `vellomar send`, on loopback only."""

import asyncio
import contextlib
import functools
import io
import logging
import re
import signal
import ssl
import subprocess
import sys
from pathlib import Path

import hl7.mllp
import pytest
import trustme
from hypothesis import given, strategies as st

import vellomar
from vellomar import cli, mllp
from vellomar.mllp.config import ServerConfig, Stats
from vellomar.mllp.connection import ListenerConnection, Listening
from vellomar.mllp.framing import Frame
from vellomar.mllp.responder import Responder

MSG = "MSH|^~\\&|SND|FAC|RCV|FAC|20230101||ADT^A01|{}|P|2.5\rPID|1||MRN||DOE^JOHN"


def frame(data):
    return b"\x0b" + (data.encode() if isinstance(data, str) else data) + b"\x1c\r"


def run(coroutine):
    return asyncio.run(asyncio.wait_for(coroutine, 60))


def looped(test):
    """Run the async test `test` in an event loop of its own."""
    return functools.wraps(test)(lambda *args, **kwargs: run(test(*args, **kwargs)))


async def exchange(port, data, answers):
    """Write `data` raw and read `answers` ACKs as (MSA-1, MSA-2, MSA-3)."""
    reader, writer = await asyncio.open_connection("127.0.0.1", port)
    writer.write(data)
    acks = []
    for _ in range(answers):
        await reader.readuntil(b"\x0b")
        ack = vellomar.parse((await reader.readuntil(b"\x1c"))[:-1].decode())
        acks.append(tuple(ack[f"MSA-{n}"] for n in (1, 2, 3)))
    writer.close()
    return acks


@pytest.mark.parametrize("asynchronous", [False, True])
@pytest.mark.parametrize(
    "result, expected",
    [
        (None, ("AA", "1", "")),
        ("MSH|^~\\&|R|F|S|F|||ACK|A1|P|2.5\rMSA|CA|1|own", ("CA", "1", "own")),
        (RuntimeError("no bed | ward ^ 3\rnow"), ("AE", "1", "no bed | ward ^ 3 now")),
        (KeyError(), ("AE", "1", "KeyError")),
        (42, ("AE", "1", "the handler returned int, not str or None")),
    ],
)
@looped
async def test_handler_result_makes_the_ack(result, asynchronous, expected):
    def answer(message):
        if isinstance(result, Exception):
            raise result
        return result

    async def answer_later(message):
        return answer(message)

    async with mllp.serve(answer_later if asynchronous else answer, port=0) as server:
        ack = await mllp.send("127.0.0.1", server.port, MSG.format(1))
        assert server.stats.errors == (expected[0] == "AE")
    assert (ack["MSA-1"], ack["MSA-2"], ack["MSA-3"]) == expected
    assert len(ack.segments) == 2


@pytest.mark.parametrize(
    "data, expected",
    [
        (b"PID|1", ("AR", "", "Message must start with MSH segment, got: 'PID|1'")),
        (b"\r\n", ("AR", "", "No segments found")),
        (b"MSH|^~\\&|S|F||||||7|P\rPID|\xff", ("AR", "7", "'utf-8' codec can't decode byte 0xff in position 26: invalid start byte")),  # noqa: E501
        (b"MSH|^~\\&|||||||ADT|7|P|2.5||||||KLINGON", ("AR", "7", "Unknown character set in MSH-18: 'KLINGON'")),  # noqa: E501
        (b"MSH|^~\\&|||||||ADT|7|P|2.5||||||ASCII\rPID|\xe9", ("AR", "7", "'ascii' codec can't decode byte 0xe9 in position 42: ordinal not in range(128)")),  # noqa: E501
        (b"MSH|^~\\&|||||||ADT|7|P|2.5||||||8859/1\rPID|\xe9", ("AA", "7", "True")),
        (b"MSH|^~\\&|||||||ADT|7|P|2.5||||||UNICODE UTF-8\rPID|\xc3\xa9", ("AA", "7", "True")),
    ],
)
@looped
async def test_messages_that_do_not_decode_or_parse_get_ar(data, expected):
    server = await mllp.serve(lambda msg: msg.ack("AA", str(msg["PID-1"] == "\xe9")), port=0)
    async with server:
        assert await exchange(server.port, frame(data), 1) == [expected]


@looped
async def test_hundred_pipelined_messages_are_answered_in_order():
    async with mllp.serve(lambda message: None, port=0) as server:
        data = b"".join(frame(MSG.format(n)) for n in range(100))
        acks = await exchange(server.port, data, 100)
    assert acks == [("AA", str(n), "") for n in range(100)]


@looped
async def test_twenty_connections_at_once():
    async def client(port, number):
        async with mllp.connect("127.0.0.1", port) as connection:
            return [(await connection.send(MSG.format(f"{number}.{n}")))["MSA-2"] for n in range(10)]

    async with mllp.serve(lambda message: None, port=0) as server:
        answers = await asyncio.gather(*(client(server.port, c) for c in range(20)))
    assert answers == [[f"{c}.{n}" for n in range(10)] for c in range(20)]
    assert (server.stats.connections, server.stats.messages) == (20, 200)


LONG = MSG.format(4) + "\rNTE|" + "x" * 300


@pytest.mark.parametrize(
    "data, expected, counts",
    [
        (b"\x0bMSH|cut" + frame(MSG.format(3)), [("AA", "3", "")], {"skipped_bytes": 8}),
        (frame(LONG) + frame(MSG.format(5)), [("AR", "4", "Message larger than 200 bytes"), ("AA", "5", "")], {"oversized": 1}),  # noqa: E501
    ],
)
@looped
async def test_framing_faults(data, expected, counts):
    async with mllp.serve(lambda message: None, port=0, max_message_bytes=200) as server:
        assert await exchange(server.port, data, len(expected)) == expected
    assert {name: getattr(server.stats, name) for name in counts} == counts


@pytest.mark.parametrize("trickle", [False, True])
@looped
async def test_idle_or_trickling_connection_is_closed(trickle):
    async with mllp.serve(lambda message: None, port=0, idle_timeout=0.3) as server:
        reader, writer = await asyncio.open_connection("127.0.0.1", server.port)
        for byte in b"\x0bMSH|^~\\&|...................................." if trickle else b"":
            writer.write(bytes([byte]))  # at most 5 s; the listener cuts after 0.3 s
            await asyncio.sleep(0.1)
            if reader.at_eof():
                break
        assert await asyncio.wait_for(reader.read(), 10) == b""
        writer.close()
        assert (await mllp.send("127.0.0.1", server.port, MSG.format(1)))["MSA-1"] == "AA"
    assert (server.stats.timed_out, server.stats.messages) == (1, 1)


@looped
async def test_a_message_being_answered_holds_off_the_idle_timeout():
    async def slow(message):
        await asyncio.sleep(0.6)  # past the idle timeout: the timer fires first and finds the answer pending

    async with mllp.serve(slow, port=0, idle_timeout=0.2) as server:
        assert (await mllp.send("127.0.0.1", server.port, MSG.format(1)))["MSA-1"] == "AA"
    assert server.stats.timed_out == 0


@looped
async def test_disconnect_mid_frame_loses_only_that_frame():
    async with mllp.serve(lambda message: None, port=0) as server:
        async with mllp.connect("127.0.0.1", server.port) as other:
            reader, writer = await asyncio.open_connection("127.0.0.1", server.port)
            writer.write(frame(MSG.format(1)) + b"\x0bMSH|^~\\&|half")
            await reader.readuntil(b"\x1c")
            writer.close()
            assert (await other.send(MSG.format(2)))["MSA-2"] == "2"
    assert server.stats.messages == 2


@pytest.mark.parametrize("options", [{"allow": ["10.0.0.0/8", "::1"]}, {"max_connections": 1}])
@looped
async def test_refused_connections(options):
    async with mllp.serve(lambda message: None, port=0, **options) as server:
        async with mllp.connect("127.0.0.1", server.port) as first:
            if "allow" not in options:
                assert (await first.send(MSG.format(1)))["MSA-1"] == "AA"
            with pytest.raises(ConnectionError) as error:
                await mllp.send("127.0.0.1", server.port, MSG.format(2))
    where = f"127.0.0.1:{server.port}"
    assert str(error.value) == f"connection closed by {where} before the ACK arrived"
    assert server.stats.refused == 1 + ("allow" in options)


@pytest.mark.parametrize(
    "answer, error, text",
    [
        (None, TimeoutError, "no ACK from {} within 1 s"),
        (b"\x0bMSH|^~\\&", ConnectionError, "connection closed by {} before the ACK arrived"),
        (frame("MSH|^~\\&\rMSA|AA|other"), ValueError, "ACK from {} acknowledges 'other', not '1'"),
    ],
)
@looped
async def test_client_errors(answer, error, text):
    async def listener(reader, writer):
        with contextlib.closing(writer):
            await reader.readuntil(b"\x1c")
            writer.write(answer or await reader.read())  # None: silence until the client leaves

    server = await asyncio.start_server(listener, "127.0.0.1", 0)
    port = server.sockets[0].getsockname()[1]
    with pytest.raises(error) as raised:
        await mllp.send("127.0.0.1", port, MSG.format(1), timeout=1)  # the connect too, on a busy machine
    server.close()
    assert str(raised.value) == text.format(f"127.0.0.1:{port}")


CA = trustme.CA()


def tls_context(side, certificate=True):
    """A server context requiring client certificates, or a client context
    (with its certificate unless `certificate` is False)."""
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH if side == "server" else ssl.Purpose.SERVER_AUTH)
    CA.configure_trust(context)
    if certificate:
        CA.issue_cert("127.0.0.1" if side == "server" else "client@example.org").configure_cert(context)
    context.verify_mode = ssl.CERT_REQUIRED
    return context


@pytest.mark.parametrize(
    "client_certificate, server_tls, error, logged",
    [
        (True, True, None, None),
        (False, True, "connection closed by {} before the ACK arrived (right after the TLS handshake: a client "
                      "certificate refused?)", "TLS handshake failed: peer did not return a certificate"),
        (True, False, "TLS handshake with {} failed: the connection was closed (is the listener serving TLS?)",
         "closed: it began a TLS handshake; this listener is not TLS"),
    ],
)
@looped
async def test_tls_and_its_failures(caplog, client_certificate, server_tls, error, logged):
    server_context = tls_context("server") if server_tls else None
    async with mllp.serve(lambda m: None, port=0, ssl=server_context) as server:
        where = f"127.0.0.1:{server.port}"
        try:
            ack = await mllp.send("127.0.0.1", server.port, MSG.format(1), ssl=tls_context("client", client_certificate))
            assert (ack["MSA-1"], error) == ("AA", None)
        except ConnectionError as failure:
            assert str(failure) == error.format(where)
    assert [r.getMessage().split(": ", 1)[1] for r in caplog.records if r.levelno >= logging.WARNING] == (
        [logged] if logged else [])


@pytest.mark.parametrize(
    "options, logged",
    [
        ({"allow": ["10.0.0.0/8"]}, "connection refused: not in the allow-list"),
        ({"max_connections": 0}, "connection refused: over the limit of 0 connections"),
        ({"handshake_timeout": 0.2},
         "TLS handshake failed: SSL handshake is taking longer than 0.2 seconds: aborting the connection"),
    ],
)
@looped
async def test_tls_peers_are_checked_before_the_handshake(caplog, options, logged):
    async with mllp.serve(lambda m: None, port=0, ssl=tls_context("server"), **options) as server:
        reader, writer = await asyncio.open_connection("127.0.0.1", server.port)  # no TLS: silent
        with contextlib.suppress(ConnectionResetError):
            assert await asyncio.wait_for(reader.read(), 10) == b""  # not held for the idle timeout
        writer.close()
    assert [r.getMessage().split(": ", 1)[1] for r in caplog.records] == [logged]


@pytest.mark.parametrize("with_key, reason", [
    (None, "{cert}: no private key in the certificate file: give the key file as well"),
    ("other", "{cert} and {key}: not a certificate and its key: key values mismatch"),
])
def test_listen_names_a_certificate_without_its_key(tmp_path, capsys, with_key, reason):
    cert, key = tmp_path / "cert.pem", tmp_path / "key.pem"
    CA.issue_cert("127.0.0.1").cert_chain_pems[0].write_to_path(cert)
    CA.issue_cert("other").private_key_pem.write_to_path(key)
    options = ["--tls-key", str(key)] if with_key else []
    assert cli.main(["listen", "--port", "0", "--tls-cert", str(cert), *options]) == 1
    assert capsys.readouterr().err == "vellomar: " + reason.format(cert=cert, key=key) + "\n"


def blocking_send(port, text):
    with mllp.BlockingClient("127.0.0.1", port) as client:
        return client.send(text)


@pytest.mark.filterwarnings("ignore:datetime.datetime.utcnow:DeprecationWarning")  # in hl7
@looped
async def test_blocking_client_and_interop_with_python_hl7():
    async def foreign_listener(reader, writer):
        with contextlib.suppress(asyncio.IncompleteReadError), contextlib.closing(writer):
            while True:
                writer.writemessage((await reader.readmessage()).create_ack())
                await writer.drain()

    foreign = await hl7.mllp.start_hl7_server(foreign_listener, "127.0.0.1", 0)
    ack = await mllp.send("127.0.0.1", foreign.sockets[0].getsockname()[1], MSG.format(1))
    foreign.close()
    async with mllp.serve(lambda message: None, port=0) as server:
        reader, writer = await hl7.mllp.open_hl7_connection("127.0.0.1", server.port)
        writer.writemessage(hl7.parse(MSG.format(2)))
        theirs = await reader.readmessage()
        writer.close()
        blocking = await asyncio.to_thread(blocking_send, server.port, MSG.format(3))
    assert (ack["MSA-2"], str(theirs.segment("MSA")[2]), blocking["MSA-2"]) == ("1", "2", "3")


@contextlib.contextmanager
def listener(*args, stdout=subprocess.DEVNULL):
    """`vellomar listen` in a subprocess, stopped by Ctrl-C on the way out."""
    command = [sys.executable, "-m", "vellomar", "listen", "--port", "0", *args]
    with subprocess.Popen(command, stdout=stdout, stderr=subprocess.PIPE) as process:
        try:
            yield process, int(process.stderr.readline().split()[3].rsplit(b":", 1)[1])
        finally:
            process.send_signal(signal.SIGINT)
            process.output = process.communicate(timeout=30)[0]


def test_mllp_send_of_python_hl7_against_vellomar_listen(tmp_path):
    (tmp_path / "in.hl7").write_bytes(frame(MSG.format(1)) + frame(MSG.format(2)))
    with listener() as (process, port):
        command = [Path(sys.executable).with_name("mllp_send"), "-p", str(port)]
        out = subprocess.run([*command, "-f", tmp_path / "in.hl7", "127.0.0.1"],
                             capture_output=True, text=True, timeout=30).stdout
    assert process.returncode == 0
    assert re.findall(r"MSA\|[^\n\x1c]*", out) == ["MSA|AA|1|", "MSA|AA|2|"]


def test_listen_acknowledges_while_nobody_reads_its_output():
    with listener(stdout=subprocess.PIPE) as (process, port):  # a pipe holds some 1,000 lines
        acks = run(asyncio.wait_for(exchange(port, b"".join(frame(MSG.format(n)) for n in range(3000)), 3000), 30))
    assert (len(acks), process.output.count(b"\n")) == (3000, 3000)


def test_acknowledged_messages_survive_sigkill(tmp_path):
    texts = [MSG.format(n) + "\rNTE|" + "\xe9" * (n % 300) for n in range(1000)]
    acked = set()

    async def load(port, numbers, kill=None):
        """Pipeline the messages; SIGKILL the listener after 50 ACKs. Only
        100 are sent before the kill: ACKs of all 1,000, written before it
        and left in the socket, would be read after it."""
        reader, writer = await asyncio.open_connection("127.0.0.1", port)
        writer.write(b"".join(frame(texts[n]) for n in (numbers[:100] if kill else numbers)))
        with contextlib.suppress(asyncio.IncompleteReadError, ConnectionError):
            for number in numbers:
                await reader.readuntil(b"\x1c")
                acked.add(number)
                if kill and len(acked) >= 50 and kill.returncode is None:
                    kill.send_signal(signal.SIGKILL)
                    kill.wait(30)
        writer.close()

    for attempt in range(2):
        with listener("--store", str(tmp_path), "--quiet") as (process, port):
            run(load(port, [n for n in range(1000) if n not in acked], attempt == 0 and process))
        if attempt == 0:
            assert 50 <= len(acked) < 1000
    stored = (tmp_path / "messages.hl7").read_bytes()
    assert len(acked) == 1000
    assert all(frame(text) + b"\n" in stored for text in texts)
    assert {m.raw for m in vellomar.parse_batch(stored.decode())} == set(texts)


def send_command(port, path, *options):
    out, err = io.StringIO(), io.StringIO()
    with contextlib.redirect_stdout(out), contextlib.redirect_stderr(err):
        status = cli.main(["send", f"127.0.0.1:{port}", str(path), *options])
    return status, out.getvalue() + err.getvalue().replace(str(port), "PORT")


@looped
async def test_a_cancelled_send_closes_the_connection():
    release = asyncio.Event()

    async def handler(message):
        if message.control_id == "1":
            await release.wait()  # the ACK of 1 comes after the send was given up

    async with mllp.serve(handler, port=0) as server, mllp.connect("127.0.0.1", server.port) as connection:
        with pytest.raises(TimeoutError):
            await asyncio.wait_for(connection.send(MSG.format(1)), 0.1)
        release.set()
        with pytest.raises(ConnectionError) as error:
            await connection.send(MSG.format(2))  # must not return the ACK of 1
    assert str(error.value) == f"connection to 127.0.0.1:{server.port} is closed"


@pytest.mark.parametrize(
    "resets, options, expected",
    [
        (0, [], (0, "AA 1\nAA 2\nAA 3\n")),  # a receiver that closes after each ACK
        (2, ["--retries", "2", "--retry-wait", "0.01"], (0, "AA 1\nAA 2\nAA 3\n")),
        (1, [], (1, "vellomar: {}: message 1: no ACK: connection closed by 127.0.0.1:PORT before "
                    "the ACK arrived\n")),
    ],
)
@looped
async def test_send_to_a_receiver_that_closes_or_resets(tmp_path, resets, options, expected):
    connections = 0

    async def one_message_each(reader, writer):
        nonlocal connections
        connections += 1
        if connections > resets:
            data = (await reader.readuntil(b"\x1c")).strip(b"\r\x0b\x1c")
            writer.write(frame(vellomar.parse(data.decode()).ack()))
            await writer.drain()
        writer.transport.abort()

    (tmp_path / "in.hl7").write_text("\r".join(MSG.format(n) for n in (1, 2, 3)))
    receiver = await asyncio.start_server(one_message_each, "127.0.0.1", 0)
    port = receiver.sockets[0].getsockname()[1]
    result = await asyncio.to_thread(send_command, port, tmp_path / "in.hl7", *options)
    receiver.close()
    assert result == (expected[0], expected[1].format(tmp_path / "in.hl7"))


@pytest.mark.parametrize(
    "control_ids, expected",
    [(["1", "2"], (0, "AA 1\nAA 2\n")), (["1", "bad"], (1, "AA 1\nAE bad no\n")),
     (["1", "MSH|^", "2"], (1, "AA 1\nAA 2\nvellomar: {}: message 2 at byte 72: MSH segment too short to extract "
                               "encoding characters\n"))],  # a broken message is reported, the rest sent
)
@looped
async def test_send_command(tmp_path, control_ids, expected):
    def handler(message):
        if message.control_id == "bad":
            raise ValueError("no")

    (tmp_path / "in.hl7").write_text("\n".join(n if n[:3] == "MSH" else MSG.format(n) for n in control_ids))
    async with mllp.serve(handler, port=0) as server:
        status, out = await asyncio.to_thread(send_command, server.port, tmp_path / "in.hl7")
    assert (status, out) == (expected[0], expected[1].format(tmp_path / "in.hl7"))


@given(st.text())
def test_escaped_text_comes_back_from_the_ack(text):
    message = vellomar.parse(MSG.format(1))
    ack = vellomar.parse(message.ack("AE", mllp.escape(text, message.raw)))
    assert len(ack.segments) == 2
    assert ack["MSA-3"] == text.replace("\r", " ").replace("\n", " ")


@pytest.mark.parametrize("count, size", [(4000, 4096), (40, 512 * 1024)])
@looped
async def test_a_waiting_handler_stops_the_reading_at_the_budget(monkeypatch, count, size):
    most, receive, release = [0, 0], Responder.receive, asyncio.Event()

    def counted(self, frame):
        receive(self, frame)
        most[:] = max(most[0], self.pending_messages), max(most[1], self.pending_bytes)

    async def handler(message):
        await release.wait()

    monkeypatch.setattr(Responder, "receive", counted)
    async with mllp.serve(handler, port=0) as server:
        reader, writer = await asyncio.open_connection("127.0.0.1", server.port)
        writer.write(frame(MSG.format(1) + "\rNTE|" + "x" * size) * count)
        seen = None
        for _ in range(100):  # until the listener has read all it will (at most 10 s)
            await asyncio.sleep(0.1)
            if most == seen:
                break
            seen = list(most)
        release.set()
        assert len([await reader.readuntil(b"\x1c") for _ in range(count)]) == count
        writer.close()
    assert most[0] <= 256 + 64 and most[1] <= 2 << 20  # not the 16 or 20 MiB sent


class FakeTransport(asyncio.Transport):
    def get_extra_info(self, name, default=None):
        return ("127.0.0.1", 9) if name == "peername" else default

    def write(self, data):
        pass


def test_junk_bytes_are_logged_once_then_summed_up(caplog):
    async def junk():
        connection = ListenerConnection(Listening(lambda m: None, ServerConfig(), Stats(), None))
        connection.connection_made(FakeTransport())
        for _ in range(2000):
            connection.data_received(b"x")  # 2,000 one-byte packets
        connection.connection_lost(None)

    asyncio.run(junk())
    assert [r.getMessage() for r in caplog.records if r.levelno >= logging.WARNING] == [
        "127.0.0.1:9: skipped 1 bytes outside a frame",
        "127.0.0.1:9: skipped 1999 more bytes outside frames (in 1999 places)"]


@pytest.mark.parametrize("control_ids, fault, acks, settled", [
    ("1", None, "AA 1", [True]),  # a slow handler, then released
    ("fail", None, "AE fail", [True]),  # failing after its wait
    ("1 2", None, "AA 1,AA 2", [True]),  # settled once, when both are answered
    ("cancelled 2", None, "AE cancelled,AA 2", [True]),  # it awaited a task someone cancelled
    ("1", "stop", "", []),  # the connection gone while the handler waits: its task cancelled
    ("1 now", "stop on send", "AA 1", []),  # gone as the first ACK is sent
])
@looped
async def test_an_awaited_answer_settles_once_nothing_is_under_way(control_ids, fault, acks, settled):
    release, sent, calls = asyncio.Event(), [], []

    async def slow(message):
        await release.wait()
        if message.control_id == "fail":
            raise ValueError("no")
        if message.control_id == "cancelled":
            raise asyncio.CancelledError()

    def send(data):
        sent.append(vellomar.parse(data[1:-2].decode()))
        if fault == "stop on send":
            responder.stop()

    responder = Responder(lambda m: None if m.control_id == "now" else slow(m), ServerConfig(), Stats(), None,
                          "peer", send, lambda: calls.append(responder.idle))
    for control_id in control_ids.split():
        responder.receive(Frame(MSG.format(control_id).encode()))
    responder.answer_waiting()
    await asyncio.sleep(0)  # the handler is waiting
    if fault == "stop":
        responder.stop()
    release.set()
    for _ in range(20):  # a bounded number of turns of the loop, with no timer
        await asyncio.sleep(0)
    assert (",".join(f"{a['MSA-1']} {a['MSA-2']}" for a in sent), calls) == (acks, settled)
    assert responder.pending_messages == (0 if settled else 1)  # once stopped, one is left unanswered


@pytest.mark.parametrize("text, header, expected", [
    ("a|b^c\r\nd\x1ce", "MSH|^~\\&|x", "a\\F\\b\\S\\c  d\\X1C\\e"),  # no end block ends the ACK's frame
    ("a|b^c~d\\e&", "MSH|^~|x", "a\\F\\b\\S\\c\\R\\d\\e&"),  # declared: '^' and '~'; '\' writes
    ("\u00a7", "MSH|\u00a7~\\&|x", "~R~"),  # MSH-2's bytes, as the parser reads them
    ("a!b^c", "MSH#!~\\&", "a\\S\\b^c"),  # a whole MSH-2 ...
    ("a|b#c^d", "MSH#^~", "a|b\\F\\c\\S\\d"), ("a|b", "MSH", "a\\F\\b"),  # ... else MSH-1 alone (or '|')
])
def test_answer_texts(text, header, expected):
    assert mllp.escape(text, header) == expected
