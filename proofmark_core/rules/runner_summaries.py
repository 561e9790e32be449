"""The summaries test runners, linters and type checkers print, read from a command's output.

Each reader knows one runner's documented summary ("116 passed, 2 skipped in 3.2s",
"Tests run: 12, Failures: 0, Errors: 0, Skipped: 0", "Success: no issues found") and
gives what it says as a :class:`Summary`. Runners that print one summary per package,
crate or project (go, cargo, dotnet, Maven) have them added up by :func:`read_summary`.
"""

from __future__ import annotations

import re
from collections.abc import Callable, Iterator
from dataclasses import dataclass

ANSI_RE = re.compile(r"\x1b\[[0-9;?]*[A-Za-z]")
COUNT_RE = re.compile(r"(\d+)\s+([a-z]+(?: [a-z]+)?)")


@dataclass(frozen=True, slots=True)
class Summary:
    """What a runner's summary says: its counts where it gives them, and whether it
    says the run as a whole succeeded."""

    line: str
    passed: int | None = None
    failed: int = 0
    skipped: int = 0
    total: int | None = None
    ok: bool | None = None
    # Another count a claim may name for the same run: ExUnit's tests without doctests.
    also: int | None = None


Reader = Callable[[str], Iterator[Summary]]


def _counts(text: str) -> dict[str, int]:
    """"8 failed, 466 passed, 10 skipped" as {"failed": 8, "passed": 466, "skipped": 10}."""
    counts: dict[str, int] = {}
    for number, word in COUNT_RE.findall(text.lower()):
        counts[word] = counts.get(word, 0) + int(number)
    return counts


def _lines(pattern: str) -> Callable[[str], Iterator[re.Match[str]]]:
    compiled = re.compile(pattern, re.MULTILINE)
    return lambda text: compiled.finditer(text)


PYTEST_LINE = _lines(
    r"^[= \t]*(?P<body>\d+ (?:passed|failed|skipped|deselected|xfailed|xpassed|errors?|"
    r"warnings?|rerun)(?:,\s*\d+ \w+)*)(?: in [\d.]+\s*s(?:econds)?\b.*|\s*)$"
    r"|^[= \t]*(?P<none>no tests ran)\b.*$")


def pytest(text: str) -> Iterator[Summary]:
    for match in PYTEST_LINE(text):
        line = match.group(0).strip(" =")
        if match.group("none"):
            yield Summary(line, passed=0, total=0, ok=False)
            continue
        counts = _counts(match.group("body"))
        passed, skipped = counts.get("passed", 0), counts.get("skipped", 0) + counts.get("xfailed", 0)
        failed = counts.get("failed", 0) + counts.get("error", 0) + counts.get("errors", 0)
        total = passed + failed + skipped + counts.get("xpassed", 0)
        yield Summary(line, passed, failed, skipped, total, ok=not failed and total > 0)


UNITTEST_RESULT = _lines(
    r"^Ran (?P<ran>\d+) tests? in [\d.]+s\s*\n(?:.*\n){0,4}?"
    r"(?P<status>OK|FAILED|NO TESTS RAN)\b(?: \((?P<detail>[^)]*)\))?.*$")


def unittest(text: str) -> Iterator[Summary]:
    for match in UNITTEST_RESULT(text):
        ran = int(match.group("ran"))
        detail = {key.strip(): int(value) for key, value in
                  re.findall(r"([a-z ]+)=(\d+)", match.group("detail") or "")}
        failed = detail.get("failures", 0) + detail.get("errors", 0)
        skipped = detail.get("skipped", 0) + detail.get("expected failures", 0)
        status = match.group("status")
        line = " ".join(f"Ran {ran} tests; {match.group(0).splitlines()[-1].strip()}".split())
        yield Summary(line, ran - failed - skipped, failed, skipped, ran,
                      ok=status == "OK" and ran > 0)


JEST_TESTS = _lines(r"^Tests:\s+(?P<body>.*\d+ total)\s*$|^(?P<none>No tests found)\b.*$")


def jest(text: str) -> Iterator[Summary]:
    for match in JEST_TESTS(text):
        if match.group("none"):
            yield Summary(match.group(0).strip(), passed=0, total=0, ok=False)
            continue
        counts = _counts(match.group("body"))
        failed, total = counts.get("failed", 0), counts.get("total", 0)
        yield Summary(" ".join(match.group(0).split()), counts.get("passed", 0), failed,
                      counts.get("skipped", 0) + counts.get("todo", 0), total,
                      ok=not failed and total > 0)


