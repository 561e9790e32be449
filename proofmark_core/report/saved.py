"""Results saved by ``proofmark check --format jsonl``, read back to be written in any
format by ``proofmark report``.

The whole file is read and checked before anything is written, so that unusable
results leave no half-written report behind; its lines wait in a temporary file
meanwhile, which keeps memory flat and lets standard input be read twice.
"""

from __future__ import annotations

import json
import tempfile
from collections.abc import Iterable, Iterator, Mapping
from typing import IO

from proofmark_core.records.input import TOO_DEEP, json_error
from proofmark_core.records.values import as_text
from proofmark_core.report.tally import Tally
from proofmark_core.run.units import Event, Where
from proofmark_core.verdicts import VERDICTS, ClaimResult

SPOOL_BYTES = 1 << 22


class ReportError(ValueError):
    """A saved results file that cannot be read as one."""


class SavedResults:
    """The results and errors of a saved file, in order, and its summary."""

    def __init__(self, lines: Iterable[tuple[int, str]], name: str) -> None:
        self.summary: Mapping[str, object] | None = None
        self._spool: IO[str] = tempfile.SpooledTemporaryFile(
            SPOOL_BYTES, "w+", encoding="utf-8", errors="surrogatepass", newline="\n")
        self._records: set[tuple[object, object]] = set()
        try:
            self._check(lines, name)
        except BaseException:
            self._spool.close()
            raise

    def _check(self, lines: Iterable[tuple[int, str]], name: str) -> None:
        for number, line in lines:
            if not line.strip():
                continue
            try:
                value = json.loads(line.rstrip("\r\n"))
            except ValueError as exc:
                raise ReportError(f"{name}:{number}: {json_error(exc)}") from None
            except RecursionError:
                raise ReportError(f"{name}:{number}: {TOO_DEEP}") from None
            if not isinstance(value, dict):
                raise ReportError(f"{name}:{number}: expected an object, got {_type_name(value)}")
            if isinstance(value.get("summary"), dict):
                self.summary = value["summary"]
                continue
            if "error" not in value and value.get("verdict") not in VERDICTS:
                raise ReportError(f"{name}:{number}: neither a result with a known \"verdict\", "
                                  "an error nor the summary")
            self._records.add((value.get("file"), value.get("record")))
            self._spool.write(line.rstrip("\r\n") + "\n")

    def tally(self) -> Tally:
        """The counts of the check that are not counted again from the results: the
        records read (as its summary says, else those with a result), the turns among
        them, and the log entries skipped."""
        summary = self.summary or {}
        records = _number(summary.get("records"))
        skipped = summary.get("skipped")
        tally = Tally(records=len(self._records) if records is None else records,
                      turns=_number(summary.get("turns")) or 0)
        if isinstance(skipped, dict):
            tally.skipped.update({str(kind): count for kind, count in skipped.items()
                                  if _number(count) is not None})
        return tally

    def events(self) -> Iterator[Event]:
        self._spool.seek(0)
        try:
            for line in self._spool:
                row = json.loads(line)
                where = _where(row)
                if "error" in row:
                    yield where, str(row["error"]), None
                else:
                    yield where, _result(row), as_text(row.get("excerpt"))
        finally:
            self._spool.close()


def _where(row: Mapping[str, object]) -> Where:
    return Where(str(row.get("file") or "<unknown>"), _number(row.get("line")),
                 _number(row.get("record")), _number(row.get("claim")),
                 as_text(row.get("agent")), as_text(row.get("session")),
                 _number(row.get("turn")), _number(row.get("closing_line")))


def _result(row: Mapping[str, object]) -> ClaimResult:
    targets = row.get("targets")
    claim = {"kind": str(row.get("kind") or "other"), "text": _text(row.get("text")),
             "targets": [target for target in targets if isinstance(target, str)]
             if isinstance(targets, list) else []}
    engine_verdict = row.get("engine_verdict")
    tests = row.get("tests")
    return ClaimResult(
        row["verdict"], _text(row.get("evidence")), claim,  # type: ignore[arg-type]
        engine_verdict if engine_verdict in VERDICTS else None,
        as_text(row.get("engine_evidence")), tests if isinstance(tests, dict) else None)


def _number(value: object) -> int | None:
    return value if isinstance(value, int) and not isinstance(value, bool) else None


def _text(value: object) -> str:
    return value if isinstance(value, str) else ""


def _type_name(value: object) -> str:
    return {list: "array", str: "string", int: "number", float: "number", bool: "boolean",
            type(None): "null"}.get(type(value), type(value).__name__)
