"""A writer in front of another that masks credentials in all it hands on of a claim:
its text and targets, the evidence and the excerpt of the log."""

from __future__ import annotations

from dataclasses import replace

from proofmark_core.report.redact import may_hold_secret, redact
from proofmark_core.report.tally import Tally, Writer
from proofmark_core.run.units import Where
from proofmark_core.verdicts import ClaimResult


class Redacting:
    def __init__(self, writer: Writer) -> None:
        self.writer = writer

    def result(self, where: Where, result: ClaimResult, excerpt: str | None = None) -> None:
        if not may_hold_secret(_shown_text(result, excerpt)):
            self.writer.result(where, result, excerpt)
            return
        claim = dict(result.claim)
        text, targets = claim.get("text"), claim.get("targets")
        if isinstance(text, str):
            claim["text"] = redact(text)
        if isinstance(targets, list):
            claim["targets"] = [redact(target) if isinstance(target, str) else target
                                for target in targets]
        engine_evidence = result.engine_evidence
        masked = replace(result, claim=claim, evidence=redact(result.evidence),  # type: ignore[arg-type]
                         engine_evidence=None if engine_evidence is None else redact(engine_evidence))
        self.writer.result(where, masked, None if excerpt is None else redact(excerpt))

    def error(self, where: Where, message: str) -> None:
        self.writer.error(where, message)

    def end(self, tally: Tally) -> None:
        self.writer.end(tally)


def _shown_text(result: ClaimResult, excerpt: str | None) -> str:
    """All the text of the result that a report shows, at once."""
    targets = result.claim.get("targets")
    texts = [result.claim.get("text"), result.evidence, result.engine_evidence, excerpt,
             *(targets if isinstance(targets, list) else ())]
    return "\n".join(text for text in texts if isinstance(text, str))
