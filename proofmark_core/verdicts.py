"""The engine's verdicts as typed results: what every stage above the compiled engine
uses, and what :mod:`proofmark_core.api` offers to callers."""

from __future__ import annotations

from collections.abc import Iterable
from dataclasses import dataclass
from typing import TYPE_CHECKING

import proofmark_core._turn as turn_engine
import proofmark_core.verify as engine

if TYPE_CHECKING:
    from proofmark_core.verify import Claim, RunLog, Verdict

VERDICTS: tuple[Verdict, ...] = (
    "verified", "unverified", "pre-existing", "contradicted", "unchecked",
)


@dataclass(frozen=True, slots=True)
class ClaimResult:
    """The verdict on one claim, its evidence line, and the claim itself.

    When a product rule changed the engine's finding, ``engine_verdict`` and
    ``engine_evidence`` keep what the engine said; ``tests`` holds the test run a
    rule judged the claim by (runner, passed, failed, skipped, total, exit code).
    """

    verdict: Verdict
    evidence: str
    claim: Claim
    engine_verdict: Verdict | None = None
    engine_evidence: str | None = None
    tests: dict[str, object] | None = None


def check_claim(run_log: RunLog, claim: Claim) -> ClaimResult:
    """Judge one claim against the run log of its turn."""
    # Looked up at each call, so a rebound ``proofmark_core.verify.verify`` is honoured.
    verdict, evidence = engine.verify(claim, run_log)
    return ClaimResult(verdict, evidence, claim)


def check_turn(run_log: RunLog, claims: Iterable[Claim]) -> list[ClaimResult]:
    """Judge every claim of a turn against the turn's run log, in order.

    The verdicts are ``check_claim``'s, but the log is read once for all the claims.
    """
    claims = list(claims)
    verdicts = turn_engine.check_claims(claims, run_log)
    return [ClaimResult(verdict, evidence, claim)
            for (verdict, evidence), claim in zip(verdicts, claims)]
