"""The ``proofmark`` command: check the claims of agent logs or turn records, or
import agent logs as turn records.

Exit status: 0 when no claim got a verdict named by --fail-on, 1 when one did,
2 when an argument or some input could not be used (the rest is still checked).
"""

from __future__ import annotations

import argparse
import os
import sys
from collections.abc import Callable, Sequence
from typing import TypeAlias, cast

from proofmark_core import __version__
from proofmark_core.commands.batch import run as run_batch
from proofmark_core.commands.check import run as run_check
from proofmark_core.commands.config import run as run_config
from proofmark_core.commands.imports import run as run_import
from proofmark_core.commands.report import run as run_report
from proofmark_core.commands.streams import UsageError
from proofmark_core.hook.parser import add_hook_parser, add_size_limit, verdict_set
from proofmark_core.logs import FORMATS
from proofmark_core.records.input import DEFAULT_SIZE_LIMIT, set_size_limit
from proofmark_core.report.tally import EXIT_UNUSABLE
from proofmark_core.run import config

Commands: TypeAlias = "argparse._SubParsersAction[argparse.ArgumentParser]"
EXIT_INTERRUPTED = 130


def main(argv: Sequence[str] | None = None) -> int:
    args = _parser().parse_args(argv)
    set_size_limit(getattr(args, "size_limit", DEFAULT_SIZE_LIMIT))
    if args.command == "hook":
        return _run_hook(args)
    try:
        _settle(args)
        return cast(Callable[[argparse.Namespace], int], args.run)(args)
    except UsageError as exc:
        print(f"proofmark: {exc}", file=sys.stderr)
        return EXIT_UNUSABLE
    except KeyboardInterrupt:
        return EXIT_INTERRUPTED
    except BrokenPipeError:
        # Whoever read the report stopped reading: not everything was reported.
        # Point stdout at nothing so that the interpreter's last flush stays quiet.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return EXIT_UNUSABLE


def _run_hook(args: argparse.Namespace) -> int:
    # What the hook does is imported only when it runs: the other commands start without it.
    if args.hook == "claude-code":
        from proofmark_core.hook.claude_code import run
    elif args.hook == "codex":
        from proofmark_core.hook.codex import run
    elif args.hook == "codex-notify":
        from proofmark_core.hook.codex import run_notify as run
    else:
        from proofmark_core.hook.settings import run
    return run(args)


def _parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="proofmark",
        description="Check a coding agent's end-of-turn claims against the run log of its turn.",
    )
    parser.add_argument("--version", action="version", version=f"%(prog)s {__version__}")
    commands = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")
    for add_parser in (_check_parser, _import_parser, _batch_parser, _report_parser,
                       _config_parser):
        add_parser(commands)
    add_hook_parser(commands)
    return parser


def _check_parser(commands: Commands) -> None:
    check = commands.add_parser(
        "check",
        help="report the verdict of every claim of agent logs or turn records",
        description="Read agent logs (Claude Code, Codex, OpenHands, SWE-agent, mini-swe-agent) "
                    "or turn records, each {\"run_log\": {...}, \"claims\": [...]}, and report "
                    "every claim's verdict and evidence.",
        epilog="exit status: 0 when no claim got a --fail-on verdict, 1 when one did, "
               "2 when an argument, a setting or some input could not be used",
    )
    _add_inputs(check)
    _add_format(check, "table")
    check.add_argument("-o", "--output", metavar="FILE",
                       help="write the report to FILE instead of standard output")
    check.add_argument("--excerpts", action="store_true",
                       help="give each result an excerpt of the log where its evidence points "
                            "(always on with --format html)")
    _add_report_options(check)
    _add_strict(check)
    check.set_defaults(run=run_check)


def _add_format(command: argparse.ArgumentParser, default: str) -> None:
    command.add_argument("--format", choices=config.FORMATS, default=None,
                         help="table for people, json or jsonl for programs, html for a page "
                              "to open in a browser, sarif for code scanning, junit for CI, "
                              "github for annotations in GitHub Actions, markdown for a job "
                              f"summary or a pull-request comment (default: {default})")
    command.set_defaults(default_format=default)


def _add_report_options(command: argparse.ArgumentParser) -> None:
    command.add_argument("--fail-on", type=verdict_set, default=None,
                         metavar="VERDICT[,VERDICT]",
                         help="exit 1 when a claim gets one of these verdicts "
                              "(default: contradicted)")
    command.add_argument("--no-redact", dest="redact", action="store_false",
                         help="show text that looks like a credential instead of [redacted]")


