"""Turn records read from JSON or JSONL input one at a time, so memory stays flat.

The layout is told from the content: a list of records streams element by element;
a first line that is a whole JSON value means one record per line (JSONL); anything
else is one JSON document holding one record.
"""

from __future__ import annotations

import codecs
import io
import itertools
import json
import re
import sys
from collections.abc import Callable, Iterable, Iterator
from dataclasses import dataclass
from functools import partial
from typing import IO, Protocol

CHUNK = 1 << 16
WHITESPACE = b" \t\r\n"
NON_SPACE_RE = re.compile(r"[^ \t\r\n]")
NON_SPACE_BYTES_RE = re.compile(rb"[^ \t\r\n]")
SPAN_CHUNK = 1 << 20
# surrogateescape turns every byte that is not UTF-8 into one of these.
UNDECODABLE_RE = re.compile("[\udc80-\udcff]")
# What may still follow a number that ends where the text read so far ends.
NUMBER_GOES_ON = frozenset("0123456789.eE+-")
TOO_DEEP = "invalid JSON: nested too deeply"
DECODER = json.JSONDecoder()
# The most bytes one line, or one input read whole, may hold: beyond it the input is
# one error, so that an endless input (a device, a pipe that never ends, a gzip member
# that inflates without end) cannot take all memory.
DEFAULT_SIZE_LIMIT = 1 << 30
SIZE_RE = re.compile(r"(\d{1,15})([KkMmGg]?)(?:i?B)?")
SIZE_SHIFTS = {"": 0, "K": 10, "M": 20, "G": 30}
_size_limit = DEFAULT_SIZE_LIMIT


def size_limit() -> int:
    return _size_limit


def set_size_limit(size: int) -> None:
    """The limit of every read from now on, in this process and in those it starts."""
    global _size_limit
    _size_limit = size


def size_text(size: int) -> str:
    """The size as a person writes it: 1 GiB, 64 MiB, 512 KiB, or bytes."""
    for unit, shift in (("GiB", 30), ("MiB", 20), ("KiB", 10)):
        if size >= 1 << shift and size % (1 << shift) == 0:
            return f"{size >> shift} {unit}"
    return f"{size} bytes"


def parse_size(text: str) -> int:
    """A size written as a whole number of bytes, or of K, M or G (1024, 1024², 1024³)."""
    found = SIZE_RE.fullmatch(text.strip())
    if found is None or not int(found[1]):
        raise ValueError(f"expected a size such as 512K, 64M or 1G, got {text!r}")
    return int(found[1]) << SIZE_SHIFTS[found[2].upper()]


def too_large(what: str) -> str:
    return f"{what} beyond the size limit of {size_text(_size_limit)} (--size-limit)"


def long_line() -> str:
    return f"{too_large('a line')}; the rest of the input is not read"


def json_error(exc: ValueError) -> str:
    """The message of what json.loads raised: a syntax error, or an integer of more
    digits than the interpreter converts (the only other ValueError it raises)."""
    if isinstance(exc, json.JSONDecodeError):
        return f"invalid JSON at column {exc.colno}: {exc.msg}"
    return f"invalid JSON: an integer of more than {sys.get_int_max_str_digits()} digits"


@dataclass(frozen=True, slots=True)
class Item:
    """One record as read: the line it starts on, and its value or what is wrong."""

    line: int
    value: object = None
    error: str | None = None
    # The text of a line that is not JSON, as far as it is UTF-8: what it says before
    # it breaks may still be of use.
    broken_text: str | None = None


@dataclass(frozen=True, slots=True)
class Line:
    """A JSONL line not decoded yet: ``decoded`` makes the Item of it."""

    text: bytes


@dataclass(frozen=True, slots=True)
class Span:
    """A JSONL line left in its file, for a worker process to read: where it starts and
    how many bytes it has."""

    path: str
    start: int
    size: int

    def read(self) -> bytes:
        with open(self.path, "rb", buffering=0) as file:
            file.seek(self.start)
            text = file.read(self.size)
        if len(text) < self.size:
            raise OSError(f"the file changed while it was read (line at byte {self.start})")
        return text


class ByteStream(Protocol):
    def read1(self, size: int = ..., /) -> bytes: ...


JsonlLines = Callable[[Iterator[bytes]], Iterator[Item]]


