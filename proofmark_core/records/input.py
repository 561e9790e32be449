"""Turn records read from JSON or JSONL input one at a time, so memory stays flat.

The layout is told from the content: a list of records streams element by element;
a first line that is a whole JSON value means one record per line (JSONL); anything
else is one JSON document holding one record.
"""

from __future__ import annotations

import codecs
import itertools
import json
import re
from collections.abc import Callable, Iterable, Iterator
from dataclasses import dataclass
from functools import partial
from typing import Protocol

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


@dataclass(frozen=True, slots=True)
class Item:
    """One record as read: the line it starts on, and its value or what is wrong."""

    line: int
    value: object = None
    error: str | None = None


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
    lines = spool or (lambda chunks: _jsonl(_lines(chunks), decode, lean))
    if jsonl:
        return lines(chunks)
    head = _head(chunks)
    chunks = itertools.chain([head], chunks)
    start = head.lstrip(WHITESPACE)[:1]
    if start == b"[":
        return _ListReader(chunks).items()
    if start == b"{" and _first_line_is_json(head):
        return lines(chunks)
    return _document(b"".join(chunks))


def line_spans(path: str) -> Iterator[Item]:
    """Every line of a JSONL file that is not blank, as a :class:`Span` of the file."""
    buffer = bytearray(SPAN_CHUNK)
    number, blank = 1, True
    with open(path, "rb", buffering=0) as file:
        bom = codecs.BOM_UTF8
        offset = start = len(bom) if file.read(len(bom)) == bom else 0
        file.seek(offset)
        while size := file.readinto(buffer):
            at = 0
            while (end := buffer.find(b"\n", at, size)) >= 0:
                if not blank or NON_SPACE_BYTES_RE.search(buffer, at, end):
                    yield Item(number, Span(path, start, offset + end - start))
                number, blank = number + 1, True
                start, at = offset + end + 1, end + 1
            blank = blank and not NON_SPACE_BYTES_RE.search(buffer, at, size)
            offset += size
    if not blank:
        yield Item(number, Span(path, start, offset - start))


def decoded(item: Item, lean: bool = False) -> Item:
    """The item with its value decoded, when it was read without decoding. With ``lean``,
    a plain record may hold only what checking reads (see :mod:`proofmark_core.records.lean`)."""
    if isinstance(item.value, Line):
        return _line_item(item.line, item.value.text, lean)
    if isinstance(item.value, Span):
        try:
            return _line_item(item.line, item.value.read(), lean)
        except OSError as exc:
            return Item(item.line, error=exc.strerror or str(exc))
    return item


def _chunks(stream: ByteStream, size: int) -> Iterator[bytes]:
    # read1 hands over what a pipe has now instead of waiting for a full chunk.
    chunks = iter(partial(stream.read1, size), b"")
    first = next(chunks, b"")
    return itertools.chain([first.removeprefix(codecs.BOM_UTF8)], chunks)


def _head(chunks: Iterator[bytes]) -> bytes:
    """The input up to its first non-blank byte and, when that opens an object, its line."""
    parts: list[bytes] = []
    opening = b""
    for chunk in chunks:
        parts.append(chunk)
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


# The generators below hold no line while they wait, so that a long line's bytes are
# freed as soon as its record is decoded.
def _lines(chunks: Iterable[bytes]) -> Iterator[bytes]:
    partial_line: list[bytes] = []
    for chunk in chunks:
        start = 0
        while (end := chunk.find(b"\n", start)) >= 0:
            partial_line.append(chunk[start:end])
            yield _joined(partial_line)
            start = end + 1
        partial_line.append(chunk[start:])
    yield _joined(partial_line)


def _joined(parts: list[bytes]) -> bytes:
    line = b"".join(parts)
    parts.clear()
    return line


def _jsonl(lines: Iterable[bytes], decode: bool, lean: bool) -> Iterator[Item]:
    number = 0
    for line in lines:
        number += 1
        if not NON_SPACE_BYTES_RE.search(line):
            continue
        item = _line_item(number, line, lean) if decode else Item(number, Line(line))
        del line
        yield item


def _line_item(number: int, line: bytes, lean: bool = False) -> Item:
    if lean:
        from proofmark_core.records.lean import lean_record  # for checking only: msgspec

        if (record := lean_record(line)) is not None:
            return Item(number, record)
    try:
        text = line.decode("utf-8")
    except UnicodeDecodeError as exc:
        return Item(number, error=_utf8_error(line[:exc.start]))
    try:
        return Item(number, json.loads(text))
    except json.JSONDecodeError as exc:
        return Item(number, error=f"invalid JSON at column {exc.colno}: {exc.msg}")
    except RecursionError:
        return Item(number, error=TOO_DEEP)


def _document(data: bytes) -> Iterator[Item]:
    body = data.lstrip(WHITESPACE)
    if not body:
        return
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError as exc:
        line_start = data.rfind(b"\n", 0, exc.start) + 1
        yield Item(data.count(b"\n", 0, exc.start) + 1,
                   error=_utf8_error(data[line_start:exc.start]))
        return
    line = data.count(b"\n", 0, len(data) - len(body)) + 1
    try:
        yield Item(line, json.loads(text))
    except json.JSONDecodeError as exc:
        yield Item(exc.lineno, error=f"invalid JSON at column {exc.colno}: {exc.msg}")
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
