"""FHIR Bulk Data NDJSON from HL7 v2 files: one file per resource type.

Messages are cut from their files in C++ by the reader's own rules (bounded
by the largest message) and converted in batches by one C++ call each, with
the interpreter's lock released, which returns the batch's NDJSON lines
grouped by resource type in buffers of the core's own storage (no copy):
no Python object per message or per resource, and memory bounded by a
batch. Each output file is written beside
its final name and renamed over it when every input has been read and every
file is on the device (`_files.commit_all`): a failed run leaves the
directory as it was. Only then are the files of the resource types this run
wrote nothing of removed (`remove_stale`), so that the directory holds one
run's output and a loader never takes an earlier run's file for this one's.

A resource that many messages carry (the Patient of every message of a stay)
is written once per message, with the same id each time: NDJSON has no
update semantics, so its readers take the last line of an id as the latest
version (as a FHIR server does with the PUTs of a transaction).

What the messages held that could not be mapped is counted by its kind (the
core's unmapped_kind(): "PID-8 (AdministrativeSex)" for every code of PID-8
its vocabulary lacks), a number of messages a kind: the counts of a batch
come with its lines, and the whole run's with the numbers of resources
written (`Written.unmapped`).
"""

from __future__ import annotations

import os
from collections import deque
from collections.abc import Callable, Iterable, Iterator
from concurrent.futures import Future, ThreadPoolExecutor
from typing import IO, Any, Literal

from . import _ops
from ._files import AtomicFile, WriteError, commit_all, sync_directory
from .charsets import codec_of, fixed_codec
from .read import MessageError, open_stream
from .table import count_range

BATCH_MESSAGES = 128
# the kinds of what was not mapped a run counts one by one; the rest are
# counted together, as OTHER_KINDS (a bound on memory: an archive of
# messages of ever new segment names would make ever new kinds)
MAX_KINDS = 10_000
OTHER_KINDS = "(other kinds)"


# the lines by resource type (read-only buffers: memoryview, a file's write),
# and their number by type
Lines = tuple[dict[str, "_ops.FhirLines"], dict[str, int]]
# a batch converted: its lines, the (ordinal, offset, reason) of its bad
# messages, and the number of messages of each kind of what was not mapped
Converted = tuple[dict[str, "_ops.FhirLines"], dict[str, int], list[tuple[int, int, str]],
                  dict[str, int]]


class Written(dict[str, int]):
    """The number of resources written per type, as a dict; `unmapped` holds
    the number of messages of each kind of what was not mapped ("PID-10",
    "ZPI", "PID-8 (AdministrativeSex)": a report of `vellomar.fhir.convert`
    without the value it quotes), the most frequent first; past MAX_KINDS
    kinds the others are counted together as "(other kinds)"."""

    def __init__(self, counts: dict[str, int], unmapped: dict[str, int]) -> None:
        super().__init__(counts)
        self.unmapped = dict(sorted(unmapped.items(), key=lambda kind: (-kind[1], kind[0])))


def add_kinds(total: dict[str, int], batch: dict[str, int]) -> None:
    """Adds a batch's counts of the kinds of what was not mapped to `total`."""
    for kind, messages in batch.items():
        if kind not in total and len(total) >= MAX_KINDS:
            kind = OTHER_KINDS
        total[kind] = total.get(kind, 0) + messages


_resource_types: frozenset[str] | None = None


def resource_types() -> frozenset[str]:
    """The names of FHIR's resource types (definitions/fhir-resources.txt)."""
    global _resource_types
    if _resource_types is None:
        from importlib import resources

        text = resources.files(__package__).joinpath("definitions", "fhir-resources.txt").read_text("utf-8")
        _resource_types = frozenset(line for line in text.splitlines() if line and line[0] != "#")
    return _resource_types


def remove_stale(directory: str | os.PathLike[str], written: Iterable[str],
                 keep: Iterable[tuple[int, int]] = ()) -> None:
    """Removes the `<resourceType>.ndjson` files of `directory` whose type is
    not in `written`, and no other file (nor one whose (device, inode) is in
    `keep`: a run's own input), then syncs the directory if it removed any.
    A file that cannot be removed is named by a `WriteError`, raised when the
    others are gone."""
    written, keep = set(written), set(keep)
    failure: WriteError | None = None
    with os.scandir(directory) as entries:
        stale = [entry for entry in entries
                 if entry.name.endswith(".ndjson") and entry.name[:-len(".ndjson")] not in written
                 and entry.name[:-len(".ndjson")] in resource_types()
                 and not entry.is_dir(follow_symlinks=False) and identity(entry.path) not in keep]
    for entry in stale:
        try:
            os.unlink(entry.path)
        except FileNotFoundError:
            pass  # removed by another run meanwhile
        except OSError as error:
            failure = failure or WriteError(error.errno, error.strerror, entry.path)
    if stale:
        sync_directory(os.fspath(directory))
    if failure is not None:
        raise failure