def read_records(stream: ByteStream, *, jsonl: bool, decode: bool = True, lean: bool = False,
                 spool: JsonlLines | None = None) -> Iterator[Item]:
    """Every record of the stream, in order; an input that holds none yields nothing.

    Without ``decode``, each record of a JSONL input comes as a :class:`Line`, so that
    it can be decoded where it is used (in another process); with ``lean``, decoded for
    checking (see :func:`decoded`). With ``spool``, the chunks of a JSONL input go to
    it, which makes the items of their lines.
    """
    chunks = _chunks(stream, SPAN_CHUNK if spool else CHUNK)
    lines = spool or (lambda chunks: _jsonl(chunks, decode, lean))
    if jsonl:
        return lines(chunks)
    head = _head(chunks)
    chunks = itertools.chain([head], chunks)
    start = head.lstrip(WHITESPACE)[:1]
    if start == b"[":
        return _ListReader(chunks).items()
    if start == b"{" and _first_line_is_json(head):
        return lines(chunks)
    return _document(chunks)


def read_whole(stream: IO[bytes] | io.BufferedIOBase) -> bytes:
    """All the bytes of the stream; an OSError beyond the size limit."""
    data = bytearray()
    for chunk in iter(partial(stream.read, CHUNK), b""):
        data += chunk
        if len(data) > _size_limit:
            raise OSError(too_large("an input"))
    return bytes(data)


def line_spans(path: str) -> Iterator[Item]:
    """Every line of a JSONL file that is not blank, as a :class:`Span` of the file;
    a line beyond the size limit is an error that ends the file."""
    buffer = bytearray(SPAN_CHUNK)
    number, blank = 1, True
    with open(path, "rb", buffering=0) as file:
        bom = codecs.BOM_UTF8
        offset = start = len(bom) if file.read(len(bom)) == bom else 0
        file.seek(offset)
        while size := file.readinto(buffer):
            at = 0
            while True:
                if blank:
                    number, line_start = past_blank_lines(buffer, at, size, number)
                    if line_start != at:
                        start, at = offset + line_start, line_start
                end = buffer.find(b"\n", at, size)
                if end < 0:
                    break
                if not blank or NON_SPACE_BYTES_RE.search(buffer, at, end):
                    if offset + end - start > _size_limit:
                        yield Item(number, error=long_line())
                        return
                    yield Item(number, Span(path, start, offset + end - start))
                number, blank = number + 1, True
                start, at = offset + end + 1, end + 1
            blank = blank and not NON_SPACE_BYTES_RE.search(buffer, at, size)
            offset += size
            if not blank and offset - start > _size_limit:
                yield Item(number, error=long_line())
                return
    if not blank:
        yield Item(number, Span(path, start, offset - start))


def past_blank_lines(data: bytes | bytearray, at: int, end: int, number: int) -> tuple[int, int]:
    """The number and start of the line that holds the first byte from ``at`` on that
    is not blank, or of the last line begun before ``end``: runs of blank lines are
    passed over at once."""
    found = NON_SPACE_BYTES_RE.search(data, at, end)
    last = data.rfind(b"\n", at, found.start() if found else end)
    if last < 0:
        return number, at
    return number + data.count(b"\n", at, last + 1), last + 1


def decoded(item: Item, lean: bool = False) -> Item:
    """The item with its value decoded, when it was read without decoding. With ``lean``,
    a plain record may hold only what checking reads (see :mod:`proofmark_core.records.lean`)."""
    if isinstance(item.value, Line):
        return _line_item(item.line, item.value.text, lean)
    if isinstance(item.value, Span):
        try:
            return _line_item(item.line, _Held(item.value.read()), lean)
        except OSError as exc:
            return Item(item.line, error=exc.strerror or str(exc))
    return item


def _chunks(stream: ByteStream, size: int) -> Iterator[bytes]:
    # read1 hands over what a pipe has now instead of waiting for a full chunk.
    chunks = iter(partial(stream.read1, size), b"")
    first = next(chunks, b"")
    return itertools.chain([first.removeprefix(codecs.BOM_UTF8)], chunks)


def _head(chunks: Iterator[bytes]) -> bytes:
    """The input up to its first non-blank byte and, when that opens an object, its
    line; no more than the size limit."""
    parts: list[bytes] = []
    opening = b""
    size = 0
    for chunk in chunks:
        parts.append(chunk)
        size += len(chunk)
        if size > _size_limit:
            break
        if not opening:
            body = chunk.lstrip(WHITESPACE)
            opening = body[:1]
            chunk = body
        if opening and (opening != b"{" or b"\n" in chunk):
            break
    return b"".join(parts)


