"""`vellomar fhir`: FHIR R4 Bulk Data NDJSON, one file per resource type.

    vellomar fhir FILE... -o DIR [--errors raise|skip] [--mapping CSV...]
        [--zone ZONE] [--encoding ENC] [--jobs N] [--unmapped FILE] [--no-progress]

The messages are converted in batches in C++ (`vellomar.fhir.write_ndjson`),
by N threads at once, so memory is bounded by N batches; each
DIR/<resourceType>.ndjson replaces the old one only when every file has been
read, and then those of the types the run wrote nothing of are removed. What the messages held that could not be mapped is counted by its kind
and summed up on standard error; `--unmapped FILE` lists every kind with its
number of messages (TSV).
"""

from __future__ import annotations

import argparse
import csv
import errno
import os
from typing import Any, TextIO

from ..read import MessageError
from ._base import (
    PROG,
    Failure,
    TrackedFiles,
    UsageError,
    add_command,
    encoding_type,
    is_terminal,
    jobs_type,
    open_output,
    problem,
    report,
    stopped,
)


def register(commands: Any) -> None:
    """Adds the `fhir` command to the sub-command set `commands`."""
    parser = add_command(
        commands,
        "fhir",
        run,
        help="write FHIR R4 resources as Bulk Data NDJSON, one file per type",
        description="Convert every message of the FILEs to FHIR R4 (following HL7's "
        "V2-to-FHIR tables) and write the resources to DIR/<resourceType>.ndjson, one "
        "resource a line, references as <resourceType>/<id>. A bad message is reported on "
        "standard error with its file, number and byte offset; by default the others are "
        "written and the exit status is 1.",
    )
    parser.add_argument("files", nargs="+", metavar="FILE")
    parser.add_argument("-o", "--output", metavar="DIR", required=True,
                        help="directory of the NDJSON files (made if missing); a file is "
                        "replaced only when every input has been read")
    parser.add_argument("--errors", choices=("raise", "skip"),
                        help="bad messages: 'raise' stops at the first (DIR untouched), "
                        "'skip' leaves them out with exit status 0 (default: leave them "
                        "out, exit status 1)")
    parser.add_argument("--mapping", nargs="+", metavar="CSV",
                        help="your own tables in the layouts of HL7's V2-to-FHIR CSVs, "
                        "read over the package's (see vellomar.fhir.Mapping.load)")
    parser.add_argument("--zone", metavar="ZONE",
                        help="the senders' time zone, which a time sent without an offset "
                        "is in: an IANA name (America/New_York) or an offset (-05:00) "
                        "(default: MSH-7's offset, else UTC)")
    parser.add_argument("--encoding", type=encoding_type,
                        help="codec of every message (default: the one each message's MSH-18 "
                        "names, UTF-8 when it names none)")
    parser.add_argument("-j", "--jobs", type=jobs_type, metavar="N",
                        help="threads converting at once (default: the CPUs this process "
                        "may use); the output is the same whatever N")
    parser.add_argument("--unmapped", metavar="FILE",
                        help="write the kinds of what the messages held that could not be "
                        "mapped (\"PID-10\", \"ZPI\", \"PID-8 (AdministrativeSex)\") with "
                        "their numbers of messages to FILE, tab-separated, the most "
                        "frequent first")
    parser.add_argument("--no-progress", action="store_true",
                        help="never draw a progress bar (otherwise drawn on a terminal "
                        "for inputs over 4 MB)")


def run(args: argparse.Namespace, stdout: TextIO, stderr: TextIO) -> int:
    from ..fhir import Mapping, _zone_changes, write_ndjson

    mapping = None
    if args.zone is not None:
        try:
            _zone_changes(args.zone)  # (cached: Mapping.load reads it again)
        except ValueError as error:
            raise UsageError(f"--zone: {error}") from None
    if args.mapping or args.zone is not None:
        try:
            mapping = Mapping.load(args.mapping or (), zone=args.zone)
        except (OSError, ValueError) as error:
            raise UsageError(f"--mapping: {error}") from None
    # a DIR that cannot be made is the output that cannot be written: status
    # 2 before any input is read, as for every command's -o
    try:
        os.makedirs(args.output, exist_ok=True)
    except FileExistsError:  # a file, or a link to one
        raise Failure(2, f"{args.output}: {os.strerror(errno.ENOTDIR)}") from None
    except OSError as error:
        raise Failure(2, f"{args.output}: {error.strerror or error}") from None
    # (opened first too: a listing that cannot be written stops the run before any input is read)
    listing = open_output(args.unmapped, "w", encoding="utf-8", newline="") if args.unmapped else None
    show = not args.no_progress and is_terminal(stderr)
    files = TrackedFiles(args.files, stdout, stderr, show)
    bad = 0

    def reported(error: MessageError) -> None:
        nonlocal bad
        bad += 1
        files.progress.clear()
        report(stdout, stderr, error.file or "-", problem(error))

    counts = None
    try:
        counts = write_ndjson(files, args.output, mapping=mapping, encoding=args.encoding,
                              errors=args.errors or "skip", on_error=reported,
                              jobs=args.jobs)
    except (MessageError, OSError) as error:
        return stopped(error, files, stdout, stderr, args.output)
    finally:
        files.progress.clear()
        if counts is None and listing is not None:  # whatever stopped the run (Ctrl-C too)
            listing.discard()
    if listing is not None:
        with listing:
            table = csv.writer(listing, delimiter="\t", lineterminator="\n")
            table.writerow(("unmapped", "messages"))
            table.writerows(counts.unmapped.items())
    total, kinds = sum(counts.values()), len(counts.unmapped)
    stderr.write(f"{PROG}: {total} resource{'s' * (total != 1)} in {len(counts)} "
                 f"file{'s' * (len(counts) != 1)}"
                 + (f"; {bad} bad message{'s' * (bad != 1)} left out" if bad else "")
                 + (f"; {kinds} kind{'s' * (kinds != 1)} of content not mapped ("
                    + (f"listed in {args.unmapped}" if listing else "--unmapped FILE lists them")
                    + ")" if kinds else "") + "\n")
    return 1 if files.status or (bad and args.errors is None) else 0