VITEST_TESTS = _lines(r"^\s*Tests\s+(?P<body>(?:\d+ \w+(?: \|\s*)?)+)\s*\((?P<total>\d+)\)\s*$"
                      r"|^(?P<none>No test files found)\b.*$")


def vitest(text: str) -> Iterator[Summary]:
    for match in VITEST_TESTS(text):
        if match.group("none"):
            yield Summary(match.group(0).strip(), passed=0, total=0, ok=False)
            continue
        counts, total = _counts(match.group("body")), int(match.group("total"))
        failed = counts.get("failed", 0)
        yield Summary(" ".join(match.group(0).split()), counts.get("passed", 0), failed,
                      counts.get("skipped", 0) + counts.get("todo", 0), total,
                      ok=not failed and total > 0)


MOCHA_RESULT = _lines(r"^\s*(?P<passed>\d+) passing \([^)]*\)\s*$"
                      r"(?:\n\s*(?P<pending>\d+) pending\s*$)?(?:\n\s*(?P<failed>\d+) failing\s*$)?")


def mocha(text: str) -> Iterator[Summary]:
    for match in MOCHA_RESULT(text):
        passed, failed = int(match.group("passed")), int(match.group("failed") or 0)
        skipped = int(match.group("pending") or 0)
        yield Summary(" ".join(match.group(0).split()), passed, failed, skipped,
                      passed + failed + skipped, ok=not failed)


GO_PACKAGE = _lines(r"^(?P<status>ok|FAIL|\?)\s+\S+(?:\s+(?P<rest>.*))?$")
GO_TEST = _lines(r"^--- (?P<status>PASS|FAIL|SKIP): ")


def go(text: str) -> Iterator[Summary]:
    """go test prints a line per package; only -v prints one per test."""
    packages = {"ok": 0, "FAIL": 0}
    empty = 0
    for match in GO_PACKAGE(text):
        status, rest = match.group("status"), match.group("rest") or ""
        if status == "?" or "[no tests to run]" in rest:
            empty += 1
        elif status in packages:
            packages[status] += 1
    if not (packages["ok"] or packages["FAIL"] or empty):
        return
    tests = {"PASS": 0, "FAIL": 0, "SKIP": 0}
    for match in GO_TEST(text):
        tests[match.group("status")] += 1
    counted = any(tests.values())
    line = f"ok {packages['ok']}, FAIL {packages['FAIL']} packages" + (
        f"; {tests['PASS']} tests passed, {tests['FAIL']} failed" if counted else "")
    ran = packages["ok"] + packages["FAIL"]
    yield Summary(line, tests["PASS"] if counted else (0 if not ran else None),
                  tests["FAIL"] or packages["FAIL"], tests["SKIP"],
                  sum(tests.values()) if counted else (0 if not ran else None),
                  ok=not packages["FAIL"] and ran > 0)


CARGO_RESULT = _lines(r"^test result: (?P<status>ok|FAILED)\. (?P<body>\d+ passed; .*)$"
                      r"|^(?P<broken>error: could not compile .*)$")
NEXTEST_SUMMARY = _lines(r"^\s*Summary \[[^\]]*\]\s+(?P<body>\d+ tests? run: .*)$")


def cargo(text: str) -> Iterator[Summary]:
    for match in CARGO_RESULT(text):
        if match.group("broken"):
            yield Summary(match.group(0).strip(), passed=0, ok=False)
            continue
        counts = _counts(match.group("body"))
        passed, failed, skipped = counts.get("passed", 0), counts.get("failed", 0), counts.get("ignored", 0)
        yield Summary(match.group(0).strip(), passed, failed, skipped, passed + failed + skipped,
                      ok=match.group("status") == "ok")
    for match in NEXTEST_SUMMARY(text):
        counts = _counts(match.group("body"))
        failed = counts.get("failed", 0) + counts.get("timed out", 0)
        yield Summary(" ".join(match.group(0).split()), counts.get("passed", 0), failed,
                      counts.get("skipped", 0), counts.get("tests run", counts.get("test run", 0)),
                      ok=not failed)


