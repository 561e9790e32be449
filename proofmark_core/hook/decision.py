"""What the agent hooks share: checking the turn that ends, what they decided, and how
they let the turn go when something of their own fails."""

from __future__ import annotations

import contextlib
import json
import os
import signal
import sys
import time
from collections import Counter
from collections.abc import Callable, Iterator
from dataclasses import dataclass, field
from pathlib import Path
from types import FrameType
from typing import IO, TYPE_CHECKING, Any, TextIO

from proofmark_core.claims.extract import extract_claims
from proofmark_core.logs import LogError
from proofmark_core.records.input import read_whole
from proofmark_core.report.redact import redact
from proofmark_core.report.terminal import one_line, shorten
from proofmark_core.records.values import as_text
from proofmark_core.rules import Session, SessionLog, apply
from proofmark_core.run import config
from proofmark_core.verdicts import VERDICTS, ClaimResult, check_turn

if TYPE_CHECKING:
    from proofmark_core.logs import TurnLog
    from proofmark_core.verify import RunLog

# Verdicts that an earlier turn of the session may change: the hook reads the earlier
# turns only when the turn alone leaves one of them.
SETTLED = frozenset({"verified", "unchecked"})

SHOWN_CLAIMS = 8
SHOWN_TEXT = 160


class HookError(Exception):
    """Something of the hook's own went wrong: the turn ends unchecked."""


@dataclass
class Decision:
    """What the hook decided for one turn, and why."""

    session: str | None
    line: int | None = None
    results: list[ClaimResult] = field(default_factory=list)
    failing: list[ClaimResult] = field(default_factory=list)
    blocked: bool = False
    round: int = 0
    note: str | None = None
    # Whether text that looks like a credential is masked in the reason.
    redact: bool = True

    def reason(self) -> str:
        """What the agent reads when it is sent back."""
        count = len(self.failing)
        lines = [f"proofmark checked the claims of your closing message against what this "
                 f"turn wrote, ran and saw; {count} claim{'s' * (count != 1)} "
                 f"{'does' if count == 1 else 'do'} not hold:"]
        for result in self.failing[:SHOWN_CLAIMS]:
            lines.append(f"- {result.verdict}: {self._shown(result.claim.get('text', ''))}"
                         f"\n  evidence: {self._shown(result.evidence)}")
        if count > SHOWN_CLAIMS:
            lines.append(f"- and {count - SHOWN_CLAIMS} more")
        lines.append("Fix the work so that the claim holds, or correct the claim in your "
                     "reply; say plainly what was not done.")
        return "\n".join(lines)

    def _shown(self, text: str) -> str:
        # Masked before it is shortened, so that no part of a credential is left.
        return shorten(one_line(redact(text) if self.redact else text), SHOWN_TEXT)

    def log_line(self) -> dict[str, object]:
        verdicts = Counter(result.verdict for result in self.results)
        return {"time": time.strftime("%Y-%m-%dT%H:%M:%S%z"), "session": self.session,
                "line": self.line, "claims": len(self.results),
                "verdicts": {verdict: verdicts[verdict] for verdict in VERDICTS},
                "blocked": self.blocked, "round": self.round}


def judge(decision: Decision, turn: TurnLog, closing: object, fail_on: frozenset[str],
          earlier: Callable[[], list[RunLog]] = list) -> None:
    """Check the claims of the turn, ending with the agent's own copy of its closing
    message, with the product rules; ``earlier`` gives the run logs of the session's
    earlier turns, read only when the turn alone leaves a claim unsettled."""
    decision.line = turn.line
    messages = _with_closing(turn.messages, closing)
    run_log = turn.run_log()
    engine = check_turn(run_log, extract_claims(messages))
    decision.results = apply(Session((run_log,)), engine)
    if any(result.verdict not in SETTLED for result in decision.results):
        decision.results = apply(_in_session(run_log, earlier), engine)
    decision.failing = [result for result in decision.results if result.verdict in fail_on]