def _import_parser(commands: Commands) -> None:
    export = commands.add_parser(
        "import",
        help="write the turns of agent logs as turn records (JSONL)",
        description="Read agent logs and write each turn as a turn record, one per line, "
                    "with a \"source\" object naming the agent, file, session and turn.",
        epilog="exit status: 0 when every input was read, 2 when some could not be",
    )
    _add_inputs(export)
    export.add_argument("-o", "--output", metavar="OUT",
                        help="the file to write (default: standard output)")
    export.set_defaults(run=run_import)


def _batch_parser(commands: Commands) -> None:
    batch = commands.add_parser(
        "batch",
        help="write a row per claim of many inputs, as Parquet or JSONL, here or on Ray",
        description="Check every turn of the inputs and write one row per claim (file, "
                    "agent, session, turn, record, claim, kind, text, verdict, evidence, "
                    "error) to OUT: Parquet when its name ends in .parquet, JSONL otherwise. "
                    "Inputs may be URIs of any file system pyarrow reads (s3://...).",
        epilog="exit status: 0 when every input was read and checked, 2 when some could not be",
    )
    _add_inputs(batch)
    batch.add_argument("-o", "--output", metavar="OUT", required=True,
                       help="the file to write: .parquet, or JSONL")
    batch.add_argument("--ray", metavar="local|auto|ADDRESS",
                       help="run on Ray: a local one started here with --jobs CPUs, the "
                            "running cluster (auto), or the cluster at ADDRESS")
    _add_strict(batch)
    batch.set_defaults(run=run_batch)


def _report_parser(commands: Commands) -> None:
    report = commands.add_parser(
        "report",
        help="write results saved with --format jsonl in another format (HTML by default)",
        description="Read the results that `proofmark check --format jsonl` wrote and "
                    "write them in another format: one self-contained HTML page by default.",
        epilog="exit status: as check's on the same results; 2 also when the results "
               "cannot be read",
    )
    report.add_argument("results", metavar="RESULTS", help="a JSONL results file; - reads "
                                                           "standard input")
    report.add_argument("-o", "--output", metavar="FILE",
                        help="write the report to FILE instead of standard output")
    _add_format(report, "html")
    _add_report_options(report)
    add_size_limit(report)
    report.set_defaults(run=run_report)


def _config_parser(commands: Commands) -> None:
    shown = commands.add_parser(
        "config",
        help="show the settings in force and where each comes from",
        description="Show each setting (from [tool.proofmark] in pyproject.toml or from "
                    "proofmark.toml, the nearer from here upward, then PROOFMARK_* "
                    "environment variables, then the command line) and where it comes from.",
    )
    shown.set_defaults(run=run_config)


def _settle(args: argparse.Namespace) -> None:
    """Fill in what the command line left open from the settings: the file's, under
    the environment's."""
    try:
        settings = config.load()
    except config.ConfigError as exc:
        raise UsageError(str(exc)) from None
    args.config = settings
    if "fail_on" in args:
        args.fail_on = settings.get("fail-on", args.fail_on)
    if "jobs" in args:
        args.jobs = settings.get("jobs", args.jobs)
    if "strict" in args:
        # scope = "turn" judges each turn alone, as --strict does.
        args.strict = args.strict or settings.get("scope") == "turn"
    if "default_format" in args:
        # The setting is check's format; report writes HTML unless told otherwise.
        setting = settings.get("format") if args.command == "check" else args.default_format
        args.format = args.format or setting


def _add_inputs(command: argparse.ArgumentParser) -> None:
    command.add_argument(
        "paths", nargs="+", metavar="PATH",
        help="an agent log, a folder of them, an OpenHands conversation folder, or turn "
             "records as JSON or JSONL; - reads turn records from standard input",
    )
    command.add_argument("--from", dest="log_format", choices=FORMATS, default="auto",
                         help="the format of the inputs (default: told from their content)")
    command.add_argument("--claims", metavar="FILE",
                         help="a JSON list of claims to check against the last turn of each "
                              "input, instead of the claims taken from its closing message")
    command.add_argument("--jobs", "-j", type=_positive, default=None, metavar="N",
                         help="worker processes (default: the number of cores, within the "
                              "CPU quota)")
    add_size_limit(command)


def _add_strict(command: argparse.ArgumentParser) -> None:
    command.add_argument("--strict", action="store_true",
                         help="the engine's verdicts, each turn judged alone: no product "
                              "rules (session recaps, reported failures, refused writes, "
                              "command runs)")


def _positive(text: str) -> int:
    try:
        number = int(text)
    except ValueError:
        number = 0
    if number < 1:
        raise argparse.ArgumentTypeError(f"expected a positive whole number, got {text!r}")
    return number
