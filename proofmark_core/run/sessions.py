"""The session each turn of a run belongs to, as the product rules see it.

The turns of one session come one after another: in an agent log, and in a file of
turn records that ``proofmark import`` wrote (each naming its agent, file, session and
turn). A turn whose record names no agent is a session of its own.
"""

from __future__ import annotations

from dataclasses import replace
from typing import Any, TypeGuard

from proofmark_core.records.input import decoded
from proofmark_core.rules import SessionLog
from proofmark_core.run.units import Unit


class Sessions:
    """Gives each unit read in order the Session of its turn."""

    def __init__(self) -> None:
        self._key: tuple[object, object] | None = None
        self._log = SessionLog()

    def of(self, unit: Unit) -> Unit:
        """The unit, with its session when its record names its agent."""
        item = decoded(unit.item)
        record = item.value
        if item.error is not None or not names_its_session(record):
            return unit
        source, run_log = record["source"], record["run_log"]
        key = (source.get("file"), source.get("session"))
        if key != self._key:
            turn = source.get("turn")
            self._key, self._log = key, SessionLog(turn if isinstance(turn, int) else 0)
        session = self._log.session(run_log)
        self._log.add(run_log)
        return replace(unit, item=item, session=session)


def names_its_session(record: object) -> TypeGuard[dict[str, Any]]:
    """A turn record as an agent log or ``proofmark import`` gives it: with its run log
    and a source that names the agent."""
    if not isinstance(record, dict) or not isinstance(record.get("run_log"), dict):
        return False
    source = record.get("source")
    return isinstance(source, dict) and isinstance(source.get("agent"), str)