def _in_session(run_log: RunLog, earlier: Callable[[], list[RunLog]]) -> Session:
    """The turn in its session, with the earlier turns that could be read."""
    session = SessionLog()
    try:
        for before in earlier():
            session.add(before)
    except (LogError, OSError):  # a log broken before the turn: judge it alone
        session = SessionLog()
    return session.session(run_log)


def payload_bytes(stream: IO[bytes]) -> bytes:
    """The payload as it comes, within the size limit."""
    try:
        return read_whole(stream)
    except OSError as exc:
        raise HookError(f"the hook payload: {exc.strerror or exc}") from None


def read_payload(data: bytes) -> dict[str, Any]:
    try:
        payload = json.loads(data)
    except (ValueError, RecursionError) as exc:
        raise HookError(f"the hook payload is not JSON ({exc})") from None
    if not isinstance(payload, dict):
        raise HookError("the hook payload is not a JSON object")
    return payload


def _with_closing(messages: list[str], closing: object) -> list[str]:
    """The turn's messages, ending with the agent's own copy of the closing message.

    The transcript is written asynchronously and may not hold it yet; when its last
    message is the end of it (the last block of a message of several), the copy replaces it.
    """
    if not isinstance(closing, str) or not closing.strip():
        return messages
    if messages and closing.rstrip().endswith(messages[-1].strip()):
        return [*messages[:-1], closing]
    return [*messages, closing]


def settle(args: Any, payload: dict[str, Any]) -> None:
    """Fill in the options left open (``--fail-on``, ``--max-rounds``) from the settings
    of the project the agent works in, found from the working directory it reports."""
    cwd = as_text(payload.get("cwd"))
    try:
        settings = config.load(Path(cwd) if cwd and Path(cwd).is_dir() else None)
    except config.ConfigError as exc:
        raise HookError(str(exc)) from None
    args.fail_on = settings.get("fail-on", args.fail_on)
    if "max_rounds" in args:
        args.max_rounds = settings.get("max-rounds", args.max_rounds)


def let_go(error: Exception, decision: Decision, log: str | None) -> None:
    """One line on standard error (and in the log) for a fault of the hook's own."""
    why = str(error) if isinstance(error, HookError) else f"{type(error).__name__}: {error}"
    say(sys.stderr, f"proofmark: {one_line(why)}; the turn ends unchecked")
    append_log(log, {**decision.log_line(), "error": why})


def append_log(path: str | None, line: dict[str, object]) -> None:
    if path is None:
        return
    try:
        # A lone surrogate (JSON allows one, UTF-8 does not) is written as its JSON
        # escape, which reads back as the same text.
        with open(path, "a", encoding="utf-8", errors="backslashreplace") as stream:
            stream.write(json.dumps(line, ensure_ascii=False) + "\n")
    except OSError as exc:
        say(sys.stderr, f"proofmark: {path}: cannot append to the log: {exc.strerror or exc}")


def say(stream: TextIO, text: str) -> None:
    """Write a line for the agent; when nobody can read it (a closed pipe, a full
    device), the hook ends quietly all the same."""
    try:
        stream.write(text + "\n")
        stream.flush()
    except (OSError, ValueError):
        # Point the stream at nothing, so that the interpreter's last flush stays quiet.
        with contextlib.suppress(OSError, ValueError):
            os.dup2(os.open(os.devnull, os.O_WRONLY), stream.fileno())


@contextlib.contextmanager
def deadline(seconds: float) -> Iterator[None]:
    """Give up after so long, before the agent's own timeout kills the hook."""
    if not hasattr(signal, "setitimer") or seconds <= 0:
        yield
        return

    def expire(signum: int, frame: FrameType | None) -> None:
        raise HookError(f"gave up after {seconds:g} seconds")

    previous = signal.signal(signal.SIGALRM, expire)
    signal.setitimer(signal.ITIMER_REAL, seconds)
    try:
        yield
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)
