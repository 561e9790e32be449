"""The HTML report: a writer of ``proofmark check`` and a reader of saved JSONL
results, both gathering what the page shows and writing it at the end."""

from __future__ import annotations

import json
from collections.abc import Iterable, Mapping
from typing import TextIO

from proofmark_core.report.html_page import page
from proofmark_core.report.html_run import Run, number_or_none
from proofmark_core.report.jsonl import result_fields
from proofmark_core.report.tally import Tally
from proofmark_core.run.units import Where
from proofmark_core.verdicts import VERDICTS, ClaimResult

TITLE = "proofmark report"


class ReportError(ValueError):
    """A saved results file that cannot be read as one."""


class HtmlReport:
    """A writer of ``proofmark check`` that gathers the results and writes the page
    at the end."""

    def __init__(self, out: TextIO, title: str = TITLE) -> None:
        self._out = out
        self._title = title
        self._run = Run()

    def result(self, where: Where, result: ClaimResult, excerpt: str | None = None) -> None:
        self._run.add(result_fields(where, result, excerpt))

    def error(self, where: Where, message: str) -> None:
        self._run.add_error({**where.fields(), "error": message})

    def end(self, tally: Tally) -> None:
        write_page(self._run, self._out, tally.summary(), self._title)


def read_results(lines: Iterable[str], name: str) -> tuple[Run, Mapping[str, object] | None]:
    """The results, errors and summary of a file saved by ``proofmark check --format
    jsonl``, gathered for :func:`write_page`.

    Raises :class:`ReportError` naming the file and line of the first object that
    is not a result, an error or the summary.
    """
    run = Run()
    summary: Mapping[str, object] | None = None
    for number, line in enumerate(lines, 1):
        if not line.strip():
            continue
        try:
            value = json.loads(line.rstrip("\r\n"))
        except json.JSONDecodeError as exc:
            raise ReportError(
                f"{name}:{number}: invalid JSON at column {exc.colno}: {exc.msg}") from None
        if not isinstance(value, dict):
            raise ReportError(f"{name}:{number}: expected an object, got {_type_name(value)}")
        if isinstance(value.get("summary"), dict):
            summary = value["summary"]
        elif "error" in value:
            run.add_error(value)
        elif value.get("verdict") in VERDICTS:
            run.add(value)
        else:
            raise ReportError(f"{name}:{number}: neither a result with a known \"verdict\", "
                              "an error nor the summary")
    return run, summary


def write_page(run: Run, out: TextIO, summary: Mapping[str, object] | None = None,
               title: str = TITLE) -> None:
    """Write the page of the run; the summary's record count is shown when there is one."""
    records = number_or_none((summary or {}).get("records"))
    try:
        for part in page(run, title, len(run.groups) if records is None else records):
            out.write(part)
        out.flush()
    finally:
        run.close()


def _type_name(value: object) -> str:
    return {list: "array", str: "string", int: "number", float: "number", bool: "boolean",
            type(None): "null"}.get(type(value), type(value).__name__)
