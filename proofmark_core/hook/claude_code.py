"""``proofmark hook``: check an agent's claims as its turn ends, and send it back when one fails.

Claude Code runs ``proofmark hook claude-code`` as a Stop hook: the payload comes on
standard input, the last turn is read from the end of the transcript, and a claim with
a ``--fail-on`` verdict prints ``{"decision": "block", "reason": ...}``, which sends
the agent back to work with the reason. The hook never blocks because of its own
failure: any error lets the turn end, with one line on standard error. Codex can only
be told that a turn ended (its ``notify`` program): ``proofmark hook codex-notify``
reports there, and cannot block.
"""

from __future__ import annotations

import argparse
import contextlib
import importlib
import json
import os
import re
import shutil
import signal
import sys
import time
from collections import Counter
from collections.abc import Iterator
from dataclasses import dataclass, field
from pathlib import Path
from types import FrameType
from typing import Any

from proofmark_core.claims.extract import extract_claims
from proofmark_core.hook.parser import COMMAND, DEFAULT_DEADLINE
from proofmark_core.logs import LogError, LogFile, TurnLog
from proofmark_core.logs.claude_code import last_turn, recognise
from proofmark_core.verdicts import VERDICTS, ClaimResult, check_turn

OUR_COMMAND_RE = re.compile(r"\bproofmark(?:_core)?\b.*\bhook\s+claude-code\b")
# Claude Code's own limit, in seconds; the hook gives up well before it.
SETTINGS_TIMEOUT = 30
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

    def reason(self) -> str:
        """What the agent reads when it is sent back."""
        count = len(self.failing)
        lines = [f"proofmark checked the claims of your closing message against what this "
                 f"turn wrote, ran and saw; {count} claim{'s' * (count != 1)} "
                 f"{'does' if count == 1 else 'do'} not hold:"]
        for result in self.failing[:SHOWN_CLAIMS]:
            lines.append(f"- {result.verdict}: {_shorten(result.claim.get('text', ''))}"
                         f"\n  evidence: {_shorten(result.evidence)}")
        if count > SHOWN_CLAIMS:
            lines.append(f"- and {count - SHOWN_CLAIMS} more")
        lines.append("Fix the work so that the claim holds, or correct the claim in your "
                     "reply; say plainly what was not done.")
        return "\n".join(lines)

    def log_line(self) -> dict[str, object]:
        verdicts = Counter(result.verdict for result in self.results)
        return {"time": time.strftime("%Y-%m-%dT%H:%M:%S%z"), "session": self.session,
                "line": self.line, "claims": len(self.results),
                "verdicts": {verdict: verdicts[verdict] for verdict in VERDICTS},
                "blocked": self.blocked, "round": self.round}


# The Stop hook.

def _run_claude_code(args: argparse.Namespace) -> int:
    decision = Decision(session=None)
    try:
        with _deadline(args.deadline):
            payload = _payload(sys.stdin.buffer.read())
            decision.session = _string(payload.get("session_id"))
            decide(payload, decision, args.fail_on, args.max_rounds, Rounds.default())
    except Exception as exc:  # never block, nor fail the turn, on a fault of the hook's own
        _let_go(exc, decision, args.log)
        return 0
    if decision.blocked:
        json.dump({"decision": "block", "reason": decision.reason()}, sys.stdout)
        print()
    elif decision.note:
        print(f"proofmark: {decision.note}", file=sys.stderr)
    _append_log(args.log, decision.log_line())
    return 0


def decide(payload: dict[str, Any], decision: Decision, fail_on: frozenset[str],
           max_rounds: int, rounds: Rounds) -> None:
    """Check the turn the payload ends, and fill in whether to send the agent back."""
    turn = _current_turn(payload)
    if turn is None:
        return
    _judge(decision, turn, payload.get("last_assistant_message"), fail_on)
    session = decision.session or "unknown"
    # A turn's rounds go on only while the agent is continuing because of a Stop hook.
    done = rounds.get(session) if payload.get("stop_hook_active") is True else 0
    if not decision.failing:
        rounds.clear(session)
    elif done >= max_rounds:
        rounds.clear(session)
        count = len(decision.failing)
        decision.note = (f"{count} claim{'s' * (count != 1)} still "
                         f"fail{'s' * (count == 1)} after {done} "
                         f"round{'s' * (done != 1)}; the turn ends")
    else:
        decision.blocked = True
        decision.round = done + 1
        rounds.set(session, decision.round)