def identity(item: Any) -> tuple[int, int] | None:
    """The (device, inode) of an input given as a path or an open file."""
    try:
        status = (os.stat(item) if isinstance(item, (str, os.PathLike))
                  else os.fstat(item.fileno()))
    except (OSError, AttributeError, ValueError):
        return None
    return status.st_dev, status.st_ino


def usable_cpus() -> int:
    """The number of CPUs this process may run on."""
    try:
        return len(os.sched_getaffinity(0)) or 1
    except AttributeError:  # not on every system
        return os.cpu_count() or 1


def lines_of(source: Any, encoding: str | None, maps: object,
             on_error: Callable[[MessageError], None], jobs: int = 1,
             on_unmapped: Callable[[dict[str, int]], None] | None = None) -> Iterator[Lines]:
    """The NDJSON lines by resource type of the messages of `source` (a path
    or a binary file, read as `vellomar.read` reads it), and their number by
    type, BATCH_MESSAGES messages a call of the core, in the messages'
    order; a bad message goes to `on_error` (which raises to stop) and is
    left out; each batch's counts of what was not mapped go to
    `on_unmapped` when given.

    The core cuts each batch's texts from the stream (holding the
    interpreter's lock while it reads) and parses and converts them with the
    lock released. With `jobs` over 1 that many threads convert batches at
    once while this one reads the next: at most `jobs` + 1 batches are held,
    read or converted, and not yet taken."""
    codec = fixed_codec(encoding)
    file, read_on, error_type, _ = open_stream(source)
    try:
        state = _ops.fhir_reader(read_on, codec_of, codec)
        batches = iter(lambda: state.take(BATCH_MESSAGES), None)

        def taken(done: Converted) -> Lines:
            for ordinal, offset, reason in done[2]:
                on_error(error_type(ordinal, offset, reason))
            if on_unmapped is not None:
                on_unmapped(done[3])
            return done[0], done[1]

        if jobs <= 1:
            for batch in batches:
                yield taken(batch.convert(maps))
            return
        pool = ThreadPoolExecutor(jobs, thread_name_prefix="vellomar-fhir")
        pending: deque[Future[Converted]] = deque()
        try:
            for batch in batches:
                pending.append(pool.submit(batch.convert, maps))
                if len(pending) > jobs:
                    yield taken(pending.popleft().result())
            while pending:
                yield taken(pending.popleft().result())
        finally:  # also when the caller stops early: what has not begun never will
            pool.shutdown(wait=True, cancel_futures=True)
    finally:
        if file is not None:
            file.close()


class Slice:
    """Bytes [start, stop) of an open binary file, read as a file."""

    def __init__(self, file: Any, start: int, stop: int) -> None:
        file.seek(start)
        self.file, self.left = file, max(stop - start, 0)

    def read(self, size: int) -> bytes:  # the reader always asks for a size
        data = self.file.read(min(size, self.left))
        self.left -= len(data)
        return bytes(data)


def range_lines(open_file: Callable[[], IO[bytes]], name: str, start: int, stop: int, maps: object,
                encoding: str | None, on_error: Callable[[MessageError], None]) -> Iterator[Lines]:
    """`lines_of` the messages that start in bytes [start, stop) of the file
    `name` (a range cut by the ranges' rule). A bad message reaches
    `on_error` numbered and placed in the whole file: the messages before
    the range are counted only then."""
    before: int | None = 0 if start == 0 else None

    def named(error: MessageError) -> None:
        nonlocal before
        if before is None:
            before = count_range(open_file, 0, start)
        on_error(MessageError(before + error.ordinal, start + error.offset, error.reason, name))

    with open_file() as file:
        yield from lines_of(Slice(file, start, stop), encoding, maps, named)


