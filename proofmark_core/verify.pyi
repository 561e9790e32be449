"""Types of the verdict engine ``proofmark_core.verify`` and of the records it reads.

The TypedDicts and ``Verdict`` exist for type checkers only: import them under
``typing.TYPE_CHECKING``. Every record is a plain ``dict`` at run time.
"""

import re
from typing import Literal, NotRequired, TypedDict

Verdict = Literal["verified", "unverified", "pre-existing", "contradicted", "unchecked"]

class Claim(TypedDict, total=False):
    """One end-of-turn claim; "kind" defaults to "other", "text" to "", "targets" to []."""

    kind: str
    text: str
    targets: list[str]

class LogEvent(TypedDict):
    """One tool call of the turn."""

    wrote: bool
    payload: NotRequired[str | None]  # read when "wrote" is true
    tool: str
    command: NotRequired[str | None]  # read for "terminal" and "execute_code" calls
    output: str | None

class CommandRecord(TypedDict):
    """One command the turn ran; an exit code of None, 0 or "0" is a success."""

    command: str | None
    exit_code: int | str | None
    output: NotRequired[str]  # read for grep, rg and find commands

class ExternalAction(TypedDict):
    """One external action of the turn; "args" is anything ``json.dumps`` takes."""

    args: object

class RunLog(TypedDict):
    """What the turn wrote, ran and saw."""

    events: list[LogEvent]
    external: list[ExternalAction]
    written: list[str]
    commands: list[CommandRecord]

READ_TOOLS: set[str]
WORK_VERB_RE: re.Pattern[str]
NUM_RE: re.Pattern[str]
EMPTY_RE: re.Pattern[str]
ADDITIVE_RE: re.Pattern[str]
READ_CODE_RE: re.Pattern[str]
SHELL_WRITE_RE: re.Pattern[str]
NEGATED_RE: re.Pattern[str]
PREDICATE_RE: re.Pattern[str]

def _additive(text: str) -> bool: ...
def _clean(t: str) -> str: ...
def _atoms(t: str) -> list[str]: ...
def _kind_of(lit: str) -> Literal["path", "key", "number", "phrase"]: ...
def _norm(s: str) -> str: ...
def _variants(lit: str) -> list[str]: ...
def _in(lit: str, texts: list[str]) -> bool: ...
def _tokens(lit: str) -> list[str]: ...
def _words_in(lit: str, texts: list[str]) -> bool: ...
def verify(claim: Claim, L: RunLog) -> tuple[Verdict, str]: ...
