"""Types of the turn engine ``proofmark_core._turn``."""

from collections.abc import Iterable

from proofmark_core.verify import Claim, RunLog, Verdict

def check_claims(claims: Iterable[Claim], run_log: RunLog) -> list[tuple[Verdict, str]]: ...

def plainly_sound(record: object) -> bool: ...
