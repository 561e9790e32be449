"""Shape checks for decoded turn records, naming the place where a record is wrong.

They ask for what the engine reads, so that a bad record is reported before the
engine meets it, with the path to the offending value.
"""

from __future__ import annotations

from collections.abc import Callable
from typing import TYPE_CHECKING, cast

from proofmark_core._turn import plainly_sound

if TYPE_CHECKING:
    from proofmark_core.verify import Claim, RunLog

ANY = frozenset({"object", "array", "string", "number", "boolean", "null"})
OBJECT = frozenset({"object"})
ARRAY = frozenset({"array"})
STRING = frozenset({"string"})
STRING_OR_NULL = frozenset({"string", "null"})
EXIT_CODE = frozenset({"number", "string", "null"})
JSON_TYPES = ("object", "array", "number", "string", "boolean", "null")
# Tool calls whose "command" the engine inspects.
COMMAND_TOOLS = ("terminal", "execute_code")
RUN_LOG_KEYS = ("events", "external", "written", "commands")


class ShapeError(ValueError):
    """A record, or a part of it, is not what the engine reads."""


def split_record(record: object) -> tuple[RunLog, list[object]]:
    """The record's run log and its claims, once the record and its run log are sound."""
    if plainly_sound(record):  # the common case, told natively; else look closer
        fields = cast(dict[str, object], record)
        return cast("RunLog", fields["run_log"]), cast(list[object], fields["claims"])
    fields = _object(record, "")
    run_log = cast(dict[str, object], _field(fields, "run_log", OBJECT, ""))
    claims = cast(list[object], _field(fields, "claims", ARRAY, ""))
    for key in RUN_LOG_KEYS:
        _field(run_log, key, ARRAY, "run_log")
    _each(run_log["events"], "run_log.events", _check_event)
    _each(run_log["external"], "run_log.external", _check_external)
    _each(run_log["written"], "run_log.written", lambda path, where: _expect(path, STRING, where))
    _each(run_log["commands"], "run_log.commands", _check_command)
    return cast("RunLog", run_log), claims


def as_claim(claim: object, where: str) -> Claim:
    if (type(claim) is dict and type(claim.get("text", "")) is str
            and type(claim.get("targets", [])) is list):
        return cast("Claim", claim)  # the common case, told at once
    fields = _object(claim, where)
    _optional(fields, "text", STRING, where)
    _optional(fields, "targets", ARRAY, where)
    return cast("Claim", fields)


def _check_event(event: object, where: str) -> None:
    fields = _object(event, where)
    if _field(fields, "wrote", ANY, where):
        _field(fields, "payload", STRING_OR_NULL, where)
    if _field(fields, "tool", STRING, where) in COMMAND_TOOLS:
        _field(fields, "command", STRING, where)
    _field(fields, "output", STRING_OR_NULL, where)


def _check_external(action: object, where: str) -> None:
    _field(_object(action, where), "args", ANY, where)


def _check_command(command: object, where: str) -> None:
    fields = _object(command, where)
    _field(fields, "command", STRING_OR_NULL, where)
    _field(fields, "exit_code", EXIT_CODE, where)
    _optional(fields, "output", STRING, where)


def _each(items: object, where: str, check: Callable[[object, str], object]) -> None:
    for index, item in enumerate(cast(list[object], items)):
        check(item, f"{where}[{index}]")


def _object(value: object, where: str) -> dict[str, object]:
    _expect(value, OBJECT, where)
    return cast(dict[str, object], value)


def _field(fields: dict[str, object], key: str, allowed: frozenset[str], where: str) -> object:
    if key not in fields:
        raise ShapeError(f'{_prefix(where)}missing "{key}"')
    return _expect(fields[key], allowed, _join(where, key))


def _optional(fields: dict[str, object], key: str, allowed: frozenset[str], where: str) -> None:
    if key in fields:
        _expect(fields[key], allowed, _join(where, key))


def _expect(value: object, allowed: frozenset[str], where: str) -> object:
    found = json_type(value)
    if found not in allowed:
        raise ShapeError(f"{_prefix(where)}expected {_describe(allowed)}, got {found}")
    return value


def json_type(value: object) -> str:
    if value is None:
        return "null"
    if isinstance(value, bool):
        return "boolean"
    if isinstance(value, int | float):
        return "number"
    if isinstance(value, str):
        return "string"
    return "array" if isinstance(value, list) else "object"


def _describe(allowed: frozenset[str]) -> str:
    names = [("an " if name[0] in "aeiou" else "a ") + name if name != "null" else name
             for name in JSON_TYPES if name in allowed]
    return names[0] if len(names) == 1 else ", ".join(names[:-1]) + " or " + names[-1]


def _join(where: str, key: str) -> str:
    return f"{where}.{key}" if where else key


def _prefix(where: str) -> str:
    return f"{where}: " if where else ""
