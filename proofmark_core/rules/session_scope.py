"""A closing message may recap what earlier turns of the session did.

The claims the turn's own log does not support, and that no other rule decided, are
checked by the engine against the earlier turns: first all of them at once, then,
for the claims that finds support for, turn by turn from the latest, so that the
evidence names the turn. What no turn did stays as the engine found it.
"""

from __future__ import annotations

from typing import TYPE_CHECKING

from proofmark_core.rules._change import changed, turn_prefix
from proofmark_core.verdicts import check_turn

if TYPE_CHECKING:
    from proofmark_core.rules.context import Session
    from proofmark_core.verdicts import ClaimResult

UNSUPPORTED = ("unverified", "pre-existing")


def recaps(session: Session, results: list[ClaimResult],
           decided: list[bool]) -> list[ClaimResult]:
    """The results, with those that no rule decided and the turn does not support
    verified when an earlier turn supports them."""
    pending = [index for index, result in enumerate(results)
               if not decided[index] and result.verdict in UNSUPPORTED]
    if not pending or len(session.turns) < 2:
        return results
    pending = _supported(session.earlier().run_log(), results, pending)
    results = list(results)
    for turn in range(len(session.turns) - 2, -1, -1):
        if not pending:
            break
        found = _judged(session.turns[turn], [results[index] for index in pending])
        for index, result in zip(list(pending), found):
            if result.verdict == "verified":
                results[index] = changed(results[index], "verified",
                                         turn_prefix(session.number(turn)) + result.evidence)
                pending.remove(index)
    return results


def _supported(run_log: object, results: list[ClaimResult], pending: list[int]) -> list[int]:
    """The pending claims that the earlier turns taken together support."""
    found = _judged(run_log, [results[index] for index in pending])
    return [index for index, result in zip(pending, found) if result.verdict == "verified"]


def _judged(run_log: object, results: list[ClaimResult]) -> list[ClaimResult]:
    try:
        return check_turn(run_log, [result.claim for result in results])  # type: ignore[arg-type]
    except Exception:  # an earlier turn the engine cannot read supports nothing
        return results