MAVEN_TOTAL = _lines(r"^(?:\[\w+\]\s+)?(?P<line>Tests run: (?P<run>\d+), Failures: (?P<failures>\d+), "
                     r"Errors: (?P<errors>\d+), Skipped: (?P<skipped>\d+))\s*$"
                     r"|^(?:\[\w+\]\s+)?(?P<status>BUILD SUCCESS|BUILD FAILURE|No tests to run\.)\s*$")


def maven(text: str) -> Iterator[Summary]:
    """Surefire's total per module (the lines per class carry "Time elapsed" and are
    left out), and the build's outcome."""
    for match in MAVEN_TOTAL(text):
        status = match.group("status")
        if status:
            yield Summary(status, passed=0 if status.startswith("No") else None,
                          total=0 if status.startswith("No") else None,
                          ok=status == "BUILD SUCCESS" if status.startswith("BUILD") else None)
            continue
        run, skipped = int(match.group("run")), int(match.group("skipped"))
        failed = int(match.group("failures")) + int(match.group("errors"))
        yield Summary(match.group("line"), run - failed - skipped, failed, skipped, run,
                      ok=not failed)


GRADLE_RESULT = _lines(r"^(?P<counts>(?P<run>\d+) tests? completed, (?P<failed>\d+) failed"
                       r"(?:, (?P<skipped>\d+) skipped)?)\s*$"
                       r"|^(?P<status>BUILD (?:SUCCESSFUL|FAILED))\b.*$")


def gradle(text: str) -> Iterator[Summary]:
    for match in GRADLE_RESULT(text):
        if match.group("status"):
            yield Summary(match.group(0).strip(), ok=match.group("status") == "BUILD SUCCESSFUL")
            continue
        run, failed, skipped = (int(match.group(key) or 0) for key in ("run", "failed", "skipped"))
        yield Summary(match.group("counts"), run - failed - skipped, failed, skipped, run,
                      ok=not failed)


DOTNET_RESULT = _lines(
    r"^\s*(?P<status>Passed|Failed)!\s+-\s+(?P<body>Failed:\s+\d+, Passed:\s+\d+, "
    r"Skipped:\s+\d+, Total:\s+\d+).*$"
    r"|^\s*(?P<new>Test summary: total: \d+, failed: \d+, succeeded: \d+, skipped: \d+).*$"
    r"|^\s*(?P<build>Build succeeded|Build FAILED)\.\s*$"
    r"|^(?P<none>No test is available in .*)$")


def dotnet(text: str) -> Iterator[Summary]:
    for match in DOTNET_RESULT(text):
        if match.group("none"):
            yield Summary(match.group("none").strip(), passed=0, total=0, ok=False)
            continue
        if match.group("build"):
            yield Summary(match.group("build") + ".", ok=match.group("build") == "Build succeeded")
            continue
        body = match.group("body") or match.group("new")
        counts = {key.lower(): int(value) for key, value in re.findall(r"(\w+):\s+(\d+)", body)}
        passed = counts.get("passed", counts.get("succeeded", 0))
        failed, total = counts.get("failed", 0), counts.get("total", 0)
        yield Summary(" ".join(match.group(0).split()), passed, failed, counts.get("skipped", 0),
                      total, ok=not failed and total > 0)


RSPEC_RESULT = _lines(r"^(?P<examples>\d+) examples?, (?P<failures>\d+) failures?"
                      r"(?:, (?P<pending>\d+) pending)?(?P<outside>, \d+ errors? occurred outside of examples)?\s*$")


def rspec(text: str) -> Iterator[Summary]:
    for match in RSPEC_RESULT(text):
        examples, failed, pending = (int(match.group(key) or 0)
                                     for key in ("examples", "failures", "pending"))
        broken = bool(match.group("outside"))
        yield Summary(match.group(0).strip(), examples - failed - pending, failed + broken, pending,
                      examples, ok=not failed and not broken and examples > 0)


PHPUNIT_RESULT = _lines(r"^(?P<ok>OK \((?P<tests>\d+) tests?, \d+ assertions?\))\s*$"
                        r"|^(?P<line>Tests: (?P<run>\d+), Assertions: \d+(?P<rest>.*?))\.?\s*$"
                        r"|^(?P<none>No tests executed!)\s*$")


