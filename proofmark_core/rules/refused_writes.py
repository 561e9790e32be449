"""A write the agent claims, but that was refused or failed, is contradicted.

Readers list in ``run_log["refused"]`` the writes that did not happen (an edit with no
file open, a linter that put the file back, a permission the user denied). A claim of a
file change naming such a file is contradicted, unless some other call of the session
wrote that file: a write tool, a shell redirection, a copy or move, code that writes.
"""

from __future__ import annotations

import re
from typing import TYPE_CHECKING

from proofmark_core.rules._change import changed, one_line, turn_prefix
from proofmark_core.rules._commands import exit_ok, parts
from proofmark_core.rules._paths import path_of, same_file
from proofmark_core.rules._targets import kind, shown, targets
from proofmark_core.rules.context import refused

if TYPE_CHECKING:
    from proofmark_core.verdicts import ClaimResult
    from proofmark_core.rules.context import Session
    from proofmark_core.verify import RunLog

# Commands that put a file in place without a redirection the readers see.
FILE_WRITERS = frozenset({"cp", "mv", "rsync", "install", "ln", "touch", "dd", "truncate",
                          "patch", "unzip", "tar", "curl", "wget", "copy", "move",
                          "copy-item", "move-item", "set-content", "out-file", "new-item"})
GIT_WRITERS = frozenset({"apply", "checkout", "restore", "mv", "stash", "reset", "am",
                         "cherry-pick", "merge", "rebase", "pull", "revert"})
WRITING_CODE_RE = re.compile(r"\bwrite|open\([^)]*['\"][wax]", re.I)


def judge_refused_write(session: Session, result: ClaimResult) -> ClaimResult | None:
    if kind(result.claim) != "file_changed":
        return None
    for target in targets(result.claim):
        refusal = refusal_of(session, target)
        if refusal is not None:
            return changed(result, "contradicted", refusal)
    return None


def refusal_of(session: Session, target: str) -> str | None:
    """The latest refusal of a write of the target's file, as evidence, when no call of
    the session wrote that file."""
    path = path_of(target)
    if path is None:
        return None
    history = session.earlier()
    latest = [(None, entry) for entry in refused(session.run_log)][::-1] + history.refused[::-1]
    for turn, entry in latest:
        if same_file(path, entry.get("path")):
            if _writes(session.run_log, path) or _writes(history.run_log(), path):
                return None
            return (f"{turn_prefix(turn)}the edit of `{shown(target)}` was refused: "
                    f"{one_line(entry.get('reason')) or 'no reason given'}")
    return None


def _writes(run_log: RunLog, path: str) -> bool:
    """Some call of the turn wrote the file."""
    written = run_log.get("written")
    if isinstance(written, list) and any(same_file(path, entry) for entry in written):
        return True
    commands = run_log.get("commands")
    if isinstance(commands, list) and any(_command_writes(record, path) for record in commands):
        return True
    events = run_log.get("events")
    return isinstance(events, list) and any(_code_writes(event, path) for event in events)


def _command_writes(record: object, path: str) -> bool:
    if not isinstance(record, dict) or not exit_ok(record.get("exit_code")):
        return False
    line = record.get("command")
    if not isinstance(line, str) or path.rsplit("/", 1)[-1] not in line.lower():
        return False
    return any(_writer(part) and any(same_file(path, word) for word in part[1:])
               for part in parts(line))


def _writer(part: tuple[str, ...]) -> bool:
    return (part[0] in FILE_WRITERS or (part[0] == "git" and len(part) > 1
                                        and part[1] in GIT_WRITERS)
            or (part[0] in ("sed", "perl") and any(word.startswith("-i") for word in part)))


def _code_writes(event: object, path: str) -> bool:
    if not isinstance(event, dict) or event.get("tool") != "execute_code":
        return False
    code = event.get("command")
    return (isinstance(code, str) and path.rsplit("/", 1)[-1] in code.lower()
            and WRITING_CODE_RE.search(code) is not None)