def _first_line_is_json(head: bytes) -> bool:
    line = head.lstrip(WHITESPACE).split(b"\n", 1)[0]
    try:
        json.loads(line.decode("utf-8"))
    except (ValueError, RecursionError):
        return False
    return True


def text_lines(chunks: Iterable[bytes]) -> Iterator[tuple[int, bytes | None]]:
    """Each line of the chunks that is not blank, with its number; ``None`` for a line
    beyond the size limit, after which nothing is read. Runs of blank lines are passed
    over at once, and a long line is held once, not once per piece."""
    number = 1
    # The start of a line that goes on in the next chunk: one block that grows in
    # place, not a list of pieces to join, so that a long line is not held twice.
    pending = bytearray()
    for chunk in chunks:
        at = 0
        while True:
            if not pending:
                number, at = past_blank_lines(chunk, at, len(chunk), number)
            end = chunk.find(b"\n", at)
            if len(pending) + (len(chunk) if end < 0 else end) - at > _size_limit:
                yield number, None
                return
            if end < 0:
                if pending or NON_SPACE_BYTES_RE.search(chunk, at):
                    pending += memoryview(chunk)[at:]
                break
            if pending:
                pending += memoryview(chunk)[at:end]
                yield number, _taken(pending)
            else:
                yield number, chunk[at:end]
            number, at = number + 1, end + 1
    if pending:
        yield number, _taken(pending)


def _taken(pending: bytearray) -> bytes:
    """The bytes of the block, which is emptied."""
    whole = bytes(pending)
    pending.clear()
    return whole


def _jsonl(chunks: Iterable[bytes], decode: bool, lean: bool) -> Iterator[Item]:
    for number, line in text_lines(chunks):
        if line is None:
            yield Item(number, error=long_line())
        elif not decode:
            yield Item(number, Line(line))
        else:
            held = _Held(line)
            del line
            yield _line_item(number, held, lean)


class _Held:
    """Bytes handed over with their only reference, so that the one who decodes them
    can let them go before the text is parsed."""

    __slots__ = ("data",)

    def __init__(self, data: bytes) -> None:
        self.data: bytes | None = data

    def take(self) -> bytes:
        data, self.data = self.data, None
        assert data is not None
        return data


def _line_item(number: int, line: bytes | _Held, lean: bool = False) -> Item:
    # Taken from the holder, the bytes go with this call: the reader's generator, paused
    # while the record is checked, does not keep a long line alive.
    data = line.take() if isinstance(line, _Held) else line
    if lean:
        from proofmark_core.records.lean import lean_record  # for checking only: msgspec

        if (record := lean_record(data)) is not None:
            return Item(number, record)
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError as exc:
        before = data[:exc.start]
        return Item(number, error=_utf8_error(before), broken_text=before.decode("utf-8"))
    del data, line  # the text alone is needed from here on: a long line is held twice at most
    return _json_item(number, text)


def _json_item(number: int, text: str) -> Item:
    try:
        return Item(number, json.loads(text))
    except ValueError as exc:
        return Item(number, error=json_error(exc), broken_text=text)
    except RecursionError:
        return Item(number, error=TOO_DEEP)


def _document(chunks: Iterable[bytes]) -> Iterator[Item]:
    data = bytearray()
    for chunk in chunks:
        data += chunk
        if len(data) > _size_limit:
            yield Item(1, error=too_large("an input"))
            return
    body_at = NON_SPACE_BYTES_RE.search(data)
    if body_at is None:
        return
    line = data.count(b"\n", 0, body_at.start()) + 1
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError as exc:
        line_start = data.rfind(b"\n", 0, exc.start) + 1
        yield Item(data.count(b"\n", 0, exc.start) + 1,
                   error=_utf8_error(bytes(data[line_start:exc.start])))
        return
    del data
    try:
        yield Item(line, json.loads(text))
    except json.JSONDecodeError as exc:
        yield Item(exc.lineno, error=json_error(exc), broken_text=text)
    except ValueError as exc:
        yield Item(line, error=json_error(exc))
    except RecursionError:
        yield Item(line, error=TOO_DEEP)


def _utf8_error(line_before: bytes) -> str:
    return f"invalid UTF-8 at column {len(line_before.decode('utf-8')) + 1}"


class _Stop(Exception):
    """The list cannot be read past this point."""

    def __init__(self, line: int, message: str) -> None:
        super().__init__(message)
        self.line = line
        self.message = message


