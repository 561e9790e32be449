"""A result a rule changed: the new verdict and evidence, the engine's own kept beside."""

from __future__ import annotations

from dataclasses import replace
from typing import TYPE_CHECKING

if TYPE_CHECKING:
    from proofmark_core.verdicts import ClaimResult
    from proofmark_core.verify import Verdict

EVIDENCE_CHARS = 100


def changed(result: ClaimResult, verdict: Verdict, evidence: str) -> ClaimResult:
    """The result with the rule's verdict; as it was when the verdict is the same."""
    if verdict == result.verdict:
        return result
    if result.engine_verdict is not None:  # another rule changed it first: keep the engine's
        return replace(result, verdict=verdict, evidence=evidence)
    return replace(result, verdict=verdict, evidence=evidence,
                   engine_verdict=result.verdict, engine_evidence=result.evidence)


def turn_prefix(number: int | None) -> str:
    """How evidence from an earlier turn begins; nothing for the claim's own turn."""
    return "" if number is None else f"turn {number}: "


def one_line(text: object) -> str:
    """A log's message as one short line of evidence."""
    words = " ".join(text.split()) if isinstance(text, str) else ""
    return words if len(words) <= EVIDENCE_CHARS else words[:EVIDENCE_CHARS - 1] + "\u2026"
