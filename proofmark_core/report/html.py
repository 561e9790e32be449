"""The HTML report: a writer of ``proofmark check`` and ``proofmark report`` that
gathers what the page shows and writes it at the end."""

from __future__ import annotations

from collections.abc import Mapping
from typing import TextIO

from proofmark_core.report.html_page import page
from proofmark_core.report.html_run import Run, number_or_none
from proofmark_core.report.jsonl import result_fields
from proofmark_core.report.tally import Tally
from proofmark_core.run.units import Where
from proofmark_core.verdicts import ClaimResult

TITLE = "proofmark report"


class HtmlReport:
    """Gathers the results, and writes the page at the end."""

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

