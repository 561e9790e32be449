"""Reports of checked claims: an aligned table for people, JSON or JSONL for programs.

Every writer takes results and errors as they come and keeps no result, so a report
of any length streams out in constant memory.
"""

from __future__ import annotations

import json
import shutil
from collections.abc import Callable
from dataclasses import dataclass, field
from typing import Protocol, TextIO

from proofmark_core._terminal import one_line, pad, paint, printable, shorten
from proofmark_core.api import VERDICTS, ClaimResult

RECORD_WIDTH = 6
CLAIM_WIDTH = 5
VERDICT_WIDTH = max(map(len, VERDICTS))
GAP = "  "
TEXT_WIDTHS = (16, 60)


@dataclass(frozen=True, slots=True)
class Where:
    """Where a result or an error comes from: file, line, record and claim."""

    file: str
    line: int | None = None
    record: int | None = None
    claim: int | None = None

    def __str__(self) -> str:
        place = self.file if self.line is None else f"{self.file}:{self.line}"
        return place if self.record is None else f"{place}: record {self.record}"

    def fields(self) -> dict[str, object]:
        return {"file": self.file, "line": self.line, "record": self.record, "claim": self.claim}


@dataclass
class Tally:
    records: int = 0
    claims: int = 0
    errors: int = 0
    verdicts: dict[str, int] = field(default_factory=lambda: dict.fromkeys(VERDICTS, 0))

    def summary(self) -> dict[str, object]:
        return {"records": self.records, "claims": self.claims, "errors": self.errors,
                "verdicts": dict(self.verdicts)}


class Writer(Protocol):
    def result(self, where: Where, result: ClaimResult) -> None: ...
    def error(self, where: Where, message: str) -> None: ...
    def end(self, tally: Tally) -> None: ...


def result_fields(where: Where, result: ClaimResult) -> dict[str, object]:
    claim = result.claim
    return {**where.fields(), "kind": claim.get("kind", "other"), "text": claim.get("text", ""),
            "verdict": result.verdict, "evidence": result.evidence}


class Table:
    """One aligned row per claim under a heading per file, and a closing count."""

    def __init__(self, out: TextIO, colour: bool, before_write: Callable[[], None]) -> None:
        self._out = out
        self._colour = colour
        self._before_write = before_write
        self._file: str | None = None
        fixed = RECORD_WIDTH + CLAIM_WIDTH + VERDICT_WIDTH + 3 * len(GAP)
        columns = shutil.get_terminal_size((100, 24)).columns
        self._text_width = max(TEXT_WIDTHS[0], min(TEXT_WIDTHS[1], (columns - fixed) // 2))

    def result(self, where: Where, result: ClaimResult) -> None:
        self._before_write()
        if where.file != self._file:
            self._heading(where.file)
        verdict = paint(result.verdict, self._colour) + " " * (VERDICT_WIDTH - len(result.verdict))
        text = shorten(one_line(result.claim.get("text", "")), self._text_width)
        self._out.write(GAP.join((
            f"{where.record:>{RECORD_WIDTH}}", f"{where.claim:>{CLAIM_WIDTH}}", verdict,
            pad(text, self._text_width), printable(result.evidence),
        )) + "\n")

    def error(self, where: Where, message: str) -> None:
        """Errors reach standard error only."""

    def end(self, tally: Tally) -> None:
        self._before_write()
        if self._file is not None:
            self._out.write("\n")
        self._out.write(summary_line(tally) + "\n")

    def _heading(self, file: str) -> None:
        if self._file is not None:
            self._out.write("\n")
        self._file = file
        self._out.write(one_line(file) + "\n" + GAP.join((
            "RECORD", "CLAIM", "VERDICT".ljust(VERDICT_WIDTH),
            "TEXT".ljust(self._text_width), "EVIDENCE",
        )) + "\n")


class JsonDocument:
    """{"results": [...], "errors": [...], "summary": {...}}, written as results come."""

    def __init__(self, out: TextIO) -> None:
        self._out = out
        self._errors: list[dict[str, object]] = []
        self._separator = "\n"
        out.write('{"results": [')

    def result(self, where: Where, result: ClaimResult) -> None:
        self._out.write(self._separator + json.dumps(result_fields(where, result)))
        self._separator = ",\n"

    def error(self, where: Where, message: str) -> None:
        self._errors.append({**where.fields(), "error": message})

    def end(self, tally: Tally) -> None:
        errors = ",\n".join(map(json.dumps, self._errors))
        self._out.write(f'\n],\n"errors": [\n{errors}\n],\n"summary": '
                        f"{json.dumps(tally.summary())}}}\n")


class JsonLines:
    """One object per line: each result, each error ("error" key), then the summary."""

    def __init__(self, out: TextIO) -> None:
        self._out = out

    def result(self, where: Where, result: ClaimResult) -> None:
        self._out.write(json.dumps(result_fields(where, result)) + "\n")

    def error(self, where: Where, message: str) -> None:
        self._out.write(json.dumps({**where.fields(), "error": message}) + "\n")

    def end(self, tally: Tally) -> None:
        self._out.write(json.dumps({"summary": tally.summary()}) + "\n")


def summary_line(tally: Tally) -> str:
    counts = ", ".join(f"{count} {verdict}" for verdict, count in tally.verdicts.items())
    line = f"{_plural(tally.records, 'record')}, {_plural(tally.claims, 'claim')}: {counts}"
    return line + (f"; {_plural(tally.errors, 'error')}" if tally.errors else "")


def _plural(count: int, noun: str) -> str:
    return f"{count} {noun}" if count == 1 else f"{count} {noun}s"
