"""The command line's written files: never destroyed, never half-written, and
edit's messages cut and encoded as vellomar.read and vellomar.write do."""

import errno
import os
import shutil
import signal
import subprocess
import sys
import tempfile
from pathlib import Path

import pytest

import vellomar
from vellomar import cli

LATIN = ("MSH|^~\\&" + "|" * 16 + "8859/1\rPID|1\r").encode()
UTF8 = "MSH|^~\\&\rPID|2\r".encode()
ARGV = {"edit": ["edit", "-o", "{out}", "PID-5-1=Zoë", "--", "{src}"],
        "table": ["table", "id=PID-1", "--", "{src}", "-o", "{out}"],
        "get": ["get", "PID-1", "--", "{src}"], "edit-stdout": ["edit", "PID-1=2", "--", "{src}"],
        "table-stdout": ["table", "id=PID-1", "--", "{src}"]}
RESULT = {"edit": LATIN.replace(b"|1\r", b"|1||||Zo\xeb\r") + UTF8.replace(b"|2\r", "|2||||Zoë\r".encode()),
          "table": b"id\r\n1\r\n2\r\n"}


def run(tmp_path, command, src, out, *, before=""):
    argv = [word.format(src=src, out=out) for word in ARGV[command]]
    with open(tmp_path / "stdout", "wb") as stdout:  # removed after: its size may pass the limit
        done = subprocess.run([sys.executable, "-c", before + "import sys; from vellomar.cli import main; sys.exit(main(sys.argv[1:]))",
                               *argv], cwd=tmp_path, stdout=stdout, stderr=subprocess.PIPE, text=True)
    (tmp_path / "stdout").unlink()
    return done.returncode, done.stderr


@pytest.mark.parametrize("command", ["edit", "table"])
@pytest.mark.parametrize("src, out, expected", [
    ("in.hl7", "in.hl7", (0, "")),  # the output is also the input: the rename makes it safe
    ("in.hl7", "no/out.hl7", (2, "vellomar: no/out.hl7: No such file or directory\n")),
    ("in.hl7", "dir", (2, "vellomar: dir: Is a directory\n")),
    ("missing.hl7", "old.hl7", (1, "vellomar: missing.hl7: No such file or directory\n")),
    ("in.hl7", "/dev/null", (0, "")),  # a device is written directly, not replaced
    ("/proc/self/mem", "old.hl7", {"edit": (1, "vellomar: /proc/self/mem: Input/output error\n"),  # opens, cannot be read
                                   "table": (1, "vellomar: /proc/self/mem: Invalid argument\n")}),
])
def test_output_replaced_only_when_whole(tmp_path, command, src, out, expected):
    (tmp_path / "in.hl7").write_bytes(LATIN + UTF8)
    (tmp_path / "old.hl7").write_bytes(b"old")
    (tmp_path / "dir").mkdir()
    assert run(tmp_path, command, src, out) == (expected[command] if isinstance(expected, dict) else expected)
    assert (tmp_path / "in.hl7").read_bytes() == (RESULT[command] if out == "in.hl7" else LATIN + UTF8)
    assert (tmp_path / "old.hl7").read_bytes() == b"old"
    assert sorted(p.name for p in tmp_path.rglob("*")) == ["dir", "in.hl7", "old.hl7"]


@pytest.mark.parametrize("command, out", [("edit", "old.hl7"), ("table", "old.hl7"), ("get", "<stdout>"), ("edit-stdout", "<stdout>"),
                                          ("table-stdout", "<stdout>")])
def test_full_disk_names_the_output(tmp_path, command, out):
    (tmp_path / "in.hl7").write_bytes((LATIN + UTF8) * 20000)
    (tmp_path / "old.hl7").write_bytes(b"old")
    limit = "import resource, signal; signal.signal(signal.SIGXFSZ, signal.SIG_IGN); " \
            "resource.setrlimit(resource.RLIMIT_FSIZE, (4096, 4096)); "
    assert run(tmp_path, command, "in.hl7", "old.hl7", before=limit) == (1, f"vellomar: {out}: File too large\n")
    assert (tmp_path / "old.hl7").read_bytes() == b"old"
    assert sorted(p.name for p in tmp_path.iterdir()) == ["in.hl7", "old.hl7"]


KILLED = "import os, signal, vellomar._files as f; f.AtomicFile.write = lambda *a: os.kill(os.getpid(), signal.SIGKILL); "


