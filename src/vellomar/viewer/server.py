"""The viewer's HTTP server: the page and its JSON, on loopback only, for
whoever holds the token.

Every path starts with the token (`/TOKEN/`, `/TOKEN/api/messages`), so the
page's relative links carry it without a cookie; any other request is
refused with 403 before anything is read. The server only reads: it answers
GET (and HEAD), nothing else.
"""

from __future__ import annotations

import hmac
import json
import secrets
from http import HTTPStatus
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from importlib import resources
from typing import Any
from urllib.parse import parse_qs, urlsplit

from ..read import MessageError
from .archive import Archive, summary
from .detail import detail, fhir_available

__all__ = ["ViewServer", "make_server", "PAGE_ROWS"]

HOST = "127.0.0.1"
PAGE_ROWS = 50  # rows of a page unless the page asks for another count
MAX_ROWS = 500

_STATIC = {"": ("index.html", "text/html; charset=utf-8"),
           "view.js": ("view.js", "text/javascript; charset=utf-8"),
           "view.css": ("view.css", "text/css; charset=utf-8")}

# The page loads nothing from elsewhere, and the token in its address goes
# nowhere in a Referer.
_HEADERS = {
    "Cache-Control": "no-store",
    "Referrer-Policy": "no-referrer",
    "X-Content-Type-Options": "nosniff",
    "Content-Security-Policy": "default-src 'none'; script-src 'self'; style-src 'self'; "
    "connect-src 'self'; img-src 'self' data:; base-uri 'none'; form-action 'none'; "
    "frame-ancestors 'none'",
}


class ViewServer(ThreadingHTTPServer):
    """The server of one archive, with its token; `url` is the page's address."""

    daemon_threads = True

    def __init__(self, archive: Archive, port: int, token: str) -> None:
        self.archive = archive
        self.token = token
        self.static = {key: resources.files(__package__).joinpath("static", name).read_bytes()
                       for key, (name, _) in _STATIC.items()}
        super().__init__((HOST, port), _Handler)

    @property
    def url(self) -> str:
        return f"http://{HOST}:{self.server_address[1]}/{self.token}/"


def make_server(archive: Archive, port: int = 0) -> ViewServer:
    """A server of `archive` on loopback port `port` (0: one the system
    picks) with a fresh random token; OSError when it cannot listen."""
    return ViewServer(archive, port, secrets.token_urlsafe(24))


def _number(query: dict[str, list[str]], name: str, default: int, low: int, high: int) -> int:
    text = query.get(name, [str(default)])[-1]
    try:
        value = int(text)
    except ValueError:
        raise ValueError(f"{name} must be a whole number, not {text!r}") from None
    if not low <= value <= high:
        raise ValueError(f"{name} must be between {low} and {high}, not {value}")
    return value


class _Handler(BaseHTTPRequestHandler):
    server: ViewServer
    protocol_version = "HTTP/1.1"

    def log_message(self, format: str, *args: Any) -> None:
        pass  # standard output holds the address; requests are not logged

    def do_HEAD(self) -> None:
        self.do_GET(body=False)

    def do_GET(self, body: bool = True) -> None:
        parts = urlsplit(self.path)
        token, slash, rest = parts.path[1:].partition("/")
        # Compared in constant time, so that timing tells nothing of the token.
        if not hmac.compare_digest(token.encode(), self.server.token.encode()):
            self._send(HTTPStatus.FORBIDDEN, b"Forbidden: open the address vellomar view printed.\n",
                       "text/plain; charset=utf-8", body)
            return
        if not slash:  # /TOKEN: the page's relative links need /TOKEN/
            self.send_response(HTTPStatus.MOVED_PERMANENTLY)
            self.send_header("Location", f"/{token}/")
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        if rest in _STATIC:
            self._send(HTTPStatus.OK, self.server.static[rest], _STATIC[rest][1], body)
            return
        query = parse_qs(parts.query)
        try:
            answer = self._api(rest, query)
        except ValueError as error:  # FilterError among them
            self._json(HTTPStatus.BAD_REQUEST, {"error": str(error)}, body)
        except IndexError as error:
            self._json(HTTPStatus.NOT_FOUND, {"error": str(error)}, body)
        except OSError as error:
            self._json(HTTPStatus.INTERNAL_SERVER_ERROR,
                       {"error": f"{error.filename}: {error.strerror or error}"}, body)
        else:
            if answer is None:
                self._json(HTTPStatus.NOT_FOUND, {"error": f"no such page: {rest}"}, body)
            else:
                self._json(HTTPStatus.OK, answer, body)

    def _api(self, name: str, query: dict[str, list[str]]) -> dict[str, Any] | None:
        archive = self.server.archive
        if name == "api/info":
            return {"files": [{"name": f.name, "messages": len(f.offsets), "bytes": f.size}
                              for f in archive.files],
                    "total": archive.total, "fhir": fhir_available()}
        if name == "api/messages":
            numbers = archive.select(query.get("filter", [""])[-1])
            start = _number(query, "start", 0, 0, 1 << 62)
            count = _number(query, "count", PAGE_ROWS, 1, MAX_ROWS)
            return {"total": len(numbers), "all": archive.total, "start": start,
                    "rows": archive.rows(numbers[start:start + count])}
        if name == "api/message":
            # The message at `pos` among those that meet the filter.
            numbers = archive.select(query.get("filter", [""])[-1])
            if not numbers:
                raise IndexError("no message meets the filter")
            pos = _number(query, "pos", 0, 0, len(numbers) - 1)
            number = numbers[pos]
            file, index = archive.locate(number)
            message = archive.message(number)
            head = {"n": number, "pos": pos, "total": len(numbers), "file": file.name,
                    "number": index + 1, "offset": file.span(index)[0]}
            if isinstance(message, MessageError):
                return {**head, "bad": message.reason}
            return {**head, **summary(message), **detail(message)}
        return None

    def _json(self, status: HTTPStatus, value: Any, body: bool) -> None:
        data = json.dumps(value, ensure_ascii=False).encode()
        self._send(status, data, "application/json; charset=utf-8", body)

    def _send(self, status: HTTPStatus, data: bytes, kind: str, body: bool) -> None:
        self.send_response(status)
        self.send_header("Content-Type", kind)
        self.send_header("Content-Length", str(len(data)))
        for name, value in _HEADERS.items():
            self.send_header(name, value)
        self.end_headers()
        if body:
            self.wfile.write(data)