def arrow_rows(lines: dict[str, _ops.FhirLines]) -> Any:
    """A pyarrow Table (resourceType, id, resource) of NDJSON lines by type,
    as `lines_of` gives them, cut without a Python object per resource:
    the lines' bytes are the string data, the offsets come from
    the line ends, and each id stands at a fixed place in its line."""
    import importlib

    import numpy as np

    # optional dependencies (the dask and spark extras), untyped
    pa = importlib.import_module("pyarrow")
    pc = importlib.import_module("pyarrow.compute")

    tables = []
    for resource_type, data in lines.items():
        ends = np.flatnonzero(np.frombuffer(memoryview(data), np.uint8) == 10)
        offsets = np.concatenate(([0], ends + 1)).astype(np.int64)
        text = pa.LargeStringArray.from_buffers(len(ends), pa.py_buffer(offsets.tobytes()),
                                                pa.py_buffer(data))
        resource = pc.utf8_rtrim(text, characters="\n")
        # every line begins {"resourceType":"<type>","id":"<36 characters>"
        start = len('{"resourceType":"') + len(resource_type) + len('","id":"')
        tables.append(pa.table({
            "resourceType": pa.array(np.full(len(ends), resource_type)).cast(pa.large_string()),
            "id": pc.utf8_slice_codeunits(resource, start, start + 36),
            "resource": resource}))
    schema = pa.schema([("resourceType", pa.large_string()), ("id", pa.large_string()),
                        ("resource", pa.large_string())])
    return pa.concat_tables(tables) if tables else schema.empty_table()


def write_ndjson(
    source: str | os.PathLike[str] | IO[bytes] | Iterable[Any],
    directory: str | os.PathLike[str],
    *,
    mapping: Any = None,
    encoding: str | None = None,
    errors: Literal["raise", "skip"] = "raise",
    on_error: Callable[[MessageError], None] | None = None,
    jobs: int | None = None,
) -> Written:
    """Writes the resources of every message of `source` (a path, a binary
    file or an object with `read`, or an iterable of them) as `directory/<resourceType>.ndjson`, one
    resource a line; returns the number of resources written per type (a
    dict), whose `unmapped` counts the messages of each kind of what was not
    mapped (see `Written`).

    A bad message raises `MessageError` (naming its file, number and byte
    offset) with errors="raise", and nothing is written; with
    errors="skip" it is passed to `on_error` and left out.

    The files replace the old ones only when every input has been read and
    every file is on the device; then the directory's other
    `<resourceType>.ndjson` files (of the types this run wrote nothing of;
    an input excepted) are removed, so that it holds this run's output only
    (one that cannot be removed raises `WriteError` naming it, the new files
    in place). A run that fails before (a bad message, a file that cannot be written,
    synced or renamed) leaves every old file as it was.

    `jobs` threads convert at once (default: the CPUs this process may
    use); the files are the same whatever their number, and memory grows
    with it by a batch of messages and their resources each (about 5 MB)."""
    from .fhir import _load, _maps

    if errors not in ("raise", "skip"):
        raise ValueError(f"errors must be 'raise' or 'skip', not {errors!r}")
    if jobs is None:
        jobs = usable_cpus()
    elif isinstance(jobs, bool) or not isinstance(jobs, int) or jobs < 1:
        raise ValueError(f"jobs must be a whole number of at least 1, not {jobs!r}")
    _load()
    maps = _maps(mapping)
    os.makedirs(directory, exist_ok=True)
    outputs: dict[str, AtomicFile] = {}
    counts: dict[str, int] = {}
    unmapped: dict[str, int] = {}
    # an iterable is taken lazily: it may open each file as it is reached
    sources: Iterable[Any] = ([source] if isinstance(source, (str, os.PathLike))
                              or hasattr(source, "read") else source)

    inputs: list[tuple[int, int]] = []  # (device, inode): kept whatever their names
    try:
        for item in sources:
            if (status := identity(item)) is not None:
                inputs.append(status)
            name = os.fspath(item) if isinstance(item, (str, os.PathLike)) else getattr(
                item, "name", None)

            def bad(error: MessageError, name: Any = name) -> None:
                if error.file is None and isinstance(name, str):
                    error = MessageError(error.ordinal, error.offset, error.reason, name)
                if errors == "raise":
                    raise error from None
                if on_error is not None:
                    on_error(error)

            for lines, numbers in lines_of(item, encoding, maps, bad, jobs,
                                           lambda kinds: add_kinds(unmapped, kinds)):
                for resource_type, data in lines.items():
                    out = outputs.get(resource_type)
                    if out is None:
                        out = outputs[resource_type] = AtomicFile(
                            os.path.join(directory, resource_type + ".ndjson"))
                    out.write(memoryview(data))
                    counts[resource_type] = counts.get(resource_type, 0) + numbers[resource_type]
        commit_all(outputs.values())
    finally:
        for out in outputs.values():
            out.discard()  # a no-op after commit()
    remove_stale(directory, outputs, inputs)
    return Written(counts, unmapped)
