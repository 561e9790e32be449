"""Codex's hooks. ``proofmark hook codex`` is its Stop hook: the turn is read from the
rollout that the payload names or, when it names none, from the session's rollout under
``$CODEX_HOME/sessions``. ``proofmark hook codex-notify`` is its notify program, told only
that a turn ended: it cannot send the agent back, so the failing claims of the turn go to
standard error and to the log.
"""

from __future__ import annotations

import argparse
import glob
import os
import sys
from pathlib import Path
from typing import TYPE_CHECKING, Any

from proofmark_core.hook.decision import (
    Decision,
    HookError,
    append_log,
    deadline,
    judge,
    let_go,
    read_payload,
    say,
    settle,
)
from proofmark_core.hook.parser import DEFAULT_DEADLINE
from proofmark_core.hook.stop import read_turn, run_stop_hook
from proofmark_core.records.values import as_text

if TYPE_CHECKING:
    from proofmark_core.hook.stop import EndingTurn


def run(args: argparse.Namespace) -> int:
    return run_stop_hook(args, _stop_turn)


def run_notify(args: argparse.Namespace) -> int:
    decision = Decision(session=None, redact=args.redact)
    try:
        with deadline(DEFAULT_DEADLINE):
            payload = read_payload(os.fsencode(args.payload))
            if payload.get("type") != "agent-turn-complete":
                return 0
            decision.session = as_text(payload.get("thread-id"))
            settle(args, payload)
            if not decision.session:
                raise HookError("the notify payload has no thread-id")
            rollout = find_rollout(decision.session)
            ending = read_turn(rollout, "codex", as_text(payload.get("turn-id")))
            if ending is None:
                raise HookError(f"{rollout}: no turn")
            judge(decision, ending.turn, payload.get("last-assistant-message"), args.fail_on,
                  ending.earlier)
    except Exception as exc:  # the notify program must never fail the agent's turn
        let_go(exc, decision, args.log)
        return 0
    if decision.failing:
        say(sys.stderr, decision.reason())
    append_log(args.log, decision.log_line())
    return 0


def _stop_turn(payload: dict[str, Any]) -> EndingTurn | None:
    path = payload.get("transcript_path")
    if path is not None and not isinstance(path, str):
        raise HookError("the hook payload's transcript_path is not a string")
    if not path:
        session = as_text(payload.get("session_id"))
        if not session:
            raise HookError("the hook payload has neither a transcript_path nor a session_id")
        path = find_rollout(session)
    return read_turn(path, "codex", as_text(payload.get("turn_id")))


def find_rollout(session: str) -> Path:
    """The session's rollout under ``$CODEX_HOME/sessions`` (the latest, should there be
    several)."""
    sessions = Path(os.environ.get("CODEX_HOME") or Path.home() / ".codex") / "sessions"
    if any(char in session for char in "/\\\0"):
        raise HookError(f"the session id {session!r} cannot be part of a file name")
    rollouts = sorted(sessions.glob(f"**/rollout-*{glob.escape(session)}.jsonl"))
    if not rollouts:
        raise HookError(f"no rollout of session {session} under {sessions}")
    return rollouts[-1]
