"""`vellomar view`: the messages of files in a local, read-only web page.

    vellomar view [--port PORT] [--no-browser] [--encoding ENC] FILE...

The files are indexed (where each message starts) before the server
listens; messages are read again from their files as the page asks for them.
The first line of standard output is the page's address, with its token.
"""

from __future__ import annotations

import argparse
import threading
import webbrowser
from typing import Any, TextIO

from ._base import Failure, UsageError, add_command, encoding_type, port_type, report


def register(commands: Any) -> None:
    view = add_command(
        commands,
        "view",
        run,
        help="look through the messages of files in a local web page",
        description="Serve a read-only page of the messages of the files on 127.0.0.1 and "
        "print its address (with a random token that every request must carry) as the first "
        "line. The page lists the messages (type, control ID, time, patient ID, validation "
        "findings) page by page, filters them by terser path conditions (PID-5-1 = DOE; "
        "MSH-9-2 = A08), and shows one message with its groups, segment and field names, "
        "table meanings, findings and raw text. Ctrl-C stops the server.",
    )
    view.add_argument("--port", type=port_type, default=0,
                      help="the port to listen on (default: one the system picks)")
    view.add_argument("--no-browser", action="store_true",
                      help="do not open the page in the browser")
    view.add_argument("--encoding", type=encoding_type,
                      help="codec of every message (default: the one each message's MSH-18 "
                      "names, UTF-8 when it names none)")
    view.add_argument("files", nargs="+", metavar="FILE", help="HL7 file")


def run(args: argparse.Namespace, stdout: TextIO, stderr: TextIO) -> int:
    # Imported here: the other commands do not pay for the HTTP server.
    from ..viewer.archive import Archive, IndexedFile, index_file
    from ..viewer.server import make_server

    if "-" in args.files:
        raise UsageError("view reads its files again as the page asks: give files, not '-'")
    status = 0
    files: list[IndexedFile] = []
    for name in args.files:
        try:
            indexed = index_file(name)
        except OSError as error:
            report(stdout, stderr, name, error.strerror or str(error))
            status = 1
            continue
        if not indexed.offsets:
            report(stdout, stderr, name, "no HL7 message found")
            status = 1
            continue
        files.append(indexed)
    if not files:
        raise Failure(1, "no messages to show")
    try:
        server = make_server(Archive(files, args.encoding), args.port)
    except OSError as error:
        raise Failure(1, f"cannot listen on 127.0.0.1 port {args.port}: "
                      f"{error.strerror or error}") from None
    with server:
        stdout.write(server.url + "\n")
        count = server.archive.total
        stdout.write(f"{count} message{'s' * (count != 1)} in {len(files)} "
                     f"file{'s' * (len(files) != 1)}; Ctrl-C stops the server\n")
        stdout.flush()
        if not args.no_browser:
            # Some browsers block until they exit: the page opens beside the server.
            threading.Thread(target=webbrowser.open, args=(server.url,), daemon=True).start()
        try:
            server.serve_forever()
        except KeyboardInterrupt:
            pass
    return status
