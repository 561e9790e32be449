"""The Stop hook that Claude Code and Codex share: the payload on standard input, the
turn that ends checked, and ``{"decision": "block", "reason": ...}`` on standard output
when a claim gets a ``--fail-on`` verdict, which sends the agent back to work with the
reason. The hook never blocks because of its own failure: any error lets the turn end,
with one line on standard error.
"""

from __future__ import annotations

import argparse
import contextlib
import json
import os
import re
import sys
from collections.abc import Callable
from dataclasses import dataclass
from pathlib import Path
from typing import TYPE_CHECKING, Any

from proofmark_core.hook.decision import (
    Decision,
    HookError,
    append_log,
    deadline,
    judge,
    let_go,
    payload_bytes,
    read_payload,
    say,
    settle,
)
from proofmark_core.logs import LogError, LogFile, agent_turns, last_turn
from proofmark_core.records.values import as_text

if TYPE_CHECKING:
    from proofmark_core.logs import TurnLog
    from proofmark_core.verify import RunLog


@dataclass(frozen=True, slots=True)
class EndingTurn:
    """The turn that a payload ends, and the agent's log it was read from."""

    turn: TurnLog
    path: str | Path
    agent: str

    def earlier(self) -> list[RunLog]:
        """The run logs of the log's turns before this one: those that start before it,
        when the log numbers its lines, else all but the last."""
        turns = list(agent_turns(LogFile(self.path), self.agent))
        start = self.turn.line
        if start is None or any(before.line is None for before in turns):
            return [before.run_log() for before in turns[:-1]]
        return [before.run_log() for before in turns if (before.line or 0) < start]


# The turn that the payload ends, read from the agent's log; None when there is none.
TurnOf = Callable[[dict[str, Any]], "EndingTurn | None"]


def run_stop_hook(args: argparse.Namespace, turn_of: TurnOf) -> int:
    decision = Decision(session=None, redact=args.redact)
    try:
        with deadline(args.deadline):
            payload = read_payload(payload_bytes(sys.stdin.buffer))
            decision.session = as_text(payload.get("session_id"))
            settle(args, payload)
            decide(payload, decision, turn_of, args, Rounds.default())
    except Exception as exc:  # never block, nor fail the turn, on a fault of the hook's own
        let_go(exc, decision, args.log)
        return 0
    if decision.blocked:
        say(sys.stdout, json.dumps({"decision": "block", "reason": decision.reason()}))
    elif decision.note:
        say(sys.stderr, f"proofmark: {decision.note}")
    append_log(args.log, decision.log_line())
    return 0


def decide(payload: dict[str, Any], decision: Decision, turn_of: TurnOf,
           args: argparse.Namespace, rounds: Rounds) -> None:
    """Check the turn the payload ends, and fill in whether to send the agent back."""
    ending = turn_of(payload)
    if ending is None:
        return
    judge(decision, ending.turn, payload.get("last_assistant_message"), args.fail_on,
          ending.earlier)
    session = decision.session or "unknown"
    # A turn's rounds go on only while the agent is continuing because of a Stop hook.
    done = rounds.get(session) if payload.get("stop_hook_active") is True else 0
    if not decision.failing:
        rounds.clear(session)
    elif done >= args.max_rounds:
        rounds.clear(session)
        count = len(decision.failing)
        decision.note = (f"{count} claim{'s' * (count != 1)} still "
                         f"fail{'s' * (count == 1)} after {done} "
                         f"round{'s' * (done != 1)}; the turn ends")
    else:
        decision.blocked = True
        decision.round = done + 1
        rounds.set(session, decision.round)


def read_turn(path: str | Path, agent: str, turn_id: str | None = None) -> EndingTurn | None:
    """The last turn of the agent's log, or the turn ``turn_id`` where the log names turns."""
    try:
        turn = last_turn(path, agent, turn_id)
        return None if turn is None else EndingTurn(turn, path, agent)
    except LogError as exc:
        raise HookError(str(exc)) from None
    except OSError as exc:
        raise HookError(f"{path}: {exc.strerror or exc}") from None


class Rounds:
    """How many times the hook has sent each session's current turn back."""

    def __init__(self, folder: Path) -> None:
        self.folder = folder

    @classmethod
    def default(cls) -> Rounds:
        state = os.environ.get("XDG_STATE_HOME") or Path.home() / ".local" / "state"
        return cls(Path(state) / "proofmark" / "hook-rounds")

    def get(self, session: str) -> int:
        try:
            return int(self._file(session).read_text())
        except (OSError, ValueError):
            return 0

    def set(self, session: str, rounds: int) -> None:
        try:
            self.folder.mkdir(parents=True, exist_ok=True)
            self._file(session).write_text(str(rounds))
        except OSError as exc:
            # Without the count, the agent could be sent back for ever: do not block.
            raise HookError(f"{self.folder}: cannot keep the count of rounds: "
                            f"{exc.strerror or exc}") from None

    def clear(self, session: str) -> None:
        with contextlib.suppress(OSError):
            self._file(session).unlink()

    def _file(self, session: str) -> Path:
        return self.folder / re.sub(r"[^\w.-]", "_", session)
