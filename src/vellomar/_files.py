"""How the package writes a file: never over the old one until the new one is whole.

Every road that writes a file (the command line's `-o`, `vellomar.write` to a
path) goes through `AtomicFile`: the data goes to a temporary file in the
destination's own directory (so the final rename stays on one file system),
which is flushed, synced and renamed over the destination only when the
writer says the whole run succeeded; its bytes are sent on to the device
every few megabytes as they are written (without waiting for them), so that
the final sync waits for the last few. On any failure the temporary file is
removed and the destination keeps its old content, so an output that is also
an input is safe: the input is read through its own, old inode. A run killed
before it could remove its temporary file (SIGKILL) leaves it; the temporary
file's name holds its process id, and the next run writing the same
destination removes those whose process is gone. The new file gets the old
one's mode, and its owner and group as far as the user may set them; other
hard links to the old file keep the old content (a rename makes a new file).
"""

from __future__ import annotations

import errno
import os
import stat
from collections.abc import Callable, Iterable
from types import TracebackType
from typing import IO, Any

__all__ = ["AtomicFile", "WriteError", "commit_all", "sync_directory", "write_all"]

# Bytes written to a temporary file between two starts of their writing to
# the device (write_behind): the sync that commits a large file then waits
# for its last few megabytes, not for all of them.
WRITE_BEHIND = 4 << 20


class WriteError(OSError):
    """A failure to write a destination; `filename` is the destination (not
    the temporary file, nor an input), so an error line names what the user
    asked to be written."""


def _error(error: OSError, path: str) -> WriteError:
    return WriteError(error.errno, error.strerror or str(error), path)


def write_all(write: Callable[[Any], int | None], data: bytes) -> None:
    """Writes all of `data` with a binary file's `write`. A buffered file that
    meets a full disk in the middle of a large write returns the short count
    instead of raising; the rest is written on, so that the failure raises
    rather than leaving a silently truncated file."""
    count = write(data)
    view = memoryview(data)
    while count is not None and count < len(view):  # None: a file that does not count
        if count <= 0:
            raise OSError(errno.ENOSPC, os.strerror(errno.ENOSPC))
        view = view[count:]
        count = write(view)


def _alive(pid: int) -> bool:
    """Whether a process `pid` exists (one of another user's counts)."""
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except OSError:
        return True
    return True


def _keep_owner(fd: int, status: os.stat_result) -> None:
    """Give the file `fd` the owner and group of `status`, or the group
    alone, or neither: as far as the user may."""
    if not hasattr(os, "fchown"):  # pragma: no cover
        return
    for uid in (status.st_uid, -1):
        try:
            os.fchown(fd, uid, status.st_gid)
            return
        except OSError:
            continue


