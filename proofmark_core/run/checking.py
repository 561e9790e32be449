"""Checking one turn record: its shape, then its claims, with what comes of each in order.

The engine judges the claims against the turn; then, unless the run is ``strict``, the
product rules judge its results with the turn's session (the turn alone, when it came
without one). It runs in the worker processes of a run, so what it takes and gives
back is plain data.
"""

from __future__ import annotations

from dataclasses import replace
from typing import TYPE_CHECKING, Any, cast

from proofmark_core.records.input import decoded
from proofmark_core.records.shape import ShapeError, as_claim, split_record
from proofmark_core.records.values import as_text
from proofmark_core.rules import Session, apply
from proofmark_core.run.units import Event, Outcome, Unit, Where
from proofmark_core.verdicts import ClaimResult, check_claim, check_turn

if TYPE_CHECKING:
    from proofmark_core.verify import RunLog


def check_unit(unit: Unit, excerpts: bool = False, strict: bool = False) -> Outcome:
    """The unit checked; with ``excerpts``, each result has the excerpt of the log
    where its evidence points; with ``strict``, the results are the engine's."""
    # The excerpts read the run log as it was written; checking reads only some of it.
    item = decoded(unit.item, lean=not excerpts)
    where = record_place(unit.where, item.value)
    if item.error is not None:
        return Outcome(where, unit.skipped, [(where, item.error, None)])
    events = check_record(where, item.value)
    if not strict:
        events = ruled(events, unit.session or _alone(item.value, where))
    # Only a record of sound shape has results, and a run log to take excerpts from.
    if excerpts and any(isinstance(found, ClaimResult) for _, found, _ in events):
        from proofmark_core.run.evidence import matches
        from proofmark_core.run.excerpts import excerpt

        run_log = cast(dict[str, Any], item.value)["run_log"]
        events = [(place, found, excerpt(run_log, found.claim, matches(found.evidence))
                   if isinstance(found, ClaimResult) else None) for place, found, _ in events]
    return Outcome(where, unit.skipped, events)


def record_place(where: Where, record: object) -> Where:
    """A record written by ``proofmark import`` names its agent, session and turn."""
    source = record.get("source") if isinstance(record, dict) else None
    if where.agent is not None or not isinstance(source, dict):
        return where
    return replace(where, agent=as_text(source.get("agent")), session=as_text(source.get("session")),
                   turn=source["turn"] if isinstance(source.get("turn"), int) else None)


def check_record(where: Where, record: object) -> list[Event]:
    try:
        run_log, claims = split_record(record)
    except ShapeError as exc:
        return [(where, str(exc), None)]
    events: list[Event] = []
    sound = []
    for index, value in enumerate(claims):
        place = where.of_claim(index)
        try:
            sound.append((place, as_claim(value, f"claims[{index}]")))
        except ShapeError as exc:
            events.append((place, str(exc), None))
    try:
        results = check_turn(run_log, [claim for _, claim in sound])
    except Exception:  # some claim the engine cannot judge: find it, keep the others
        events.extend((place, _one(place, run_log, claim), None) for place, claim in sound)
    else:
        events.extend((place, result, None) for (place, _), result in zip(sound, results))
    events.sort(key=lambda event: event[0].claim or 0)
    return events


def ruled(events: list[Event], session: Session | None) -> list[Event]:
    """The events, their results as the product rules judge them in the session."""
    if session is None:
        return events
    judged = iter(apply(session, [found for _, found, _ in events
                                  if isinstance(found, ClaimResult)]))
    return [(place, next(judged) if isinstance(found, ClaimResult) else found, excerpt)
            for place, found, excerpt in events]


def _alone(record: object, where: Where) -> Session | None:
    """The session of a turn that came without one: the turn alone."""
    run_log = record.get("run_log") if isinstance(record, dict) else None
    if not isinstance(run_log, dict):
        return None
    return Session((cast("RunLog", run_log),), where.turn or 0)


def _one(where: Where, run_log: object, claim: object) -> ClaimResult | str:
    try:
        return check_claim(run_log, claim)  # type: ignore[arg-type]
    except Exception as exc:
        return f"claims[{where.claim}]: the engine failed: {type(exc).__name__}: {exc}"
