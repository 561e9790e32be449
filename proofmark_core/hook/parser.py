"""The arguments of ``proofmark hook``, and the ``--fail-on`` verdicts and ``--size-limit``
that the command line's other commands take too. What the hook does is not imported
here, so that the other commands start without it."""

from __future__ import annotations

import argparse
from typing import Any, NoReturn

from proofmark_core.records.input import DEFAULT_SIZE_LIMIT, parse_size
from proofmark_core.verdicts import VERDICTS

AGENTS = ("claude-code", "codex")
DEFAULT_DEADLINE = 10.0


def add_hook_parser(commands: Any) -> None:
    """The ``hook`` command and its subcommands, added to the command line's subparsers."""
    hook = commands.add_parser(
        "hook", help="check an agent's claims as its turn ends (Claude Code and Codex Stop "
                     "hooks)",
        description="Run as an agent's end-of-turn hook, or install it.")
    kinds = hook.add_subparsers(dest="hook", required=True, metavar="HOOK",
                                parser_class=_HookParser)
    for agent, name in (("claude-code", "Claude Code"), ("codex", "Codex")):
        stop = kinds.add_parser(
            agent, lenient=True,
            help=f"the Stop hook: reads {name}'s payload on standard input",
            description="Check the claims of the turn that is ending; when one gets a "
                        "--fail-on verdict, send the agent back with the failing claims. "
                        "Always exits 0.")
        _hook_options(stop)
        stop.add_argument("--max-rounds", type=_whole_number, default=None, metavar="N",
                          help="send the agent back at most N times per turn (default: the "
                               "project's max-rounds setting, else 2; 0 only reports)")
        stop.add_argument("--deadline", type=float, default=DEFAULT_DEADLINE,
                          metavar="SECONDS", help=f"give up and let the turn end after this "
                                                  f"long (default: {DEFAULT_DEADLINE:g})")
    notify = kinds.add_parser(
        "codex-notify", help="Codex's notify program: reports the turn's failing claims",
        description="Check the turn that Codex just ended (it cannot be sent back): failing "
                    "claims go to standard error and to --log. Always exits 0.")
    _hook_options(notify)
    notify.add_argument("payload", help="the JSON that Codex passes")
    for action, verb in (("install", "add"), ("uninstall", "remove")):
        settings = kinds.add_parser(
            action, help=f"{verb} an agent's Stop hook in its settings",
            description=f"{verb.capitalize()} the entry that runs `proofmark hook AGENT` in "
                        f"the agent's settings of this directory: .claude/settings.json for "
                        f"Claude Code, .codex/hooks.json for Codex (or the user's, with "
                        f"--user); other settings and hooks are left as they are.")
        settings.add_argument("agent", nargs="?", choices=AGENTS, default="claude-code",
                              help="the agent (default: claude-code)")
        settings.add_argument("--user", action="store_true",
                              help="the user's settings instead of the project's "
                                   "(~/.claude/settings.json, $CODEX_HOME/hooks.json)")


def _hook_options(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("--fail-on", type=verdict_set, default=None,
                        metavar="VERDICT[,VERDICT]",
                        help="verdicts that fail a claim (default: the project's fail-on "
                             "setting, else contradicted)")
    parser.add_argument("--log", metavar="FILE",
                        help="append one JSON line per decision to FILE")
    parser.add_argument("--no-redact", dest="redact", action="store_false",
                        help="show text that looks like a credential instead of [redacted]")
    add_size_limit(parser)


def add_size_limit(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("--size-limit", type=_size, default=DEFAULT_SIZE_LIMIT, metavar="SIZE",
                        help="the most one line, or one input read whole, may hold; beyond "
                             "it the input is one error (default: 1G; K, M and G count "
                             "1024, 1024² and 1024³ bytes)")


def _size(text: str) -> int:
    try:
        return parse_size(text)
    except ValueError as exc:
        raise argparse.ArgumentTypeError(str(exc)) from None


def verdict_set(text: str) -> frozenset[str]:
    """The verdicts of a ``--fail-on`` value, "contradicted,unverified"."""
    names = [name.strip() for name in text.split(",")]
    for name in names:
        if name not in VERDICTS:
            raise argparse.ArgumentTypeError(
                f"unknown verdict {name!r} (choose from {', '.join(VERDICTS)})")
    return frozenset(names)


def _whole_number(text: str) -> int:
    if not text.isdigit():
        raise argparse.ArgumentTypeError(f"expected a whole number, got {text!r}")
    return int(text)


class _HookParser(argparse.ArgumentParser):
    """An agent takes exit status 2 from a Stop hook as "send the agent back": a usage
    error of the hook itself must let the turn end instead."""

    def __init__(self, *args: Any, lenient: bool = False, **kwargs: Any) -> None:
        super().__init__(*args, **kwargs)
        self.lenient = lenient

    def error(self, message: str) -> NoReturn:
        if self.lenient:
            self.exit(0, f"proofmark: {message}; the turn ends unchecked\n")
        super().error(message)
