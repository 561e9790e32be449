"""A Markdown summary: the count of each verdict and a table of the flagged claims,
worst first, sized for a job summary or a pull-request comment (which GitHub cuts at
65,536 characters): at most FLAGGED_ROWS claims are listed, each cell shortened."""

from __future__ import annotations

import re
from typing import TextIO

from proofmark_core.report.flagged import LEVELS, claim_text, place
from proofmark_core.report.table import summary_line
from proofmark_core.report.tally import Tally, plural
from proofmark_core.report.terminal import one_line
from proofmark_core.run.units import Where
from proofmark_core.verdicts import VERDICTS, ClaimResult

TITLE = "proofmark"
WORST_FIRST = ("contradicted", "pre-existing", "unverified", "unchecked", "verified")
FLAGGED_ROWS = 50
ERROR_ROWS = 20
CELL_CHARS = 200
# What Markdown or the HTML GitHub allows in it would read in a claim's words: kept as
# the characters they are.
MARKUP_RE = re.compile(r"([\\`*_{}\[\]<>|~&!#])")


class Summary:
    """Flagged claims are kept, up to the number shown, to be listed worst first."""

    def __init__(self, out: TextIO, fail_on: frozenset[str]) -> None:
        self._out = out
        self._fail_on = fail_on
        self._rows: dict[str, list[str]] = {verdict: [] for verdict in WORST_FIRST}
        self._flagged = 0
        self._errors: list[str] = []

    def result(self, where: Where, result: ClaimResult, excerpt: str | None = None) -> None:
        if result.verdict not in LEVELS and result.verdict not in self._fail_on:
            return
        self._flagged += 1
        rows = self._rows[result.verdict]
        if len(rows) < FLAGGED_ROWS:
            rows.append(_row(place(where), f"**{result.verdict}**", claim_text(result),
                             result.evidence))

    def error(self, where: Where, message: str) -> None:
        if len(self._errors) < ERROR_ROWS:
            self._errors.append(f"- {cell(str(where))}: {cell(message)}")

    def end(self, tally: Tally) -> None:
        lines = [f"### {TITLE}", "", cell(summary_line(tally)), "",
                 "| Verdict | Claims |", "| --- | ---: |"]
        lines += [f"| {_verdict(verdict, self._fail_on)} | {tally.verdicts[verdict]} |"
                  for verdict in VERDICTS]
        rows = [row for verdict in WORST_FIRST for row in self._rows[verdict]][:FLAGGED_ROWS]
        if rows:
            lines += ["", "#### Flagged claims", "", "| Where | Verdict | Claim | Evidence |",
                      "| --- | --- | --- | --- |", *rows]
            if self._flagged > len(rows):
                lines += ["", f"…and {plural(self._flagged - len(rows), 'more flagged claim')}: "
                              "the full report has them all."]
        if self._errors:
            lines += ["", f"#### Inputs not checked ({tally.errors})", "", *self._errors]
        self._out.write("\n".join(lines) + "\n")


def cell(text: str) -> str:
    """Text for a table cell: one line, controls spelled out, shortened, every markup
    character escaped."""
    text = one_line(text)
    if len(text) > CELL_CHARS:
        text = text[:CELL_CHARS - 1] + "…"
    return MARKUP_RE.sub(r"\\\1", text)


def _row(*cells: str) -> str:
    first, verdict, *rest = cells
    return "| " + " | ".join((cell(first), verdict, *map(cell, rest))) + " |"


def _verdict(verdict: str, fail_on: frozenset[str]) -> str:
    return f"**{verdict}** (fails the check)" if verdict in fail_on else verdict
