"""One agent log on disk: a JSON document, a JSONL stream, or a folder of event files.

Readers take records from it and raise its errors, which name the file and the line.
"""

from __future__ import annotations

import itertools
import json
import re
from collections.abc import Iterator
from contextvars import ContextVar
from pathlib import Path

from proofmark_core.records.files import jsonl_name, open_input
from proofmark_core.records.input import (
    Item, Line, decoded, json_error, read_records, read_whole, size_limit)
from proofmark_core.records.whole_part import whole_part

SAMPLE_RECORDS = 8
EVENT_FILE_RE = re.compile(r"event-\d+.*\.json")
# What a reader may raise on a value of a type it did not foresee, deep in a record.
UNFORESEEN = (LookupError, TypeError, ValueError, AttributeError, RecursionError)
# Where the record last read from any log starts: the place of such an error.
_last_read: ContextVar[tuple[str, int | None]] = ContextVar("last_read")


class LogError(ValueError):
    """A log that cannot be read: the file, the line when known, and what is wrong."""

    def __init__(self, file: str, message: str, line: int | None = None) -> None:
        super().__init__(f"{file}:{line}: {message}" if line else f"{file}: {message}")
        self.file = file
        self.line = line
        self.message = message
        # The turn that the error cost, counting from 0, when it cost one: its agent,
        # session and index.
        self.turn: tuple[str, str | None, int] | None = None


class LogFile:
    """A log file, or an OpenHands conversation folder, read as a sequence of records.

    A JSON document is one record (a list of events stays one record); JSONL gives
    one record per line; a conversation folder one record per event file, in order.
    """

    def __init__(self, path: str | Path) -> None:
        self.path = Path(path)
        self.name = str(path)
        self._document: object = None
        self.jsonl = self._is_jsonl()
        # With ``read_to_break`` set, a record that is not JSON ends the records instead
        # of raising its error: what it says before the break comes as the last
        # record, and ``broken`` holds the error.
        self.read_to_break = False
        self.broken: LogError | None = None
        # Whether the broken record's whole part comes: without it, the records end
        # just before the break.
        self.whole_part_of_break = True

    def error(self, message: str, line: int | None = None) -> LogError:
        return LogError(self.name, message, line)

    def records(self) -> Iterator[tuple[int | None, object]]:
        """Each record with the line it starts on (none for event files), in order."""
        self.mark_unread()
        if self.path.is_dir():
            yield from self._event_files()
        elif self.jsonl:
            yield from self._lines()
        else:
            yield 1, self.document()

    def mark_unread(self) -> None:
        """No record of this log is read yet: an error now is the log's, not one at the
        record last read from another log."""
        _last_read.set((self.name, None))

    def unforeseen(self, agent: str, exc: Exception) -> LogError:
        """The error for what a reader raised on a record it did not expect: at the
        record last read, from this log or from one it took in."""
        file, line = _last_read.get((self.name, None))
        return LogError(file, f"unexpected content for a {agent} log "
                              f"({type(exc).__name__}: {exc})", line)

    def sample(self) -> list[object]:
        """The first few records, for telling the format: those before a broken one,
        or what the broken one says before its break when it is the first (a JSON
        document cut short is one)."""
        sample: list[object] = []
        reading_to_break, self.read_to_break = self.read_to_break, True
        try:
            for _, value in itertools.islice(self.records(), SAMPLE_RECORDS):
                sample.append(value)
        finally:
            self.read_to_break = reading_to_break
        if self.broken is not None and not sample:
            raise self.broken  # nothing before the break, nor in it, tells the format
        if self.jsonl and self.broken is not None and len(sample) > 1:
            sample.pop()
        return sample

    def holds_turn_records(self) -> bool:
        """Whether one of the first records (or elements of a JSON list) is a turn
        record, or none of them can be read: told without reading on, and without
        decoding a JSONL line that does not even name "run_log"."""
        if self.path.is_dir():
            return False
        readable = 0
        with open_input(self.path) as stream:
            records = read_records(stream, jsonl=self.jsonl, decode=False)
            for item in itertools.islice(records, SAMPLE_RECORDS):
                if item.error is None:
                    if _is_turn_record(item):
                        return True
                    readable += 1
                elif not self.jsonl and item.broken_text is not None:
                    # A document cut short: what it holds before the break tells.
                    whole = whole_part(item.broken_text)
                    if whole is not None:
                        return _is_turn_record(Item(item.line, whole))
        return not readable

    def document(self) -> object:
        if self._document is None:
            try:
                # Decoded first, so that the bytes are let go before the parse.
                with open_input(self.path) as stream:
                    data = read_whole(stream)
                text = data.decode("utf-8-sig")
                del data
                self._document = json.loads(text)
            except UnicodeDecodeError as exc:
                self._break(self.error(f"invalid UTF-8 at byte {exc.start}"),
                            data[:exc.start].decode("utf-8-sig"))
            except json.JSONDecodeError as exc:
                self._break(self.error(json_error(exc), exc.lineno), text)
            except ValueError as exc:
                self._break(self.error(json_error(exc)), text)
            except RecursionError:
                raise self.error("invalid JSON: nested too deeply") from None
        return self._document

    def _break(self, error: LogError, text: str) -> None:
        """Keep what the broken document says before its break, or raise its error."""
        value = whole_part(text) if self.read_to_break else None
        if value is None:
            raise error from None
        self.broken = error
        self._document = value

    def _is_jsonl(self) -> bool:
        if self.path.is_dir():
            return False
        if jsonl_name(self.path):
            return True
        with open_input(self.path) as stream:
            head = stream.read(1 << 16).lstrip()
            if not head.startswith(b"{"):
                return False
            first_line = (head.split(b"\n", 1)[0] if b"\n" in head
                          else head + stream.readline(size_limit()))
        try:
            json.loads(first_line)
        except (ValueError, RecursionError):
            return False
        return True

    def _lines(self) -> Iterator[tuple[int | None, object]]:
        self.broken = None
        with open_input(self.path) as stream:
            for item in read_records(stream, jsonl=True):
                _last_read.set((self.name, item.line))
                if item.error is None:
                    yield item.line, item.value
                    continue
                if not self.read_to_break:
                    raise self.error(item.error, item.line)
                self.broken = self.error(item.error, item.line)
                text = item.broken_text if self.whole_part_of_break else None
                value = None if text is None else whole_part(text)
                if value is not None:
                    yield item.line, value
                return

    def _event_files(self) -> Iterator[tuple[int | None, object]]:
        for path in event_files(self.path):
            log = LogFile(path)
            document = log.document()
            log.mark_unread()
            yield None, document


def event_files(folder: Path) -> list[Path]:
    """The event files of a conversation folder (or of its ``events`` folder), in order."""
    events = folder / "events" if (folder / "events").is_dir() else folder
    return sorted(path for path in events.iterdir() if EVENT_FILE_RE.fullmatch(path.name))


def _is_turn_record(item: Item) -> bool:
    if isinstance(item.value, Line) and b'"run_log"' not in item.value.text:
        return False
    value = decoded(item).value
    return isinstance(value, dict) and "run_log" in value
