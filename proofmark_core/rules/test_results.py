"""Claims of passing tests, builds, lint and type checks, judged by the runs themselves.

"All 116 tests passed" has nothing literal for the engine, and "Ran `pytest -q`: all 12
tests pass" is verified by the exit code alone. This rule finds the last run of the
kind of check the claim is about (in this turn, else in the latest earlier turn of the
session that has one), reads its summary, and judges:

- ``verified`` when it passed and any count the claim gives is what passed (in that run,
  or added up over the turn's passing runs: 127 + 14 + 16 = "all 157 tests");
- ``contradicted`` when it failed, ran no tests, or passed another number;
- ``unverified`` when the session has no such run.

A run whose outcome cannot be told (no summary, and an exit code that is not the
runner's, as in ``pytest | tail``) leaves the engine's verdict.
"""

from __future__ import annotations

import re
from collections.abc import Iterator
from dataclasses import dataclass, replace
from functools import lru_cache
from itertools import combinations
from typing import TYPE_CHECKING

from proofmark_core.claims.runners import TEST, Invocation, invocations
from proofmark_core.rules.runner_summaries import Summary, read_summary
from proofmark_core.claims.test_results import TestClaim, read_test_claim

if TYPE_CHECKING:
    from proofmark_core.verdicts import ClaimResult
    from proofmark_core.rules.context import Session
    from proofmark_core.verify import CommandRecord, RunLog, Verdict

PASSED, FAILED, EMPTY = "passed", "failed", "ran no tests"
NOUN = {"tests": "test run", "build": "build", "lint": "lint run", "types": "type check"}
SEVERITY: tuple[Verdict, ...] = ("contradicted", "unverified", "verified")
SHOWN_COMMAND = 80
SHOWN_FILES = 3
MOST_RUNS_ADDED = 8
TEST_FILE_RE = re.compile(
    r"(?:^|[\\/])(?:tests?|specs?|__tests__)[\\/]|(?:^|[\\/])test_[^\\/]*\.py$"
    r"|_test\.(?:go|py|exs|rb|rs|cc|cpp|c)$|\.(?:spec|test)\.[cm]?[jt]sx?$|_spec\.rb$"
    r"|Tests?\.(?:java|kt|cs|swift|php)$", re.IGNORECASE)


@dataclass(frozen=True, slots=True)
class Run:
    """One runner started by one command of the session."""

    turn: int                 # index into Session.turns
    command: str
    invocation: Invocation
    exit_code: int | None     # None: unknown
    summary: Summary | None
    output_end: str = ""      # the last line of the output

    @property
    def outcome(self) -> str | None:
        """passed, failed, ran no tests, or None when neither summary nor exit code tells."""
        return self.outcome_as(named=False)

    def outcome_as(self, named: bool) -> str | None:
        """The outcome; a script of the agent's that the claim names (``named``) is
        judged by its exit code when it prints no summary."""
        summary = self.summary
        if summary is not None and (summary.passed is not None or summary.ok is not None):
            if summary.ok is False or summary.failed:
                return EMPTY if summary.total == 0 else FAILED
            if summary.total == 0 or (summary.passed == 0 and not summary.failed):
                return EMPTY
            return PASSED
        if self.invocation.echoes and self.output_end:
            success, failure = self.invocation.echoes
            if self.output_end in (success, failure) and success != failure:
                return PASSED if self.output_end == success else FAILED
        if (self.invocation.needs_summary and not named) or self.exit_code is None:
            return None
        if self.exit_code == 0 and self.invocation.zero_is_its:
            return PASSED
        return FAILED if self.exit_code != 0 and self.invocation.exit_is_its else None


# How many command lines, and runner commands with their output, are kept read: a
# session's runs are looked through for each claim of each of its turns.
COMMANDS_KEPT = 1 << 14
RUNS_KEPT = 1 << 10
RUNS_MEMO = "test_results.runs"
COMMANDS_MEMO = "test_results.commands"
EDITED_MEMO = "test_results.edited"


