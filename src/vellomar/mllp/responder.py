"""The answers of one listener connection: each frame decoded, parsed, stored
and handed to the handler, and its acknowledgement sent in order, after the
store has it on disk."""

from __future__ import annotations

import asyncio
import collections
import inspect
from collections.abc import Awaitable, Callable
from typing import NamedTuple

from .._core import Message
from ..structure import ack as findings_ack, validate
from .ack import encode, error_ack, message_codec, parse_bytes, reject
from .common import log
from .config import Handler, ServerConfig, Stats
from .framing import Frame, Oversized
from .store import Store


class _Answer(NamedTuple):
    stored: asyncio.Future[None] | None  # the store's write of the message
    data: bytes  # the framed ACK
    message: Message | None
    codec: str
    size: int  # bytes of the message answered


class Responder:
    """Answers the frames of one connection in the order they came.

    `pending_messages` and `pending_bytes` count the frames received and not
    yet answered (the connection reads from them whether to read on); `send`
    is called with the ACKs ready to leave, in order, and `settled` when an
    awaited answer is done and nothing else is under way (the connection may
    then close, or read on).
    """

    def __init__(
        self,
        handler: Handler,
        config: ServerConfig,
        stats: Stats,
        store: Store | None,
        peer: str,
        send: Callable[[bytes], None],
        settled: Callable[[], None],
    ) -> None:
        self._handler = handler
        self._config = config
        self._stats = stats
        self._store = store
        self._peer = peer
        self._send = send
        self._settled = settled
        self._loop = asyncio.get_running_loop()
        self._inbox: collections.deque[Frame | Oversized] = collections.deque()
        self._outbox: collections.deque[_Answer] = collections.deque()
        self._busy = False  # a task is finishing an answer
        self._task: asyncio.Task[None] | None = None
        self._open = True
        self.pending_messages = 0
        self.pending_bytes = 0

    @property
    def idle(self) -> bool:
        """True when every frame received is answered."""
        return not (self._inbox or self._outbox or self._busy)

    def receive(self, frame: Frame | Oversized) -> None:
        """Queue `frame` for its answer (given by `answer_waiting`)."""
        self._inbox.append(frame)
        self.pending_messages += 1
        self.pending_bytes += len(frame.data if isinstance(frame, Frame) else frame.head)

    def stop(self) -> None:
        """The connection is gone: answer nothing more."""
        self._open = False
        if self._task is not None:
            self._task.cancel()

    def answer_waiting(self) -> None:
        """Answer the frames received, here and now while the handler answers
        at once; an awaitable answer is finished by a task that carries on."""
        if self._busy:
            return
        inbox = self._inbox
        while inbox and self._open:
            pending = self._answer(inbox.popleft())
            if pending is not None:
                self._busy = True
                self._task = self._loop.create_task(self._finish(pending))
                break

    async def _finish(self, pending: Awaitable[None]) -> None:
        try:
            await pending
        except Exception as error:  # noqa: BLE001  (never leave the connection wedged)
            log.error("%s: answer failed: %r", self._peer, error)
        finally:
            self._busy = False
        self.answer_waiting()
        if self._open and not self._busy:
            self._settled()

    def _answer(self, received: Frame | Oversized) -> Awaitable[None] | None:
        """Answer the frame `received`; or return what finishes the answer
        when the handler's result has to be awaited."""
        stats = self._stats
        stats.messages += 1
        codec = "utf-8"
        whole = isinstance(received, Frame)
        frame = received.data if isinstance(received, Frame) else received.head
        try:
            if not whole:
                stats.oversized += 1
                raise ValueError(f"Message larger than {self._config.max_message_bytes} bytes")
            codec = message_codec(frame, self._config.encoding)
            message = parse_bytes(frame, codec)
        except (LookupError, ValueError) as error:
            stats.rejected += 1
            log.warning("%s: message rejected: %s", self._peer, error)
            try:
                text = frame.decode(codec, "replace")
            except LookupError:
                text = frame.decode("latin-1")
            self._reply(None, reject(text, str(error)), None, codec, len(frame))
            return None
        if self._config.validate:
            findings = validate(message)
            if any(finding.severity == "error" for finding in findings):
                stats.rejected += 1
                self._reply(None, findings_ack(message, "AR", findings), message, codec, len(frame))
                return None
        stored = self._store.append(frame) if self._store is not None else None
        result: object
        try:
            result = self._handler(message)
        except (Exception, asyncio.CancelledError) as error:
            result = error
        if result is not None and not isinstance(result, str) and inspect.isawaitable(result):
            return self._finish_answer(result, message, stored, codec, len(frame))
        self._reply(stored, self._ack(result, message), message, codec, len(frame))
        return None

    async def _finish_answer(
        self,
        result: Awaitable[str | None],
        message: Message,
        stored: asyncio.Future[None] | None,
        codec: str,
        size: int,
    ) -> None:
        outcome: str | None | BaseException
        try:
            outcome = await result
        except Exception as error:
            outcome = error
        except asyncio.CancelledError as error:
            # The connection is going (`stop`): no answer. Otherwise the
            # handler awaited something that was cancelled: its failure.
            task = asyncio.current_task()
            if not self._open or (task is not None and task.cancelling()):
                raise
            outcome = error
        self._reply(stored, self._ack(outcome, message), message, codec, size)

    def _ack(self, result: object, message: Message) -> str:
        """The ACK for the handler's `result` (None, a text, or the exception it raised)."""
        if result is None:
            return message.ack("AA")
        if isinstance(result, str):
            return result
        if not isinstance(result, (Exception, asyncio.CancelledError)):
            result = TypeError(f"the handler returned {type(result).__name__}, not str or None")
        self._stats.errors += 1
        log.warning("%s: handler failed: %r", self._peer, result)
        return error_ack(message, "AE", str(result) or type(result).__name__)

    def _reply(
        self,
        stored: asyncio.Future[None] | None,
        ack: str,
        message: Message | None,
        codec: str,
        size: int,
    ) -> None:
        if stored is None and not self._outbox:
            # Nothing to wait for, nothing ahead of it: straight out.
            self.pending_messages -= 1
            self.pending_bytes -= size
            if self._open:
                self._send(encode(ack, codec))
            return
        outbox = self._outbox
        # Messages written together share one future: one call sends their ACKs.
        called = bool(outbox) and outbox[-1].stored is stored
        outbox.append(_Answer(stored, encode(ack, codec), message, codec, size))
        if stored is None or stored.done():
            self._send_ready()
        elif not called:
            stored.add_done_callback(self._send_ready)

    def _send_ready(self, _: object = None) -> None:
        """Send the ACKs at the head of the outbox whose messages are stored."""
        outbox = self._outbox
        ready = []
        while outbox:
            stored, data, message, codec, size = outbox[0]
            if stored is not None:
                if not stored.done():
                    break
                error = stored.exception()
                if error is not None and message is not None:
                    data = encode(error_ack(message, "AE", f"Message not stored: {error}"), codec)
            outbox.popleft()
            self.pending_messages -= 1
            self.pending_bytes -= size
            ready.append(data)
        if ready and self._open:
            self._send(b"".join(ready))
