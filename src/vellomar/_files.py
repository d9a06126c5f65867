"""How the package writes a file: never over the old one until the new one is whole.

Every road that writes a file (the command line's `-o`, `vellomar.write` to a
path) goes through `AtomicFile`: the data goes to a temporary file in the
destination's own directory (so the final rename stays on one file system),
which is flushed, synced and renamed over the destination only when the
writer says the whole run succeeded. On any failure the temporary file is
removed and the destination keeps its old content, so an output that is also
an input is safe: the input is read through its own, old inode.
"""

from __future__ import annotations

import errno
import os
import secrets
import stat
from types import TracebackType
from typing import IO, Any

__all__ = ["AtomicFile", "WriteError"]


class WriteError(OSError):
    """A failure to write a destination; `filename` is the destination (not
    the temporary file, nor an input), so an error line names what the user
    asked to be written."""


def _error(error: OSError, path: str) -> WriteError:
    return WriteError(error.errno, error.strerror or str(error), path)


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
        if os.path.isdir(target):
            raise WriteError(errno.EISDIR, os.strerror(errno.EISDIR), self.path)
        self._directory = os.path.dirname(target)
        self._target = target
        try:
            mode_bits = stat.S_IMODE(os.stat(target).st_mode)
        except OSError:
            mode_bits = None  # a new file: the umask decides, as for open()
        for _ in range(100):
            temp = os.path.join(
                self._directory, f".{os.path.basename(target)}.{secrets.token_hex(4)}.tmp"
            )
            try:
                fd = os.open(temp, os.O_WRONLY | os.O_CREAT | os.O_EXCL | getattr(os, "O_CLOEXEC", 0), 0o666)
                break
            except FileExistsError:
                continue
            except OSError as error:
                raise _error(error, self.path) from None
        else:  # pragma: no cover (100 random names taken)
            raise WriteError(errno.EEXIST, os.strerror(errno.EEXIST), self.path)
        self._temp: str | None = temp
        try:
            if mode_bits is not None:
                os.chmod(fd, mode_bits)  # the new file keeps the old one's permissions
            self._file: IO[Any] = os.fdopen(fd, mode, encoding=encoding, newline=newline)
        except BaseException:
            os.close(fd)
            os.unlink(temp)
            raise

    # The file interface the writers need (csv, pyarrow, codecs).

    def write(self, data: Any) -> int:
        try:
            return self._file.write(data)
        except OSError as error:
            raise _error(error, self.path) from None

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
        return self._temp is None

    def commit(self) -> None:
        """Makes the written data the destination's content."""
        if self._temp is None:
            raise ValueError("I/O operation on closed file.")
        try:
            self._file.flush()
            os.fsync(self._file.fileno())
            self._file.close()
            os.replace(self._temp, self._target)
        except OSError as error:
            self.discard()
            raise _error(error, self.path) from None
        self._temp = None
        # The rename itself survives a crash only once the directory is synced;
        # some file systems cannot sync a directory, which loses nothing written.
        try:
            directory = os.open(self._directory, os.O_RDONLY)
        except OSError:
            return
        try:
            os.fsync(directory)
        except OSError:
            pass
        finally:
            os.close(directory)

    def discard(self) -> None:
        """Drops what was written; the destination keeps its old content."""
        if self._temp is None:
            return
        temp, self._temp = self._temp, None
        try:
            self._file.close()
        except OSError:
            pass  # the data is thrown away anyway
        try:
            os.unlink(temp)
        except FileNotFoundError:
            pass

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
