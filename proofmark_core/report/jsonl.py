"""The report for programs: JSON or JSON lines, a result at a time.

Every writer takes results and errors as they come and keeps no result, so a report
of any length streams out in constant memory.
"""

from __future__ import annotations

import json
from typing import TextIO

from proofmark_core.report.tally import Tally
from proofmark_core.run.units import Where
from proofmark_core.verdicts import ClaimResult

# The version of the JSON rows and summary (schema/*.schema.json): it goes up when
# fields are added; none is ever renamed or removed.
SCHEMA_VERSION = 1


def result_fields(where: Where, result: ClaimResult,
                  excerpt: str | None = None) -> dict[str, object]:
    claim = result.claim
    fields = {**where.fields(), **where.turn_fields(), "kind": claim.get("kind", "other"),
              "text": claim.get("text", ""), "targets": claim.get("targets", []),
              "verdict": result.verdict, "evidence": result.evidence}
    if where.closing_line is not None:
        fields["closing_line"] = where.closing_line
    if result.engine_verdict is not None:  # a product rule changed the engine's finding
        fields["engine_verdict"] = result.engine_verdict
        fields["engine_evidence"] = result.engine_evidence
    if result.tests is not None:
        fields["tests"] = result.tests
    if excerpt is not None:
        fields["excerpt"] = excerpt
    return fields


class JsonDocument:
    """{"schema_version": 1, "results": [...], "errors": [...], "summary": {...}},
    written as results come."""

    def __init__(self, out: TextIO) -> None:
        self._out = out
        self._errors: list[dict[str, object]] = []
        self._separator = "\n"
        out.write(f'{{"schema_version": {SCHEMA_VERSION}, "results": [')

    def result(self, where: Where, result: ClaimResult, excerpt: str | None = None) -> None:
        self._out.write(self._separator + json.dumps(result_fields(where, result, excerpt)))
        self._separator = ",\n"

    def error(self, where: Where, message: str) -> None:
        self._errors.append({**where.fields(), "error": message})

    def end(self, tally: Tally) -> None:
        errors = ",\n".join(map(json.dumps, self._errors))
        self._out.write(f'\n],\n"errors": [\n{errors}\n],\n"summary": '
                        f"{json.dumps(tally.summary())}}}\n")


class JsonLines:
    """One object per line: each result, each error ("error" key), then the summary;
    each line says its schema version, so that lines keep it when taken apart."""

    def __init__(self, out: TextIO) -> None:
        self._out = out

    def result(self, where: Where, result: ClaimResult, excerpt: str | None = None) -> None:
        self._write(result_fields(where, result, excerpt))

    def error(self, where: Where, message: str) -> None:
        self._write({**where.fields(), "error": message})

    def end(self, tally: Tally) -> None:
        self._write({"summary": tally.summary()})

    def _write(self, fields: dict[str, object]) -> None:
        self._out.write(json.dumps({**fields, "schema_version": SCHEMA_VERSION}) + "\n")
