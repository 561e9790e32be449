"""``proofmark hook install`` and ``uninstall``: an agent's Stop hook entry in its
settings (Claude Code's ``settings.json``, Codex's ``hooks.json``, which share the shape
``{"hooks": {"Stop": [{"hooks": [{"type": "command", "command": ...}]}]}}``), added or
removed with every other setting and hook left as it was."""

from __future__ import annotations

import argparse
import json
import os
import re
import shutil
import sys
from pathlib import Path
from typing import Any

from proofmark_core.hook.decision import HookError

# The agents' own limit, in seconds; the hook gives up well before it.
SETTINGS_TIMEOUT = 30
TRUST_NOTE = ("Codex runs a new hook only once you have reviewed and trusted it: "
              "open /hooks in Codex.")


def run(args: argparse.Namespace) -> int:
    return _run_install(args) if args.hook == "install" else _run_uninstall(args)


def _run_install(args: argparse.Namespace) -> int:
    path = settings_path(args.agent, args.user)
    try:
        entry, added = install(path, args.agent)
    except HookError as exc:
        print(f"proofmark: {exc}", file=sys.stderr)
        return 2
    state = "added to" if added else "already in"
    print(f"proofmark: {state} {path}: {json.dumps(entry)}")
    if args.agent == "codex":
        print(f"proofmark: {TRUST_NOTE}")
    return 0


def _run_uninstall(args: argparse.Namespace) -> int:
    path = settings_path(args.agent, args.user)
    try:
        removed = uninstall(path, args.agent)
    except HookError as exc:
        print(f"proofmark: {exc}", file=sys.stderr)
        return 2
    for entry in removed:
        print(f"proofmark: removed from {path}: {json.dumps(entry)}")
    if not removed:
        print(f"proofmark: not in {path}; nothing changed")
    return 0


def settings_path(agent: str, user: bool) -> Path:
    """The file that holds the agent's hooks, the project's or the user's."""
    if agent == "codex":
        home = os.environ.get("CODEX_HOME") or Path.home() / ".codex"
        return Path(home) / "hooks.json" if user else Path.cwd() / ".codex" / "hooks.json"
    return (Path.home() if user else Path.cwd()) / ".claude" / "settings.json"


def install(path: Path, agent: str = "claude-code") -> tuple[dict[str, object], bool]:
    """Add the agent's Stop hook entry to a settings file; the entry, and whether it was
    added.

    Other settings and hooks stay as they are; an entry already there is left alone;
    the file as it was is kept beside it, its name ending in ``.bak``.
    """
    settings = _load_settings(path)
    stop = _stop_hooks(settings, path)
    for group in stop:
        if any(_ours(hook, agent) for hook in group["hooks"]):
            return group, False
    entry: dict[str, object] = {"hooks": [{"type": "command", "command": _command(agent),
                                           "timeout": SETTINGS_TIMEOUT}]}
    stop.append(entry)
    _save_settings(path, settings)
    return entry, True


def uninstall(path: Path, agent: str = "claude-code") -> list[dict[str, object]]:
    """Remove the hooks that run ``proofmark hook AGENT``; the ones removed."""
    if not path.exists():
        return []
    settings = _load_settings(path)
    stop = _stop_hooks(settings, path)
    removed: list[dict[str, object]] = []
    for group in list(stop):
        ours = [hook for hook in group["hooks"] if _ours(hook, agent)]
        if not ours:
            continue
        removed.extend(ours)
        group["hooks"] = [hook for hook in group["hooks"] if hook not in ours]
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


def _command(agent: str) -> str:
    return f"proofmark hook {agent}"


def _ours(hook: object, agent: str) -> bool:
    """Whether a hook runs this hook of proofmark's, however it is spelled (a path to the
    program, ``python -m proofmark_core``, options)."""
    command = hook.get("command") if isinstance(hook, dict) else None
    return isinstance(command, str) and re.search(
        rf"\bproofmark(?:_core)?\b.*\bhook\s+{re.escape(agent)}(?![\w-])", command) is not None


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


def _stop_hooks(settings: dict[str, Any], path: Path) -> list[dict[str, Any]]:
    hooks = settings.setdefault("hooks", {})
    if not isinstance(hooks, dict):
        raise HookError(f"{path}: \"hooks\" is not an object; nothing changed")
    stop = hooks.setdefault("Stop", [])
    if not isinstance(stop, list):
        raise HookError(f"{path}: \"hooks\".\"Stop\" is not a list; nothing changed")
    for index, group in enumerate(stop):
        if not isinstance(group, dict) or not isinstance(group.get("hooks"), list):
            raise HookError(f"{path}: \"hooks\".\"Stop\"[{index}] is not an object with a "
                            f"\"hooks\" list; nothing changed")
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