def _judge(decision: Decision, turn: TurnLog, closing: object, fail_on: frozenset[str]) -> None:
    decision.line = turn.line
    messages = _with_closing(turn.messages, closing)
    decision.results = check_turn(turn.run_log(), extract_claims(messages))
    decision.failing = [result for result in decision.results if result.verdict in fail_on]


def _payload(data: bytes) -> dict[str, Any]:
    try:
        payload = json.loads(data)
    except (ValueError, RecursionError) as exc:
        raise HookError(f"the hook payload is not JSON ({exc})") from None
    if not isinstance(payload, dict):
        raise HookError("the hook payload is not a JSON object")
    return payload


def _current_turn(payload: dict[str, Any]) -> TurnLog | None:
    path = payload.get("transcript_path")
    if not isinstance(path, str) or not path:
        raise HookError("the hook payload has no transcript_path")
    try:
        if not recognise(LogFile(path).sample()):
            raise HookError(f"{path}: not a Claude Code transcript")
        return last_turn(path)
    except LogError as exc:
        raise HookError(str(exc)) from None
    except OSError as exc:
        raise HookError(f"{path}: {exc.strerror or exc}") from None


def _with_closing(messages: list[str], closing: object) -> list[str]:
    """The turn's messages, ending with Claude Code's own copy of the closing message.

    The transcript is written asynchronously and may not hold it yet; when its last
    message is the end of it (the last block of a message of several), the copy replaces it.
    """
    if not isinstance(closing, str) or not closing.strip():
        return messages
    if messages and closing.rstrip().endswith(messages[-1].strip()):
        return [*messages[:-1], closing]
    return [*messages, closing]


def _let_go(error: Exception, decision: Decision, log: str | None) -> None:
    why = str(error) if isinstance(error, HookError) else f"{type(error).__name__}: {error}"
    print(f"proofmark: {_one_line(why)}; the turn ends unchecked", file=sys.stderr)
    _append_log(log, {**decision.log_line(), "error": why})


def _append_log(path: str | None, line: dict[str, object]) -> None:
    if path is None:
        return
    try:
        with open(path, "a", encoding="utf-8") as stream:
            stream.write(json.dumps(line, ensure_ascii=False) + "\n")
    except OSError as exc:
        print(f"proofmark: {path}: cannot append to the log: {exc.strerror or exc}",
              file=sys.stderr)


@contextlib.contextmanager
def _deadline(seconds: float) -> Iterator[None]:
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


# Codex's notify program.

def _run_codex_notify(args: argparse.Namespace) -> int:
    decision = Decision(session=None)
    try:
        with _deadline(DEFAULT_DEADLINE):
            payload = _payload(args.payload.encode())
            if payload.get("type") != "agent-turn-complete":
                return 0
            decision.session = _string(payload.get("thread-id"))
            turn = _codex_turn(decision.session)
            _judge(decision, turn, payload.get("last-assistant-message"), args.fail_on)
    except Exception as exc:  # the notify program must never fail the agent's turn
        _let_go(exc, decision, args.log)
        return 0
    if decision.failing:
        print(decision.reason(), file=sys.stderr)
    _append_log(args.log, decision.log_line())
    return 0


def _codex_turn(thread: str | None) -> TurnLog:
    if not thread:
        raise HookError("the notify payload has no thread-id")
    home = Path(os.environ.get("CODEX_HOME") or Path.home() / ".codex")
    rollouts = sorted((home / "sessions").glob(f"**/rollout-*{thread}.jsonl"))
    if not rollouts:
        raise HookError(f"no rollout of thread {thread} under {home / 'sessions'}")
    reader = importlib.import_module("proofmark_core.logs.codex")
    turn: TurnLog | None = None
    try:
        for turn in reader.read(LogFile(rollouts[-1])):
            pass
    except LogError as exc:
        raise HookError(str(exc)) from None
    if turn is None:
        raise HookError(f"{rollouts[-1]}: no turn")
    return turn


# Installing the Stop hook in Claude Code's settings.

def _run_install(args: argparse.Namespace) -> int:
    path = _settings_path(args.user)
    try:
        entry, added = install(path)
    except HookError as exc:
        print(f"proofmark: {exc}", file=sys.stderr)
        return 2
    state = "added to" if added else "already in"
    print(f"proofmark: {state} {path}: {json.dumps(entry)}")
    return 0


def _run_uninstall(args: argparse.Namespace) -> int:
    path = _settings_path(args.user)
    try:
        removed = uninstall(path)
    except HookError as exc:
        print(f"proofmark: {exc}", file=sys.stderr)
        return 2
    for entry in removed:
        print(f"proofmark: removed from {path}: {json.dumps(entry)}")
    if not removed:
        print(f"proofmark: not in {path}; nothing changed")
    return 0