def phpunit(text: str) -> Iterator[Summary]:
    for match in PHPUNIT_RESULT(text):
        if match.group("none"):
            yield Summary(match.group("none"), passed=0, total=0, ok=False)
        elif match.group("ok"):
            tests = int(match.group("tests"))
            yield Summary(match.group("ok"), tests, 0, 0, tests, ok=tests > 0)
        else:
            run = int(match.group("run"))
            rest = {key.lower(): int(value)
                    for key, value in re.findall(r"(\w+): (\d+)", match.group("rest"))}
            failed = rest.get("failures", 0) + rest.get("errors", 0)
            skipped = rest.get("skipped", 0) + rest.get("incomplete", 0)
            yield Summary(match.group("line"), run - failed - skipped, failed, skipped, run,
                          ok=not failed)


CTEST_RESULT = _lines(r"^(?P<line>\d+% tests passed, (?P<failed>\d+) tests? failed out of (?P<run>\d+))\s*$"
                      r"|^(?P<none>No tests were found!*)\s*$")


def ctest(text: str) -> Iterator[Summary]:
    for match in CTEST_RESULT(text):
        if match.group("none"):
            yield Summary(match.group("none"), passed=0, total=0, ok=False)
            continue
        run, failed = int(match.group("run")), int(match.group("failed"))
        yield Summary(match.group("line"), run - failed, failed, 0, run, ok=not failed and run > 0)


EXUNIT_RESULT = _lines(r"^(?P<line>(?:\d+ (?:doctests?|propert(?:y|ies)), )*\d+ tests?, \d+ failures?"
                       r"(?:, \d+ (?:excluded|skipped|invalid))*)\s*$")


def exunit(text: str) -> Iterator[Summary]:
    for match in EXUNIT_RESULT(text):
        counts = _counts(match.group("line"))
        tests = counts.get("tests", counts.get("test", 0))
        extra = sum(counts.get(key, 0) for key in ("doctests", "doctest", "properties", "property"))
        failed = counts.get("failures", counts.get("failure", 0)) + counts.get("invalid", 0)
        skipped = counts.get("skipped", 0)
        total = tests + extra
        yield Summary(match.group("line"), total - failed - skipped, failed, skipped, total,
                      ok=not failed and total > 0, also=tests - failed - skipped if extra else None)


DENO_RESULT = _lines(r"^(?P<status>ok|FAILED) \| (?P<body>\d+ passed.*)$"
                     r"|^(?P<none>error: No test modules found)\b.*$")


def deno(text: str) -> Iterator[Summary]:
    for match in DENO_RESULT(text):
        if match.group("none"):
            yield Summary(match.group("none"), passed=0, total=0, ok=False)
            continue
        counts = _counts(re.sub(r"\([^)]*\)", "", match.group("body")))
        passed, failed, skipped = counts.get("passed", 0), counts.get("failed", 0), counts.get("ignored", 0)
        yield Summary(" ".join(match.group(0).split()), passed, failed, skipped,
                      passed + failed + skipped, ok=match.group("status") == "ok" and passed > 0)


BUN_RESULT = _lines(r"^\s*(?P<passed>\d+) pass\s*$(?:\n\s*(?P<skipped>\d+) skip\s*$)?"
                    r"(?:\n\s*\d+ todo\s*$)?\n\s*(?P<failed>\d+) fail\s*$")


def bun(text: str) -> Iterator[Summary]:
    for match in BUN_RESULT(text):
        passed, failed, skipped = (int(match.group(key) or 0) for key in ("passed", "failed", "skipped"))
        yield Summary(f"{passed} pass, {failed} fail", passed, failed, skipped,
                      passed + failed + skipped, ok=not failed and passed > 0)


GTEST_RESULT = _lines(r"^\[  PASSED  \] (?P<passed>\d+) tests?\.\s*$"
                      r"|^\[  FAILED  \] (?P<failed>\d+) tests?, listed below:\s*$"
                      r"|^\[  SKIPPED \] (?P<skipped>\d+) tests?, listed below:\s*$")