class AtomicFile:
    """A file opened for writing in place of `path` (`mode` "wb" or "w",
    `encoding` and `newline` as `open` takes them).

    Used as a context manager it commits when the block ends normally and
    discards on an exception. Every failure to create, write, sync or rename
    raises `WriteError` naming `path`; the destination is then untouched.
    """

    def __init__(
        self,
        path: str | os.PathLike[str],
        mode: str = "wb",
        *,
        encoding: str | None = None,
        newline: str | None = None,
    ) -> None:
        self.path = os.fspath(path)
        # A symbolic link is written through: its target gets the new content.
        target = os.path.realpath(self.path)
        try:
            status: os.stat_result | None = os.stat(self.path)
        except OSError:
            status = None  # a new file: the umask decides its mode, as for open()
        if status is not None and stat.S_ISDIR(status.st_mode):
            raise WriteError(errno.EISDIR, os.strerror(errno.EISDIR), self.path)
        self._directory = os.path.dirname(target)
        self._target = target
        if status is None or stat.S_ISREG(status.st_mode):
            self._sweep()
        if status is not None and not os.access(self.path, os.W_OK):
            # Refused as the shell's `>` refuses it, though a rename could replace it.
            raise WriteError(errno.EACCES, os.strerror(errno.EACCES), self.path)
        self._open = True
        self._unsent = 0  # bytes written since the last write_behind
        # A device or a pipe (/dev/stdout, a FIFO) cannot be replaced by a
        # rename, and holds no old content to keep: it is written directly.
        self._temp: str | None = None
        if status is not None and not stat.S_ISREG(status.st_mode):
            try:
                self._file: IO[Any] = open(  # noqa: SIM115 (closed by commit/discard)
                    self.path, mode, encoding=encoding, newline=newline
                )
            except OSError as error:
                raise _error(error, self.path) from None
            return
        fd, self._temp = self._create_temp()
        try:
            if status is not None:
                _keep_owner(fd, status)
                os.chmod(fd, stat.S_IMODE(status.st_mode))  # the old file's permissions
            self._file = os.fdopen(fd, mode, encoding=encoding, newline=newline)
        except BaseException:
            os.close(fd)
            os.unlink(self._temp)
            raise

    def _sweep(self) -> None:
        """Remove the temporary files of runs on the same destination whose
        process is gone (killed before they could remove them)."""
        prefix = f".{os.path.basename(self._target)}."
        try:
            names = [n for n in os.listdir(self._directory or ".") if n.startswith(prefix)]
        except OSError:
            return
        for name in names:
            pid, dash, token = name[len(prefix) :].partition("-")
            if not (dash and pid.isdigit() and token.endswith(".tmp") and not _alive(int(pid))):
                continue
            try:
                os.unlink(os.path.join(self._directory, name))
            except OSError:
                pass  # another run removed it, or it is not ours to remove

    def _create_temp(self) -> tuple[int, str]:
        """A new, empty temporary file beside the destination: its descriptor and path."""
        flags = os.O_WRONLY | os.O_CREAT | os.O_EXCL | getattr(os, "O_CLOEXEC", 0)
        for _ in range(100):
            name = f".{os.path.basename(self._target)}.{os.getpid()}-{os.urandom(4).hex()}.tmp"
            temp = os.path.join(self._directory, name)
            try:
                return os.open(temp, flags, 0o666), temp
            except FileExistsError:
                continue
            except OSError as error:
                raise _error(error, self.path) from None
        raise WriteError(errno.EEXIST, os.strerror(errno.EEXIST), self.path)  # pragma: no cover

    # The file interface the writers need (csv, pyarrow, codecs).

    def write(self, data: Any) -> int:
        try:
            if isinstance(data, str):
                count = self._file.write(data)
            else:
                write_all(self._file.write, data)
                count = len(data)
            if self._temp is not None:
                self._unsent += count  # characters for a text file: near enough
                if self._unsent >= WRITE_BEHIND:
                    self._write_behind()
            return count
        except OSError as error:
            raise _error(error, self.path) from None

    def _write_behind(self) -> None:
        """Starts writing what was written to the device, without waiting
        for it."""
        from . import _ops

        self._file.flush()
        _ops.write_behind(self._file.fileno())
        self._unsent = 0

    def flush(self) -> None:
        try:
            self._file.flush()
        except OSError as error:
            raise _error(error, self.path) from None

    def tell(self) -> int:
        return self._file.tell()

    def writable(self) -> bool:
        return True

    def readable(self) -> bool:
        return False

    def seekable(self) -> bool:
        return False

    @property
    def closed(self) -> bool:
        return not self._open

    def commit(self) -> None:
        """Makes the written data the destination's content."""
        commit_all([self])

    def _send(self) -> None:
        """Starts writing the last of the data to the device (see commit_all)."""
        if not self._open:
            raise ValueError("I/O operation on closed file.")
        try:
            self._file.flush()
            if self._temp is not None and self._unsent:
                self._write_behind()
        except OSError as error:
            self.discard()
            raise _error(error, self.path) from None

    def _settle(self) -> None:
        """Waits for the data to reach the device and closes the file."""
        try:
            if self._temp is not None:
                os.fsync(self._file.fileno())
            self._file.close()
        except OSError as error:
            self.discard()
            raise _error(error, self.path) from None

    def _place(self) -> str | None:
        """Renames the settled file over the destination; the directory to
        sync for the rename to survive a crash, if any."""
        try:
            if self._temp is not None:
                os.replace(self._temp, self._target)
        except OSError as error:
            self.discard()
            raise _error(error, self.path) from None
        self._open = False
        if self._temp is None:
            return None
        self._temp = None
        return self._directory

    def discard(self) -> None:
        """Drops what was written; the destination keeps its old content."""
        if not self._open:
            return
        self._open = False
        try:
            self._file.close()
        except OSError:
            pass  # the data is thrown away anyway
        if self._temp is not None:
            try:
                os.unlink(self._temp)
            except FileNotFoundError:
                pass
            self._temp = None

    close = discard  # closing without commit() keeps the old file

    def __enter__(self) -> AtomicFile:
        return self

    def __exit__(
        self,
        kind: type[BaseException] | None,
        value: BaseException | None,
        traceback: TracebackType | None,
    ) -> None:
        if kind is None:
            self.commit()
        else:
            self.discard()


def sync_directory(directory: str) -> None:
    """Makes the renames in `directory` survive a crash. Some file systems
    cannot sync a directory, which loses nothing written."""
    try:
        fd = os.open(directory, os.O_RDONLY)
    except OSError:
        return
    try:
        os.fsync(fd)
    except OSError:
        pass
    finally:
        os.close(fd)


def commit_all(files: Iterable[AtomicFile]) -> None:
    """Commits `files` together (the files of one run): each file's last
    data is sent to the device before the first waits for its own, so the
    device writes them at once; a file is renamed over its destination only
    when every file's data is on the device, so a failure to write or sync
    any of them (which raises its `WriteError` and discards it) leaves every
    destination as it was; and each directory is synced once, after the
    renames. The caller discards the files not committed."""
    files = list(files)
    for file in files:
        if len(files) > 1:  # one file's sync waits for its last data anyway
            file._send()
        elif not file._open:
            raise ValueError("I/O operation on closed file.")
    for file in files:
        file._settle()
    directories: dict[str, None] = {}
    for file in files:
        directory = file._place()
        if directory is not None:
            directories[directory] = None
    for directory in directories:
        sync_directory(directory)
