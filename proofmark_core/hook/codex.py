"""``proofmark hook codex-notify``: Codex's notify program, told only that a turn ended.

It cannot send the agent back: the failing claims of the turn go to standard error and
to the log.
"""

from __future__ import annotations

import argparse
import os
import sys
from pathlib import Path
from typing import TYPE_CHECKING

from proofmark_core.hook.decision import (
    Decision,
    HookError,
    append_log,
    deadline,
    judge,
    let_go,
    read_payload,
)
from proofmark_core.hook.parser import DEFAULT_DEADLINE
from proofmark_core.logs import LogError, last_turn
from proofmark_core.records.values import as_text

if TYPE_CHECKING:
    from proofmark_core.logs import TurnLog


def run(args: argparse.Namespace) -> int:
    decision = Decision(session=None)
    try:
        with deadline(DEFAULT_DEADLINE):
            payload = read_payload(args.payload.encode())
            if payload.get("type") != "agent-turn-complete":
                return 0
            decision.session = as_text(payload.get("thread-id"))
            turn = _codex_turn(decision.session)
            judge(decision, turn, payload.get("last-assistant-message"), args.fail_on)
    except Exception as exc:  # the notify program must never fail the agent's turn
        let_go(exc, decision, args.log)
        return 0
    if decision.failing:
        print(decision.reason(), file=sys.stderr)
    append_log(args.log, decision.log_line())
    return 0


def _codex_turn(thread: str | None) -> TurnLog:
    if not thread:
        raise HookError("the notify payload has no thread-id")
    home = Path(os.environ.get("CODEX_HOME") or Path.home() / ".codex")
    rollouts = sorted((home / "sessions").glob(f"**/rollout-*{thread}.jsonl"))
    if not rollouts:
        raise HookError(f"no rollout of thread {thread} under {home / 'sessions'}")
    try:
        turn = last_turn(rollouts[-1], "codex")
    except LogError as exc:
        raise HookError(str(exc)) from None
    if turn is None:
        raise HookError(f"{rollouts[-1]}: no turn")
    return turn
