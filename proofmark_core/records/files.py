"""Input files by name: read as bytes, decompressed when gzipped, and told JSONL by name.

What a name is decides whether it is read. Regular files are read. A pipe named by a
path (``<(cat log)``, ``/dev/fd/N``, a FIFO with a writer) is a stream that gives its
bytes once: it is read whole into a temporary file the first time it is opened, up to
the size limit, and every later opening of the same name reads that file. A FIFO with
no writer would block for ever, and a device (``/dev/zero``) or a socket never ends:
they are refused.
"""

from __future__ import annotations

import errno
import io
import os
import stat
import tempfile
from pathlib import Path
from typing import IO

from proofmark_core.records.gunzip import open_gzip
from proofmark_core.records.input import CHUNK, size_limit, too_large

JSONL_SUFFIXES = (".jsonl", ".ndjson")
NOT_READABLE = "not a regular file or pipe"
# Each pipe read so far, by the name it was opened by: the file holding what it gave.
_pipes: dict[str, IO[bytes]] = {}


def open_input(path: str | Path, ahead: bool = False) -> io.BufferedIOBase:
    """The file for reading bytes, decompressed when its name ends in ``.gz`` (``ahead``
    of the reader, in a thread of its own, when asked)."""
    if str(path).endswith(".gz"):
        return open_gzip(open_path(path), ahead)
    return open_path(path)


def open_path(path: str | Path) -> io.BufferedReader:
    """The named file, opened for reading bytes; an OSError for what cannot be read."""
    name = os.fspath(path)
    if name in _pipes:
        return open(_pipes[name].name, "rb")
    mode = os.stat(name).st_mode
    if stat.S_ISREG(mode):
        return open(name, "rb")
    if stat.S_ISFIFO(mode):
        _pipes[name] = _read_pipe(name)
        return open(_pipes[name].name, "rb")
    raise OSError(errno.EINVAL, NOT_READABLE, name)


def is_pipe(path: str | Path) -> bool:
    """Whether the name is that of a pipe, read or not yet read."""
    name = os.fspath(path)
    try:
        return name in _pipes or stat.S_ISFIFO(os.stat(name).st_mode)
    except OSError:
        return False


def _read_pipe(name: str) -> IO[bytes]:
    # Opened without waiting: with no writer, opening for reading would block, and
    # reading gives the end at once instead of waiting for one to come.
    fd = os.open(name, os.O_RDONLY | os.O_NONBLOCK)
    with open(fd, "rb", buffering=0) as pipe:
        try:
            first = pipe.read(CHUNK)
        except BlockingIOError:
            first = None  # a writer, with nothing written yet
        if first == b"":
            raise OSError(errno.EINVAL, f"{NOT_READABLE} (a FIFO with no writer)", name)
        os.set_blocking(fd, True)
        spool = tempfile.NamedTemporaryFile(prefix="proofmark-pipe-")
        try:
            spool.write(first or b"")
            _copy_within_limit(pipe, spool)
            spool.flush()
        except BaseException:
            spool.close()
            raise
    return spool


def _copy_within_limit(source: IO[bytes], target: IO[bytes]) -> None:
    copied = target.tell()
    while chunk := source.read(CHUNK):
        copied += len(chunk)
        if copied > size_limit():
            raise OSError(errno.EFBIG, too_large("a pipe"))
        target.write(chunk)


def plain_name(path: str | Path) -> str:
    """The file name without a ``.gz`` suffix: what tells its layout."""
    return Path(path).name.removesuffix(".gz")


def jsonl_name(path: str | Path) -> bool:
    """Whether the name says JSON lines (``.jsonl``, ``.ndjson``, gzipped or not)."""
    return plain_name(path).endswith(JSONL_SUFFIXES)
