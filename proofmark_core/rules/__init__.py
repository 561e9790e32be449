"""Product rules: what the engine's verdict on a claim means for the person reading it.

The engine judges a claim against its own turn, literal by literal. These rules look
at the claim's session and its wording as a reader of the log would: a recap of an
earlier turn, an honest report of a failure, a write that was refused, a command that
ran only with failures. A rule that changes a verdict says so in the evidence, and the
result keeps the engine's own verdict and evidence beside it.

The rules are tried in the order of :data:`RULES`; the first that decides a claim
settles it, and the later ones leave it alone.
"""

from __future__ import annotations

from collections.abc import Iterable
from typing import TYPE_CHECKING

from proofmark_core.api import check_turn
from proofmark_core.rules.command_identity import judge_command_runs
from proofmark_core.rules.context import Rule, Session, SessionLog
from proofmark_core.rules.refused_writes import judge_refused_write
from proofmark_core.rules.reported_failure import judge_reported_failure
from proofmark_core.rules.session_scope import judge_in_session

if TYPE_CHECKING:
    from proofmark_core.api import ClaimResult
    from proofmark_core.verify import Claim

__all__ = ["RULES", "Rule", "Session", "SessionLog", "apply", "check_session"]

RULES: tuple[Rule, ...] = (
    judge_reported_failure,  # an honest report of a failure is not an overclaim
    judge_refused_write,
    judge_command_runs,
    judge_in_session,  # last: only what no rule decided is looked for in earlier turns
)


def apply(session: Session, results: Iterable[ClaimResult]) -> list[ClaimResult]:
    """The results of the session's last turn, as the rules judge them."""
    return [_ruled(session, result) for result in results]


def check_session(session: Session, claims: Iterable[Claim]) -> list[ClaimResult]:
    """The claims of the session's last turn, judged by the engine and then the rules."""
    return apply(session, check_turn(session.run_log, claims))


def _ruled(session: Session, result: ClaimResult) -> ClaimResult:
    for rule in RULES:
        decided = rule(session, result)
        if decided is not None:
            return decided
    return result
