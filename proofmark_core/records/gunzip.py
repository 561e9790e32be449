"""A gzip file read as a stream of bytes, decompressed in large steps.

The standard library's reader decompresses a few kilobytes per call, which costs as
much again as the decompression itself on files of long lines. Every error, a
truncated file included, is a :class:`gzip.BadGzipFile` (an ``OSError``) that says
what is wrong.
"""

from __future__ import annotations

import gzip
import io
import zlib
from pathlib import Path
from typing import IO

# Compressed bytes read at a time, and the most one step may expand to: large steps,
# with memory bounded however well the data compresses.
INPUT_STEP = 1 << 18
OUTPUT_STEP = 1 << 22
BUFFER = 1 << 20
GZIP = 31  # zlib's window bits for a gzip header and trailer
MAGIC = b"\x1f\x8b"


class GunzipReader(io.RawIOBase):
    """The decompressed bytes of every member of a gzip file, in order."""

    def __init__(self, source: str | Path | IO[bytes]) -> None:
        super().__init__()
        self._file: IO[bytes] = open(source, "rb") if isinstance(source, str | Path) else source
        self._inflate = zlib.decompressobj(GZIP)
        self._pending = memoryview(b"")
        self._started = False  # whether the current member has had any input

    def readable(self) -> bool:
        return True

    def readinto(self, buffer: memoryview) -> int:  # type: ignore[override]
        while not self._pending:
            if not self._step():
                return 0
        size = min(len(buffer), len(self._pending))
        buffer[:size] = self._pending[:size]
        self._pending = self._pending[size:]
        return size

    def close(self) -> None:
        self._file.close()
        super().close()

    def _step(self) -> bool:
        """Decompress some more; false at the end of the file."""
        data = self._inflate.unconsumed_tail or self._next_input()
        if not data:
            if self._started and not self._inflate.eof:
                raise gzip.BadGzipFile("the compressed data ends before its end marker: "
                                       "the file is cut short")
            return False
        if not self._started and not data.startswith(MAGIC):
            raise gzip.BadGzipFile("not a gzip file")
        self._started = True
        try:
            self._pending = memoryview(self._inflate.decompress(data, OUTPUT_STEP))
        except zlib.error as exc:
            raise gzip.BadGzipFile(f"invalid compressed data ({exc})") from None
        return True

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


def open_gzip(source: str | Path | IO[bytes]) -> io.BufferedReader:
    """The decompressed bytes of a gzip file, named or already open (and then closed
    with them)."""
    return io.BufferedReader(GunzipReader(source), BUFFER)
