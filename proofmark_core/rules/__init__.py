"""Product rules: what the engine's verdict on a claim means for the person reading it.

The engine judges a claim against its own turn, literal by literal. These rules look
at the claim's session and its wording as a reader of the log would: a recap of an
earlier turn, a claim of test results judged by the runner's own summary, an honest
report of a failure, a write that was refused, a command that ran only with failures. A rule that changes a verdict says so in the evidence, and the
result keeps the engine's own verdict and evidence beside it.

The rules are tried in the order of :data:`RULES`; the first that decides a claim
settles it, and the later ones leave it alone. What none decided and the turn does not
support is then looked for in the session's earlier turns.
"""

from __future__ import annotations

from collections.abc import Iterable
from typing import TYPE_CHECKING

from proofmark_core.verdicts import check_turn
from proofmark_core.rules.command_identity import judge_command_runs
from proofmark_core.rules.context import History, Rule, Session, SessionLog
from proofmark_core.rules.refused_writes import judge_refused_write
from proofmark_core.rules.reported_failure import judge_reported_failure
from proofmark_core.rules.session_scope import recaps
from proofmark_core.rules.test_results import judge_test_claim

if TYPE_CHECKING:
    from proofmark_core.verdicts import ClaimResult
    from proofmark_core.verify import Claim

__all__ = ["RULES", "History", "Rule", "Session", "SessionLog", "apply", "check_session"]

RULES: tuple[Rule, ...] = (
    judge_test_claim,  # a claim of a test, build or lint result, by the runner's summary
    judge_reported_failure,  # an honest report of a failure is not an overclaim
    judge_refused_write,
    judge_command_runs,
)


def apply(session: Session, results: Iterable[ClaimResult]) -> list[ClaimResult]:
    """The results of the session's last turn, as the rules judge them."""
    ruled = [_ruled(session, result) for result in results]
    return recaps(session, [result for result, _ in ruled], [decided for _, decided in ruled])


def check_session(session: Session, claims: Iterable[Claim]) -> list[ClaimResult]:
    """The claims of the session's last turn, judged by the engine and then the rules."""
    return apply(session, check_turn(session.run_log, claims))


def _ruled(session: Session, result: ClaimResult) -> tuple[ClaimResult, bool]:
    """The result as the first rule that decides it has it, and whether one did."""
    for rule in RULES:
        decided = rule(session, result)
        if decided is not None:
            return decided, True
    return result, False