@pytest.mark.skipif(os.getuid() != 0, reason="sets owners and runs as another user")
@pytest.mark.parametrize("user, owner, mode, expected, kept", [
    ("", (65534, 65534), 0o640, (0, ""), (65534, 65534)),  # root replaces nobody's file: still nobody's, 0640
    ("os.setgid(65534); os.setuid(65534); ", (0, 0), 0o444, (2, "vellomar: old.hl7: Permission denied\n"), (0, 0)),
    ("os.setgid(65534); os.setuid(65534); ", (65534, 65534), 0o444, (2, "vellomar: old.hl7: Permission denied\n"),
     (65534, 65534)),
    # nobody, also in group 100, replaces root's file of group 100: the group alone is kept
    ("import codecs; codecs.lookup('iso8859-1'); os.setgroups([100]); os.setgid(65534); os.setuid(65534); ", (0, 100), 0o664,
     (0, ""), (65534, 100)),
])
def test_replaced_output_keeps_its_owner_and_mode_and_a_run_killed_leaves_nothing(user, owner, mode, expected, kept):
    tmp_path = Path(tempfile.mkdtemp())  # where another user can reach it (pytest's own is 0700)
    (tmp_path / "in.hl7").write_bytes(LATIN + UTF8)
    (out := tmp_path / "old.hl7").write_bytes(b"old")
    os.chown(out, *owner)
    out.chmod(mode)
    tmp_path.chmod(0o777)
    assert run(tmp_path, "table", "in.hl7", "old.hl7", before=KILLED)[0] == -signal.SIGKILL
    assert len(list(tmp_path.glob(".old.hl7.*.tmp"))) == 1  # the killed run's temporary file
    # Every module imported before the user changes: root's interpreter may lie where nobody can read.
    imports = "import os, csv, vellomar.cli; vellomar.cli.build_parser(); "
    assert run(tmp_path, "table", "in.hl7", "old.hl7", before=imports + user) == expected
    assert sorted(p.name for p in tmp_path.iterdir()) == ["in.hl7", "old.hl7"]
    assert (out.stat().st_uid, out.stat().st_gid, out.stat().st_mode & 0o777) == (*kept, mode)
    shutil.rmtree(tmp_path)


@pytest.mark.parametrize("data", [
    b" " + UTF8 + UTF8.replace(b"|2", b"|3"),  # white space before the first MSH
    LATIN + UTF8,  # each message in its own codec
    b"\x0b" + UTF8 + b"\x1c\x0b" + LATIN + b"\x1c\r",  # frames without a line end between them
    b"FHS|^~\\&\r\nBHS|^~\\&\r\n" + UTF8.replace(b"\r", b"\r\n") + b"BTS|1\r\nFTS|1\r\n",
])
@pytest.mark.parametrize("pipe", [False, True])  # a pipe is kept on disk: edit reads its input twice
def test_edit_sees_the_messages_read_sees(tmp_path, capsys, monkeypatch, data, pipe):
    (src := tmp_path / "in.hl7").write_bytes(data)
    read, write = os.pipe()
    os.write(write, data)
    os.close(write)
    with open(read) as stdin:
        monkeypatch.setattr(sys, "stdin", stdin)
        assert cli.main(["edit", "-o", str(tmp_path / "out.hl7"), "PID-5-1=Zoë", "--", "-" if pipe else str(src)]) == 0
    expected = [vellomar.edit(m, {"PID-5-1": "Zoë"}).raw for m in vellomar.read(src)]
    assert [m.raw for m in vellomar.read(tmp_path / "out.hl7")] == expected
    assert capsys.readouterr().err == ""


def test_edit_names_the_message_its_codec_cannot_hold(tmp_path, capsys):
    (src := tmp_path / "in.hl7").write_bytes(UTF8 + LATIN.replace(b"8859/1", b"ASCII"))
    assert cli.main(["edit", "-o", str(tmp_path / "out.hl7"), "PID-5-1=Zoë", "--", str(src)]) == 1
    assert capsys.readouterr().err == (f"vellomar: {src}: message 2 at byte 15: 'ascii' codec can't encode character '\\xeb' "
                                       "in position 41: ordinal not in range(128)\n")
    assert not (tmp_path / "out.hl7").exists()


@pytest.mark.parametrize("out", [["-o", "out.hl7"], []])
def test_edit_memory_does_not_grow_with_the_file(tmp_path, out):
    # The child's peak resident size while editing 40 MB, beside its peak after the import.
    (tmp_path / "in.hl7").write_bytes(UTF8.replace(b"|2\r", b"|2||" + b"x" * 1000 + b"\r") * 40000)
    code = ("import resource, sys; from vellomar.cli import main; peak = lambda: resource.getrusage("
            "resource.RUSAGE_SELF).ru_maxrss; before = peak(); status = main(sys.argv[1:]); "
            "print(status, peak() - before, file=sys.stderr)")
    done = subprocess.run([sys.executable, "-c", code, "edit", *out, "PID-5-1=X", "--", "in.hl7"], cwd=tmp_path,
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True, check=True)
    status, grown_kb = map(int, done.stderr.split())
    assert status == 0 and grown_kb < 20 << 10  # whole in memory, it grew by over 100 MB


