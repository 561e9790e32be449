"""What a product rule sees besides the engine's result: the session up to the turn."""

from __future__ import annotations

from dataclasses import dataclass
from typing import TYPE_CHECKING

if TYPE_CHECKING:
    from proofmark_core.verify import RunLog


@dataclass(frozen=True, slots=True)
class Session:
    """The run logs of a session's turns, oldest first, up to and including the turn
    being checked (the last); ``first`` is the turn number of ``turns[0]``."""

    turns: tuple[RunLog, ...]
    first: int = 0

    @property
    def run_log(self) -> RunLog:
        return self.turns[-1]

    def number(self, index: int) -> int:
        return self.first + index
