"""The HTML report: a writer of ``proofmark check`` and a reader of saved JSONL
results, both gathering what the page shows and writing it at the end."""

from __future__ import annotations

import json
from collections.abc import Iterable, Mapping
from typing import TextIO

from proofmark_core._html_page import page
from proofmark_core._html_run import Run, number_or_none
from proofmark_core._output import Tally, Where, result_fields
from proofmark_core.api import VERDICTS, ClaimResult

TITLE = "proofmark report"


class ReportError(ValueError):
    """A saved results file that cannot be read as one."""


class HtmlReport:
    """A writer of ``proofmark check`` that writes the page at the end; :meth:`add`
    and :meth:`add_error` also take the objects that ``--format jsonl`` writes."""

    def __init__(self, out: TextIO, title: str = TITLE) -> None:
        self._out = out
        self._title = title
        self._run = Run()

    def result(self, where: Where, result: ClaimResult) -> None:
        fields = result_fields(where, result)
        fields.setdefault("targets", result.claim.get("targets", []))
        self.add(fields)

    def error(self, where: Where, message: str) -> None:
        self.add_error({**where.fields(), "error": message})

    def end(self, tally: Tally) -> None:
        self.write(tally.summary())

    def add(self, fields: Mapping[str, object]) -> None:
        """One result: "verdict" (required), "file", "text", "evidence" and the rest
        as the JSONL report writes them, any of them missing or null."""
        self._run.add(fields)

    def add_error(self, fields: Mapping[str, object]) -> None:
        self._run.add_error(fields)

    def write(self, summary: Mapping[str, object] | None = None) -> None:
        """Write the page; ``summary`` is the run's, as the JSONL report's last line has it."""
        records = number_or_none((summary or {}).get("records"))
        try:
            for part in page(self._run, self._title,
                             len(self._run.groups) if records is None else records):
                self._out.write(part)
            self._out.flush()
        finally:
            self._run.close()


def build_report(lines: Iterable[str], out: TextIO, name: str) -> None:
    """The report of a results file saved by ``proofmark check --format jsonl``.

    Raises :class:`ReportError` naming the file and line of the first object that
    is not a result, an error or the summary.
    """
    report = HtmlReport(out)
    summary: Mapping[str, object] | None = None
    for number, line in enumerate(lines, 1):
        if not line.strip():
            continue
        try:
            value = json.loads(line)
        except json.JSONDecodeError as exc:
            raise ReportError(
                f"{name}:{number}: invalid JSON at column {exc.colno}: {exc.msg}") from None
        if not isinstance(value, dict):
            raise ReportError(f"{name}:{number}: expected an object, got {_type_name(value)}")
        if isinstance(value.get("summary"), dict):
            summary = value["summary"]
        elif "error" in value:
            report.add_error(value)
        elif value.get("verdict") in VERDICTS:
            report.add(value)
        else:
            raise ReportError(f"{name}:{number}: neither a result with a known \"verdict\", "
                              "an error nor the summary")
    report.write(summary)


def _type_name(value: object) -> str:
    return {list: "array", str: "string", int: "number", float: "number", bool: "boolean",
            type(None): "null"}.get(type(value), type(value).__name__)