@pytest.mark.parametrize("name, swept", [
    (".old.hl7.{dead}-0a1b2c3d.tmp", True),  # a killed run's
    (".old.hl7.{live}-0a1b2c3d.tmp", False),  # a run still writing
    (".old.hl7.{dead}0a1b2c3d.tmp", False),  # not a run's: no dash
    (".old.hl7.x{dead}-0a1b2c3d.tmp", False),
    (".old.hl7.{dead}-0a1b2c3d.tmp~", False),
    (".old.hl7.1-0a1b2c3d.tmp", False),  # a run of another user's (init's, which only root may signal)
])
def test_a_write_sweeps_only_the_temporary_files_of_runs_gone(tmp_path, monkeypatch, name, swept):
    def kill(pid, signal, kill=os.kill):  # as a user other than root sees init
        if pid == 1:
            raise PermissionError(errno.EPERM, "Operation not permitted")
        kill(pid, signal)

    monkeypatch.setattr(os, "kill", kill)
    dead = subprocess.run([sys.executable, "-c", "import os; print(os.getpid())"], capture_output=True,
                          text=True, check=True).stdout.strip()
    (stray := tmp_path / name.format(dead=dead, live=os.getpid())).write_bytes(b"")
    with vellomar._files.AtomicFile(tmp_path / "old.hl7") as f:
        f.write(b"new")
    assert stray.exists() is not swept and (tmp_path / "old.hl7").read_bytes() == b"new"


@pytest.mark.parametrize("counts, written, error", [
    ([None], [b"abcdef"], None),  # a file that does not count
    ([1, 4, 1], [b"abcdef", b"bcdef", b"f"], None),  # short counts: the rest is written on
    ([6], [b"abcdef"], None),
    ([2, 0], [b"abcdef", b"cdef"], OSError(28, "No space left on device")),
])
def test_write_all_writes_on_after_a_short_count(counts, written, error):
    seen = []

    def write(data):
        seen.append(bytes(data))
        return counts.pop(0)

    try:
        vellomar._files.write_all(write, b"abcdef")
    except OSError as raised:
        assert (type(raised), raised.args) == (type(error), error.args)
    else:
        assert error is None
    assert seen == written


@pytest.mark.parametrize("fault", ["write", "write_behind", "flush", "fsync", "replace", "close"])
def test_a_failed_write_names_the_destination_and_keeps_the_old_file(tmp_path, monkeypatch, fault):
    (path := tmp_path / "old.hl7").write_bytes(b"old")
    file = vellomar._files.AtomicFile(path, "w", encoding="ascii")
    assert (file.writable(), file.readable(), file.seekable(), file.closed) == (True, False, False, False)
    assert (file.write("new"), file.tell()) == (3, 3)

    def fail(*args):
        raise OSError(5, "Input/output error")

    real = file._file
    if fault in ("write", "flush", "close"):
        monkeypatch.setattr(real, fault, fail)
    elif fault == "write_behind":  # the start of writing to the device, after each write here
        monkeypatch.setattr(vellomar._files, "WRITE_BEHIND", 1)
        monkeypatch.setattr(vellomar._ops, fault, fail)
    else:
        monkeypatch.setattr(os, fault, fail)
    with pytest.raises(vellomar._files.WriteError) as raised:
        (file.write(b"more") if fault == "write" else file.write("more") if fault == "write_behind"
         else file.flush() if fault == "flush" else file.commit())
    assert raised.value.args == (5, "Input/output error") and raised.value.filename == str(path)
    file.discard()
    monkeypatch.undo()
    real.close()  # a close that failed left it open
    assert file.closed and path.read_bytes() == b"old" and os.listdir(tmp_path) == ["old.hl7"]
    with pytest.raises(ValueError, match=r"^I/O operation on closed file\.$"):
        file.commit()


# the second of three files fails as they are committed together: what each destination then holds
@pytest.mark.parametrize("fault, placed", [("flush", []), ("write_behind", []), ("fsync", []),
                                           ("replace", ["a"])])
def test_files_committed_together_are_renamed_only_once_all_are_synced(tmp_path, monkeypatch, fault, placed):
    names = ["a", "b", "c"]
    for name in names:
        (tmp_path / name).write_bytes(b"old")
    files = [vellomar._files.AtomicFile(tmp_path / name) for name in names]
    for file in files:
        file.write(b"new")
    failing = (files[1]._file.fileno(), files[1]._temp)

    def fail(*args):
        raise OSError(5, "Input/output error")

    if fault == "flush":
        monkeypatch.setattr(files[1]._file, fault, fail)
    else:
        where = vellomar._ops if fault == "write_behind" else os
        real = getattr(where, fault)
        monkeypatch.setattr(where, fault, lambda first, *rest: (
            fail() if first in failing else real(first, *rest)))
    with pytest.raises(vellomar._files.WriteError) as raised:
        vellomar._files.commit_all(files)
    assert raised.value.args == (5, "Input/output error") and raised.value.filename == str(tmp_path / "b")
    for file in files:
        file.discard()
    monkeypatch.undo()
    assert {n: (tmp_path / n).read_bytes() for n in os.listdir(tmp_path)} == {
        name: b"new" if name in placed else b"old" for name in names}