def googletest(text: str) -> Iterator[Summary]:
    found = {"passed": 0, "failed": 0, "skipped": 0}
    lines = []
    for match in GTEST_RESULT(text):
        for key in found:
            if match.group(key):
                found[key] += int(match.group(key))
        lines.append(match.group(0).strip())
    if lines:
        passed, failed, skipped = found["passed"], found["failed"], found["skipped"]
        yield Summary("; ".join(lines), passed, failed, skipped, passed + failed + skipped,
                      ok=not failed)


CATCH2_RESULT = _lines(r"^(?P<all>All tests passed \(\d+ assertions? in (?P<cases>\d+) test cases?\))\s*$"
                       r"|^(?P<line>test cases:\s*(?P<run>\d+)\s*\|(?P<rest>.*))$")


def catch2(text: str) -> Iterator[Summary]:
    for match in CATCH2_RESULT(text):
        if match.group("all"):
            cases = int(match.group("cases"))
            yield Summary(match.group("all"), cases, 0, 0, cases, ok=cases > 0)
            continue
        counts = _counts(match.group("rest"))
        run, failed = int(match.group("run")), counts.get("failed", 0)
        yield Summary(" ".join(match.group("line").split()), counts.get("passed", 0), failed,
                      counts.get("skipped", 0), run, ok=not failed)


TOX_NOX_STATUS = _lines(r"^\s*(?P<tox>\S+: (?:OK|FAIL|commands succeeded|commands failed))\b.*$"
                        r"|^nox > (?P<nox>Session \S+ (?:was successful|failed|raised))\b.*$")


def tox_or_nox(text: str) -> Iterator[Summary]:
    for match in TOX_NOX_STATUS(text):
        line = match.group("tox") or match.group("nox")
        yield Summary(line.strip(), ok=not re.search(r"FAIL|failed|raised", line))


# A line whose outcome is None says that the run got that far, not how it went: pdflatex
# writes its PDF after errors too, and then its exit code or the command's echo decides.
STATUS_LINES: tuple[tuple[re.Pattern[str], bool | None], ...] = tuple(
    (re.compile(pattern, re.MULTILINE), ok) for pattern, ok in (
        (r"^Success: no issues found in \d+ source files?$", True),                   # mypy
        (r"^Found \d+ errors? in \d+ files? \(checked \d+ source files?\)$", True),  # mypy
        (r"^\d+ errors?, \d+ warnings?, \d+ informations?\s*$", True),                # pyright
        (r"^All checks passed!$", True),                                              # ruff
        (r"^Found \d+ errors?(?: in \S+(?: files?)?)?\.?$", True),                    # ruff, tsc
        (r"^Found \d+ errors? \(.*remaining\)\.$", True),                            # ruff --fix
        (r"^\d+ files? would be reformatted.*$", True),                              # ruff format
        (r"^\d+ files? already formatted$", True),                                    # ruff format
        (r"^✖ \d+ problems? \(\d+ errors?, \d+ warnings?\)$", True),                  # eslint
        (r"^\d+ mods/funs, found .*$", True),                                         # credo
        (r"^error: could not compile .*$", False),                                    # cargo
        (r"^\s*Finished `?\w+`? profile .*$", True),                                  # cargo
        (r"^BUILD (?:SUCCESSFUL|FAILED)\b.*$", True),                                 # gradle
        (r"^(?:\[\w+\]\s+)?BUILD (?:SUCCESS|FAILURE)$", True),                        # maven
        (r"^\s*Build (?:succeeded|FAILED)\.$", True),                                 # dotnet
        (r"^make(?:\[\d+\])?: \*\*\* .*Error \d+.*$", False),                         # make
        (r"^Output written on .*\.(?:pdf|dvi|xdv) \(.*$", None),                      # LaTeX
        (r"^!  ==> Fatal error occurred, no output PDF file produced!$", False),       # LaTeX
    ))
FAILING_WORDS_RE = re.compile(r"FAIL|[1-9]\d* errors?|mods/funs, found (?!no issues)|would be reformatted")


def status_lines(text: str) -> Iterator[Summary]:
    """The closing lines of linters, type checkers and builds; most say nothing when
    all is well, and then the exit code decides. A line fails when its words say so
    ("3 errors", "BUILD FAILED") or its pattern is a failure's own."""
    found = sorted((match.start(), match.group(0).strip(), ok)
                   for pattern, ok in STATUS_LINES for match in pattern.finditer(text))
    for _, line, ok in found:
        yield Summary(line, ok=None if ok is None else ok and not FAILING_WORDS_RE.search(line))


