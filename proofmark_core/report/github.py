"""GitHub Actions workflow commands: an ``::error`` or ``::warning`` annotation per
flagged claim, shown on the log's line in the run and in pull requests."""

from __future__ import annotations

from typing import TextIO

from proofmark_core.report.flagged import LEVELS, line_of, message
from proofmark_core.report.table import summary_line
from proofmark_core.report.tally import Tally
from proofmark_core.run.units import Where
from proofmark_core.verdicts import ClaimResult

# What the runner decodes in a command's message; its properties also end at ":" and ",".
MESSAGE_ESCAPES = str.maketrans({"%": "%25", "\r": "%0D", "\n": "%0A"})
PROPERTY_ESCAPES = str.maketrans({"%": "%25", "\r": "%0D", "\n": "%0A", ":": "%3A", ",": "%2C"})


class Annotations:
    """A claim with a --fail-on verdict is an error, as is a contradicted one; another
    flagged claim is a warning."""

    def __init__(self, out: TextIO, fail_on: frozenset[str]) -> None:
        self._out = out
        self._fail_on = fail_on

    def result(self, where: Where, result: ClaimResult, excerpt: str | None = None) -> None:
        level = "error" if result.verdict in self._fail_on else LEVELS.get(result.verdict)
        if level is None:
            return
        self._out.write(command(level, where, f"proofmark: {result.verdict} claim",
                                message(result)))

    def error(self, where: Where, text: str) -> None:
        self._out.write(command("error", where, "proofmark: input not checked", text))

    def end(self, tally: Tally) -> None:
        self._out.write(summary_line(tally) + "\n")


def command(level: str, where: Where, title: str, text: str) -> str:
    properties = [("file", where.file)]
    line = line_of(where)
    if line is not None:
        properties.append(("line", str(line)))
    properties.append(("title", title))
    listed = ",".join(f"{name}={value.translate(PROPERTY_ESCAPES)}" for name, value in properties)
    return f"::{level} {listed}::{text.translate(MESSAGE_ESCAPES)}\n"