@dataclass(frozen=True, slots=True)
class Finding:
    """What the runs say of one kind of check the claim reports."""

    verdict: Verdict
    evidence: str
    runs: tuple[Run, ...] = ()


def judge_test_claim(session: Session, result: ClaimResult) -> ClaimResult | None:
    """The result judged by the session's runs when the claim reports passing checks;
    None when it does not, or when the runs cannot tell."""
    text, targets = result.claim.get("text", ""), result.claim.get("targets", [])
    if not isinstance(text, str) or not isinstance(targets, list):
        return None
    claim = read_test_claim(text, [target for target in targets if isinstance(target, str)])
    if claim is None:
        return None
    runs = session_runs(session)
    findings = [found for kind in sorted(claim.kinds)
                if (found := _judge_kind(claim, kind, runs, session)) is not None]
    if not findings:
        return None
    verdict = min((found.verdict for found in findings), key=SEVERITY.index)
    evidence = " · ".join(found.evidence for found in findings)
    if TEST in claim.kinds and any(found.runs for found in findings):
        evidence += _edited_tests(session)
    judged = next((found.runs for found in findings if found.runs), ())
    return replace(result, verdict=verdict, evidence=evidence,
                   engine_verdict=result.engine_verdict or result.verdict,
                   engine_evidence=result.engine_evidence or result.evidence,
                   tests=_tests_field(judged) if judged else None)


def session_runs(session: Session) -> list[Run]:
    """Every runner started in the session, in order, read once per turn checked."""
    runs = session.memo.get(RUNS_MEMO)
    if runs is None:
        runs = session.memo[RUNS_MEMO] = [
            replace(run, turn=index) for index, run_log in enumerate(session.turns)
            for run in _read_runs(run_log)]
    return runs  # type: ignore[return-value]


def _read_runs(run_log: RunLog) -> Iterator[Run]:
    records = run_log.get("commands") if isinstance(run_log, dict) else None
    for record in records if isinstance(records, list) else ():
        command = record.get("command") if isinstance(record, dict) else None
        if isinstance(command, str) and _started(command):
            output = record.get("output")
            yield from _runs(command, output if isinstance(output, str) else "",
                             _exit_code(record))


@lru_cache(maxsize=COMMANDS_KEPT)
def _started(command: str) -> tuple[Invocation, ...]:
    """The runners the command line starts, read once for all the claims that look."""
    return tuple(invocations(command))


@lru_cache(maxsize=RUNS_KEPT)
def _runs(command: str, output: str, exit_code: int | None) -> tuple[Run, ...]:
    """The runs of one runner command, its output's summary read once."""
    return tuple(Run(0, command, invocation, exit_code,
                     read_summary(invocation.runner, output, TEST in invocation.kinds),
                     _last_line(output)) for invocation in _started(command))


def _judge_kind(claim: TestClaim, kind: str, runs: list[Run],
                session: Session) -> Finding | None:
    relevant = [run for run in runs if kind in run.invocation.kinds]
    named = [c for c in claim.commands if any(kind in i.kinds for i in invocations(c))]
    if named:
        relevant = _runs_of(named, relevant)
        if not relevant:
            return None  # the command it names never ran: the engine's verdict stands
    elif claim.scope:
        names = _naming(claim.scope)
        if _any_command_names(names, session):
            relevant = [run for run in relevant if names.search(run.command)]
            if not relevant:
                return None  # what it names ran, but not as a runner this rule reads
        elif relevant:
            return None  # no run of what it names; a run of something else tells nothing
    relevant = [run for run in relevant if named or claim.scope
                or not (run.invocation.needs_summary and run.summary is None)]
    if not relevant:
        return Finding("unverified", f"no {NOUN[kind]} in this session")
    last = relevant[-1]
    outcome = last.outcome_as(named=bool(named or claim.scope))
    if outcome is None:
        return None
    lead = f"{_turn(last, session)}{NOUN[kind]}"
    where = f"{lead} {_command(last)}"
    if outcome == FAILED and claim.part and not (named or claim.scope):
        return None  # a run with failures may still have passed the few tests it names
    if outcome != PASSED:
        return Finding("contradicted", f"{where}: {_said(last)}; it {outcome}", (last,))
    if kind != TEST or claim.count is None:
        return Finding("verified", f"{where}: {_said(last)}", (last,))
    return _judge_count(claim, last, relevant, lead)


