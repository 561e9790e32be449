"""The report for people: one aligned row per claim, under a heading per file."""

from __future__ import annotations

import shutil
from collections.abc import Callable
from typing import TextIO

from proofmark_core.report.tally import Tally, plural
from proofmark_core.report.terminal import one_line, pad, paint, printable, shorten
from proofmark_core.run.units import Where
from proofmark_core.verdicts import VERDICTS, ClaimResult

RECORD_WIDTH = 6
CLAIM_WIDTH = 5
VERDICT_WIDTH = max(map(len, VERDICTS))
GAP = "  "
TEXT_WIDTHS = (16, 60)


class Table:
    """One aligned row per claim under a heading per file (and per session of an agent
    log, whose rows count turns instead of records), and a closing count."""

    def __init__(self, out: TextIO, colour: bool, before_write: Callable[[], None]) -> None:
        self._out = out
        self._colour = colour
        self._before_write = before_write
        self._heading_of: tuple[str, str | None, str | None] | None = None
        fixed = RECORD_WIDTH + CLAIM_WIDTH + VERDICT_WIDTH + 3 * len(GAP)
        columns = shutil.get_terminal_size((100, 24)).columns
        self._text_width = max(TEXT_WIDTHS[0], min(TEXT_WIDTHS[1], (columns - fixed) // 2))

    def result(self, where: Where, result: ClaimResult, excerpt: str | None = None) -> None:
        self._before_write()
        if (where.file, where.agent, where.session) != self._heading_of:
            self._heading(where)
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
        if self._heading_of is not None:
            self._out.write("\n")
        self._out.write(summary_line(tally) + "\n")

    def _heading(self, where: Where) -> None:
        if self._heading_of is not None:
            self._out.write("\n")
        self._heading_of = (where.file, where.agent, where.session)
        title = where.file
        if where.agent:
            title += f"  ({where.agent}" + (f", session {where.session})" if where.session else ")")
        self._out.write(one_line(title) + "\n" + GAP.join((
            "TURN".ljust(RECORD_WIDTH) if where.agent else "RECORD", "CLAIM", "VERDICT".ljust(VERDICT_WIDTH),
            "TEXT".ljust(self._text_width), "EVIDENCE",
        )) + "\n")


def summary_line(tally: Tally) -> str:
    counts = ", ".join(f"{count} {verdict}" for verdict, count in tally.verdicts.items())
    units = [plural(tally.turns, "turn")] if tally.turns else []
    if tally.records > tally.turns or not tally.turns:
        units.insert(0, plural(tally.records - tally.turns, "record"))
    line = f"{', '.join(units)}, {plural(tally.claims, 'claim')}: {counts}"
    if tally.skipped:
        skipped = sum(tally.skipped.values())
        line += f"; {plural(skipped, 'log entry', 'log entries')} of unknown kinds skipped"
    return line + (f"; {plural(tally.errors, 'error')}" if tally.errors else "")
