"""The lines of a stream that cannot be read at an offset (a gzip file, a pipe), put
in anonymous files in memory so that worker processes read each line themselves,
as they do the lines of a plain file, instead of being sent it through a pipe.

Lines go to a memory file until it holds ``SEGMENT`` bytes, then to a new one, so
that memory is given back as the work goes on: a file is closed once no span of it
is left in this process (its work came back), and forked workers close their copies
of what was open when they started.
"""

from __future__ import annotations

import os
import weakref
from collections.abc import Iterable, Iterator

from proofmark_core.records.input import (
    NON_SPACE_BYTES_RE, Item, Span, long_line, past_blank_lines, size_limit)

SEGMENT = 1 << 23
_open_segments: weakref.WeakSet[_Segment] = weakref.WeakSet()


class _Segment:
    """A memory file that other processes of this user open through /proc."""

    def __init__(self) -> None:
        self.fd = os.memfd_create("proofmark-lines", os.MFD_CLOEXEC)
        self.path = f"/proc/{os.getpid()}/fd/{self.fd}"
        self.size = 0
        self._close = weakref.finalize(self, os.close, self.fd)
        _open_segments.add(self)

    def forget(self) -> None:
        """Close this process's copy now, and never again."""
        self._close.detach()
        os.close(self.fd)

    def write(self, data: memoryview) -> None:
        while data:
            written = os.write(self.fd, data)
            data = data[written:]
            self.size += written


class SpooledSpan(Span):
    """A span that keeps its memory file open while it exists, and travels to a
    worker as a plain :class:`Span`."""

    __slots__ = ("segment",)

    def __init__(self, segment: _Segment, start: int, size: int) -> None:
        super().__init__(segment.path, start, size)
        object.__setattr__(self, "segment", segment)

    def __reduce__(self) -> tuple[type[Span], tuple[str, int, int]]:
        return Span, (self.path, self.start, self.size)


def spooling() -> bool:
    """Whether this system has memory files that other processes can open."""
    return hasattr(os, "memfd_create") and os.path.isdir(f"/proc/{os.getpid()}/fd")


def spooled_lines(chunks: Iterable[bytes]) -> Iterator[Item]:
    """Every line of the chunks that is not blank, as a span of a memory file; each
    comes once its bytes are in the file. A line beyond the size limit is an error
    that ends the reading."""
    segment = _Segment()
    number, blank, start = 1, True, 0
    for chunk in chunks:
        view = memoryview(chunk)
        ready: list[Item] = []
        written = at = 0
        while True:
            if blank:
                number, at = past_blank_lines(chunk, at, len(chunk), number)
                start = segment.size + at - written
            if (end := chunk.find(b"\n", at)) < 0:
                break
            if not blank or NON_SPACE_BYTES_RE.search(chunk, at, end):
                size = segment.size + end - written - start
                if size > size_limit():
                    yield from ready
                    yield Item(number, error=long_line())
                    return
                ready.append(Item(number, SpooledSpan(segment, start, size)))
            number, blank, at = number + 1, True, end + 1
            if segment.size + at - written >= SEGMENT:
                segment.write(view[written:at])
                segment, written = _Segment(), at
            start = segment.size + at - written
        blank = blank and not NON_SPACE_BYTES_RE.search(chunk, at)
        segment.write(view[written:])
        yield from ready
        if not blank and segment.size - start > size_limit():
            yield Item(number, error=long_line())
            return
    if not blank:
        yield Item(number, SpooledSpan(segment, start, segment.size - start))


def _close_inherited() -> None:
    for segment in list(_open_segments):
        segment.forget()
    _open_segments.clear()


if hasattr(os, "register_at_fork"):
    os.register_at_fork(after_in_child=_close_inherited)