class _ListReader:
    """A JSON list of records, decoded element by element from a growing text buffer.

    Only the text from the start of the current element on is kept. The line and
    column of one position (the mark) are tracked, so errors can name where they are.
    """

    def __init__(self, chunks: Iterator[bytes]) -> None:
        self._chunks = chunks
        self._decoder = codecs.getincrementaldecoder("utf-8")("surrogateescape")
        self._buf = ""
        self._pos = 0
        self._mark = 0
        self._line = 1
        self._column = 1
        self._eof = False
        self._undecodable = False

    def items(self) -> Iterator[Item]:
        try:
            yield from self._elements()
        except _Stop as stop:
            yield Item(stop.line, error=f"{stop.message}; the rest of the input is not read")

    def _elements(self) -> Iterator[Item]:
        self._skip_space()
        self._pos += 1  # the opening bracket
        self._skip_space()
        if self._peek() == "]":
            self._pos += 1
        else:
            while True:
                yield self._element()
                self._skip_space()
                after = self._peek()
                if after not in (",", "]"):
                    raise self._error("Expecting ',' delimiter")
                self._pos += 1
                if after == "]":
                    break
        self._skip_space()
        if self._peek() or self._undecodable:
            raise self._error("Extra data")

    def _element(self) -> Item:
        self._skip_space()
        line = self._advance(self._pos)
        while True:
            try:
                value, end = DECODER.raw_decode(self._buf, self._pos)
            except json.JSONDecodeError as exc:
                # Maybe only cut short: read as much again as is pending, then retry.
                # Filling moves the element to the front of the buffer.
                into_element = exc.pos - self._pos
                if self._fill(len(self._buf) - self._pos):
                    continue
                raise self._error(exc.msg, self._pos + into_element) from None
            except ValueError as exc:
                raise _Stop(line, json_error(exc)) from None
            except RecursionError:
                raise _Stop(line, TOO_DEEP) from None
            if not self._may_go_on(value, end) or not self._fill(len(self._buf) - self._pos):
                self._pos = end
                return Item(line, value)

    def _may_go_on(self, value: object, end: int) -> bool:
        """Whether more input could make a longer number of what was decoded."""
        if not isinstance(value, int | float) or isinstance(value, bool):
            return False
        return end == len(self._buf) or self._buf[end] in NUMBER_GOES_ON

    def _skip_space(self) -> None:
        while True:
            found = NON_SPACE_RE.search(self._buf, self._pos)
            self._pos = found.start() if found else len(self._buf)
            if self._pos < len(self._buf) or not self._fill():
                return

    def _peek(self) -> str:
        while self._pos >= len(self._buf):
            if not self._fill():
                return ""
        return self._buf[self._pos]

    def _fill(self, at_least: int = 1) -> bool:
        """Append at least that much text, unless the input ends; false when none came."""
        if self._eof:
            return False
        self._advance(self._pos)
        self._buf = self._buf[self._pos:]
        self._pos = self._mark = 0
        parts: list[str] = []
        added = 0
        while added < max(at_least, 1):
            chunk = next(self._chunks, None)
            if chunk is None:
                parts.append(self._decoder.decode(b"", final=True))
                self._eof = True
                break
            parts.append(self._decoder.decode(chunk))
            added += len(parts[-1])
        text = "".join(parts)
        if undecodable := UNDECODABLE_RE.search(text):
            text = text[:undecodable.start()]
            self._eof = self._undecodable = True
        self._buf += text
        if len(self._buf) > _size_limit:
            raise _Stop(self._line, f"{too_large('an element')}; the rest of the input "
                                    f"is not read")
        return bool(text)

    def _advance(self, index: int) -> int:
        """Move the mark to index, keeping its line and column; returns the line."""
        newlines = self._buf.count("\n", self._mark, index)
        if newlines:
            self._line += newlines
            self._column = index - self._buf.rfind("\n", self._mark, index)
        else:
            self._column += index - self._mark
        self._mark = index
        return self._line

    def _error(self, message: str, index: int | None = None) -> _Stop:
        if self._undecodable:
            # The JSON went wrong where the text stopped being UTF-8.
            self._advance(len(self._buf))
            return _Stop(self._line, f"invalid UTF-8 at column {self._column}")
        self._advance(self._pos if index is None else index)
        return _Stop(self._line, f"invalid JSON at column {self._column}: {message}")
