"""The end of a JSONL log that may still be being written, read from a line on.

An end-of-turn hook reads a session's log while the agent writes it, from the place
where the turn it checks begins, found by searching a memory map of the file.
"""

from __future__ import annotations

import json
import mmap
from collections.abc import Iterator

from proofmark_core.logs._file import LogError, LogFile


def lines_from(log: LogFile, data: mmap.mmap, start: int,
               line: int) -> Iterator[tuple[int | None, object]]:
    """The records from a line on; the last line is left out when it does not parse."""
    last = _last_line_start(data)
    while start < len(data):
        end = data.find(b"\n", start)
        end = len(data) if end < 0 else end
        raw = data[start:end]
        if raw.strip():
            try:
                yield line, json.loads(raw)
            except json.JSONDecodeError as exc:
                if start < last:
                    raise LogError(log.name, f"invalid JSON at column {exc.colno}: {exc.msg}",
                                   line) from None
            except UnicodeDecodeError as exc:
                if start < last:
                    raise LogError(log.name, f"invalid UTF-8 at byte {exc.start}", line) from None
        start = end + 1
        line += 1


def line_number(data: mmap.mmap, start: int) -> int:
    """The number of the line that starts at ``start``, counting from 1."""
    return data[:start].count(b"\n") + 1


def line_at(data: mmap.mmap, position: int) -> tuple[int, int]:
    """Where the line that holds ``position`` starts and ends (before its line break)."""
    end = data.find(b"\n", position)
    return data.rfind(b"\n", 0, position) + 1, len(data) if end < 0 else end


def _last_line_start(data: mmap.mmap) -> int:
    end = len(data)
    while end > 0 and data[end - 1] in b" \t\r\n":
        end -= 1
    return data.rfind(b"\n", 0, end) + 1
