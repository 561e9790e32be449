"""A claim that honestly reports a failure is true when the failure happened.

"Ran `gradlew assembleDebug`: failed because JAVA_HOME is unset" is verified by the
failing run of that command, or by a refused edit of the file it names, rather than
contradicted for the failure it reports.
"""

from __future__ import annotations

from typing import TYPE_CHECKING

from proofmark_core.rules._change import changed, turn_prefix
from proofmark_core.rules._commands import command_of
from proofmark_core.rules._targets import shown, targets, text
from proofmark_core.rules._wording import reports_failure
from proofmark_core.rules.refused_writes import refusal_of

if TYPE_CHECKING:
    from proofmark_core.verdicts import ClaimResult
    from proofmark_core.rules.context import Session

AS_SAID = ", as the claim says"


def judge_reported_failure(session: Session, result: ClaimResult) -> ClaimResult | None:
    """Verified, when the claim reports a failure that the log shows; a claim the
    engine found to be no claim of work (``unchecked``) is left alone."""
    if result.verdict == "unchecked" or not reports_failure(text(result.claim)):
        return None
    failure = _failure(session, result)
    return None if failure is None else changed(result, "verified", failure + AS_SAID)


def _failure(session: Session, result: ClaimResult) -> str | None:
    """The evidence of the failure the claim reports, if the log holds one."""
    for target in targets(result.claim):
        failed = [run for run in session.runs(command_of(target)) if not run.ok]
        if failed:
            return (f"{turn_prefix(failed[0].turn)}`{shown(target)}` ran and FAILED "
                    f"(exit {failed[0].exit_code})")
        refusal = refusal_of(session, target)
        if refusal is not None:
            return refusal
    # The engine found the claim's command only in failed runs: just what it reports.
    return result.evidence if result.verdict == "contradicted" else None
