"""``proofmark hook install`` and ``uninstall``: the Stop hook's entry in Claude Code's
settings, added or removed with every other setting left as it was."""

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
from proofmark_core.hook.parser import COMMAND

OUR_COMMAND_RE = re.compile(r"\bproofmark(?:_core)?\b.*\bhook\s+claude-code\b")
# Claude Code's own limit, in seconds; the hook gives up well before it.
SETTINGS_TIMEOUT = 30


def run(args: argparse.Namespace) -> int:
    return _run_install(args) if args.hook == "install" else _run_uninstall(args)


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
