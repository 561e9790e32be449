"""A closing message may recap what earlier turns of the session did.

A claim the turn's own log does not support is checked by the engine against each
earlier turn, the latest first; the first that supports it makes it verified, with
that turn's evidence. What no turn did stays as the engine found it.
"""

from __future__ import annotations

from typing import TYPE_CHECKING

from proofmark_core.api import check_claim
from proofmark_core.rules._change import changed, turn_prefix

if TYPE_CHECKING:
    from proofmark_core.api import ClaimResult
    from proofmark_core.rules.context import Session

UNSUPPORTED = ("unverified", "pre-existing")


def judge_in_session(session: Session, result: ClaimResult) -> ClaimResult | None:
    if result.verdict not in UNSUPPORTED:
        return None
    for index in range(len(session.turns) - 2, -1, -1):
        try:
            found = check_claim(session.turns[index], result.claim)
        except Exception:  # a turn the engine cannot read supports nothing
            continue
        if found.verdict == "verified":
            return changed(result, "verified",
                           turn_prefix(session.number(index)) + found.evidence)
    return None