def _judge_count(claim: TestClaim, last: Run, relevant: list[Run], lead: str) -> Finding:
    where = f"{lead} {_command(last)}"
    summary = last.summary
    if summary is None or summary.passed is None:
        return Finding("verified", f"{where}: {_said(last)}; the run gives no count "
                                   f"to compare with the claim's {claim.count}", (last,))
    if _counts_match(claim, summary):
        return Finding("verified", f"{where}: {_said(last)}", (last,))
    added = _adding_up(claim.count, last, relevant)
    if added:
        if len(added) == 1:
            evidence = f"{lead} {_command(added[0])}: {_said(added[0])}"
        else:
            shown = " + ".join(f"{_command(run)}: {_passed(run)}" for run in added)
            evidence = f"{lead}s {shown} = {claim.count} passed"
        if last not in added:
            evidence += f"; the last, {_command(last)}, passed too"
        return Finding("verified", evidence, added)
    if claim.part:
        return Finding("verified", f"{where}: {_said(last)}; the claim's {claim.count} "
                                   "are some of them, not counted apart", (last,))
    says = f"{claim.count}" + (f" of {claim.total}" if claim.total else "") + (
        f", {claim.skipped} skipped" if claim.skipped is not None else "")
    return Finding("contradicted", f"{where}: {_said(last)}; the claim says {says}", (last,))


def _counts_match(claim: TestClaim, summary: Summary) -> bool:
    if claim.count not in (summary.passed, summary.also):
        return False
    if claim.total is not None and claim.total not in (summary.total, summary.passed):
        return False
    return claim.skipped is None or claim.skipped == summary.skipped


def _adding_up(count: int | None, last: Run, relevant: list[Run]) -> tuple[Run, ...]:
    """Passing runs of the deciding turn whose counts add up to the claim's ("8 tests"
    of one file, then the whole suite; 127 + 14 + 16 = "all 157 tests"): the latest run
    of each command, at most a few of them."""
    latest: dict[str, Run] = {}
    for run in relevant:
        if run.turn == last.turn:
            latest[_normal(run.invocation.words)] = run
    passing = [run for run in latest.values() if run.outcome == PASSED
               and run.summary is not None and run.summary.passed is not None][-MOST_RUNS_ADDED:]
    for size in range(1, len(passing) + 1):
        for chosen in combinations(passing, size):
            if count in _sums(chosen):
                return chosen
    return ()


def _sums(runs: tuple[Run, ...]) -> set[int]:
    """What the runs may add up to, each counting what passed (or, for ExUnit, its
    tests without the doctests)."""
    sums = {0}
    for run in runs:
        own = {c for c in (run.summary.passed, run.summary.also) if c is not None} \
            if run.summary else {0}
        sums = {total + count for total in sums for count in own}
    return sums


def _passed(run: Run) -> int:
    return (run.summary.passed or 0) if run.summary else 0


def _any_command_names(names: re.Pattern[str], session: Session) -> bool:
    """Whether a command line of the session matches ``names``: one search of all the
    lines joined, kept for the turn's claims, when no spelling holds a line break (so
    that no match can span two lines; at a break, as at either end of a line, a name
    stands alone)."""
    if "\n" in names.pattern:
        return any(names.search(command) for command in _commands(session))
    joined = session.memo.get(COMMANDS_MEMO)
    if not isinstance(joined, str):
        joined = session.memo[COMMANDS_MEMO] = "\n".join(_commands(session))
    return names.search(joined) is not None


def _commands(session: Session) -> Iterator[str]:
    for run_log in session.turns:
        records = run_log.get("commands") if isinstance(run_log, dict) else None
        for record in records if isinstance(records, list) else ():
            command = record.get("command") if isinstance(record, dict) else None
            if isinstance(command, str):
                yield command


