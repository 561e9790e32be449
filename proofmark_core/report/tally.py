"""What a run checked, counted as it goes, and how the run ended."""

from __future__ import annotations

import sys
from collections import Counter
from dataclasses import dataclass, field
from typing import Protocol

from proofmark_core.report.terminal import Progress, one_line
from proofmark_core.run.config import Ignore
from proofmark_core.run.units import Event, Outcome, Where
from proofmark_core.verdicts import VERDICTS, ClaimResult

EXIT_OK, EXIT_FAILED, EXIT_UNUSABLE = 0, 1, 2


@dataclass
class Tally:
    """What a run has checked so far: records, claims, verdicts and errors."""

    records: int = 0
    # Of the records, those that are turns read from agent logs.
    turns: int = 0
    claims: int = 0
    errors: int = 0
    verdicts: dict[str, int] = field(default_factory=lambda: dict.fromkeys(VERDICTS, 0))
    # Log entries of kinds the readers do not know, by kind.
    skipped: Counter[str] = field(default_factory=Counter)

    def summary(self) -> dict[str, object]:
        summary: dict[str, object] = {"records": self.records, "claims": self.claims,
                                      "errors": self.errors, "verdicts": dict(self.verdicts)}
        if self.turns:
            summary["turns"] = self.turns
        if self.skipped:
            summary["skipped"] = dict(sorted(self.skipped.items()))
        return summary


class Writer(Protocol):
    """A report as it is written: each result and error as it comes, then the counts."""

    def result(self, where: Where, result: ClaimResult, excerpt: str | None = None) -> None: ...
    def error(self, where: Where, message: str) -> None: ...
    def end(self, tally: Tally) -> None: ...


class Report:
    """Counts what was checked, hands it to the writer, and says how the run ended.

    Errors are also told on standard error, unless ``echo`` is off (for results saved
    earlier, whose errors were told then). Claims whose text a pattern of ``ignore``
    finds are left unchecked; its source is named in their evidence.
    """

    def __init__(self, writer: Writer, progress: Progress, fail_on: frozenset[str],
                 tally: Tally | None = None, echo: bool = True,
                 ignore: tuple[Ignore, str] | None = None) -> None:
        self.writer = writer
        self.progress = progress
        self.tally = Tally() if tally is None else tally
        self._fail_on = fail_on
        self._echo = echo
        self._ignore = ignore

    def result(self, where: Where, result: ClaimResult, excerpt: str | None = None) -> None:
        if self._ignore is not None:
            result = self._ignore[0].apply(result, self._ignore[1])
        self.tally.claims += 1
        self.tally.verdicts[result.verdict] += 1
        self.writer.result(where, result, excerpt)

    def error(self, where: Where, message: str) -> None:
        self.tally.errors += 1
        if self._echo:
            self.progress.clear()
            sys.stdout.flush()
            print(f"proofmark: {one_line(f'{where}: {message}')}", file=sys.stderr)
        self.writer.error(where, message)

    def event(self, event: Event) -> None:
        where, found, excerpt = event
        if isinstance(found, str):
            self.error(where, found)
        else:
            self.result(where, found, excerpt)

    def outcome(self, outcome: Outcome) -> None:
        for event in outcome.events:
            self.event(event)
        # A problem with a whole input is not a record.
        self.tally.records += outcome.where.record is not None
        self.tally.turns += outcome.where.agent is not None
        self.tally.skipped.update(outcome.skipped)
        self.progress.update(lambda: one_line(
            f"proofmark: {outcome.where.file}: {self.tally.records} records, "
            f"{self.tally.claims} claims checked"))

    def exit_status(self) -> int:
        if self.tally.errors:
            return EXIT_UNUSABLE
        failed = any(self.tally.verdicts[verdict] for verdict in self._fail_on)
        return EXIT_FAILED if failed else EXIT_OK


def plural(count: int, noun: str, nouns: str | None = None) -> str:
    """'1 claim', '2 claims'."""
    return f"{count} {noun}" if count == 1 else f"{count} {nouns or noun + 's'}"
