"""A gzip file read as a stream of bytes, decompressed in large steps.

The standard library's reader decompresses a few kilobytes per call, which costs as
much again as the decompression itself on files of long lines. zlib-ng, when it is
installed, inflates about twice as fast as zlib, with zlib's interface and messages.
Every error, a truncated file included, is a :class:`gzip.BadGzipFile` (an
``OSError``) that says what is wrong.

Read ``ahead``, the decompression runs in a thread of its own, a few steps ahead of
the reader: inflating releases the interpreter's lock, so a process that both reads
and checks keeps a second core busy with the decompression.
"""

from __future__ import annotations

import gzip
import io
import queue
import threading
from collections.abc import Iterator
from pathlib import Path
from typing import IO

try:
    from zlib_ng import zlib_ng as zlib
except ImportError:
    import zlib  # type: ignore[no-redef]

# Compressed bytes read at a time, and the most one step may expand to: large steps,
# with memory bounded however well the data compresses.
INPUT_STEP = 1 << 18
OUTPUT_STEP = 1 << 20
BUFFER = 1 << 20
# Decompressed steps that a reader ahead may hold, waiting to be read.
STEPS_AHEAD = 4
GZIP = 31  # zlib's window bits for a gzip header and trailer
MAGIC = b"\x1f\x8b"


class _Members:
    """The decompressed steps of every member of a gzip file, in order."""

    def __init__(self, source: str | Path | IO[bytes]) -> None:
        self._file: IO[bytes] = open(source, "rb") if isinstance(source, str | Path) else source
        self._inflate = zlib.decompressobj(GZIP)
        self._started = False  # whether the current member has had any input

    def __iter__(self) -> Iterator[bytes]:
        while (step := self._step()) is not None:
            if step:
                yield step

    def close(self) -> None:
        self._file.close()

    def _step(self) -> bytes | None:
        """Some more decompressed bytes (maybe none yet); None at the end of the file."""
        data = self._tail() or self._next_input()
        if not data:
            if self._started and not self._inflate.eof:
                raise gzip.BadGzipFile("the compressed data ends before its end marker: "
                                       "the file is cut short")
            return None
        if not self._started and not data.startswith(MAGIC):
            raise gzip.BadGzipFile("not a gzip file")
        self._started = True
        try:
            return self._inflate.decompress(data, OUTPUT_STEP)
        # Looked up by name: zlib-ng's stubs call its error class an instance.
        except getattr(zlib, "error") as exc:  # noqa: B009
            raise gzip.BadGzipFile(f"invalid compressed data ({exc})") from None

    def _tail(self) -> bytes:
        """The input that a full output left for the next step. Once the member has
        ended, what follows its end is in ``unused_data`` (zlib may leave it in the
        tail as well, and an ended member given it again only keeps it: no step would
        ever make progress)."""
        return b"" if self._inflate.eof else self._inflate.unconsumed_tail

    def _next_input(self) -> bytes:
        """The next compressed bytes; after a member that ended, those of the next one."""
        if not self._inflate.eof:
            return self._file.read(INPUT_STEP)
        # Members may follow one another, and the file may be padded with zeros.
        self._started = False
        data = self._inflate.unused_data.lstrip(b"\0")
        self._inflate = zlib.decompressobj(GZIP)
        while not data:
            data = self._file.read(INPUT_STEP)
            if not data:
                break
            data = data.lstrip(b"\0")
        return data


class _Ahead:
    """The steps of the members, made by a thread of its own a few steps ahead; an
    error reaches the reader where it happened, after the steps before it."""

    def __init__(self, members: _Members) -> None:
        self._members = members
        self._steps: queue.Queue[bytes | BaseException | None] = queue.Queue(STEPS_AHEAD)
        self._closing = threading.Event()
        self._thread = threading.Thread(target=self._run, name="proofmark-gunzip", daemon=True)
        self._thread.start()

    def __iter__(self) -> Iterator[bytes]:
        while (step := self._steps.get()) is not None:
            if isinstance(step, BaseException):
                raise step
            yield step

    def close(self) -> None:
        self._closing.set()
        while self._thread.is_alive():  # free the thread if it waits to put a step
            try:
                self._steps.get(timeout=0.01)
            except queue.Empty:
                pass
        self._members.close()

    def _run(self) -> None:
        try:
            for step in self._members:
                if not self._put(step):
                    return
        except BaseException as exc:  # handed to the reader, who raises it
            self._put(exc)
            return
        self._put(None)

    def _put(self, step: bytes | BaseException | None) -> bool:
        while not self._closing.is_set():
            try:
                self._steps.put(step, timeout=0.1)
                return True
            except queue.Full:
                pass
        return False


class GunzipReader(io.RawIOBase):
    """The decompressed bytes of every member of a gzip file, in order."""

    def __init__(self, source: str | Path | IO[bytes], ahead: bool = False) -> None:
        super().__init__()
        members = _Members(source)
        self._source = _Ahead(members) if ahead else members
        self._steps = iter(self._source)
        self._pending = memoryview(b"")

    def readable(self) -> bool:
        return True

    def readinto(self, buffer: memoryview) -> int:  # type: ignore[override]
        while not self._pending:
            step = next(self._steps, None)
            if step is None:
                return 0
            self._pending = memoryview(step)
        size = min(len(buffer), len(self._pending))
        buffer[:size] = self._pending[:size]
        self._pending = self._pending[size:]
        return size

    def close(self) -> None:
        if not self.closed:
            self._source.close()
        super().close()


def open_gzip(source: str | Path | IO[bytes], ahead: bool = False) -> io.BufferedReader:
    """The decompressed bytes of a gzip file, named or already open (and then closed
    with them); ``ahead``: decompressed in a thread of its own, ahead of the reader."""
    return io.BufferedReader(GunzipReader(source, ahead), BUFFER)
