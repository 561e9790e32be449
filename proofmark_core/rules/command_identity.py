"""A command claim is judged by the runs of that command, not by its pieces.

``pytest tests/test_x.py`` is not run by ``head tests/test_x.py``, though the engine
finds the test file's name in that successful command. When the command the claim
names ran and every run failed, a claim that it ran, or that it passed, is
contradicted; when it ran and succeeded, the claim is verified; when it never ran,
the engine's verdict stands.
"""

from __future__ import annotations

from typing import TYPE_CHECKING

from proofmark_core.rules._change import changed, turn_prefix
from proofmark_core.rules._commands import Run, command_of
from proofmark_core.rules._targets import kind, shown, targets, text
from proofmark_core.rules._wording import claims_success

if TYPE_CHECKING:
    from proofmark_core.verdicts import ClaimResult
    from proofmark_core.rules.context import Session

SUPPORTED = ("verified", "contradicted")
# Kinds of claim that say a command ran, or report work without naming its kind.
RUN_KINDS = ("command_ran", "other")


def judge_command_runs(session: Session, result: ClaimResult) -> ClaimResult | None:
    if result.verdict == "unchecked":  # no claim of work, or nothing literal in it
        return None
    ran = [(target, found) for target in _commands(result)
           if (found := session.runs(command_of(target)))]
    for target, found in ran:
        if not any(run.ok for run in found):
            return changed(result, "contradicted", _failed(target, found))
    if ran and result.verdict not in SUPPORTED:
        target, found = ran[0]
        succeeded = next(run for run in found if run.ok)
        return changed(result, "verified",
                       f"{turn_prefix(succeeded.turn)}`{shown(target)}` ran (exit ok)")
    return None


def _commands(result: ClaimResult) -> list[str]:
    """The targets judged as commands: all of them for a claim that something ran or
    passed; for a file change, the command lines it says it was made with ("copied the
    files with `cp -r a/* b/`"), unless the engine found the change itself."""
    claim = result.claim
    claim_kind = kind(claim)
    if claim_kind in RUN_KINDS or claims_success(text(claim)):
        return targets(claim)
    if claim_kind != "file_changed" or result.verdict == "verified":
        return []
    return [target for target in targets(claim) if _command_line(target)]


def _command_line(target: str) -> bool:
    """The target is a program with arguments, not a lone name."""
    command = command_of(target)
    return bool(command) and len(command[0]) > 1


def _failed(target: str, found: list[Run]) -> str:
    codes = ", ".join(dict.fromkeys(str(run.exit_code) for run in found))
    times = "once" if len(found) == 1 else f"{len(found)} times"
    return (f"{turn_prefix(found[0].turn)}`{shown(target)}` ran {times}, "
            f"every run FAILED (exit {codes})")
