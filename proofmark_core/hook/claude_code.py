"""``proofmark hook claude-code``: Claude Code's Stop hook, which reads the last turn
from the end of the session transcript that the payload names."""

from __future__ import annotations

import argparse
from typing import TYPE_CHECKING, Any

from proofmark_core.hook.decision import HookError
from proofmark_core.hook.stop import read_turn, run_stop_hook

if TYPE_CHECKING:
    from proofmark_core.hook.stop import EndingTurn


def run(args: argparse.Namespace) -> int:
    return run_stop_hook(args, _transcript_turn)


def _transcript_turn(payload: dict[str, Any]) -> EndingTurn | None:
    path = payload.get("transcript_path")
    if not isinstance(path, str) or not path:
        raise HookError("the hook payload has no transcript_path")
    return read_turn(path, "claude-code")