TEST_READERS: dict[str, Reader] = {
    "pytest": pytest, "unittest": unittest, "jest": jest, "vitest": vitest, "mocha": mocha,
    "go": go, "cargo": cargo, "maven": maven, "gradle": gradle, "dotnet": dotnet,
    "rspec": rspec, "phpunit": phpunit, "ctest": ctest, "exunit": exunit, "deno": deno,
    "bun": bun, "googletest": googletest, "catch2": catch2,
}
# Runner → the readers of its output; runners not named here (make, npm test, tox, the
# project's own test scripts) may print any runner's summary.
READERS_OF: dict[str, tuple[Reader, ...]] = {
    "pytest": (pytest,), "py.test": (pytest,), "unittest": (unittest,),
    "django test": (unittest,), "manage.py test": (unittest,), "nose": (unittest,),
    "jest": (jest,), "vitest": (vitest,), "mocha": (mocha,), "go test": (go,),
    "cargo test": (cargo,), "cargo nextest": (cargo,), "nextest": (cargo,),
    "mvn": (maven,), "gradle": (gradle,), "dotnet test": (dotnet,), "rspec": (rspec,),
    "rake spec": (rspec,), "phpunit": (phpunit,), "php artisan test": (phpunit,),
    "ctest": (ctest,), "mix test": (exunit,), "deno test": (deno,), "bun test": (bun,),
}
# Words each summary holds: an output without them is not read with that reader's
# patterns at all.
MARKS: dict[Reader, tuple[str, ...]] = {
    pytest: (" passed", " failed", " error", " skipped", " deselected", "no tests ran"),
    unittest: ("Ran ",), jest: ("Tests:", "No tests found"), vitest: ("Tests ", "No test files"),
    mocha: (" passing",), go: ("ok ", "ok\t", "FAIL", "?   "), cargo: ("test result:", "could not compile", "Summary ["),
    maven: ("Tests run:", "BUILD ", "No tests to run"), gradle: ("tests completed", "BUILD "),
    dotnet: ("Passed!", "Failed!", "Test summary:", "Build ", "No test is available"),
    rspec: (" example",), phpunit: ("OK (", "Tests: ", "No tests executed"),
    ctest: ("tests passed", "No tests were found"), exunit: (" test, ", " tests, "),
    deno: ("ok | ", "FAILED | ", "No test modules"), bun: (" pass\n",), googletest: ("[  ",),
    catch2: ("All tests passed", "test cases:"), tox_or_nox: (": OK", ": FAIL", ": commands", "nox > "),
}


def read_summary(runner: str, output: str, tests: bool) -> Summary | None:
    """What the output of one run of ``runner`` sums up to, or None when it prints no
    summary. ``tests``: read it as a test run (else as a lint, type check or build)."""
    text = ANSI_RE.sub("", output.replace("\r\n", "\n"))
    if not tests:
        return _combined(list(status_lines(text)))
    readers = READERS_OF.get(runner)
    if readers is None:
        readers = tuple(TEST_READERS.values())
        if runner in ("tox", "nox"):
            readers += (tox_or_nox,)
    found = [summary for reader in readers if any(mark in text for mark in MARKS[reader])
             for summary in reader(text)]
    return _combined(found)


def _combined(found: list[Summary]) -> Summary | None:
    """Several summaries of one output (a line per crate, package or project) added up."""
    if not found:
        return None
    if len(found) == 1:
        return found[0]
    counted = [summary for summary in found if summary.passed is not None]
    ok = None if all(s.ok is None for s in found) else all(s.ok is not False for s in found)
    lines = [s.line for s in found]
    line = "; ".join(lines) if len(lines) <= 3 else f"{lines[0]}; … ; {lines[-1]} ({len(lines)} summaries)"
    if not counted:
        return Summary(line, ok=ok)
    totals = [s.total for s in counted]
    also = [s.also for s in counted]
    return Summary(
        line, passed=sum(s.passed or 0 for s in counted), failed=sum(s.failed for s in found),
        skipped=sum(s.skipped for s in counted),
        total=None if None in totals else sum(t or 0 for t in totals), ok=ok,
        also=None if all(a is None for a in also) else sum(
            a if a is not None else (s.passed or 0) for a, s in zip(also, counted)))