def _settings_path(user: bool) -> Path:
    return (Path.home() if user else Path.cwd()) / ".claude" / "settings.json"


def install(path: Path) -> tuple[dict[str, object], bool]:
    """Add the Stop hook entry to a settings file; the entry, and whether it was added.

    Other settings and hooks stay as they are; an entry already there is left alone;
    the file as it was is kept beside it as ``settings.json.bak``.
    """
    settings = _load_settings(path)
    stop = _stop_hooks(settings, path)
    for group in stop:
        if _ours(group):
            return group, False
    entry: dict[str, object] = {"hooks": [{"type": "command", "command": COMMAND,
                                           "timeout": SETTINGS_TIMEOUT}]}
    stop.append(entry)
    _save_settings(path, settings)
    return entry, True


def uninstall(path: Path) -> list[dict[str, object]]:
    """Remove the hooks that run ``proofmark hook claude-code``; the ones removed."""
    if not path.exists():
        return []
    settings = _load_settings(path)
    stop = _stop_hooks(settings, path)
    removed: list[dict[str, object]] = []
    for group in list(stop):
        hooks = group.get("hooks") if isinstance(group, dict) else None
        ours = [hook for hook in hooks or [] if _our_hook(hook)]
        if not ours or not isinstance(hooks, list):
            continue
        removed.extend(ours)
        group["hooks"] = [hook for hook in hooks if hook not in ours]
        if not group["hooks"]:
            stop.remove(group)
    if not removed:
        return []
    # Containers left empty were made by install.
    if not stop:
        del settings["hooks"]["Stop"]
        if not settings["hooks"]:
            del settings["hooks"]
    _save_settings(path, settings)
    return removed


def _ours(group: object) -> bool:
    hooks = group.get("hooks") if isinstance(group, dict) else None
    return isinstance(hooks, list) and any(_our_hook(hook) for hook in hooks)


def _our_hook(hook: object) -> bool:
    return isinstance(hook, dict) and isinstance(command := hook.get("command"), str) \
        and OUR_COMMAND_RE.search(command) is not None


def _load_settings(path: Path) -> dict[str, Any]:
    try:
        text = path.read_text(encoding="utf-8")
    except FileNotFoundError:
        return {}
    except (OSError, UnicodeDecodeError) as exc:
        raise HookError(f"{path}: cannot read: {exc}; nothing changed") from None
    if not text.strip():
        return {}
    try:
        settings = json.loads(text)
    except json.JSONDecodeError as exc:
        raise HookError(f"{path}:{exc.lineno}: invalid JSON at column {exc.colno}: {exc.msg}; "
                        f"nothing changed") from None
    if not isinstance(settings, dict):
        raise HookError(f"{path}: the settings are not a JSON object; nothing changed")
    return settings


def _stop_hooks(settings: dict[str, Any], path: Path) -> list[Any]:
    hooks = settings.setdefault("hooks", {})
    if not isinstance(hooks, dict):
        raise HookError(f"{path}: \"hooks\" is not an object; nothing changed")
    stop = hooks.setdefault("Stop", [])
    if not isinstance(stop, list):
        raise HookError(f"{path}: \"hooks\".\"Stop\" is not a list; nothing changed")
    return stop


def _save_settings(path: Path, settings: dict[str, Any]) -> None:
    try:
        path.parent.mkdir(parents=True, exist_ok=True)
        if path.exists():
            shutil.copy2(path, path.with_name(path.name + ".bak"))
        temporary = path.with_name(path.name + ".proofmark-tmp")
        temporary.write_text(json.dumps(settings, indent=2, ensure_ascii=False) + "\n",
                             encoding="utf-8")
        os.replace(temporary, path)
    except OSError as exc:
        raise HookError(f"{path}: cannot write: {exc.strerror or exc}") from None


def _string(value: object) -> str | None:
    return value if isinstance(value, str) else None


def _shorten(text: str) -> str:
    text = _one_line(text)
    return text if len(text) <= SHOWN_TEXT else text[:SHOWN_TEXT - 1] + "…"


def _one_line(text: str) -> str:
    return " ".join(text.split())


# What each subcommand of ``proofmark hook`` runs.
RUNS = {"claude-code": _run_claude_code, "codex-notify": _run_codex_notify,
        "install": _run_install, "uninstall": _run_uninstall}
