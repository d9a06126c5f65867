"""What the listener, the sender and the relay share: the logger, the
defaults, peer names and the awaitable-or-`async with` opening."""

from __future__ import annotations

import logging
from collections.abc import Coroutine, Generator
from types import TracebackType
from typing import Any, Generic, TypeVar

log = logging.getLogger("vellomar.mllp")

DEFAULT_PORT = 2575
MAX_MESSAGE_BYTES = 16 * 1024 * 1024
TIMEOUT = 10.0


def address(host: str, port: int) -> str:
    """`host`:`port` as a peer is named in messages ("[::1]:2575" for IPv6)."""
    return f"[{host}]:{port}" if ":" in host else f"{host}:{port}"


class Closable:
    """`async with` for an object that has `aclose()`."""

    async def aclose(self) -> None:
        raise NotImplementedError

    async def __aenter__(self: _Self) -> _Self:
        return self

    async def __aexit__(
        self,
        kind: type[BaseException] | None,
        value: BaseException | None,
        traceback: TracebackType | None,
    ) -> None:
        await self.aclose()


_Self = TypeVar("_Self", bound=Closable)
_T = TypeVar("_T", bound=Closable)


class Opening(Generic[_T]):
    """What `serve` and `connect` return: awaitable, or used with
    `async with`, which closes the result on the way out."""

    def __init__(self, coroutine: Coroutine[Any, Any, _T]) -> None:
        self._coroutine = coroutine
        self._result: _T | None = None

    def __await__(self) -> Generator[Any, None, _T]:
        return self._coroutine.__await__()

    async def __aenter__(self) -> _T:
        self._result = await self._coroutine
        return self._result

    async def __aexit__(self, *exception: object) -> None:
        if self._result is not None:
            await self._result.aclose()