def _runs_of(commands: list[str], runs: list[Run]) -> list[Run]:
    """The runs of the command lines a claim names; failing that, of their runners."""
    wanted = {_normal(i.words) for c in commands for i in invocations(c)}
    exact = [run for run in runs if _normal(run.invocation.words) in wanted]
    if exact:
        return exact
    runners = {i.runner for c in commands for i in invocations(c)}
    return [run for run in runs if run.invocation.runner in runners]


def _naming(scope: tuple[str, ...]) -> re.Pattern[str]:
    """What finds a command that names one of the claim's test targets, written as a
    path or as a module (``tests/model_fields`` or ``model_fields.tests``)."""
    spellings = set()
    for target in scope:
        target = target.strip().removeprefix("./").rstrip("/").replace("\\", "/")
        spellings |= {target, target.replace(".", "/"), target.replace("/", "."),
                      target.replace("/", "\\")} - {""}
    # Each spelling looks behind itself, where a look before the pattern would be tried
    # at every character of the session's command lines.
    words = "|".join(rf"{word}(?<![\w-]{word})"
                     for word in map(re.escape, sorted(spellings, key=len, reverse=True)))
    return re.compile(rf"(?:{words})(?![\w-])" if words else r"(?!)", re.IGNORECASE)


def _turn(run: Run, session: Session) -> str:
    """How evidence from an earlier turn begins; nothing for the claim's own turn."""
    return "" if run.turn == len(session.turns) - 1 else f"turn {session.number(run.turn)}: "


def _command(run: Run) -> str:
    command = " ".join(run.command.split())
    if len(command) > SHOWN_COMMAND:
        command = " ".join(run.invocation.words.split())[:SHOWN_COMMAND]
    return f"`{command}`"


def _said(run: Run) -> str:
    """The runner's own summary line, or the exit code when it printed none."""
    if run.summary is not None and (run.summary.passed is not None or run.summary.ok is not None):
        return run.summary.line
    if run.invocation.echoes and run.output_end in run.invocation.echoes:
        return f'it printed "{run.output_end}"'
    return "exit 0" if run.exit_code == 0 else f"exit {run.exit_code}"


def _edited_tests(session: Session) -> str:
    """The test files the turn wrote, said once for all of its claims."""
    said = session.memo.get(EDITED_MEMO)
    if not isinstance(said, str):
        said = session.memo[EDITED_MEMO] = _edited(session)
    return said


def _edited(session: Session) -> str:
    written = session.run_log.get("written") if isinstance(session.run_log, dict) else None
    written = written if isinstance(written, list) else []
    edited = list(dict.fromkeys(p for p in written if isinstance(p, str) and TEST_FILE_RE.search(p)))
    if not edited:
        return ""
    shown = ", ".join(f"`{path}`" for path in edited[:SHOWN_FILES])
    more = f" and {len(edited) - SHOWN_FILES} more" if len(edited) > SHOWN_FILES else ""
    return f"; tests edited in this turn: {shown}{more}"


def _tests_field(runs: tuple[Run, ...]) -> dict[str, object]:
    """The run a claim was judged by, for reports; runs added up are summed."""
    summaries = [run.summary for run in runs if run.summary is not None]

    def total(key: str) -> int | None:
        values = [getattr(summary, key) for summary in summaries]
        return None if not values or None in values else sum(values)

    return {"runner": " + ".join(dict.fromkeys(run.invocation.runner for run in runs)),
            "passed": total("passed"), "failed": total("failed"), "skipped": total("skipped"),
            "total": total("total"), "exit_code": runs[-1].exit_code}


def _exit_code(record: CommandRecord) -> int | None:
    value = record.get("exit_code")
    if isinstance(value, bool):
        return None
    if isinstance(value, int):
        return value
    if isinstance(value, str) and re.fullmatch(r"-?\d+", value.strip()):
        return int(value)
    return None


def _last_line(output: str) -> str:
    lines = output.strip().splitlines()
    return lines[-1].strip() if lines else ""


def _normal(words: str) -> str:
    return " ".join(words.split())
